#pragma once

#include "gradient_style.h"
#include "preview_renderer.h"
#include "soft_shadow.h"

#include <QImage>
#include <QWidget>

// The screenshot on its background as the export will write it, scaled to
// fit the widget less a 40-point margin (enlarged as well as reduced), with
// the background style painted exactly behind it casting a soft shadow. A
// customImage background shows neither: the composed picture stands alone.
//
// Value changes only schedule a repaint, and the picture is composed while
// painting, so a burst of slider steps between two frames composes once,
// with the latest values.
class ScreenshotPreview : public QWidget {
    Q_OBJECT

public:
    explicit ScreenshotPreview(QWidget* parent = nullptr);

    void setScreenshot(const QImage& screenshot);
    void setStyle(const GradientStyle& style);
    void setPadding(double points);
    void setCornerRadius(double points);

    // Where the composed picture is shown, in the widget's coordinates; empty
    // when there is nothing to show or no room.
    QRectF pictureRect() const;

    static constexpr double kMargin = 40;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_screenshot;
    GradientStyle m_style;
    double m_padding = 40;
    double m_cornerRadius = 0;
    PreviewRenderer m_renderer;
    SoftShadow m_shadow;
};
