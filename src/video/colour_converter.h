#pragma once

#include "colour_tags.h"
#include "libav_holders.h"
#include "result.h"

// Brings pictures whose colours are not BT.709's (HDR, PQ or HLG; a wide
// gamut such as BT.2020 or P3; another YUV matrix such as BT.601's) into what
// every movie is written as: SDR BT.709, limited range, 8 bits, at the same
// size; yuv420p, or yuv444p when a side is odd (zimg cannot write 4:2:0 then). swscale cannot
// change a YUV matrix, nor light levels or gamuts; libavfilter's zscale (zimg) does it all in
// linear light, and HDR light is compressed by the tonemap filter's Möbius curve, which leaves
// everything up to SDR white nearly as it was and rolls only the highlights off. One picture in,
// one out: nothing is held back.
class ColourConverter {
public:
    // Whether pictures in `format` read as `tags` need it.
    static bool needed(int format, const ColourTags& tags);

    // `picture` read as `tags`, converted; valid until the next call.
    Result<const AVFrame*> convert(const AVFrame& picture, const ColourTags& tags);

private:
    Result<void> build(const AVFrame& picture, const ColourTags& tags);

    libav::GraphPtr m_graph;
    AVFilterContext* m_source = nullptr;
    AVFilterContext* m_sink = nullptr;
    libav::FramePtr m_input; // a reference to the picture being sent
    libav::FramePtr m_converted;
    // What the graph was built for: a picture of another shape or reading
    // gets a new one (the filters keep nothing from one picture to the next).
    int m_width = 0;
    int m_height = 0;
    int m_format = -1;
    ColourTags m_tags;
};
