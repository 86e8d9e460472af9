#pragma once

#include "result.h"

#include <QCoreApplication>
#include <QImage>
#include <QSize>
#include <QVideoFrame>
#include <array>
#include <memory>

struct AVFrame;
struct SwsContext;

// Turns a decoded video frame into the picture the player paints, in one
// libswscale step straight to the size it is painted at (stretched, aspect
// ratio not kept). QVideoFrame::toImage() is not used: Qt 6.4 crashes on
// 4:2:2 frames and yields nothing for 10-bit ones.
//
// The scaler is kept while the frame's format, size and colours and the
// target size stay the same, so playback allocates nothing per frame.
class VideoFrameConverter {
    Q_DECLARE_TR_FUNCTIONS(VideoFrameConverter)

public:
    VideoFrameConverter() = default;
    ~VideoFrameConverter() = default;
    VideoFrameConverter(const VideoFrameConverter&) = delete;
    VideoFrameConverter& operator=(const VideoFrameConverter&) = delete;

    // Writes `frame` scaled to `size` pixels into `target` (ARGB32), reusing
    // its buffer when it already has that size. On failure `target` is left
    // as it was and the reason is worded for the person watching.
    Result<void> convert(const QVideoFrame& frame, QSize size, QImage& target);
    // The same for a picture decoded by FFmpeg directly.
    Result<void> convert(const AVFrame& frame, QSize size, QImage& target);

    // FFmpeg's name (an AVPixelFormat) for the layout Qt says a frame of
    // `format` has; AV_PIX_FMT_NONE (-1) when there is none.
    static int avPixelFormat(QVideoFrameFormat::PixelFormat format);

private:
    struct Picture {
        int format = -1; // AVPixelFormat
        QSize size;
        std::array<const uint8_t*, 4> planes{};
        std::array<int, 4> strides{};
        int coefficients = 0; // SWS_CS_*
        bool fullRange = false;
    };
    Result<void> scale(const Picture& picture, QSize size, QImage& target);

    struct ScaleDeleter {
        void operator()(SwsContext* context) const;
    };
    std::unique_ptr<SwsContext, ScaleDeleter> m_scaler;
    // What m_scaler was made for.
    Picture m_made;
    QSize m_madeSize;
};
