#include "custom_background_picker.h"

#include "color_well.h"
#include "console.h"
#include "image_loader.h"
#include "named_colors.h"
#include "picture_preview.h"
#include "sheet_radio_button.h"
#include "standard_button.h"

#include <QApplication>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 250;
constexpr int kPadding = 16;

} // namespace

CustomBackgroundPicker::CustomBackgroundPicker(FilePanel& panel, QWidget* parent)
    : QDialog(parent), m_panel(panel)
{
    setWindowTitle(tr("Custom Background"));
    // A sheet of its window: it closes, but is neither minimised nor maximised.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    layout->setSpacing(16);
    // The sheet fits its content, which changes with the kind, at a fixed width.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addStrut(kWidth - 2 * kPadding);

    layout->addWidget(makeModeChoice());
    m_sections[int(Mode::plain)] = makePlainSection();
    m_sections[int(Mode::gradient)] = makeGradientSection();
    m_sections[int(Mode::image)] = makeImageSection();
    for (QWidget* section : m_sections)
        layout->addWidget(section);

    auto* done = new StandardButton(tr("Done"));
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    layout->addSpacing(kPadding);
    layout->addWidget(done, 0, Qt::AlignRight);

    setMode(Mode::plain);
}

CustomBackgroundPicker::~CustomBackgroundPicker() = default;

QWidget* CustomBackgroundPicker::makeModeChoice()
{
    auto* choice = new QWidget;
    auto* layout = new QVBoxLayout(choice);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_modeButtons = new QButtonGroup(this);
    const std::pair<Mode, QString> modes[] = {
        {Mode::plain, tr("Plain Color")},
        {Mode::gradient, tr("Gradient")},
        {Mode::image, tr("Custom Image")},
    };
    for (const auto& [mode, title] : modes) {
        auto* button = new SheetRadioButton(title);
        m_modeButtons->addButton(button, int(mode));
        layout->addWidget(button);
    }
    connect(m_modeButtons, &QButtonGroup::idClicked, this, [this](int id) { setMode(Mode(id)); });
    return choice;
}

QWidget* CustomBackgroundPicker::makePlainSection()
{
    auto* section = new QWidget;
    auto* row = new QHBoxLayout(section);
    row->setContentsMargins(0, 0, 0, 0);
    m_plainWell = new ColorWell(named_colors::green());
    m_plainWell->setAccessibleName(tr("Color"));
    connect(m_plainWell, &ColorWell::colorEdited, this, [this](const QColor& color) {
        Q_EMIT selectedStyleEdited(GradientStyle::customColor(color));
    });
    row->addWidget(m_plainWell, 0, Qt::AlignVCenter);
    row->addStretch();
    return section;
}

QWidget* CustomBackgroundPicker::makeGradientSection()
{
    auto* section = new QWidget;
    auto* row = new QHBoxLayout(section);
    row->setContentsMargins(0, 0, 0, 0);
    m_gradientWell1 = new ColorWell(named_colors::cyan());
    m_gradientWell1->setAccessibleName(tr("Start Color"));
    m_gradientWell2 = new ColorWell(named_colors::purple());
    m_gradientWell2->setAccessibleName(tr("End Color"));
    for (ColorWell* well : {m_gradientWell1, m_gradientWell2}) {
        connect(well, &ColorWell::colorEdited, this, &CustomBackgroundPicker::applyGradient);
        row->addWidget(well, 0, Qt::AlignVCenter);
    }
    row->addStretch();
    return section;
}

QWidget* CustomBackgroundPicker::makeImageSection()
{
    auto* section = new QWidget;
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    m_preview = new PicturePreview;
    column->addWidget(m_preview, 0, Qt::AlignHCenter);
    m_chooseButton = new StandardButton(tr("Choose Image"));
    // Return stays with "Done".
    m_chooseButton->setAutoDefault(false);
    connect(m_chooseButton, &QPushButton::clicked, this, &CustomBackgroundPicker::chooseImage);
    column->addWidget(m_chooseButton, 0, Qt::AlignHCenter);
    return section;
}

void CustomBackgroundPicker::setMode(Mode mode)
{
    m_mode = mode;
    m_modeButtons->button(int(mode))->setChecked(true);
    for (int i = 0; i < 3; ++i)
        m_sections[i]->setVisible(i == int(mode));
}

void CustomBackgroundPicker::applyGradient()
{
    Q_EMIT selectedStyleEdited(
        GradientStyle::customGradient({m_gradientWell1->color(), m_gradientWell2->color()}));
}

void CustomBackgroundPicker::chooseImage()
{
    const FilePanel::OpenRequest request{
        {tr("Images (*.jpg *.jpeg *.png *.tif *.tiff *.bmp)"), tr("JPEG (*.jpg *.jpeg)"),
         tr("PNG (*.png)"), tr("TIFF (*.tif *.tiff)"), tr("BMP (*.bmp)")},
        tr("Choose Image"),
    };
    m_panel.chooseFileToOpen(request, [self = QPointer(this)](std::optional<QString> path) {
        if (self && path)
            self->loadImage(*path);
    });
}

void CustomBackgroundPicker::loadImage(const QString& path)
{
    // A large picture takes a while to decode; the sheet stays responsive
    // and takes no second choice until this one is in.
    m_loading = true;
    m_chooseButton->setEnabled(false);
    QThreadPool::globalInstance()->start([self = QPointer(this), path] {
        auto loaded = std::make_shared<Result<QImage>>(loadImageFile(path));
        QMetaObject::invokeMethod(
            qApp,
            [self, loaded] {
                if (self)
                    self->imageLoaded(std::move(*loaded));
            },
            Qt::QueuedConnection);
    });
}

void CustomBackgroundPicker::imageLoaded(Result<QImage> loaded)
{
    m_loading = false;
    m_chooseButton->setEnabled(true);
    if (!loaded.ok()) {
        printLine(QStringLiteral("Error selecting image: ") + loaded.error());
        return;
    }
    m_customImage = std::make_shared<const QImage>(std::move(loaded).value());
    m_preview->setPicture(m_customImage);
    Q_EMIT selectedStyleEdited(GradientStyle::customImage(m_customImage));
}
