#pragma once

#include "file_panel.h"
#include "gradient_style.h"
#include "result.h"

#include <QDialog>
#include <QImage>
#include <memory>

class ColorWell;
class PicturePreview;
class QButtonGroup;
class QPushButton;

// The sheet in which the user makes a background of their own: a plain
// colour, a two-colour gradient or a picture. Every change applies at once
// through selectedStyleEdited(); there is no apply or cancel step, and
// closing it ("Done", Escape or the window's close button) keeps whatever was
// applied last. Switching the kind alone applies nothing.
//
// It starts fresh every time (plain, green, cyan to purple, no picture),
// whatever is selected in the editor, and keeps each kind's colours and
// picture while it is open.
class CustomBackgroundPicker : public QDialog {
    Q_OBJECT

public:
    enum class Mode { plain, gradient, image };

    // `panel` picks the picture; it must outlive the sheet.
    explicit CustomBackgroundPicker(FilePanel& panel, QWidget* parent = nullptr);
    ~CustomBackgroundPicker() override;

    Mode mode() const { return m_mode; }
    void setMode(Mode mode);

    ColorWell& plainWell() const { return *m_plainWell; }
    ColorWell& gradientWell1() const { return *m_gradientWell1; }
    ColorWell& gradientWell2() const { return *m_gradientWell2; }
    // The last picture loaded in this sheet, null before the first.
    const std::shared_ptr<const QImage>& customImage() const { return m_customImage; }
    // A chosen picture is being read.
    bool isLoading() const { return m_loading; }

Q_SIGNALS:
    void selectedStyleEdited(const GradientStyle& style);

private:
    QWidget* makeModeChoice();
    QWidget* makePlainSection();
    QWidget* makeGradientSection();
    QWidget* makeImageSection();
    void applyGradient();
    void chooseImage();
    void loadImage(const QString& path);
    void imageLoaded(Result<QImage> loaded);

    FilePanel& m_panel;
    Mode m_mode = Mode::plain;
    QButtonGroup* m_modeButtons = nullptr;
    QWidget* m_sections[3] = {};
    ColorWell* m_plainWell = nullptr;
    ColorWell* m_gradientWell1 = nullptr;
    ColorWell* m_gradientWell2 = nullptr;
    PicturePreview* m_preview = nullptr;
    QPushButton* m_chooseButton = nullptr;
    std::shared_ptr<const QImage> m_customImage;
    bool m_loading = false;
};
