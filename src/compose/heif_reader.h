#pragma once

#include "result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QSize>
#include <memory>

struct heif_context;
struct heif_image_handle;

// Reads the primary picture of a HEIF file (HEIC from phones, also AVIF)
// with libheif, which Qt 6.4 cannot do. Like QImageReader: size() reads the
// container only, so a caller can refuse a huge picture before read()
// decodes it.
//
// The picture comes back upright (libheif applies the file's rotation and
// mirroring) as RGB32, or ARGB32 / ARGB32_Premultiplied as the file stores
// its alpha, with the colour space the file names (an ICC profile, or nclx
// primaries) attached but not applied. Failures are worded for the user:
// "the file is cut short", "the picture is damaged: ...".
// True when `head`, the first bytes of a file, are those of a HEIF picture
// libheif can read. False when libheif is not there to ask.
bool isHeifPicture(QByteArrayView head);

class HeifReader {
public:
    // `bytes` is the whole file.
    explicit HeifReader(QByteArray bytes);
    ~HeifReader();
    HeifReader(const HeifReader&) = delete;
    HeifReader& operator=(const HeifReader&) = delete;

    Result<QSize> size();
    Result<QImage> read();

private:
    Result<void> open();

    QByteArray m_bytes;
    std::unique_ptr<heif_context, void (*)(heif_context*)> m_context;
    std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)> m_handle;
};
