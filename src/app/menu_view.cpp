#include "menu_view.h"

#include "capture_access.h"
#include "editor_module.h"
#include "file_panel.h"
#include "mac_utility_button_style.h"
#include "named_colors.h"
#include "open_requests.h"
#include "panel_symbols.h"
#include "screen_recorder.h"
#include "screencapture.h"
#include "sidebar_look.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 240;
constexpr int kMargin = 10;
constexpr int kSpacing = 6;
// Long enough for the hidden panel to be gone from the screen before the
// capture starts.
constexpr int kCaptureDelayMilliseconds = 100;

// A frosted sheet standing in for the translucent material: the entries
// show through blurred, the notice reads clearly, and no click gets past.
class PermissionCover : public QWidget {
public:
    PermissionCover(QWidget* covered, QWidget* parent) : QWidget(parent), m_covered(covered)
    {
        auto* notice = new QLabel(MenuView::permissionNotice(), this);
        notice->setWordWrap(true);
        notice->setAlignment(Qt::AlignCenter);
        notice->setFont(sidebar_look::captionFont(notice->font()));
        notice->setForegroundRole(QPalette::WindowText);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
        layout->addWidget(notice, 0, Qt::AlignCenter);
    }

    // Takes a fresh picture of what lies underneath; the entries change
    // rarely, so once per showing is enough.
    void refreshBackdrop()
    {
        if (!isVisible() || size().isEmpty())
            return;
        // Shrinking and growing again with smoothing is a cheap, soft blur.
        const QImage under = m_covered->grab().toImage();
        const QSize small = (under.size() / 8).expandedTo(QSize(1, 1));
        m_backdrop = QPixmap::fromImage(
            under.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .scaled(under.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        m_backdrop.setDevicePixelRatio(under.devicePixelRatio());
        update();
    }

protected:
    void showEvent(QShowEvent*) override { refreshBackdrop(); }
    void resizeEvent(QResizeEvent*) override { refreshBackdrop(); }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        if (!m_backdrop.isNull())
            painter.drawPixmap(m_covered->mapTo(parentWidget(), QPoint(0, 0)), m_backdrop);
        QColor sheet = palette().color(QPalette::Window);
        sheet.setAlphaF(0.7f);
        painter.fillRect(rect(), sheet);
    }

private:
    QWidget* m_covered;
    QPixmap m_backdrop;
};

bool defaultAccessCheck()
{
    return checkScreenCaptureAccess();
}

void openFromTrayPanel(const Screencapture& capture, const ScreenRecorder& recorder,
                       bool showVideoPlayer, const QString& fileName)
{
    openEditorWindowLazily(capture, recorder, showVideoPlayer, OpenedFrom::trayPanel, fileName);
}

} // namespace

