#pragma once

#include "file_panel.h"
#include "gradient_style.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class CustomBackgroundPicker;
class GradientPickerButton;
class PointSlider;
class QLabel;
class QScrollArea;

// The editor's controls: the padding and corner radius sliders and the
// background swatches, with the "Custom" swatch opening the custom
// background sheet. It owns none of the values: the editor sets them with
// the setters and hears the user's edits through the *Edited signals, which
// fire on every change while a slider is dragged. The setters never emit.
//
// 200 px of controls with 16 px around them; the controls scroll when the
// window is too short for them.
class Sidebar : public QWidget {
    Q_OBJECT

public:
    // `panel` picks the custom background picture; it must outlive the sidebar.
    explicit Sidebar(FilePanel& panel, QWidget* parent = nullptr);
    ~Sidebar() override;

    void setGradientPadding(double points);
    void setCornerRadius(double points);
    void setSelectedGradient(const GradientStyle& style);

    // The custom background sheet is up.
    bool showColorPicker() const;

    // The open custom background sheet, or null.
    CustomBackgroundPicker* customBackgroundPicker() const;

Q_SIGNALS:
    void gradientPaddingEdited(double points);
    void cornerRadiusEdited(double points);
    void selectedGradientEdited(const GradientStyle& style);
    void showColorPickerChanged(bool shown);

private:
    QWidget* makeSliderPanel(const QString& title, double maximum, PointSlider*& slider,
                             QLabel*& value);
    QWidget* makeBackgroundPanel();
    void pickGradient(const GradientStyle& style);
    void openCustomBackgroundPicker();
    void setShowColorPicker(bool shown);
    void fitScrollBar();

    FilePanel& m_panel;
    QScrollArea* m_scroll = nullptr;
    PointSlider* m_paddingSlider = nullptr;
    PointSlider* m_radiusSlider = nullptr;
    QLabel* m_paddingValue = nullptr;
    QLabel* m_radiusValue = nullptr;
    QList<GradientPickerButton*> m_presetSwatches;
    GradientPickerButton* m_customSwatch = nullptr;
    GradientStyle m_selected;
    QPointer<CustomBackgroundPicker> m_picker;
};
