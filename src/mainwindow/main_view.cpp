#include "main_view.h"

#include "capture_access.h"
#include "console.h"
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
#include <QScrollArea>
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

// Scrolls the page only where the window is smaller than it (a small screen
// at a large scale, a narrow tile), so the window never asks for more room
// than the screen has and every button stays in reach. With room to spare it
// is not there to see: no frame, no bars, and it asks for the page's size.
class RoomyScrollArea : public QScrollArea {
public:
    explicit RoomyScrollArea(QWidget* parent) : QScrollArea(parent)
    {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setFocusPolicy(Qt::NoFocus); // the first button keeps the focus
        // The column is centred: short of width, its margin goes, never
        // behind a second bar.
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    QSize sizeHint() const override { return widget() ? widget()->sizeHint() : QSize(); }
};

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
      m_flow({m_services.backend, m_services.panel, m_services.openEditor, m_services.checkMovie,
              m_services.writeLine, m_services.checkAccess},
             OpenedFrom::mainWindow),
      m_content(new QWidget(this))
{
    connect(&m_flow, &OpenFlow::permissionChanged, this, &MainView::setPermissionGranted);

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

    auto* page = new QWidget;
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(m_content, 1000);
    row->addStretch(1);
    auto* centred = new QVBoxLayout(page);
    centred->setContentsMargins(0, 0, 0, 0);
    centred->addStretch(1);
    centred->addLayout(row);
    centred->addStretch(1);
    auto* scroll = new RoomyScrollArea(this);
    scroll->setWidget(page);
    m_surface = page; // the scroll area fills its background, and so covers the rest
    auto* whole = new QVBoxLayout(this);
    whole->setContentsMargins(0, 0, 0, 0);
    whole->addWidget(scroll);

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
    m_flow.refreshPermission();
}

void MainView::setPermissionGranted(bool granted)
{
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

QString MainView::startCapture(ScreenshotTypes kind)
{
    return m_flow.startCapture(kind);
}

void MainView::beautifyImage()
{
    m_flow.chooseImage();
}

void MainView::beautifyRecording()
{
    m_flow.chooseMovie();
}

void MainView::pastePicture()
{
    // Like the buttons, nothing gets past the permission cover.
    if (isPermissionGranted())
        m_flow.pastePicture();
}

void MainView::dragEnterEvent(QDragEnterEvent* event)
{
    if (isPermissionGranted() && !openableFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void MainView::dropEvent(QDropEvent* event)
{
    const QStringList files = openableFiles(event->mimeData());
    if (!isPermissionGranted() || files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // The files are read on the pool, so the program they came from is not
    // kept waiting. One that cannot be read opens nothing: its line says so,
    // and a window with another picture would mislead.
    m_flow.openFiles(files, [writeLine = m_services.writeLine, files](const QStringList& failures) {
        for (qsizetype i = 0; i < files.size(); ++i)
            if (!failures[i].isEmpty())
                writeLine(QStringLiteral("Failed to open %1: %2").arg(files[i], failures[i]));
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
