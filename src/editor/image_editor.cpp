#include "image_editor.h"

#include "screenshot_preview.h"
#include "standard_button.h"

#include <QPushButton>
#include <QVBoxLayout>

ImageEditor::ImageEditor(QWidget* parent)
    : QWidget(parent), m_preview(new ScreenshotPreview(this)),
      m_exportButton(new StandardButton(tr("Export with Background"), this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 20);
    // The preview takes all the room; it centres the picture itself.
    layout->addWidget(m_preview, 1);
    layout->addWidget(m_exportButton, 0, Qt::AlignHCenter);
    connect(m_exportButton, &QPushButton::clicked, this, &ImageEditor::exportRequested);
}

void ImageEditor::setScreenshot(const QImage& screenshot)
{
    m_preview->setScreenshot(screenshot);
}

void ImageEditor::setStyle(const GradientStyle& style)
{
    m_preview->setStyle(style);
}

void ImageEditor::setPadding(double points)
{
    m_preview->setPadding(points);
}

void ImageEditor::setCornerRadius(double points)
{
    m_preview->setCornerRadius(points);
}
