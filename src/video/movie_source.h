#pragma once

#include "colour_tags.h"
#include "deinterlacer.h"
#include "libav_holders.h"
#include "result.h"

#include <QSize>
#include <QString>
#include <memory>

// A movie file read in one pass: the decoded pictures of its first video
// stream, in display order with their times, whole (interlaced ones
// deinterlaced), and the untouched packets of its first audio stream, as they
// come in the file. Damaged video packets are skipped, as players do.
class MovieSource {
public:
    static Result<std::unique_ptr<MovieSource>> open(const QString& path);

    bool hasVideo() const { return m_video != nullptr; }
    // Upright size in square pixels: the decoded size widened (or narrowed) by
    // the sample aspect ratio, as players show it, then turned by
    // `quarterTurns()`.
    QSize size() const;
    int quarterTurns() const { return m_quarterTurns; }
    ColourTags colours() const { return ColourTags::of(*m_video->codecpar); }
    // Seconds from the movie's start to the video's end; 0 when the file does
    // not say, and then the last picture's end is the end.
    double duration() const { return m_duration; }
    // The first audio stream, null when there is none.
    const AVStream* audio() const { return m_audio; }
    // The instant all times count from, in AV_TIME_BASE units.
    int64_t origin() const { return m_origin; }

    // What next() gives; the caller owns it.
    struct Item {
        enum class Kind { picture, audio, end };
        Kind kind = Kind::end;
        libav::FramePtr picture;
        double time = 0;         // seconds since origin()
        double end = 0;          // when the next picture is due
        libav::PacketPtr packet; // audio
    };
    // The next picture or audio packet, or the end. Fails when the file cannot
    // be read, or when damage left not one picture.
    Result<Item> next();
    // Video packets the decoder refused as damaged so far.
    int64_t skippedPackets() const { return m_skipped; }

private:
    MovieSource() = default;
    Result<void> openVideoDecoder();
    Result<void> skip(int code);
    Result<void> prepareDeinterlacer(const AVFrame& picture);
    Result<Item> ended() const;
    Item pictureItem(libav::FramePtr picture);

    libav::InputPtr m_input;
    libav::CodecPtr m_decoder;
    libav::FramePtr m_frame;    // the decoder writes here
    libav::PacketPtr m_pending; // a packet the decoder said to send again
    std::unique_ptr<Deinterlacer> m_deinterlacer;
    AVStream* m_video = nullptr;
    AVStream* m_audio = nullptr;
    int m_quarterTurns = 0;
    double m_duration = 0;
    int64_t m_origin = 0;
    double m_nextTime = 0;
    bool m_draining = false;    // the decoder was told the file ended
    bool m_decoderDone = false; // and has given up every picture
    int m_stalls = 0;           // decoder answers in a row that moved nothing on
    int m_lastError = 0;
    int64_t m_skipped = 0;
    int64_t m_pictures = 0;
};
