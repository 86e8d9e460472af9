#pragma once

#include <QPushButton>

// A push button with the room and the presence of a desktop's standard
// button: its title is not pressed against the bezel, and on a dark palette
// the button stands out from the window instead of sinking into it.
class StandardButton : public QPushButton {
    Q_OBJECT

public:
    explicit StandardButton(const QString& text, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void changeEvent(QEvent* event) override;

private:
    void fitToPalette();

    bool m_fitting = false;
};
