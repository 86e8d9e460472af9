#pragma once

#include <QSlider>

// A horizontal slider over a length in points, from 0 to a maximum. It moves
// continuously (in hundredths of a point under the hood); the arrow keys move
// it by one point, Page Up and Page Down by ten. Tinted with the sidebar's
// purple.
//
// pointsEdited() fires on every change the user makes, while dragging too;
// setPoints() never fires it. Assistive technologies read and set the value
// in points.
class PointSlider : public QSlider {
    Q_OBJECT

public:
    explicit PointSlider(double maximum, QWidget* parent = nullptr);

    double points() const;
    double maximumPoints() const;
    // Clamped to the slider's range.
    void setPoints(double points);

    // How a length in points reads next to the slider and to a screen
    // reader: whole points, truncated toward zero ("%lld"), never a fraction.
    static QString wholePoints(double points);

Q_SIGNALS:
    void pointsEdited(double points);

protected:
    void changeEvent(QEvent* event) override;

private:
    void tint();

    bool m_setting = false;
    bool m_tinting = false;
};
