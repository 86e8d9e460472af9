#pragma once

#include "libav_holders.h"
#include "result.h"
#include "screen_frame.h"

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

// The Matroska file a recording is written to while it is made: H.264 at the
// pictures' own times (microseconds from the first picture) and, when asked
// for, AAC. Nothing is written before the first picture, whose size, cut to
// even sides (H.264's 4:2:0 needs them), the movie keeps: a later picture of
// another size is fitted into it. flush()
// puts everything encoded so far on disk in whole clusters, so a file cut off
// at any moment after it plays up to that flush.
//
// Used from one thread at a time (the recording's encoder thread).
class RecordingWriter {
public:
    static constexpr int soundRate = 48000;

    // Creates `path` (it must not exist) and nothing more.
    static Result<std::unique_ptr<RecordingWriter>> create(const QString& path, bool sound);
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // The first picture sets up the encoders and writes the file's header.
    Result<void> writePicture(const ScreenFrame& picture);
    // The last picture again at `time`: the file's length follows the clock
    // on a still screen too.
    Result<void> repeatPicture(int64_t time);
    // Interleaved S16 stereo; its first frame plays at `time`. Sound before
    // the first picture is cut; gaps become silence and overlaps are cut, so
    // the sound stays within a frame of the picture.
    Result<void> writeSound(const int16_t* samples, int frames, int64_t time);
    // Silence up to `time`, for a sound source that has gone: the track goes
    // on with the picture.
    Result<void> padSound(int64_t time);
    // Everything encoded so far, in whole clusters, on disk.
    Result<void> flush();
    // The last picture held until `end`, the encoders drained, the index
    // written; the file is closed.
    Result<void> finish(int64_t end);

    bool started() const { return m_output != nullptr && m_headerWritten; }
    // When the first picture was taken (where the file's time starts), and
    // the time of the last one written, repeats included.
    int64_t origin() const { return m_origin; }
    int64_t lastPictureTime() const { return m_lastTime; }
    // Whether a write failed for want of room (ENOSPC, EDQUOT).
    bool diskFull() const { return m_diskFull; }

    // Copies the pictures and sound of the Matroska file `intermediate` into
    // an MPEG-4 file in place of `destination`, its index first. A file cut
    // off (a kill, a full disk) is copied up to where it ends.
    static Result<void> remux(const QString& intermediate, const QByteArray& destination);

private:
    RecordingWriter() = default;
    Result<void> open(const ScreenFrame& first);
    Result<void> openVideo(QSize size);
    Result<void> openSound();
    void placePictures(QSize source);
    Result<void> encodePicture(int64_t time);
    Result<void> writeSamples(const int16_t* samples, int frames);
    Result<void> writeSilence(int64_t frames);
    Result<void> encodeSound(bool all);
    Result<void> drain(AVCodecContext& encoder, AVStream& stream);
    Result<void> failure(int code);
    // A stream of the output carrying what `encoder` makes, in `timeBase`.
    Result<void> addStream(const AVCodecContext& encoder, AVRational timeBase, AVStream*& stream);

    static int writePacket(void* opaque, uint8_t* buffer, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);

    int m_fd = -1;
    bool m_wantSound = false;
    bool m_diskFull = false;
    bool m_headerWritten = false;
    libav::OutputPtr m_output;
    libav::CodecPtr m_video;
    libav::CodecPtr m_sound;
    AVStream* m_videoStream = nullptr;
    AVStream* m_soundStream = nullptr;
    libav::PacketPtr m_packet;
    libav::FramePtr m_picture; // the last picture, converted
    SwsContext* m_scale = nullptr;
    QSize m_placedFor;                     // the (even) size m_scale takes
    AVPixelFormat m_scaledFormat = AV_PIX_FMT_NONE;
    QRect m_placed;                        // where it puts the pictures
    libav::FifoPtr m_fifo;
    libav::FramePtr m_soundFrame;
    QSize m_size; // the encoded size
    int64_t m_origin = 0;
    int64_t m_lastTime = 0;
    int64_t m_lastPts = -1; // µs
    int64_t m_soundNext = 0;        // the next sample's place, from the first picture
    int64_t m_soundEncoded = 0;     // samples handed to the encoder
    // Sound that came before the first picture, waiting to be cut to it.
    struct Early {
        std::vector<int16_t> samples;
        int64_t time;
    };
    std::deque<Early> m_early;
    size_t m_earlyFrames = 0;
};
