#include "capture_overlay.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace {
const QColor dimColour(0, 0, 0, 110);
const QColor accentColour(0, 122, 255);
} // namespace

CaptureOverlay::CaptureOverlay(QScreen* screen, const QPixmap& frozen, ScreenshotTypes kind)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::BypassWindowManagerHint | Qt::Tool),
      m_frozen(frozen), m_kind(kind),
      // Qt keeps a screen's top-left in device pixels and scales only its size.
      m_origin(screen->geometry().topLeft()), m_ratio(frozen.devicePixelRatio())
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setCursor(kind == ScreenshotTypes::window ? Qt::PointingHandCursor : Qt::CrossCursor);
    setScreen(screen);
    // Without a window manager showFullScreen() alone leaves the size unset.
    setGeometry(screen->geometry());
}

void CaptureOverlay::present()
{
    show();
    raise();
    m_pointer = mapFromGlobal(QCursor::pos());
    if (rect().contains(m_pointer.toPoint())) {
        activateWindow();
        grabKeyboardWhenMapped(100);
        Q_EMIT hovered(toRoot(m_pointer));
    }
}

// A keyboard grab fails until the server has mapped the window. Should it
// never succeed (another program holds the keyboard), the capture goes on:
// the mouse still picks, and a right click still cancels.
void CaptureOverlay::grabKeyboardWhenMapped(int attemptsLeft)
{
    QWindow* window = windowHandle();
    if (window && window->isExposed() && window->setKeyboardGrabEnabled(true)) {
        // For the shortcut tests, which type only once the keys come here.
        if (qEnvironmentVariableIsSet("QUORVEL_REPORT_OVERLAY")) {
            std::fputs("keyboard grabbed\n", stderr);
            std::fflush(stderr);
        }
        return;
    }
    if (attemptsLeft == 0)
        return;
    QTimer::singleShot(20, this,
                       [this, attemptsLeft] { grabKeyboardWhenMapped(attemptsLeft - 1); });
}

void CaptureOverlay::setMarked(const QRect& rootRect)
{
    if (rootRect == m_marked)
        return;
    m_marked = rootRect;
    update();
}

QPoint CaptureOverlay::toRoot(QPointF local) const
{
    return m_origin +
           QPoint(int(std::lround(local.x() * m_ratio)), int(std::lround(local.y() * m_ratio)));
}

// Qt hands widgets whole points, so under a scale factor an odd device pixel
// is lost. Where the capture starts and ends must be exact: ask the server
// where the pointer is, and trust it while it is still within a point of the
// event (it is not when the user already moved on).
QPoint CaptureOverlay::exactRoot(QPointF local) const
{
    const QPoint rounded = toRoot(local);
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || m_ratio == 1)
        return rounded;
    xcb_connection_t* c = x11->connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen)
        return rounded;
    std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> pointer(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, screen->root), nullptr), &std::free);
    // Without the server's answer the event's position is the best we have.
    if (!pointer)
        return rounded;
    const QPoint server(pointer->root_x, pointer->root_y);
    const QPoint off = server - rounded;
    return std::max(std::abs(off.x()), std::abs(off.y())) < m_ratio ? server : rounded;
}

QRectF CaptureOverlay::toLocal(const QRect& rootRect) const
{
    const QPointF topLeft = QPointF(rootRect.topLeft() - m_origin) / m_ratio;
    return {topLeft, QSizeF(rootRect.size()) / m_ratio};
}

void CaptureOverlay::hideEvent(QHideEvent*)
{
    if (m_painted && qEnvironmentVariableIsSet("QUORVEL_REPORT_OVERLAY")) {
        std::fputs("overlay hidden\n", stderr);
        std::fflush(stderr);
    }
}

void CaptureOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(QPointF(0, 0), m_frozen);
    // With QUORVEL_REPORT_OVERLAY set, says "overlay shown" on stderr when
    // first drawn (and "keyboard grabbed" once it has the keys, "overlay
    // hidden" once it is gone), for the capture benchmark and the shortcut
    // tests.
    if (!m_painted && qEnvironmentVariableIsSet("QUORVEL_REPORT_OVERLAY")) {
        std::fputs("overlay shown\n", stderr);
        std::fflush(stderr);
    }
    m_painted = true;

    const QRectF marked = m_marked.isEmpty() ? QRectF() : toLocal(m_marked);
    QPainterPath dimmed;
    dimmed.addRect(QRectF(rect()));
    if (!marked.isEmpty()) {
        QPainterPath hole;
        hole.addRect(marked);
        dimmed = dimmed.subtracted(hole);
    }
    painter.fillPath(dimmed, dimColour);
    if (marked.isEmpty())
        return;
    painter.setPen(QPen(accentColour, 0));
    painter.drawRect(marked.adjusted(0, 0, -1.0 / m_ratio, -1.0 / m_ratio));
    if (m_kind == ScreenshotTypes::area && m_pressed)
        paintSizeLabel(painter);
}

// The size in device pixels, which is what the picture will have.
void CaptureOverlay::paintSizeLabel(QPainter& painter) const
{
    const QString text = QStringLiteral("%1 × %2").arg(m_marked.width()).arg(m_marked.height());
    const QFontMetrics metrics(font());
    QRectF box(m_pointer + QPointF(14, 14),
               QSizeF(metrics.horizontalAdvance(text) + 12, metrics.height() + 6));
    // Keep the label on screen near the right and bottom edges.
    if (box.right() > width())
        box.moveRight(m_pointer.x() - 14);
    if (box.bottom() > height())
        box.moveBottom(m_pointer.y() - 14);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 180));
    painter.drawRoundedRect(box, 5, 5);
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
}

void CaptureOverlay::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        Q_EMIT cancelRequested();
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    m_pointer = event->position();
    m_pressedAt = exactRoot(m_pointer);
}

void CaptureOverlay::mouseMoveEvent(QMouseEvent* event)
{
    m_pointer = event->position();
    const QPoint at = toRoot(m_pointer);
    if (m_pressed && m_kind == ScreenshotTypes::area)
        Q_EMIT dragged(m_pressedAt, at);
    else if (!m_pressed)
        Q_EMIT hovered(at);
}

void CaptureOverlay::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressed)
        return;
    m_pressed = false;
    m_pointer = event->position();
    Q_EMIT released(m_pressedAt, exactRoot(m_pointer));
}

void CaptureOverlay::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        Q_EMIT cancelRequested();
    else
        QWidget::keyPressEvent(event);
}
