#pragma once

#include "capture_backend.h"
#include "result.h"
#include "x11_window_finder.h"

#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

class CaptureOverlay;
class QScreen;

// Captures on an X server with our own overlay. The whole virtual desktop is
// frozen first (every screen at its own device pixel ratio), then the user
// drags an area or clicks a window on that frozen picture, so what is taken
// is exactly what was on screen when the capture began and never the overlay.
//
// The frozen desktop is kept in X root coordinates (device pixels); a picture
// cut from it gets the ratio of the screen the user started on, so its size
// in points matches what the user saw.
class X11CaptureBackend : public CaptureBackend {
    Q_OBJECT

public:
    explicit X11CaptureBackend(QObject* parent = nullptr);
    ~X11CaptureBackend() override;

    QString name() const override;
    QList<ScreenshotTypes> supportedKinds() const override;
    void capture(ScreenshotTypes kind) override;

    // The same choice as capture() makes, for recording: the answer is
    // picked() with the dragged area, or the clicked window's rectangle and
    // its top-level window (0 for an area and for the whole desktop), instead
    // of a picture. cancelled() and failed() as for capture().
    void pick(ScreenshotTypes kind);

Q_SIGNALS:
    void picked(const QRect& rootRect, quint32 window);

private:
    struct FrozenScreen {
        QScreen* screen;
        QPixmap picture;
        QRect rootRect;
    };

    void begin(ScreenshotTypes kind, bool picking);
    void start(ScreenshotTypes kind);
    Result<void> freeze();
    Result<void> showOverlays(ScreenshotTypes kind);
    void markAll(const QRect& rootRect);
    void onReleased(ScreenshotTypes kind, QPoint from, QPoint to);
    QImage cut(const QRect& rootRect, qreal ratio) const;
    qreal ratioAt(QPoint rootPoint) const;
    void closeOverlays();
    void finish(std::function<void()> answer);
    void failWith(const QString& reason);
    void answerWith(const QImage& picture);

    enum class State { idle, capturing, answering };
    State m_state = State::idle;
    bool m_picking = false; // the answer is a rectangle, not a picture
    std::vector<FrozenScreen> m_screens;
    QImage m_desktop;    // every screen, placed at its root position
    QRect m_desktopRect; // m_desktop's rectangle in root coordinates
    X11WindowFinder m_windows;
    std::vector<QPointer<CaptureOverlay>> m_overlays;
};
