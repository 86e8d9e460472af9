#pragma once

#include "colour_tags.h"
#include "libav_holders.h"
#include "result.h"

#include <QSize>
#include <QString>
#include <memory>

// A movie file read in one pass: the decoded pictures of its first video
// stream, in display order with their times, and the untouched packets of its
// first audio stream, as they come in the file.
class MovieSource {
public:
    static Result<std::unique_ptr<MovieSource>> open(const QString& path);

    bool hasVideo() const { return m_video != nullptr; }
    // Upright size: the decoded size turned by `quarterTurns()`.
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

    struct Item {
        enum class Kind { picture, audio, end };
        Kind kind = Kind::end;
        AVFrame* picture = nullptr; // owned by the source until the next call
        double time = 0;            // seconds since origin()
        double end = 0;             // when the next picture is due
        AVPacket* packet = nullptr; // audio; owned by the source until the next call
    };
    // The next picture or audio packet, or the end.
    Result<Item> next();

private:
    MovieSource() = default;
    Result<void> openVideoDecoder();
    Item pictureItem();

    libav::InputPtr m_input;
    libav::CodecPtr m_decoder;
    libav::PacketPtr m_packet;
    libav::FramePtr m_frame;
    AVStream* m_video = nullptr;
    AVStream* m_audio = nullptr;
    int m_quarterTurns = 0;
    double m_duration = 0;
    int64_t m_origin = 0;
    double m_nextTime = 0;
};
