#include "update_dialog.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <memory>

namespace {

QLabel* wrappedLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

bool isWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == u"https" || scheme == u"http";
}

} // namespace

UpdateDialog::UpdateDialog(const UpdateCheckResult& result, UrlOpener openUrl, QWidget* parent)
    : QDialog(parent),
      m_openUrl(openUrl ? std::move(openUrl) : UrlOpener(&QDesktopServices::openUrl))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Software Update"));
    setMinimumWidth(420);

    using Outcome = UpdateCheckResult::Outcome;
    QString headline;
    QString body;
    switch (result.outcome) {
    case Outcome::upToDate:
        headline = tr("You're up to date!");
        body =
            tr("Quorvel %1 is currently the newest version available.").arg(result.currentVersion);
        break;
    case Outcome::updateAvailable:
        headline = tr("A new version of Quorvel is available!");
        body = tr("Quorvel %1 is now available—you have %2.")
                   .arg(result.item.displayVersion(), result.currentVersion);
        break;
    case Outcome::failed:
        headline = tr("Update Error!");
        body = tr("Quorvel could not check for updates: %1.").arg(result.reason);
        break;
    case Outcome::notConfigured:
        headline = tr("Updates are not set up");
        body =
            tr("This build of Quorvel has no update feed configured, so it does not look for new "
               "versions.");
        break;
    }

    auto* layout = new QVBoxLayout(this);
    auto* title = wrappedLabel(headline, this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    title->setFont(titleFont);
    layout->addWidget(title);
    layout->addWidget(wrappedLabel(body, this));

    auto* buttons = new QDialogButtonBox(this);
    if (result.outcome == Outcome::updateAvailable) {
        if (!result.item.releaseNotes.isEmpty())
            addReleaseNotes(result.item.releaseNotes);
        auto* later = buttons->addButton(tr("Remind Me Later"), QDialogButtonBox::RejectRole);
        auto* download = buttons->addButton(downloadTitle(), QDialogButtonBox::AcceptRole);
        download->setDefault(true);
        const QUrl page = result.item.downloadPage;
        connect(download, &QPushButton::clicked, this, [this, page] {
            m_openUrl(page);
            accept();
        });
        connect(later, &QPushButton::clicked, this, &QDialog::reject);
    } else {
        auto* ok = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
        ok->setDefault(true);
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    }
    layout->addSpacing(6);
    layout->addWidget(buttons);
}

void UpdateDialog::addReleaseNotes(const QString& html)
{
    auto* heading = new QLabel(tr("Release Notes:"), this);
    QFont font = heading->font();
    font.setBold(true);
    heading->setFont(font);

    // The notes are the feed's HTML; links go to the browser, never into
    // this view, and nothing is fetched from the network to show them.
    auto* notes = new QTextBrowser(this);
    notes->setOpenLinks(false);
    notes->setOpenExternalLinks(false);
    notes->setHtml(html);
    notes->setAccessibleName(heading->text());
    notes->setMinimumHeight(180);
    heading->setBuddy(notes);
    connect(notes, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (isWebUrl(url))
            m_openUrl(url);
    });

    auto* box = static_cast<QVBoxLayout*>(layout());
    box->addSpacing(6);
    box->addWidget(heading);
    box->addWidget(notes, 1);
}

void UpdateDialog::showForUserChecks(Updater& updater, UrlOpener openUrl)
{
    auto shown = std::make_shared<QPointer<UpdateDialog>>();
    connect(&updater, &Updater::checkFinished, &updater,
            [shown, openUrl](const UpdateCheckResult& result, bool userInitiated) {
                if (!userInitiated)
                    return;
                if (*shown)
                    (*shown)->close();
                *shown = new UpdateDialog(result, openUrl);
                (*shown)->show();
                (*shown)->raise();
                (*shown)->activateWindow();
            });
}

QString UpdateDialog::downloadTitle()
{
    return tr("Open Download Page");
}
