#pragma once

#include "screenshot_types.h"

#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QWidget>

class QScreen;

// A frameless, always-on-top widget covering one screen and painting that
// screen's frozen picture, so the user picks from what was on screen when the
// capture started. It only reports what the pointer does; the backend decides
// what that means, so a drag or a highlight can span several screens.
//
// Points and rectangles in signals and setters are in X root coordinates,
// i.e. device pixels of the virtual desktop. The widget itself lives in Qt's
// logical coordinates: a device pixel is 1/devicePixelRatio of a point.
class CaptureOverlay : public QWidget {
    Q_OBJECT

public:
    // `frozen` is the screen's picture at full resolution with its device pixel ratio.
    CaptureOverlay(QScreen* screen, const QPixmap& frozen, ScreenshotTypes kind);

    // Shows the overlay over its whole screen and takes the keyboard so Esc
    // reaches us even though the window manager never focuses the overlay.
    void present();

    // The dragged area or the window under the pointer; empty for none.
    void setMarked(const QRect& rootRect);

Q_SIGNALS:
    void hovered(QPoint rootPoint);
    void dragged(QPoint from, QPoint to);
    void released(QPoint from, QPoint to);
    void cancelRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPoint toRoot(QPointF local) const;
    QPoint exactRoot(QPointF local) const;
    QRectF toLocal(const QRect& rootRect) const;
    void grabKeyboardWhenMapped(int attemptsLeft);
    void paintSizeLabel(class QPainter& painter) const;

    QPixmap m_frozen;
    ScreenshotTypes m_kind;
    QPoint m_origin; // the screen's top-left in root coordinates
    qreal m_ratio;
    QRect m_marked;
    QPoint m_pressedAt;
    bool m_pressed = false;
    QPointF m_pointer{-1, -1};
    bool m_painted = false;
};
