#include "frame_placer.h"

#include "corner_coverage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

FramePlacer::FramePlacer(QSize picture, QSize frame, QPoint origin, double radius)
{
    radius = std::clamp(radius, 0.0, std::min(picture.width(), picture.height()) / 2.0);
    m_luma = planeOf(picture, frame, origin, radius, 1);
    m_chroma = planeOf(picture, frame, origin, radius, 2);
}

FramePlacer::Plane FramePlacer::planeOf(QSize picture, QSize frame, QPoint origin, double radius,
                                        int subsample)
{
    auto down = [subsample](int length) { return (length + subsample - 1) / subsample; };
    Plane plane;
    plane.picture = {down(picture.width()), down(picture.height())};
    plane.frame = {frame.width() / subsample, frame.height() / subsample};
    // With an odd offset the chroma lands half a chroma sample early: one
    // column of colour, which nobody sees, against resampling every frame.
    plane.origin = {origin.x() / subsample, origin.y() / subsample};
    const CornerCoverage coverage(radius, picture.width(), picture.height());
    const int lumaCorner = coverage.extent();
    plane.corner = std::min({down(lumaCorner) + (subsample > 1 && lumaCorner ? 1 : 0),
                             plane.picture.width(), plane.picture.height()});
    const int side = plane.corner;
    const int left[] = {0, plane.picture.width() - side};
    const int top[] = {0, plane.picture.height() - side};
    for (int corner = 0; corner < 4; ++corner) {
        auto& mask = plane.masks[size_t(corner)];
        mask.resize(size_t(side) * size_t(side));
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                // A chroma sample stands for the luma pixels it covers.
                double sum = 0;
                for (int dy = 0; dy < subsample; ++dy) {
                    for (int dx = 0; dx < subsample; ++dx) {
                        const int lx =
                            std::min((left[corner % 2] + x) * subsample + dx, picture.width() - 1);
                        const int ly =
                            std::min((top[corner / 2] + y) * subsample + dy, picture.height() - 1);
                        sum += coverage.fraction(std::min(lx, picture.width() - 1 - lx),
                                                 std::min(ly, picture.height() - 1 - ly));
                    }
                }
                mask[size_t(y * side + x)] =
                    static_cast<unsigned char>(std::lround(sum / (subsample * subsample) * 255));
            }
        }
    }
    return plane;
}

void FramePlacer::place(const AVFrame& background, const AVFrame& picture, AVFrame& out) const
{
    for (int i = 0; i < 3; ++i)
        placePlane(i == 0 ? m_luma : m_chroma, background.data[i], background.linesize[i],
                   picture.data[i], picture.linesize[i], out.data[i], out.linesize[i]);
}

void FramePlacer::placePlane(const Plane& plane, const uint8_t* background, int backgroundStride,
                             const uint8_t* picture, int pictureStride, uint8_t* out, int outStride)
{
    const int width = plane.frame.width();
    const int left = plane.origin.x(), top = plane.origin.y();
    const int pictureWidth = std::min(plane.picture.width(), width - left);
    const int pictureHeight = std::min(plane.picture.height(), plane.frame.height() - top);
    for (int y = 0; y < plane.frame.height(); ++y) {
        const uint8_t* under = background + ptrdiff_t(y) * backgroundStride;
        uint8_t* row = out + ptrdiff_t(y) * outStride;
        const int py = y - top;
        if (py < 0 || py >= pictureHeight) {
            std::memcpy(row, under, size_t(width));
            continue;
        }
        std::memcpy(row, under, size_t(left));
        std::memcpy(row + left, picture + ptrdiff_t(py) * pictureStride, size_t(pictureWidth));
        const int right = left + pictureWidth;
        std::memcpy(row + right, under + right, size_t(width - right));
    }

    const int side = plane.corner;
    if (side == 0)
        return;
    const int cornerLeft[] = {0, plane.picture.width() - side};
    const int cornerTop[] = {0, plane.picture.height() - side};
    for (int corner = 0; corner < 4; ++corner) {
        const unsigned char* mask = plane.masks[size_t(corner)].data();
        for (int y = 0; y < side; ++y) {
            const int py = cornerTop[corner / 2] + y;
            if (py >= pictureHeight)
                continue;
            const int fy = top + py;
            const uint8_t* under = background + ptrdiff_t(fy) * backgroundStride;
            const uint8_t* over = picture + ptrdiff_t(py) * pictureStride;
            uint8_t* row = out + ptrdiff_t(fy) * outStride;
            for (int x = 0; x < side; ++x) {
                const int px = cornerLeft[corner % 2] + x;
                const unsigned alpha = mask[y * side + x];
                if (alpha == 255 || px >= pictureWidth)
                    continue;
                row[left + px] =
                    uint8_t((over[px] * alpha + under[left + px] * (255 - alpha) + 127) / 255);
            }
        }
    }
}
