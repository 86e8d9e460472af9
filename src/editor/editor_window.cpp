#include "editor_window.h"

#include "content_view.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 800;

} // namespace

EditorWindow::EditorWindow(const Screencapture& capture, const ScreenRecorder& recorder,
                           bool showVideoPlayer, int minimumHeight, QWidget* parent)
    : QWidget(parent, Qt::Window), m_screencapture(m_backend), m_panel(this),
      m_showVideoPlayer(showVideoPlayer), m_minimumHeight(minimumHeight)
{
    // Only what the editor shows is copied; QImage shares its pixels until
    // either side changes them.
    if (showVideoPlayer)
        m_screenRecorder.setLastRecordingURL(recorder.lastRecordingURL());
    else
        m_screencapture.setImage(capture.image());

    m_contentView = new ContentView(m_screencapture, m_screenRecorder, showVideoPlayer, m_panel,
                                    m_reveal, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_contentView);

    setAttribute(Qt::WA_DeleteOnClose);
    setMinimumSize(kWidth, minimumHeight);
    resize(kWidth, std::max(kHeight, minimumHeight));
    fitTo(QGuiApplication::primaryScreen());
}

void EditorWindow::fitTo(const QScreen* screen)
{
    if (!screen)
        return;
    // The frame is known once the window manager has framed the window;
    // until then there is none to leave room for.
    const QSize frame = isVisible() ? frameGeometry().size() - geometry().size() : QSize();
    const QSize room = screen->availableGeometry().size() - frame;
    QSize wanted(kWidth, m_minimumHeight);
    // On Wayland the compositor has the last word on a window's size (a
    // tiling one hands out tiles), and Qt would draw past what it shows: only
    // the content's own minimum holds there.
    if (QGuiApplication::platformName() == QLatin1String("wayland"))
        wanted = m_contentView->minimumSizeHint();
    setMinimumSize(wanted.boundedTo(room));
    if (width() > room.width() || height() > room.height())
        resize(size().boundedTo(room));
}

void EditorWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (std::exchange(m_followsScreen, true))
        return;
    // Dragged to a smaller screen, the window must fit there too.
    connect(windowHandle(), &QWindow::screenChanged, this, &EditorWindow::fitTo);
    fitTo(screen());
}

EditorWindow::~EditorWindow()
{
    // The view refers to the models, panel and reveal below, which are gone
    // by the time QWidget deletes its children; so it goes first.
    delete m_contentView;
}

QString EditorWindow::titleFor(const QString& fileName, bool showVideoPlayer)
{
    if (!fileName.isEmpty())
        return tr("%1 — Quorvel").arg(fileName);
    return showVideoPlayer ? tr("Movie — Quorvel") : tr("Screenshot — Quorvel");
}
