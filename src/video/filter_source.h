#pragma once

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

#include <QByteArray>
#include <QString>

// The arguments of a filter graph's "buffer" source that takes pictures like
// `picture`, stamped in `timeBase`; a picture that names no pixel shape has
// square pixels.
inline QByteArray bufferSourceArguments(const AVFrame& picture, AVRational timeBase)
{
    const AVRational aspect =
        picture.sample_aspect_ratio.num > 0 ? picture.sample_aspect_ratio : AVRational{1, 1};
    return QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=%4/%5:pixel_aspect=%6/%7")
        .arg(picture.width)
        .arg(picture.height)
        .arg(picture.format)
        .arg(timeBase.num)
        .arg(timeBase.den)
        .arg(aspect.num)
        .arg(aspect.den)
        .toLatin1();
}
