#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPushButton>

class QPainter;
class QVariantAnimation;

// The look of the tray panel's entries: a plain row of icon and text that
// lights up in the accent colour under the pointer. It has no state of its
// own; each MacUtilityButton carries its hover state.
struct MacUtilityButtonStyle {
    static constexpr int kVerticalPadding = 6;
    static constexpr int kHorizontalPadding = 14;
    static constexpr qreal kCornerRadius = 8;
    static constexpr int kHoverMilliseconds = 150;
    static constexpr qreal kFillOpacity = 0.15;
    static constexpr qreal kStrokeOpacity = 0.5;

    // The system font at 15 points, medium weight.
    static QFont font(QFont base);
    static QColor accent();
    // The label's colour, `lit` (0 plain .. 1 hovered) of the way to the accent.
    static QColor foreground(const QColor& plain, qreal lit);
    // The rounded background and its outline, both clear when `lit` is 0.
    static void drawBackground(QPainter& painter, const QRectF& rect, qreal lit);
};

// A button drawn by MacUtilityButtonStyle: its icon is a template, drawn in
// the label's colour, as a symbol is. The whole padded rounded area takes the
// click. Keyboard focus lights it as the pointer does, so Tab shows where it is.
class MacUtilityButton : public QPushButton {
    Q_OBJECT

public:
    MacUtilityButton(const QIcon& icon, const QString& text, QWidget* parent = nullptr);

    // Whether the pointer is over the button.
    bool isHovered() const { return m_hovered; }
    // How far the hover look has come: 0 plain, 1 fully hovered.
    qreal hoverProgress() const { return m_lit; }
    // A colour of the label's own, set outside the style (the panel's red
    // "Quit"); an invalid colour leaves it to the style.
    void setLabelColor(const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    void setHovered(bool hovered);
    void animateTowards(bool lit);
    QColor labelColor() const;

    bool m_hovered = false;
    bool m_keyboardFocus = false;
    qreal m_lit = 0;
    QColor m_labelColor;
    QVariantAnimation* m_animation;
};
