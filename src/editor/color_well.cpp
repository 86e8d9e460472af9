#include "color_well.h"

#include "sidebar_look.h"

#include <QColorDialog>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr qreal kRadius = 5;
constexpr int kInset = 3; // bezel around the colour
constexpr int kCheck = 5; // checkerboard square

} // namespace

ColorWell::ColorWell(const QColor& color, QWidget* parent) : QAbstractButton(parent), m_color(color)
{
    setFixedSize(sizeHint());
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleDescription(m_color.name(QColor::HexArgb));
    connect(this, &QAbstractButton::clicked, this, &ColorWell::openDialog);
}

void ColorWell::setColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    setAccessibleDescription(m_color.name(QColor::HexArgb));
    update();
}

void ColorWell::edit(const QColor& color)
{
    if (!color.isValid() || color == m_color)
        return;
    setColor(color);
    Q_EMIT colorEdited(color);
}

void ColorWell::openDialog()
{
    if (m_dialog) {
        m_dialog->raise();
        m_dialog->activateWindow();
        return;
    }
    // Qt's own dialog: the desktop's native ones report a colour only when
    // they close, and the preview must follow every change.
    // The colour goes in after the options: given to the constructor, it
    // reaches only the native dialog a desktop theme may offer, and Qt's own
    // would open on black.
    auto* dialog = new QColorDialog(this);
    dialog->setOptions(QColorDialog::ShowAlphaChannel | QColorDialog::DontUseNativeDialog);
    dialog->setCurrentColor(m_color);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QColorDialog::currentColorChanged, this, &ColorWell::edit);
    connect(dialog, &QDialog::rejected, this, [this, original = m_color] { edit(original); });
    // Gone for good once closed, even before its deletion comes round.
    connect(dialog, &QDialog::finished, this, [this] { m_dialog = nullptr; });
    m_dialog = dialog;
    dialog->open();
}

void ColorWell::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bezel = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath outer;
    outer.addRoundedRect(bezel, kRadius, kRadius);
    // A dark theme's button grey nearly disappears into the sheet.
    const bool dark = sidebar_look::isDark(palette());
    painter.fillPath(outer, dark ? sidebar_look::raisedFace(palette())
                                 : palette().color(QPalette::Button));
    QColor edge = palette().color(QPalette::Mid);
    if (hasFocus())
        edge = palette().color(QPalette::Highlight);
    else if (dark)
        edge = QColor(255, 255, 255, 60);
    painter.strokePath(outer, QPen(edge, hasFocus() ? 2 : 1));

    const QRect well = rect().adjusted(kInset, kInset, -kInset, -kInset);
    QPainterPath inner;
    inner.addRoundedRect(QRectF(well), kRadius - 2, kRadius - 2);
    painter.setClipPath(inner);
    painter.fillRect(well, Qt::white);
    for (int y = well.top(); y < well.bottom(); y += kCheck) {
        for (int x = well.left() + ((y - well.top()) / kCheck % 2) * kCheck; x < well.right();
             x += 2 * kCheck)
            painter.fillRect(QRect(x, y, kCheck, kCheck), QColor(204, 204, 204));
    }
    painter.fillRect(well, m_color);
    if (isDown())
        painter.fillRect(well, QColor(0, 0, 0, 40));
}
