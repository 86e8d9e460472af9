#include "content_view.h"

#include "console.h"
#include "image_compositor.h"
#include "image_editor.h"
#include "picture_mime_data.h"
#include "screen_recorder.h"
#include "screencapture.h"
#include "sidebar.h"
#include "video_editor.h"

#include <QAction>
#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QSplitterHandle>
#include <QVBoxLayout>

namespace {

// Draws the line between the sidebar and the detail column in place of the
// style's grip: the sidebar keeps its width, so there is nothing to drag.
class SeparatorLine : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        auto* handle = static_cast<QWidget*>(watched);
        QPainter painter(handle);
        QColor line = handle->palette().color(QPalette::WindowText);
        line.setAlphaF(0.15f);
        painter.fillRect(handle->rect(), line);
        return true;
    }
};

} // namespace

ContentView::ContentView(Screencapture& screencapture, ScreenRecorder& screenRecorder,
                         bool showVideoPlayer, FilePanel& panel, FileReveal& reveal,
                         QWidget* parent, LineWriter writeLine)
    : QWidget(parent), m_screencapture(screencapture), m_screenRecorder(screenRecorder),
      m_showVideoPlayer(showVideoPlayer), m_panel(panel),
      m_writeLine(writeLine ? std::move(writeLine) : LineWriter(printLine)),
      m_exporter(panel, reveal, m_writeLine), m_split(new QSplitter(Qt::Horizontal, this)),
      m_sidebar(new Sidebar(panel, m_split)), m_detail(new QWidget(m_split))
{
    // The sidebar cannot be collapsed away.
    m_split->setChildrenCollapsible(false);
    m_split->addWidget(m_sidebar);
    m_split->addWidget(m_detail);
    m_split->setHandleWidth(1);
    m_split->handle(1)->installEventFilter(new SeparatorLine(m_split));
    m_split->setStretchFactor(0, 0);
    m_split->setStretchFactor(1, 1);
    auto* detailLayout = new QVBoxLayout(m_detail);
    detailLayout->setContentsMargins(0, 0, 0, 0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_split);

    m_sidebar->setGradientPadding(m_values->padding);
    m_sidebar->setCornerRadius(m_values->cornerRadius);
    m_sidebar->setSelectedGradient(m_selectedGradient);
    connect(m_sidebar, &Sidebar::gradientPaddingEdited, this, &ContentView::setGradientPadding);
    connect(m_sidebar, &Sidebar::cornerRadiusEdited, this, &ContentView::setCornerRadius);
    connect(m_sidebar, &Sidebar::selectedGradientEdited, this, &ContentView::setSelectedGradient);

    // Keys with no control of their own; window-wide, so they work from the
    // sidebar as well as from the preview.
    const std::pair<QKeySequence::StandardKey, void (ContentView::*)()> keys[] = {
        {QKeySequence::Copy, &ContentView::copyScreenshot},
        {QKeySequence::Save, &ContentView::exportShownSection},
    };
    for (const auto& [key, slot] : keys) {
        auto* action = new QAction(this);
        action->setShortcuts(key);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
    }

    connect(&m_screencapture, &Screencapture::imageChanged, this, &ContentView::showCaptures);
    connect(&m_screenRecorder, &ScreenRecorder::lastRecordingURLChanged, this,
            &ContentView::showCaptures);
    showCaptures();
}

ContentView::~ContentView() = default;

Sidebar* ContentView::sidebar() const
{
    return m_split->isHidden() ? nullptr : m_sidebar;
}

