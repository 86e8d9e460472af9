#pragma once

#include "gradient_style.h"

#include <QImage>
#include <QWidget>

class QPushButton;
class ScreenshotPreview;

// The screenshot's section of the editor: the live preview and, under it,
// "Export with Background". Pressing the button only asks: the content view
// runs the export with its own values.
class ImageEditor : public QWidget {
    Q_OBJECT

public:
    explicit ImageEditor(QWidget* parent = nullptr);

    void setScreenshot(const QImage& screenshot);
    void setStyle(const GradientStyle& style);
    void setPadding(double points);
    void setCornerRadius(double points);

    ScreenshotPreview* preview() const { return m_preview; }
    QPushButton* exportButton() const { return m_exportButton; }

Q_SIGNALS:
    void exportRequested();

private:
    ScreenshotPreview* m_preview;
    QPushButton* m_exportButton;
};
