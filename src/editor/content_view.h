#pragma once

#include "file_panel.h"
#include "file_reveal.h"
#include "gradient_style.h"
#include "image_export.h"
#include "video_exporter.h"

#include <QWidget>
#include <functional>
#include <memory>

class ImageEditor;
class QSplitter;
class Screencapture;
class ScreenRecorder;
class Sidebar;
class VideoEditor;

// The editor window's content: the capture on its background next to the
// sidebar, and the export button. It owns the editor's values (background,
// padding, corner radius, whether a movie export runs); the sidebar edits
// them, every change shows at once and is used by the next export.
//
// Two keys work wherever the focus is in its window: Ctrl+C puts the picture
// on the clipboard as its export would write it (a movie copies nothing),
// and Ctrl+S presses the export button of the section shown.
//
// It shows `screencapture.image` when there is one, and the movie at
// `screenRecorder.lastRecordingURL` when `showVideoPlayer` is set and there
// is one; with neither it shows nothing at all. It follows both models'
// changes and keeps no copy of either capture.
class ContentView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(GradientStyle selectedGradient READ selectedGradient WRITE setSelectedGradient NOTIFY
                   selectedGradientChanged)
    Q_PROPERTY(double gradientPadding READ gradientPadding WRITE setGradientPadding NOTIFY
                   gradientPaddingChanged)
    Q_PROPERTY(
        double cornerRadius READ cornerRadius WRITE setCornerRadius NOTIFY cornerRadiusChanged)
    Q_PROPERTY(bool isExporting READ isExporting NOTIFY isExportingChanged)

public:
    // Where the product's lines go: the movie export's on the main thread,
    // the picture export's from the thread that wrote the file. Defaults to
    // printLine (standard output).
    using LineWriter = std::function<void(const QString& line)>;

    // The models, `panel` and `reveal` must outlive the view.
    ContentView(Screencapture& screencapture, ScreenRecorder& screenRecorder, bool showVideoPlayer,
                FilePanel& panel, FileReveal& reveal, QWidget* parent = nullptr,
                LineWriter writeLine = {});
    ~ContentView() override;

    GradientStyle selectedGradient() const { return m_selectedGradient; }
    void setSelectedGradient(const GradientStyle& style);
    double gradientPadding() const { return m_values->padding; }
    void setGradientPadding(double points);
    double cornerRadius() const { return m_values->cornerRadius; }
    void setCornerRadius(double points);
    // Set only by the movie export's callback.
    bool isExporting() const { return m_isExporting; }

    // The parts shown; null when not shown. For the window's own tests.
    Sidebar* sidebar() const;
    ImageEditor* imageEditor() const { return m_imageEditor; }
    VideoEditor* videoEditor() const { return m_videoEditor; }

Q_SIGNALS:
    void selectedGradientChanged();
    void gradientPaddingChanged();
    void cornerRadiusChanged();
    void isExportingChanged();

private:
    // Shows what the models hold now.
    void showCaptures();
    void exportScreenshot();
    void copyScreenshot();
    void exportShownSection();
    void startVideoExport();
    void setIsExporting(bool exporting);

    Screencapture& m_screencapture;
    ScreenRecorder& m_screenRecorder;
    const bool m_showVideoPlayer;
    FilePanel& m_panel;
    LineWriter m_writeLine;
    VideoExporter m_exporter;
    GradientStyle m_selectedGradient = GradientStyle::bluePurple();
    // Shared with the picture exports started here (see exportImage()).
    std::shared_ptr<ImageExportValues> m_values = std::make_shared<ImageExportValues>();
    bool m_isExporting = false;

    QSplitter* m_split;
    Sidebar* m_sidebar;
    QWidget* m_detail;
    ImageEditor* m_imageEditor = nullptr;
    VideoEditor* m_videoEditor = nullptr;
};
