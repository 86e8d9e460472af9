#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

// An indeterminate progress indicator: a ring of spokes whose brightest one
// goes round while the widget is visible.
class BusyIndicator : public QWidget {
    Q_OBJECT

public:
    // `diameter` in points; the spokes are drawn in `color`.
    BusyIndicator(double diameter, const QColor& color, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    double m_diameter;
    QColor m_color;
    int m_step = 0;
    QTimer m_timer;
};
