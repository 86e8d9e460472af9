#pragma once

#include "gradient_style.h"

#include <QWidget>

// A background style painted over the whole widget as the editor shows it:
// each preset in its own direction, a picture covering the area with its
// aspect ratio kept. Sets no size of its own; clipping and shadows are the
// container's business.
class GradientBackground : public QWidget {
    Q_OBJECT

public:
    explicit GradientBackground(QWidget* parent = nullptr);

    const GradientStyle& style() const { return m_style; }
    void setStyle(const GradientStyle& style);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    GradientStyle m_style;
};