MenuView::MenuView(CaptureBackend& backend, FilePanel& filePanel, Services services,
                   QWidget* parent)
    : QWidget(parent), m_filePanel(filePanel), m_services(std::move(services)),
      m_screencapture(new Screencapture(backend, this)), m_screenRecorder(new ScreenRecorder(this))
{
    if (!m_services.checkAccess)
        m_services.checkAccess = defaultAccessCheck;
    if (!m_services.openEditor)
        m_services.openEditor = openFromTrayPanel;
    if (!m_services.quit)
        m_services.quit = [] { QApplication::quit(); };

    setFixedWidth(kWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    buildEntries();

    m_cover = new PermissionCover(m_stack, this);
    m_cover->setVisible(!m_permissionGranted);
    m_stack->setEnabled(m_permissionGranted);

    // Whatever the capture came to, even nothing, it opens in an editor.
    connect(m_screencapture, &Screencapture::screenshotFinished, this,
            [this] { openEditor(false); });
    connect(m_screenRecorder, &ScreenRecorder::isRecordingChanged, this, &MenuView::updateQuit);
}

MenuView::~MenuView() = default;

QString MenuView::permissionNotice()
{
    return tr("No Screen Recording Permission please grant persmission in system preferences");
}

QList<MacUtilityButton*> MenuView::entries() const
{
    return m_entries;
}

QWidget* MenuView::permissionCover() const
{
    return m_cover;
}

void MenuView::buildEntries()
{
    m_stack = new QWidget(this);
    auto* stack = new QVBoxLayout(m_stack);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(kSpacing);

    const auto add = [&](PanelSymbol symbol, const QString& text, auto action) {
        auto* entry = new MacUtilityButton(panelSymbol(symbol), text, m_stack);
        connect(entry, &QPushButton::clicked, this, action);
        stack->addWidget(entry);
        m_entries.append(entry);
        return entry;
    };
    add(PanelSymbol::window, tr("Capture Window"),
        [this] { captureScreenshot(ScreenshotTypes::window); });
    add(PanelSymbol::crop, tr("Capture Area"),
        [this] { captureScreenshot(ScreenshotTypes::area); });
    add(PanelSymbol::photo, tr("Beautify Image"), [this] { chooseImage(); });
    add(PanelSymbol::film, tr("Beautify Recording"), [this] { chooseRecording(); });
    m_separator = new QWidget(m_stack);
    m_separator->setFixedHeight(1);
    stack->addWidget(m_separator);
    m_quit = add(PanelSymbol::power, tr("Quit"), [this] {
        if (!m_screenRecorder->isRecording())
            m_services.quit();
    });
    m_quit->setLabelColor(named_colors::red());
    updateQuit();

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    outer->addWidget(m_stack);
}

void MenuView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refreshAccess();
}

void MenuView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_cover->setGeometry(rect());
}

void MenuView::paintEvent(QPaintEvent*)
{
    // The separator: a hairline in the text's colour, faint on either palette.
    QPainter painter(this);
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.18f);
    const QRect where(m_separator->mapTo(this, QPoint(0, 0)), m_separator->size());
    painter.fillRect(where, line);
}

void MenuView::refreshAccess()
{
    m_permissionGranted = m_services.checkAccess();
    m_cover->setVisible(!m_permissionGranted);
    m_cover->raise();
    // Under the cover the entries can be neither clicked nor reached with Tab.
    m_stack->setEnabled(m_permissionGranted);
}

void MenuView::captureScreenshot(ScreenshotTypes kind)
{
    // The panel is usually the active window: it must be off the screen
    // before the capture freezes it.
    if (QWidget* active = QApplication::activeWindow())
        active->hide();
    QTimer::singleShot(kCaptureDelayMilliseconds, this,
                       [this, kind] { m_screencapture->takeScreenshot(kind); });
}

void MenuView::chooseImage()
{
    const FilePanel::OpenRequest request{{imagesNameFilter()}, tr("Choose Image")};
    m_filePanel.chooseFileToOpen(request, [self = QPointer(this)](std::optional<QString> path) {
        if (!self || !path)
            return;
        // An undecodable file still opens an editor, as a failed capture does.
        self->m_screencapture->loadImage(QUrl::fromLocalFile(*path));
        self->openEditor(false, QFileInfo(*path).fileName());
    });
}

void MenuView::chooseRecording()
{
    const FilePanel::OpenRequest request{{moviesNameFilter()}, tr("Choose Video")};
    m_filePanel.chooseFileToOpen(request, [self = QPointer(this)](std::optional<QString> path) {
        if (!self || !path)
            return;
        self->m_screenRecorder->setLastRecordingURL(QUrl::fromLocalFile(*path));
        self->m_showVideoPlayer = true;
        self->openEditor(true, QFileInfo(*path).fileName());
    });
}

void MenuView::openEditor(bool showVideoPlayer, const QString& fileName)
{
    m_services.openEditor(*m_screencapture, *m_screenRecorder, showVideoPlayer, fileName);
}

void MenuView::updateQuit()
{
    m_quit->setEnabled(!m_screenRecorder->isRecording());
}
