#include "encoded_packets.h"

Result<void> writeEncodedPackets(AVCodecContext& encoder, AVFormatContext& output, AVStream& stream,
                                 AVPacket& packet, int64_t fallbackDuration)
{
    for (;;) {
        int code = avcodec_receive_packet(&encoder, &packet);
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
            return {};
        if (code < 0)
            return Result<void>::failure(libav::errorText(code));
        packet.stream_index = stream.index;
        if (packet.duration <= 0 && fallbackDuration > 0)
            packet.duration = fallbackDuration;
        av_packet_rescale_ts(&packet, encoder.time_base, stream.time_base);
        // Takes the packet's data, success or not.
        if ((code = av_interleaved_write_frame(&output, &packet)) < 0)
            return Result<void>::failure(libav::errorText(code));
    }
}
