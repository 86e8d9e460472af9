#pragma once

#include <QLayout>
#include <QList>

// Lays its items out in as many columns as fit its width, each column at
// least `minimumColumnWidth` wide and the columns sharing the width evenly.
// Items keep their size hint and sit centred in their cells; each row is as
// tall as its tallest item.
class AdaptiveGridLayout : public QLayout {
public:
    AdaptiveGridLayout(int minimumColumnWidth, int columnSpacing, int rowSpacing,
                       QWidget* parent = nullptr);
    ~AdaptiveGridLayout() override;

    // How many columns a width of `width` holds (at least one).
    int columnCount(int width) const;

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override { return int(m_items.size()); }

    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    Qt::Orientations expandingDirections() const override { return {}; }
    void setGeometry(const QRect& rect) override;

private:
    // Lays out in `rect` (placing the items when `place` is set) and returns
    // the height used.
    int arrange(const QRect& rect, bool place) const;

    const int m_minimumColumnWidth;
    const int m_columnSpacing;
    const int m_rowSpacing;
    QList<QLayoutItem*> m_items;
};
