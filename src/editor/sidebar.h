#pragma once

#include "file_panel.h"
#include "gradient_style.h"

#include <QWidget>

// The editor's controls: the padding and corner radius sliders and the
// background swatches, with the "Custom" swatch opening the custom
// background sheet. It owns none of the values: the editor sets them with
// the setters and hears the user's edits through the *Edited signals, which
// fire on every change while a slider is dragged. The setters never emit.
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

Q_SIGNALS:
    void gradientPaddingEdited(double points);
    void cornerRadiusEdited(double points);
    void selectedGradientEdited(const GradientStyle& style);
    void showColorPickerChanged(bool shown);

private:
    FilePanel& m_panel;
};
