#include "update_dialog.h"

#include "simple_html.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>
#include <memory>

namespace {

// The release notes' document. The notes come from the feed, so nothing they
// name is ever loaded: no pictures, style sheets or anything else, from the
// network, local files, Qt resources or data: URLs. simpleHtml() already
// leaves nothing that loads; this is the wall behind it. It has to be the
// document: when the widget loads nothing, QTextDocument goes on to read
// file: and data: URLs itself (a picture at /dev/zero is read without end).
class InertDocument : public QTextDocument {
public:
    explicit InertDocument(QObject* parent) : QTextDocument(parent)
    {
        setResourceProvider([](const QUrl&) { return QVariant(); });
    }

protected:
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

// Versions and reasons come from the feed or the network. However long, they
// must not widen the dialog past the screen or stretch it down: the middle
// of a long text, and of any run too long to wrap, gives way to an ellipsis.
QString elideMiddle(QStringView text, qsizetype limit)
{
    if (text.size() <= limit)
        return text.toString();
    qsizetype head = (limit - 1) / 2;
    qsizetype tail = limit - 1 - head;
    // Never half a character.
    if (text[head - 1].isHighSurrogate())
        --head;
    if (text[text.size() - tail].isLowSurrogate())
        --tail;
    return text.left(head).toString() + QChar(0x2026) + text.right(tail).toString();
}

QString fitted(const QString& text, qsizetype limit)
{
    constexpr qsizetype longestRun = 40;
    QString result;
    const QString shortened = elideMiddle(text.simplified(), limit);
    for (const QStringView word : QStringView(shortened).split(u' ')) {
        if (!result.isEmpty())
            result += u' ';
        result += elideMiddle(word, longestRun);
    }
    return result;
}

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
    return url.isValid() && (scheme == u"https" || scheme == u"http") && !url.host().isEmpty();
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
    const QString ours = fitted(result.currentVersion, 40);
    QString headline;
    QString body;
    switch (result.outcome) {
    case Outcome::upToDate:
        headline = tr("You're up to date!");
        body = tr("Quorvel %1 is currently the newest version available.").arg(ours);
        break;
    case Outcome::updateAvailable:
        headline = tr("A new version of Quorvel is available!");
        body = tr("Quorvel %1 is now available—you have %2.")
                   .arg(fitted(result.item.displayVersion(), 40), ours);
        break;
    case Outcome::failed:
        headline = tr("Update Error!");
        body = tr("Quorvel could not check for updates: %1.").arg(fitted(result.reason, 300));
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

    // The notes are the feed's HTML, shown as text with simple formatting.
    // A click on a web link opens the browser; nothing else opens, and
    // nothing is followed inside this view.
    auto* notes = new QTextBrowser(this);
    notes->setOpenLinks(false);
    notes->setOpenExternalLinks(false);
    notes->setDocument(new InertDocument(notes));
    notes->setHtml(simpleHtml(html));
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

void UpdateDialog::showForChecks(Updater& updater, UrlOpener openUrl)
{
    auto shown = std::make_shared<QPointer<UpdateDialog>>();
    connect(&updater, &Updater::checkFinished, &updater,
            [shown, openUrl](const UpdateCheckResult& result, bool userInitiated) {
                if (!userInitiated && result.outcome != UpdateCheckResult::Outcome::updateAvailable)
                    return;
                if (*shown)
                    (*shown)->close();
                *shown = new UpdateDialog(result, openUrl);
                (*shown)->show();
                (*shown)->raise();
                // A scheduled check does not take the keyboard from whatever
                // the person is typing into.
                if (userInitiated)
                    (*shown)->activateWindow();
            });
}

QString UpdateDialog::downloadTitle()
{
    return tr("Open Download Page");
}
