#pragma once

#include "gradient_style.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>

// How a movie is placed on its background. Lengths are in the movie's own
// pixels: the margin around the picture is twice `padding` on every side.
struct MovieCompositionSettings {
    GradientStyle style;
    double padding = 0;
    double cornerRadius = 0;
};

// What became of one run of MovieComposer::compose.
struct MovieCompositionOutcome {
    enum class Kind {
        completed, // the destination holds the new movie
        noVideo,   // the source has no video stream: nothing was done
        cancelled, // stopped on request: nothing written, any earlier file kept
        failed,    // see `stage` and `reason`; any earlier file kept
    };
    // Where a failure happened: opening, probing or reading the source, or
    // preparing the encoder (the run never started encoding) ...
    enum class Stage { source, encoding };

    Kind kind = Kind::completed;
    Stage stage = Stage::source;
    QString reason; // av_strerror's or the system's words, for `failed`
    // Damaged video packets of the source that were left out of a completed movie.
    int64_t skippedPackets = 0;
};

// Places every frame of a movie on a background, with rounded corners, and
// writes an MPEG-4 movie (H.264, 30 frames per second, the source's sound)
// in one streaming pass. Pure: no widgets, no display; run it on any thread.
class MovieComposer {
public:
    // What is about to be made.
    struct Encoding {
        double duration = 0; // the source's, in seconds; 0 when it does not say
        QSize frameSize;     // the framed movie's pixels
        int framesPerSecond = 0;
    };

    struct Callbacks {
        // Called once on the composing thread when the source is open, the
        // encoder ready, and encoding is about to start.
        std::function<void(const Encoding&)> encodingStarts;
        // Fraction of the source's duration done, 0 to 1, at most a few
        // hundred times per run.
        std::function<void(double)> progress;
    };

    // Composes `source` into `destination`. The movie is written unseen next
    // to the file the destination names (links followed), flushed to disk and
    // renamed over it only when complete, so a failed, cancelled or killed run
    // leaves any earlier file there untouched and nothing partial behind.
    // Frames beyond H.264's limits are refused before anything is written.
    // `cancel`, when given, is checked for every frame. `destination` is the
    // system's bytes for the name, which need not be UTF-8; given as a
    // QString, it is encoded as QFile does.
    static MovieCompositionOutcome compose(const QString& source, const QByteArray& destination,
                                           const MovieCompositionSettings& settings,
                                           const Callbacks& callbacks = {},
                                           const std::atomic<bool>* cancel = nullptr);
    static MovieCompositionOutcome compose(const QString& source, const QString& destination,
                                           const MovieCompositionSettings& settings,
                                           const Callbacks& callbacks = {},
                                           const std::atomic<bool>* cancel = nullptr);
};
