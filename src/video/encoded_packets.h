#pragma once

#include "libav_holders.h"
#include "result.h"

// Takes every packet `encoder` has ready and writes it to `stream` of
// `output`, interleaved. A packet without a duration gets `fallbackDuration`
// (encoder time base) when that is positive: MP4 otherwise guesses the last
// one's. Stops quietly when the encoder wants more input or is drained.
Result<void> writeEncodedPackets(AVCodecContext& encoder, AVFormatContext& output, AVStream& stream,
                                 AVPacket& packet, int64_t fallbackDuration = 0);
