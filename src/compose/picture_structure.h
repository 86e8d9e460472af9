#pragma once

#include "byte_reader.h"
#include "picture_format.h"

#include <QSize>

// Whether a picture file holds all its parts, checked before decoding.
//
// Qt's readers do not refuse every file that ends early: libjpeg fills the
// missing rows with grey and only warns, the GIF and BMP readers return what
// they got. So each format's layout is walked from its start, hopping over
// the parts (segments, chunks, blocks) by their lengths, without decoding
// anything, up to the part that ends the picture. Data after that end is
// accepted: phones append their own.
struct PictureStructure {
    enum class Verdict { complete, cutShort, damaged };

    Verdict verdict = Verdict::complete;
    // The size the header claims, when the walk read one. Qt's BMP reader
    // will not even report a size above 16384 x 16384 pixels' worth.
    QSize claimedSize;
};

// Walks `reader` from the start of the file. For HEIF only the boxes up to
// 'meta' are walked: libheif checks every item's data against the file.
PictureStructure checkPictureStructure(PictureFormat format, ByteReader& reader);
