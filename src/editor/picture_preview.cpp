#include "picture_preview.h"

#include "named_colors.h"
#include "sidebar_look.h"

#include <QPainter>
#include <QPainterPath>

PicturePreview::PicturePreview(QWidget* parent) : QWidget(parent)
{
    setFixedSize(100, 60);
    setAccessibleName(tr("No Image"));
}

void PicturePreview::setPicture(std::shared_ptr<const QImage> picture)
{
    m_picture = std::move(picture);
    setAccessibleName(m_picture ? tr("Chosen Image") : tr("No Image"));
    update();
}

void PicturePreview::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF frame(rect());
    QPainterPath shape;
    shape.addRoundedRect(frame, 8, 8);

    if (m_picture && !m_picture->isNull()) {
        // The middle of the picture in the frame's aspect: cropped to fill.
        const QSizeF size = m_picture->size();
        const qreal scale = std::max(frame.width() / size.width(), frame.height() / size.height());
        QRectF source(QPointF(), frame.size() / scale);
        source.moveCenter(QRectF(QPointF(), size).center());
        painter.setClipPath(shape);
        painter.drawImage(frame, *m_picture, source);
        return;
    }
    QColor gray = named_colors::gray();
    gray.setAlphaF(0.3f);
    painter.fillPath(shape, gray);
    painter.setFont(sidebar_look::captionFont(font()));
    painter.setPen(sidebar_look::secondaryColor(palette()));
    painter.drawText(frame, Qt::AlignCenter, tr("No Image"));
}
