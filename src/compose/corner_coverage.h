#pragma once

#include <QtGlobal>
#include <algorithm>
#include <cmath>

// How much of each pixel near a corner lies inside a width × height rectangle
// whose corners are rounded to `radius` pixels. Antialiased by the distance of
// the pixel's centre from the arc: a pixel whose centre lies on the arc is
// half covered. The composed picture and the movie's frames both round their
// corners with this, so the two look alike.
class CornerCoverage {
public:
    // `radius` is limited to half the width and height, so a huge one gives
    // semicircular ends; below half a pixel it rounds nothing.
    CornerCoverage(double radius, int width, int height)
        : m_radius(std::clamp(radius, 0.0, std::min(width, height) / 2.0)),
          m_extent(static_cast<int>(std::ceil(m_radius))),
          m_inner2((m_radius - 0.5) * (m_radius - 0.5)),
          m_outer2((m_radius + 0.5) * (m_radius + 0.5))
    {
        if (m_radius < 0.5)
            m_inner2 = -1;
    }

    // Only pixels nearer than this to a corner along both edges can be
    // partly covered; every other pixel is wholly inside.
    int extent() const { return m_extent; }

    // Coverage, 0 to 1, of the pixel at (dx, dy) counted from the nearest
    // corner.
    double fraction(int dx, int dy) const
    {
        const double ox = std::max(m_radius - (dx + 0.5), 0.0);
        const double oy = std::max(m_radius - (dy + 0.5), 0.0);
        const double d2 = ox * ox + oy * oy;
        if (d2 <= m_inner2 || (ox == 0 && oy == 0))
            return 1;
        if (d2 >= m_outer2)
            return 0;
        return std::clamp(m_radius + 0.5 - std::sqrt(d2), 0.0, 1.0);
    }

    // The same, 0 to 255.
    quint32 alpha(int dx, int dy) const
    {
        return static_cast<quint32>(std::lround(fraction(dx, dy) * 255));
    }

private:
    double m_radius;
    int m_extent;
    double m_inner2;
    double m_outer2;
};
