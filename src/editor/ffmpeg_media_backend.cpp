#include "ffmpeg_media_backend.h"

#include <QByteArray>
#include <QtGlobal>

void useFfmpegMediaBackend()
{
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", QByteArrayLiteral("ffmpeg"));
}
