#pragma once

#include "result.h"

#include <QIODevice>
#include <QImage>
#include <QString>

// The largest picture we decode: 16384 x 16384 pixels' worth. A file whose
// header claims more is refused before anything that size is allocated.
inline constexpr qint64 kMaxImagePixels = 16384LL * 16384LL;

// Reads a picture file the way the desktop's viewers do: by its content, not
// its extension. JPEG, TIFF, BMP, GIF (first frame) through Qt's readers,
// PNG through libpng, HEIC/HEIF through libheif. Nothing is printed: what a
// decoding library says about a damaged file becomes the failure's reason.
//
// The picture comes back upright (EXIF orientation applied), in sRGB (an
// embedded colour profile, or a PNG's gamma, converted; a profile Qt cannot
// read is left alone), as ARGB32_Premultiplied or RGB32 (no alpha; a PNG's
// transparent colour, at any depth, counts as alpha), with its device pixel
// ratio taken from the file's density: 2 at 144 dpi, 3 at 216 dpi, 1 otherwise.
//
// A file that is not a picture, is empty or cut short, damaged or too large
// gives a failure with a reason in plain words ("the file is cut short",
// "picture too large: 20000 × 20000 pixels (at most 16384 × 16384)", or the
// system's own words such as "No such file or directory"), never a
// half-decoded picture. The file's whole structure is walked before it is
// decoded, because some of Qt's readers return what they got from a short
// file.
//
// Safe to call on several threads at once.
Result<QImage> loadImageFile(const QString& path);

// The same from a device already open for reading and able to seek (a file
// opened by descriptor, or a stream read into a QBuffer).
Result<QImage> loadImage(QIODevice& device);
