#include "sheet_radio_button.h"

#include "named_colors.h"
#include "sidebar_look.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>

SheetRadioButton::SheetRadioButton(const QString& text, QWidget* parent)
    : QRadioButton(text, parent)
{
}

void SheetRadioButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);

    // The title as the style draws it; the indicator is ours.
    QStyleOptionButton label = option;
    label.rect = style()->subElementRect(QStyle::SE_RadioButtonContents, &option, this);
    painter.drawControl(QStyle::CE_RadioButtonLabel, label);

    const QRectF slot = style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, this);
    const qreal diameter = std::min(slot.width(), slot.height()) - 2;
    QRectF circle(0, 0, diameter, diameter);
    circle.moveCenter(slot.center());

    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.5);
    const QPalette& colours = palette();
    if (hasFocus()) {
        QColor ring = colours.color(QPalette::Highlight);
        ring.setAlphaF(0.6f);
        painter.setPen(QPen(ring, 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle.adjusted(-1, -1, 1, 1));
    }
    if (isChecked()) {
        QColor accent = named_colors::blue();
        if (isDown())
            accent = accent.darker(115);
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent);
        painter.drawEllipse(circle);
        const qreal dot = diameter * 0.4;
        painter.setBrush(Qt::white);
        painter.drawEllipse(circle.center(), dot / 2, dot / 2);
    } else {
        const bool dark = sidebar_look::isDark(colours);
        QColor field = dark ? sidebar_look::raisedFace(colours) : colours.color(QPalette::Base);
        if (isDown())
            field = field.darker(110);
        QColor edge = colours.color(QPalette::WindowText);
        edge.setAlphaF(dark ? 0.3f : 0.35f);
        painter.setPen(QPen(edge, 1));
        painter.setBrush(field);
        painter.drawEllipse(circle.adjusted(0.5, 0.5, -0.5, -0.5));
    }
}
