#include "main_view.h"

#include "capture_access.h"
#include "console.h"
#include "editor_module.h"
#include "file_panel.h"
#include "open_requests.h"
#include "permission_overlay.h"
#include "privacy_settings.h"
#include "prominent_button_style.h"
#include "viewfinder_icon.h"

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QGraphicsBlurEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProcess>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The application's icon, 64 points square with rounded corners.
class AppIcon : public QWidget {
public:
    static constexpr int kSide = 64;
    explicit AppIcon(QWidget* parent) : QWidget(parent) { setFixedSize(kSide, kSide); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(rect()), 12, 12);
        painter.setClipPath(clip);
        const qreal ratio = devicePixelRatioF();
        const QIcon icon = QApplication::windowIcon();
        const QPixmap picture =
            icon.isNull() ? viewfinderIcon(kSide, ratio) : icon.pixmap(QSize(kSide, kSide), ratio);
        painter.drawPixmap(rect(), picture);
    }
};

FilePanel::OpenRequest imageRequest()
{
    return {{imagesNameFilter(), QObject::tr("JPEG (*.jpg *.jpeg)"), QObject::tr("PNG (*.png)"),
             QObject::tr("TIFF (*.tif *.tiff)"), QObject::tr("BMP (*.bmp)"),
             QObject::tr("GIF (*.gif)"), QObject::tr("HEIC (*.heic *.heif)")},
            QObject::tr("Choose Image")};
}

FilePanel::OpenRequest movieRequest()
{
    return {{moviesNameFilter(), QObject::tr("QuickTime movie (*.mov)"),
             QObject::tr("MPEG-4 movie (*.mp4 *.m4v)")},
            QObject::tr("Choose Video")};
}

// The files a drop carries when all of them can be opened; empty otherwise.
QStringList openableFiles(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return {};
    QStringList files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile() || openableKind(url.toLocalFile()) == OpenableKind::none)
            return {};
        files << url.toLocalFile();
    }
    return files;
}

MainView::Services withDefaults(MainView::Services services)
{
    if (!services.checkAccess)
        services.checkAccess = [] { return checkScreenCaptureAccess(); };
    if (!services.openEditor)
        services.openEditor = openEditorWindowLazily;
    if (!services.writeLine)
        services.writeLine = printLine;
    if (!services.launch)
        services.launch = [](const QString& program, const QStringList& arguments) {
            return QProcess::startDetached(program, arguments);
        };
    if (services.currentDesktop.isEmpty())
        services.currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    return services;
}

} // namespace

MainView::MainView(Services services, QWidget* parent)
    : QWidget(parent), m_services(withDefaults(std::move(services))),
      m_screencapture(m_services.backend), m_content(new QWidget(this))
{
    connect(&m_screencapture, &Screencapture::screenshotFinished, this,
            &MainView::screenshotFinished);

    auto* title = new QLabel(QStringLiteral("Quorvel"), m_content);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 22.0 / 13.0);
    title->setFont(titleFont);
    title->setAlignment(Qt::AlignCenter);

    auto* promise = new QLabel(
        tr("Instantly give your screenshots and videos Stunning backgrounds"), m_content);
    QFont small = promise->font();
    small.setPointSizeF(small.pointSizeF() * 11.0 / 13.0);
    promise->setFont(small);
    promise->setAlignment(Qt::AlignCenter);
    promise->setWordWrap(true);
    promise->setForegroundRole(QPalette::PlaceholderText);
    QPalette secondary = promise->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        QColor text = secondary.color(group, QPalette::WindowText);
        text.setAlphaF(text.alphaF() * 0.5f);
        secondary.setColor(group, QPalette::PlaceholderText, text);
    }
    promise->setPalette(secondary);

    auto* names = new QVBoxLayout;
    names->setSpacing(4);
    names->addWidget(title);
    names->addWidget(promise);

    auto* header = new QVBoxLayout;
    header->setSpacing(8);
    header->setContentsMargins(0, 20, 0, 20);
    header->addWidget(new AppIcon(m_content), 0, Qt::AlignHCenter);
    header->addLayout(names);

    auto* actions = new QVBoxLayout;
    actions->setSpacing(12);
    actions->setContentsMargins(16, 16, 16, 16);
    const std::pair<QString, void (MainView::*)()> buttons[] = {
        {tr("Capture Window"), &MainView::captureWindow},
        {tr("Capture Area"), &MainView::captureArea},
        {tr("Beautify Image"), &MainView::beautifyImage},
        {tr("Beautify Recording"), &MainView::beautifyRecording},
    };
    for (const auto& [text, action] : buttons) {
        auto* button = new ProminentButtonStyle(text, m_content);
        connect(button, &QPushButton::clicked, this, action);
        actions->addWidget(button);
    }

    auto* column = new QVBoxLayout(m_content);
    column->setContentsMargins(16, 16, 16, 16);
    column->addLayout(header);
    column->addLayout(actions);
    // As wide as the window allows up to 400 points, as high as it needs
    // up to 600, centred both ways.
    m_content->setMaximumSize(400, 600);
    m_content->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);

    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(m_content, 1000);
    row->addStretch(1);
    auto* centred = new QVBoxLayout(this);
    centred->setContentsMargins(0, 0, 0, 0);
    centred->addStretch(1);
    centred->addLayout(row);
    centred->addStretch(1);

    // Out of reach until the first check, which runs before the first frame;
    // the cover itself is made only if a check ever says no.
    m_content->setEnabled(false);

    // Anywhere in the window, with no control of its own.
    auto* paste = new QAction(this);
    paste->setShortcuts(QKeySequence::Paste);
    paste->setShortcutContext(Qt::WindowShortcut);
    connect(paste, &QAction::triggered, this, &MainView::pastePicture);
    addAction(paste);
    setAcceptDrops(true);

    // Coming back from the settings (or anywhere) asks again at once.
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    checkPermission();
            });
}

