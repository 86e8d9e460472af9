#include "standard_button.h"

#include "sidebar_look.h"

#include <QEvent>
#include <QScopedValueRollback>
#include <algorithm>

namespace {

constexpr int kTitleRoom = 12; // each side of the title
constexpr int kMinimumHeight = 28;

} // namespace

StandardButton::StandardButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    fitToPalette();
}

QSize StandardButton::sizeHint() const
{
    const QSize base = QPushButton::sizeHint();
    const int titleWidth = fontMetrics().horizontalAdvance(text());
    return {std::max(base.width(), titleWidth + 2 * kTitleRoom),
            std::max(base.height(), kMinimumHeight)};
}

QSize StandardButton::minimumSizeHint() const
{
    return sizeHint();
}

void StandardButton::changeEvent(QEvent* event)
{
    QPushButton::changeEvent(event);
    const bool inherited =
        event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange;
    if (inherited && !m_fitting)
        fitToPalette();
}

void StandardButton::fitToPalette()
{
    QScopedValueRollback fitting(m_fitting, true);
    QPalette own = parentWidget() ? parentWidget()->palette() : palette();
    if (sidebar_look::isDark(own)) {
        for (const auto group : {QPalette::Active, QPalette::Inactive})
            own.setColor(group, QPalette::Button, sidebar_look::raisedFace(own));
        own.setColor(QPalette::Disabled, QPalette::Button,
                     own.color(QPalette::Window).lighter(130));
        setPalette(own);
    } else {
        setPalette(QPalette());
    }
}
