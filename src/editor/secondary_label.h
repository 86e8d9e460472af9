#pragma once

#include <QLabel>

// A plain-text label in the secondary colour. It derives the colour from its
// palette when it paints, so it follows a theme change without being told.
class SecondaryLabel : public QLabel {
    Q_OBJECT

public:
    explicit SecondaryLabel(const QString& text = {}, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
