#include "secondary_label.h"

#include "sidebar_look.h"

#include <QPainter>
#include <QStyle>

SecondaryLabel::SecondaryLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
}

void SecondaryLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, sidebar_look::secondaryColor(this->palette()));
    style()->drawItemText(&painter, contentsRect(), int(alignment()), palette, isEnabled(), text(),
                          QPalette::WindowText);
}
