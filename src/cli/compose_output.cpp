#include "compose_output.h"

#include "image_compositor.h"
#include "native_file.h"
#include "pending_file.h"
#include "png_writer.h"

#include <QFileInfo>

Result<QByteArray> writeComposedPng(QImage picture, const ComposeSettings& settings,
                                    const QString& output)
{
    if (settings.scale)
        picture.setDevicePixelRatio(*settings.scale);
    QImage composed =
        composeWithBackground(picture, settings.style, settings.padding, settings.radius);
    if (composed.isNull())
        return Result<QByteArray>::failure(
            QStringLiteral("the composed picture would be too large"));
    picture = QImage(); // neither picture is needed while the file is written
    QByteArray png = encodePng(composed);
    composed = QImage();
    if (png.isEmpty())
        return Result<QByteArray>::failure(
            QStringLiteral("the picture could not be encoded as PNG"));
    // "-" is standard output, which carries the picture itself.
    const bool toStandardOutput = output == QLatin1String("-");
    const Result<void> written =
        toStandardOutput ? writeStandardOutput(png) : replaceFileContents(nativeName(output), png);
    if (!written.ok())
        return Result<QByteArray>::failure(
            QStringLiteral("cannot write %1: %2")
                .arg(toStandardOutput ? QStringLiteral("to standard output") : output,
                     written.error()));
    return png;
}

QString savedLine(const QString& output)
{
    return QStringLiteral("Image saved successfully to: ") + QFileInfo(output).absoluteFilePath();
}
