#pragma once

#include <QImage>

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

// Median wall time of `runs` calls, after one warm-up call.
template <typename Work> double medianMs(int runs, Work&& work)
{
    work();
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

// Keeps the optimiser from dropping work whose result is unused.
inline void keep(const void* p)
{
    asm volatile("" : : "g"(p) : "memory");
}

// Something like a desktop: flat panels, with text-like noise in some of
// them, which is what makes screenshots costly to compress.
inline QImage noisyScreenshot(int width, int height, qreal ratio)
{
    QImage image(width, height, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            row[x] = (x / 64 + y / 64) % 3 ? 0xff2a2c31u : (0xff000000u | (seed >> 8));
        }
    }
    image.setDevicePixelRatio(ratio);
    return image;
}

} // namespace bench
