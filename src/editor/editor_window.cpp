#include "editor_window.h"

#include "content_view.h"

#include <QVBoxLayout>

namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 800;

} // namespace

EditorWindow::EditorWindow(const Screencapture& capture, const ScreenRecorder& recorder,
                           bool showVideoPlayer, int minimumHeight, QWidget* parent)
    : QWidget(parent, Qt::Window), m_screencapture(m_backend), m_panel(this),
      m_showVideoPlayer(showVideoPlayer)
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
