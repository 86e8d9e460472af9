#include "adaptive_grid_layout.h"

#include <QStyle>
#include <QWidget>
#include <algorithm>

AdaptiveGridLayout::AdaptiveGridLayout(int minimumColumnWidth, int columnSpacing, int rowSpacing,
                                       QWidget* parent)
    : QLayout(parent), m_minimumColumnWidth(minimumColumnWidth), m_columnSpacing(columnSpacing),
      m_rowSpacing(rowSpacing)
{
    setContentsMargins(0, 0, 0, 0);
}

AdaptiveGridLayout::~AdaptiveGridLayout()
{
    qDeleteAll(m_items);
}

int AdaptiveGridLayout::columnCount(int width) const
{
    return std::max(1, (width + m_columnSpacing) / (m_minimumColumnWidth + m_columnSpacing));
}

void AdaptiveGridLayout::addItem(QLayoutItem* item)
{
    m_items.append(item);
    invalidate();
}

QLayoutItem* AdaptiveGridLayout::itemAt(int index) const
{
    return m_items.value(index);
}

QLayoutItem* AdaptiveGridLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem* item = m_items.takeAt(index);
    invalidate();
    return item;
}

QSize AdaptiveGridLayout::minimumSize() const
{
    // The largest item; the height the width actually calls for comes from
    // heightForWidth(), so a scroll area around the grid does not reserve
    // room for the one-column case.
    QSize size(m_minimumColumnWidth, 0);
    for (const QLayoutItem* item : m_items)
        size = size.expandedTo(item->sizeHint());
    const QMargins margins = contentsMargins();
    return size.grownBy(margins);
}

QSize AdaptiveGridLayout::sizeHint() const
{
    return minimumSize();
}

int AdaptiveGridLayout::heightForWidth(int width) const
{
    return arrange(QRect(0, 0, width, 0), false);
}

void AdaptiveGridLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int AdaptiveGridLayout::arrange(const QRect& rect, bool place) const
{
    const QMargins margins = contentsMargins();
    const QRect area = rect.marginsRemoved(margins);
    QList<QLayoutItem*> visible;
    for (QLayoutItem* item : m_items) {
        if (!item->isEmpty())
            visible.append(item);
    }
    const int columns = columnCount(area.width());
    const int cellWidth = std::max(0, (area.width() - (columns - 1) * m_columnSpacing) / columns);

    int y = area.top();
    for (qsizetype first = 0; first < visible.size(); first += columns) {
        const qsizetype last = std::min<qsizetype>(first + columns, visible.size());
        int rowHeight = 0;
        for (qsizetype i = first; i < last; ++i)
            rowHeight = std::max(rowHeight, visible[i]->sizeHint().height());
        if (place) {
            for (qsizetype i = first; i < last; ++i) {
                const QRect cell(area.left() + int(i - first) * (cellWidth + m_columnSpacing), y,
                                 cellWidth, rowHeight);
                const QSize size = visible[i]->sizeHint().boundedTo(cell.size());
                visible[i]->setGeometry(
                    QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, cell));
            }
        }
        y += rowHeight + m_rowSpacing;
    }
    if (!visible.isEmpty())
        y -= m_rowSpacing;
    return y - area.top() + margins.top() + margins.bottom();
}