MainView::~MainView() = default;

void MainView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A window brought back from its icon was on screen all along.
    if (!event->spontaneous())
        checkPermission();
}

void MainView::checkPermission()
{
    const bool granted = m_services.checkAccess();
    setPermissionGranted(granted);
    m_services.writeLine(permissionCheckLine(granted));
}

void MainView::setPermissionGranted(bool granted)
{
    m_isPermissionGranted = granted;
    // Beneath the overlay the buttons can be neither clicked nor tabbed to.
    m_content->setEnabled(granted);
    if (granted) {
        m_content->setGraphicsEffect(nullptr);
    } else if (!m_content->graphicsEffect()) {
        auto* blur = new QGraphicsBlurEffect;
        blur->setBlurRadius(24);
        m_content->setGraphicsEffect(blur);
    }
    if (granted) {
        if (m_overlay)
            m_overlay->hide();
        return;
    }
    overlay()->show();
    m_overlay->raise();
}

PermissionOverlay* MainView::overlay()
{
    if (!m_overlay) {
        m_overlay = new PermissionOverlay(this);
        connect(m_overlay, &PermissionOverlay::refreshClicked, this, &MainView::checkPermission);
        connect(m_overlay, &PermissionOverlay::openSettingsClicked, this,
                &MainView::openSystemPreferences);
    }
    return m_overlay;
}

void MainView::startCapture(ScreenshotTypes kind)
{
    // Behind the other windows, not hidden: the window stays where it was.
    QWidget* key = QApplication::activeWindow();
    if (key)
        key->lower();
    QTimer::singleShot(key ? kCaptureDelayMs : 0, this, [this, kind] {
        m_waitingCaptures.enqueue(kind);
        if (!m_screencapture.isTakingScreenshot())
            takeNextScreenshot();
    });
}

void MainView::takeNextScreenshot()
{
    if (m_waitingCaptures.isEmpty())
        return;
    ++m_capturesUnderway;
    m_screencapture.takeScreenshot(m_waitingCaptures.dequeue());
}

void MainView::screenshotFinished()
{
    if (m_capturesUnderway == 0)
        return;
    --m_capturesUnderway;
    // Whatever came of it: a failed capture opens an editor with no picture.
    m_services.openEditor(m_screencapture, m_screenRecorder, false, OpenedFrom::mainWindow, {});
    takeNextScreenshot();
}

void MainView::beautifyImage()
{
    m_services.panel.chooseFileToOpen(
        imageRequest(), [self = QPointer(this)](std::optional<QString> path) {
            if (!self || !path)
                return;
            // An unreadable file leaves the last picture, which the editor
            // then shows under no file's name.
            if (!self->openImageFile(*path))
                self->m_services.openEditor(self->m_screencapture, self->m_screenRecorder, false,
                                            OpenedFrom::mainWindow, {});
        });
}

void MainView::beautifyRecording()
{
    m_services.panel.chooseFileToOpen(movieRequest(),
                                      [self = QPointer(this)](std::optional<QString> path) {
                                          if (self && path)
                                              self->openMovieFile(*path);
                                      });
}

bool MainView::imageChangedBy(const std::function<void()>& load)
{
    bool changed = false;
    const auto watch = connect(&m_screencapture, &Screencapture::imageChanged, this,
                               [&changed] { changed = true; });
    load();
    disconnect(watch);
    return changed;
}

bool MainView::openImageFile(const QString& path)
{
    if (!imageChangedBy([&] { m_screencapture.loadImage(QUrl::fromLocalFile(path)); }))
        return false;
    m_services.openEditor(m_screencapture, m_screenRecorder, false, OpenedFrom::mainWindow,
                          QFileInfo(path).fileName());
    return true;
}

void MainView::openMovieFile(const QString& path)
{
    m_screenRecorder.setLastRecordingURL(QUrl::fromLocalFile(path));
    m_services.openEditor(m_screencapture, m_screenRecorder, true, OpenedFrom::mainWindow, {});
}

void MainView::pastePicture()
{
    // Like the buttons, nothing gets past the permission cover.
    if (!m_isPermissionGranted)
        return;
    if (!imageChangedBy([this] { m_screencapture.loadImageFromPasteboard(); })) {
        m_services.writeLine(QStringLiteral("No picture on the clipboard to paste"));
        return;
    }
    m_services.openEditor(m_screencapture, m_screenRecorder, false, OpenedFrom::mainWindow, {});
}

void MainView::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_isPermissionGranted && !openableFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void MainView::dropEvent(QDropEvent* event)
{
    const QStringList files = openableFiles(event->mimeData());
    if (!m_isPermissionGranted || files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // Loading waits until the drop has ended, so the program the files came
    // from is not kept waiting. A file that cannot be read opens nothing:
    // its line says so, and a window with another picture would mislead.
    QTimer::singleShot(0, this, [this, files] {
        for (const QString& file : files) {
            if (openableKind(file) == OpenableKind::movie)
                openMovieFile(file);
            else
                openImageFile(file);
        }
    });
}

void MainView::openSystemPreferences()
{
    const auto command = privacySettingsCommand(m_services.currentDesktop);
    if (command && m_services.launch(command->program, command->arguments)) {
        overlay()->showNote({});
        return;
    }
    overlay()->showNote(tr("Allow Quorvel to take screenshots in your desktop's privacy or "
                           "screenshot settings, then press Refresh."));
}
