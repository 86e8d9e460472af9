#pragma once

#include <QRadioButton>

// A radio button whose round indicator is drawn to be seen on a light and on
// a dark palette alike: a ring on the field colour when off, the accent blue
// with a white dot when on, and the focus ring around the indicator.
class SheetRadioButton : public QRadioButton {
    Q_OBJECT

public:
    explicit SheetRadioButton(const QString& text, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
