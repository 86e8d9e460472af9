#pragma once

#include "libav_holders.h"
#include "result.h"

#include <memory>

// Weaves the two fields of interlaced pictures into whole ones with bwdif: one
// picture out for every picture in, keeping the decoder's times and lengths,
// so a combed recording does not reach the encoder as if it were progressive.
class Deinterlacer {
public:
    // For pictures shaped like `first`, timed in `timeBase`. `fieldOrder` is
    // the stream's own word: when the pictures do not say they hold fields,
    // every one of them is taken as two fields in that order.
    static Result<std::unique_ptr<Deinterlacer>> open(const AVFrame& first, AVRational timeBase,
                                                      AVFieldOrder fieldOrder);
    // Whether pictures like `picture` from a stream tagged `fieldOrder` need it.
    static bool needed(const AVFrame& picture, AVFieldOrder fieldOrder);

    // Takes the next decoded picture; null says there are no more. A picture
    // of another size or pixel format than the first is refused: the filter
    // would read it as if it were shaped like the first.
    Result<void> send(libav::FramePtr picture);
    // The next whole picture, timed in the time base given to open(); null
    // while it needs more pictures, and after the last.
    Result<libav::FramePtr> receive();

private:
    Deinterlacer() = default;

    libav::GraphPtr m_graph;
    AVFilterContext* m_source = nullptr;
    AVFilterContext* m_sink = nullptr;
    AVRational m_timeBase{1, 1};
    int m_width = 0;
    int m_height = 0;
    int m_format = -1;
};
