#include "sidebar.h"

#include "adaptive_grid_layout.h"
#include "custom_background_picker.h"
#include "gradient_picker_button.h"
#include "point_slider.h"
#include "secondary_label.h"
#include "sidebar_look.h"
#include "sidebar_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

constexpr int kContentWidth = 200;
constexpr int kPadding = 16;

// The "Custom" swatch's own colours, standing for "anything you like".
GradientStyle customSwatchColors()
{
    return GradientStyle::customGradient(
        {QColor::fromRgbF(0.9f, 0.3f, 0.7f), QColor::fromRgbF(0.3f, 0.7f, 0.9f),
         QColor::fromRgbF(0.7f, 0.9f, 0.3f), QColor::fromRgbF(0.9f, 0.7f, 0.3f)});
}

QLabel* headline(const QString& text)
{
    auto* label = new QLabel(text);
    label->setFont(sidebar_look::headlineFont(label->font()));
    return label;
}

} // namespace

Sidebar::Sidebar(FilePanel& panel, QWidget* parent) : QWidget(parent), m_panel(panel)
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    column->setSpacing(10);
    column->addWidget(makeSliderPanel(tr("Padding"), 200, m_paddingSlider, m_paddingValue));
    column->addWidget(makeSliderPanel(tr("Corner Radius"), 100, m_radiusSlider, m_radiusValue));
    column->addWidget(makeBackgroundPanel());
    column->addStretch();

    m_scroll = new QScrollArea;
    m_scroll->setFrameShape(QFrame::NoFrame);
    // Not a Tab stop of its own: it still scrolls the control Tab reaches into view.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_scroll->setWidget(content);
    // The window's own background shows through.
    m_scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    connect(m_scroll->verticalScrollBar(), &QScrollBar::rangeChanged, this, &Sidebar::fitScrollBar);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scroll);
    fitScrollBar();

    connect(m_paddingSlider, &PointSlider::pointsEdited, this, [this](double points) {
        m_paddingValue->setText(PointSlider::wholePoints(points));
        Q_EMIT gradientPaddingEdited(points);
    });
    connect(m_radiusSlider, &PointSlider::pointsEdited, this, [this](double points) {
        m_radiusValue->setText(PointSlider::wholePoints(points));
        Q_EMIT cornerRadiusEdited(points);
    });
    setSelectedGradient(m_selected);
}

Sidebar::~Sidebar() = default;

QWidget* Sidebar::makeSliderPanel(const QString& title, double maximum, PointSlider*& slider,
                                  QLabel*& value)
{
    auto* panel = new SidebarPanel;
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    column->setSpacing(8);
    auto* row = new QHBoxLayout;
    row->addWidget(headline(title));
    value = new SecondaryLabel(PointSlider::wholePoints(0));
    row->addWidget(value);
    row->addStretch();
    column->addLayout(row);
    slider = new PointSlider(maximum);
    slider->setAccessibleName(title);
    column->addWidget(slider);
    return panel;
}

QWidget* Sidebar::makeBackgroundPanel()
{
    auto* panel = new SidebarPanel;
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    column->addWidget(headline(tr("Background")));

    auto* grid = new AdaptiveGridLayout(80, 8, 12);
    const std::pair<QString, GradientStyle> presets[] = {
        {tr("Cool"), GradientStyle::bluePurple()}, {tr("Beach"), GradientStyle::ocean()},
        {tr("Rose"), GradientStyle::sunset()},     {tr("Nature"), GradientStyle::greenYellow()},
        {tr("Warm"), GradientStyle::warmGlow()},   {tr("Dreamy"), GradientStyle::dreamyPink()},
    };
    for (const auto& [title, style] : presets) {
        auto* swatch = new GradientPickerButton(style, title);
        connect(swatch, &QAbstractButton::clicked, this, [this, style] { pickGradient(style); });
        m_presetSwatches.append(swatch);
        grid->addWidget(swatch);
    }
    m_customSwatch = new GradientPickerButton(customSwatchColors(), tr("Custom"));
    connect(m_customSwatch, &QAbstractButton::clicked, this, &Sidebar::openCustomBackgroundPicker);
    grid->addWidget(m_customSwatch);
    column->addLayout(grid);
    return panel;
}

void Sidebar::setGradientPadding(double points)
{
    m_paddingSlider->setPoints(points);
    m_paddingValue->setText(PointSlider::wholePoints(points));
}

void Sidebar::setCornerRadius(double points)
{
    m_radiusSlider->setPoints(points);
    m_radiusValue->setText(PointSlider::wholePoints(points));
}

void Sidebar::setSelectedGradient(const GradientStyle& style)
{
    m_selected = style;
    for (GradientPickerButton* swatch : std::as_const(m_presetSwatches))
        swatch->setSelected(swatch->gradientStyle() == style);
}

bool Sidebar::showColorPicker() const
{
    return m_customSwatch->isSelected();
}

void Sidebar::pickGradient(const GradientStyle& style)
{
    setSelectedGradient(style);
    Q_EMIT selectedGradientEdited(style);
}

void Sidebar::openCustomBackgroundPicker()
{
    if (m_picker) {
        m_picker->raise();
        m_picker->activateWindow();
        return;
    }
    auto* picker = new CustomBackgroundPicker(m_panel, this);
    picker->setAttribute(Qt::WA_DeleteOnClose);
    connect(picker, &CustomBackgroundPicker::selectedStyleEdited, this, &Sidebar::pickGradient);
    connect(picker, &QDialog::finished, this, [this] {
        m_picker = nullptr;
        setShowColorPicker(false);
    });
    m_picker = picker;
    setShowColorPicker(true);
    // Window-modal over the editor, like a sheet.
    picker->open();
}

void Sidebar::setShowColorPicker(bool shown)
{
    if (shown == showColorPicker())
        return;
    m_customSwatch->setSelected(shown);
    Q_EMIT showColorPickerChanged(shown);
}

void Sidebar::fitScrollBar()
{
    // The controls keep their 200 px; a scroll bar, when needed, takes room
    // of its own instead of squeezing them.
    const QScrollBar* bar = m_scroll->verticalScrollBar();
    const int barWidth = bar->maximum() > 0 ? bar->sizeHint().width() : 0;
    setFixedWidth(kContentWidth + 2 * kPadding + barWidth);
}

CustomBackgroundPicker* Sidebar::customBackgroundPicker() const
{
    return m_picker;
}
