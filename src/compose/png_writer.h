#pragma once

#include "result.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// Lossless PNG of `image`, 8 bits per channel: RGB when every pixel is opaque,
// RGBA otherwise. The density recorded is 72 dpi times the picture's device
// pixel ratio, so a picture composed at ratio 2 reads back as ratio 2.
//
// Screenshots are large and mostly flat, so this encoder trades the last few
// percent of size for speed: a cheap per-row filter choice, a fast zlib level,
// and the rows split into bands of a few megabytes, deflated side by side on
// as many threads as the process's budget allows and joined into a single
// zlib stream. The bands follow from the picture's size alone, so the same
// picture gives the same bytes on any machine.
QByteArray encodePng(const QImage& image);

// Writes encodePng(image) to `path` as replaceFileContents() does: a link is
// followed and its target replaced, keeping its permissions, and a failure
// leaves whatever was there before untouched; the reason is the system's own
// words.
Result<void> writePng(const QImage& image, const QString& path);
