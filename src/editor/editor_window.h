#pragma once

#include "desktop_file_reveal.h"
#include "null_capture_backend.h"
#include "qt_file_panel.h"
#include "screen_recorder.h"
#include "screencapture.h"

#include <QWidget>

class ContentView;

// One editor window: a free-standing top-level window hosting ContentView
// over a model pair of its own. It starts from a copy of the capture it was
// opened for (the picture, or the movie's location, never both), so later
// captures elsewhere never reach it, and it has its own file panel and file
// reveal. Everything it holds, the picture included, is freed with it.
class EditorWindow : public QWidget {
    Q_OBJECT

public:
    // `minimumHeight` is in points; the window is never narrower than 1200,
    // unless the screen is: see fitTo().
    EditorWindow(const Screencapture& capture, const ScreenRecorder& recorder, bool showVideoPlayer,
                 int minimumHeight, QWidget* parent = nullptr);
    ~EditorWindow() override;

    Screencapture& screencapture() { return m_screencapture; }
    ScreenRecorder& screenRecorder() { return m_screenRecorder; }
    ContentView& contentView() { return *m_contentView; }
    QtFilePanel& filePanel() { return m_panel; }
    // Fixed when the window is made: a movie window stays one.
    bool showsVideoPlayer() const { return m_showVideoPlayer; }

    // The title for a capture from `fileName` ("shot.png — Quorvel"); an
    // empty name stands for a screenshot.
    static QString titleFor(const QString& fileName, bool showVideoPlayer);

    // Keeps the window's minimum and its size within `screen`'s free area,
    // frame included, so on a small screen the sidebar and its export button
    // stay on the screen; on Wayland, where a tiling compositor decides the
    // size, the minimum is the content's own, so a tile shows them too. Done
    // for the primary screen when made, and again whenever the window changes
    // screen.
    void fitTo(const QScreen* screen);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Never asked to capture: an editor only shows what it was given.
    NullCaptureBackend m_backend;
    Screencapture m_screencapture;
    ScreenRecorder m_screenRecorder;
    QtFilePanel m_panel;
    DesktopFileReveal m_reveal;
    const bool m_showVideoPlayer;
    const int m_minimumHeight;
    bool m_followsScreen = false;
    ContentView* m_contentView; // a child, deleted first (see the destructor)
};
