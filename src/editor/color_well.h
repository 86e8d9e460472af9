#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QColorDialog>
#include <QPointer>

// A 60 × 30 well showing a colour over a checkerboard, so its opacity shows.
// Clicking it (or Space) opens a colour dialog with an opacity channel; every
// change made there applies at once through colorEdited(), like the desktop's
// colour panels. Cancelling the dialog puts back the colour it opened with.
class ColorWell : public QAbstractButton {
    Q_OBJECT

public:
    explicit ColorWell(const QColor& color, QWidget* parent = nullptr);

    QColor color() const { return m_color; }
    // Never emits colorEdited().
    void setColor(const QColor& color);

    // The dialog while it is open, else null.
    QColorDialog* dialog() const { return m_dialog; }

    QSize sizeHint() const override { return QSize(60, 30); }

Q_SIGNALS:
    void colorEdited(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void openDialog();
    void edit(const QColor& color);

    QColor m_color;
    QPointer<QColorDialog> m_dialog;
};
