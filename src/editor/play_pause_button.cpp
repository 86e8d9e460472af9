#include "play_pause_button.h"

#include <QPainter>
#include <QPainterPath>

PlayPauseButton::PlayPauseButton(QWidget* parent) : QAbstractButton(parent)
{
    // Reached with Tab; a click leaves the focus (and its ring) where it was.
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setShowsPause(false);
}

void PlayPauseButton::setShowsPause(bool showsPause)
{
    m_showsPause = showsPause;
    // The text is never drawn; it names the button for assistive technology.
    setText(showsPause ? tr("Pause") : tr("Play"));
    setAccessibleName(text());
    update();
}

QSize PlayPauseButton::sizeHint() const
{
    return {28, 28};
}

void PlayPauseButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
    if (hasFocus()) {
        painter.setPen(QPen(QColor(0, 122, 255), 2));
        painter.drawRoundedRect(area, 6, 6);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(isDown() ? QColor(255, 255, 255, 170) : QColor(Qt::white));

    const qreal glyph = std::min(area.width(), area.height()) * 0.45;
    const QRectF box(area.center().x() - glyph / 2, area.center().y() - glyph / 2, glyph, glyph);
    if (m_showsPause) {
        const qreal bar = glyph * 0.34;
        painter.drawRoundedRect(QRectF(box.left(), box.top(), bar, glyph), 1, 1);
        painter.drawRoundedRect(QRectF(box.right() - bar, box.top(), bar, glyph), 1, 1);
    } else {
        // Nudged right so the triangle looks centred by its weight.
        const qreal nudge = glyph * 0.1;
        QPainterPath triangle;
        triangle.moveTo(box.left() + nudge, box.top());
        triangle.lineTo(box.right() + nudge, box.center().y());
        triangle.lineTo(box.left() + nudge, box.bottom());
        triangle.closeSubpath();
        painter.drawPath(triangle);
    }
}
