#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The kinds of picture file Quorvel reads, told apart by their first bytes.
enum class PictureFormat { unknown, jpeg, png, gif, bmp, tiff, heif };

// How many bytes of a file's start pictureFormatOf() wants to see.
inline constexpr qsizetype kPictureFormatHeadBytes = 64;

// The format a file's first bytes announce, whatever its name says. A file
// shorter than its format's signature still counts when what there is of it
// matches, so that it is reported as cut short rather than as no picture.
PictureFormat pictureFormatOf(QByteArrayView head);

// The name Qt's image readers know the format by; empty for heif and unknown.
QByteArray qtFormatName(PictureFormat format);