void ContentView::showCaptures()
{
    const QImage image = m_screencapture.image();
    const QUrl movie = m_showVideoPlayer ? m_screenRecorder.lastRecordingURL() : QUrl();
    auto* detail = static_cast<QVBoxLayout*>(m_detail->layout());

    if (image.isNull()) {
        delete m_imageEditor;
        m_imageEditor = nullptr;
    } else {
        if (!m_imageEditor) {
            m_imageEditor = new ImageEditor(m_detail);
            m_imageEditor->setStyle(m_selectedGradient);
            m_imageEditor->setPadding(m_values->padding);
            m_imageEditor->setCornerRadius(m_values->cornerRadius);
            connect(m_imageEditor, &ImageEditor::exportRequested, this,
                    &ContentView::exportScreenshot);
            // The screenshot comes first.
            detail->insertWidget(0, m_imageEditor, 1);
        }
        m_imageEditor->setScreenshot(image);
    }

    if (movie.isEmpty()) {
        delete m_videoEditor;
        m_videoEditor = nullptr;
    } else if (m_videoEditor) {
        m_videoEditor->setUrl(movie);
    } else {
        m_videoEditor = new VideoEditor(movie, m_detail);
        m_videoEditor->setStyle(m_selectedGradient);
        m_videoEditor->setPadding(m_values->padding);
        m_videoEditor->setCornerRadius(m_values->cornerRadius);
        m_videoEditor->setExporting(m_isExporting);
        connect(m_videoEditor, &VideoEditor::exportRequested, this, &ContentView::startVideoExport);
        detail->addWidget(m_videoEditor, 1);
    }

    // Neither capture: an empty window, without even the sidebar.
    m_split->setVisible(!image.isNull() || !m_screenRecorder.lastRecordingURL().isEmpty());
}

void ContentView::setSelectedGradient(const GradientStyle& style)
{
    if (style == m_selectedGradient)
        return;
    m_selectedGradient = style;
    m_sidebar->setSelectedGradient(style);
    if (m_imageEditor)
        m_imageEditor->setStyle(style);
    if (m_videoEditor)
        m_videoEditor->setStyle(style);
    Q_EMIT selectedGradientChanged();
}

void ContentView::setGradientPadding(double points)
{
    if (points == m_values->padding)
        return;
    m_values->padding = points;
    m_sidebar->setGradientPadding(points);
    if (m_imageEditor)
        m_imageEditor->setPadding(points);
    if (m_videoEditor)
        m_videoEditor->setPadding(points);
    Q_EMIT gradientPaddingChanged();
}

void ContentView::setCornerRadius(double points)
{
    if (points == m_values->cornerRadius)
        return;
    m_values->cornerRadius = points;
    m_sidebar->setCornerRadius(points);
    if (m_imageEditor)
        m_imageEditor->setCornerRadius(points);
    if (m_videoEditor)
        m_videoEditor->setCornerRadius(points);
    Q_EMIT cornerRadiusChanged();
}

void ContentView::setIsExporting(bool exporting)
{
    if (exporting == m_isExporting)
        return;
    m_isExporting = exporting;
    if (m_videoEditor)
        m_videoEditor->setExporting(exporting);
    Q_EMIT isExportingChanged();
}

void ContentView::exportScreenshot()
{
    exportImage(m_panel, m_screencapture.image(), m_selectedGradient, m_values, m_writeLine);
}

void ContentView::copyScreenshot()
{
    if (!m_imageEditor)
        return;
    // Composed now, with the values of the moment, as the export would.
    const QImage composed = composeWithBackground(m_screencapture.image(), m_selectedGradient,
                                                  m_values->padding, m_values->cornerRadius);
    if (composed.isNull()) {
        m_writeLine(QStringLiteral("Error copying image: the composed picture would be too large"));
        return;
    }
    QGuiApplication::clipboard()->setMimeData(new PictureMimeData(composed));
}

void ContentView::exportShownSection()
{
    QPushButton* button = m_imageEditor   ? m_imageEditor->exportButton()
                          : m_videoEditor ? m_videoEditor->exportButton()
                                          : nullptr;
    // While a movie export runs its button is gone, and so is the key's.
    if (button && button->isVisibleTo(this) && button->isEnabled())
        button->click();
}

void ContentView::startVideoExport()
{
    m_writeLine(QStringLiteral("🔄 Export button pressed - starting export"));
    // The exporter never calls back after it is gone, and it goes with this
    // view, so the callback may use the view.
    m_exporter.exportVideo(m_screenRecorder.lastRecordingURL(), m_selectedGradient,
                           m_values->padding, m_values->cornerRadius, [this](bool exporting) {
                               m_writeLine(
                                   QStringLiteral("📱 UI Callback: isExporting = ") +
                                   (exporting ? QStringLiteral("true") : QStringLiteral("false")));
                               setIsExporting(exporting);
                           });
}
