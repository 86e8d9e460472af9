#pragma once

#include "result.h"
#include "screen_frame.h"
#include "sound_source.h"

#include <QString>
#include <functional>
#include <memory>

// One recording in the making. Frames and sound go from their sources'
// threads into a queue; an encoder thread of the recording's own turns them
// into H.264 (and AAC) in a Matroska file beside the destination, flushed at
// least once a second, so a kill or a power cut leaves a playable file up to
// about the last second. A frame identical to the one before is not encoded
// again: the intermediate has a variable frame rate, the pictures at the
// times the source took them (to the millisecond), and a still screen adds a
// repeat of its picture once a second so that the file's length follows the
// clock.
//
// finish() stops the sources, drains the queue and makes the destination, an
// MPEG-4 file, from the intermediate (written beside it and put in place
// atomically); the intermediate is then removed. A recording that is never
// finished keeps its intermediate.
class Recording {
public:
    struct Setup {
        QString destination;                  // the .mp4 to make
        std::unique_ptr<FrameSource> frames;  // never null
        std::unique_ptr<SoundSource> sound;   // null: no sound track
    };

    // The intermediate file for `destination`: beside it, its name starting
    // with the destination's ("NAME.mp4.recording.mkv"). start() refuses to
    // write over one that is there, left from a recording never finished.
    static QString intermediateFor(const QString& destination);

    // Creates the intermediate and starts the sources. Fails, having written
    // nothing, when the destination's folder cannot take the file or a source
    // does not start.
    static Result<std::unique_ptr<Recording>> start(Setup setup);
    ~Recording(); // stops without finishing: the intermediate stays

    // Called once, on the encoder's thread, when the recording stopped by
    // itself (a full disk, a source gone); the reason is one line, "the disk
    // is full" for a full disk. What was written stays, and finish() still
    // tries to make the destination from it (on a disk still full it fails,
    // and the intermediate is what was kept). The handler must not call
    // finish() itself: it would wait for its own thread. Set after the
    // recording stopped, it is called at once, on the caller's thread.
    void setStoppedHandler(std::function<void(const QString& reason)> handler);
    // Called once, on the encoder's thread, when the sound source gave up (an
    // output unplugged) while the picture goes on; the sound track is silent
    // from then on. Set after that, it is called at once, on the caller's thread.
    void setSoundLostHandler(std::function<void(const QString& reason)> handler);

    QString intermediatePath() const;
    // Frames the source delivered, frames encoded, and frames lost because
    // the encoder fell behind; the rest were identical to the one before. For
    // tests and the benchmark.
    struct Counts {
        int64_t delivered = 0;
        int64_t encoded = 0;
        int64_t dropped = 0;
    };
    Counts counts() const;

    // Blocks until the destination is in place, or fails saying why; the
    // intermediate is then kept. Not for the GUI thread.
    Result<QString> finish();

private:
    Recording();
    struct Private;
    std::unique_ptr<Private> d;
};
