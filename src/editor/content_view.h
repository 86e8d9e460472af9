#pragma once

#include "file_panel.h"
#include "file_reveal.h"
#include "gradient_style.h"

#include <QWidget>

class Screencapture;
class ScreenRecorder;

// The editor window's content: the capture on its background next to the
// sidebar, and the export button. It owns the editor's values (background,
// padding, corner radius, whether a movie export runs); the sidebar edits
// them, every change shows at once and is used by the next export.
//
// It shows `screencapture.image` when there is one, and the movie at
// `screenRecorder.lastRecordingURL` when `showVideoPlayer` is set and there
// is one; with neither it shows nothing at all. It follows both models'
// changes and keeps no copy of either capture.
class ContentView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double gradientPadding READ gradientPadding WRITE setGradientPadding NOTIFY
                   gradientPaddingChanged)
    Q_PROPERTY(double cornerRadius READ cornerRadius WRITE setCornerRadius NOTIFY
                   cornerRadiusChanged)
    Q_PROPERTY(bool isExporting READ isExporting NOTIFY isExportingChanged)

public:
    // The models, `panel` and `reveal` must outlive the view.
    ContentView(Screencapture& screencapture, ScreenRecorder& screenRecorder,
                bool showVideoPlayer, FilePanel& panel, FileReveal& reveal,
                QWidget* parent = nullptr);
    ~ContentView() override;

    GradientStyle selectedGradient() const { return m_selectedGradient; }
    void setSelectedGradient(const GradientStyle& style);
    double gradientPadding() const { return m_gradientPadding; }
    void setGradientPadding(double points);
    double cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(double points);
    // Set only by the movie export's callback.
    bool isExporting() const { return m_isExporting; }

Q_SIGNALS:
    void selectedGradientChanged();
    void gradientPaddingChanged();
    void cornerRadiusChanged();
    void isExportingChanged();

private:
    Screencapture& m_screencapture;
    ScreenRecorder& m_screenRecorder;
    const bool m_showVideoPlayer;
    FilePanel& m_panel;
    FileReveal& m_reveal;
    GradientStyle m_selectedGradient = GradientStyle::bluePurple();
    double m_gradientPadding = 40;
    double m_cornerRadius = 0;
    bool m_isExporting = false;
};
