#pragma once

extern "C" {
#include <libavutil/frame.h>
}

#include <QPoint>
#include <QSize>
#include <array>
#include <vector>

// Puts a yuv420p picture with rounded corners on a yuv420p background, every
// frame of a movie. Rows are copied whole; only the four corners blend, with
// coverage masks worked out once, so placing costs next to nothing beside
// decoding and encoding.
class FramePlacer {
public:
    // `radius` is limited to half the picture's width and height; `origin` is
    // the picture's top-left pixel in the frame.
    FramePlacer(QSize picture, QSize frame, QPoint origin, double radius);

    // Writes `background` with `picture` on it into `out`; all three yuv420p,
    // `out` writable and of the frame's size.
    void place(const AVFrame& background, const AVFrame& picture, AVFrame& out) const;

private:
    // One plane's layout and the coverage of its corners, 0 to 255.
    struct Plane {
        QSize picture;
        QSize frame;
        QPoint origin;
        int corner = 0; // side of each corner's square, in this plane's pixels
        // Coverage of the top-left, top-right, bottom-left and bottom-right
        // squares, corner × corner each, row by row.
        std::array<std::vector<unsigned char>, 4> masks;
    };
    static Plane planeOf(QSize picture, QSize frame, QPoint origin, double radius, int subsample);
    static void placePlane(const Plane& plane, const uint8_t* background, int backgroundStride,
                           const uint8_t* picture, int pictureStride, uint8_t* out, int outStride);

    Plane m_luma;
    Plane m_chroma;
};
