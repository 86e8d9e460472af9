#pragma once

#include "colour_converter.h"
#include "colour_tags.h"
#include "libav_holders.h"
#include "result.h"

#include <QSize>

// Turns decoded pictures of any pixel format (10-bit, 4:2:2, 4:4:4, RGB,
// palette), colours (HDR, wide gamut, BT.601, full range) and pixel shape into
// upright 8-bit yuv420p of one fixed size in SDR BT.709, limited range: the
// form the frame placer and the encoder take. Pictures already in that form
// pass through untouched.
class UprightConverter {
public:
    // `quarterTurns` clockwise turns make the decoded picture upright; `size`
    // is the upright size; `source` says how pictures that do not say read.
    UprightConverter(QSize size, int quarterTurns, const ColourTags& source);

    // The upright picture, valid until the next call.
    Result<const AVFrame*> convert(const AVFrame& decoded);

private:
    Result<const AVFrame*> scale(const AVFrame& decoded, const ColourTags& tags, QSize size);
    Result<const AVFrame*> expandPalette(const AVFrame& decoded);
    void rotate(const AVFrame& from, AVFrame& to) const;

    QSize m_size;
    int m_quarterTurns;
    ColourTags m_source;
    ColourConverter m_colourConverter;
    libav::ScalePtr m_scale;
    libav::FramePtr m_expanded; // a palette picture looked up
    libav::FramePtr m_scaled;   // decoded orientation
    libav::FramePtr m_rotated;  // upright
};
