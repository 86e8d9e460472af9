#include "gradient_style.h"

#include "named_colors.h"

GradientStyle GradientStyle::customColor(const QColor& color)
{
    GradientStyle style(Kind::customColor);
    style.m_colors = {color};
    return style;
}

GradientStyle GradientStyle::customGradient(const QList<QColor>& colors)
{
    GradientStyle style(Kind::customGradient);
    style.m_colors = colors;
    return style;
}

GradientStyle GradientStyle::customImage(std::shared_ptr<const QImage> picture)
{
    GradientStyle style(Kind::customImage);
    style.m_image = std::move(picture);
    return style;
}

QList<QColor> GradientStyle::colors() const
{
    using namespace named_colors;
    switch (m_kind) {
    case Kind::customColor:
    case Kind::customGradient:
        return m_colors;
    case Kind::customImage:
        return {};
    case Kind::bluePurple:
        return {blue(), purple()};
    case Kind::sunset:
        return {orange(), pink()};
    case Kind::greenYellow:
        return {green(), yellow()};
    case Kind::ocean:
        return {cyan(), blue()};
    case Kind::warmGlow:
        return {red(), orange(), yellow()};
    case Kind::dreamyPink:
        return {QColor::fromRgbF(1.0f, 0.4f, 0.8f), QColor::fromRgbF(0.7f, 0.3f, 1.0f),
                QColor::fromRgbF(0.4f, 0.6f, 1.0f)};
    }
    return {};
}

bool operator==(const GradientStyle& a, const GradientStyle& b)
{
    if (a.m_kind != b.m_kind)
        return false;
    switch (a.m_kind) {
    case GradientStyle::Kind::customColor:
    case GradientStyle::Kind::customGradient:
        // QList compares shared storage first, then length and colours in order.
        return a.m_colors == b.m_colors;
    case GradientStyle::Kind::customImage:
        return a.m_image == b.m_image;
    default:
        return true;
    }
}
