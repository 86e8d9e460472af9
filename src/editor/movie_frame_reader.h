#pragma once

#include "result.h"

#include <QCoreApplication>
#include <QString>
#include <memory>

struct AVFrame;

// Decodes a movie's pictures by time, for the movies whose frames Qt 6.4's
// FFmpeg backend hands over mislabelled: it passes layouts it does not know
// (4:2:2 10-bit ProRes, 4:4:4, packed RGB) on untouched under the name of
// another layout, and without all their planes. The player then keeps Qt
// for sound and timing and takes each picture from here.
//
// Reading forward decodes on from the last picture; a jump back or far ahead
// seeks to the key frame before it first.
class MovieFrameReader {
    Q_DECLARE_TR_FUNCTIONS(MovieFrameReader)

public:
    static Result<std::unique_ptr<MovieFrameReader>> open(const QString& path);
    ~MovieFrameReader();
    MovieFrameReader(const MovieFrameReader&) = delete;
    MovieFrameReader& operator=(const MovieFrameReader&) = delete;

    // The decoder's layout (an AVPixelFormat).
    int pixelFormat() const;

    // The picture showing `microseconds` into the movie, the clock of
    // QVideoFrame::startTime(). Valid until the next call.
    Result<const AVFrame*> pictureAt(qint64 microseconds);

private:
    MovieFrameReader();
    Result<void> seek(qint64 microseconds);
    // Decodes the next picture into m_next; false at the end of the movie.
    Result<bool> decodeNext();
    qint64 timeOf(const AVFrame& frame) const;

    struct State;
    std::unique_ptr<State> m;
};
