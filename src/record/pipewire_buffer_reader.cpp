#include "pipewire_buffer_reader.h"

#include <algorithm>
#include <cstring>
#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

namespace {

constexpr int kBytesPerPixel = 4;
// Cursors are small; a bitmap claiming more is not one we trust.
constexpr int kMaxCursorSide = 1024;

AVPixelFormat pixelFormatOf(uint32_t spaFormat)
{
    switch (spaFormat) {
    case SPA_VIDEO_FORMAT_BGRx:
        return AV_PIX_FMT_BGR0;
    case SPA_VIDEO_FORMAT_BGRA:
        return AV_PIX_FMT_BGRA;
    case SPA_VIDEO_FORMAT_RGBx:
        return AV_PIX_FMT_RGB0;
    case SPA_VIDEO_FORMAT_RGBA:
        return AV_PIX_FMT_RGBA;
    default:
        return AV_PIX_FMT_NONE;
    }
}

bool redFirst(AVPixelFormat format)
{
    return format == AV_PIX_FMT_RGB0 || format == AV_PIX_FMT_RGBA;
}

// The cursor bitmap in RGBA, whatever order it came in. Compositors send it
// premultiplied (GNOME reads its cursor texture that way), and it stays so.
QImage cursorImage(const spa_meta_bitmap& bitmap, const uint8_t* pixels, size_t available)
{
    const int width = int(bitmap.size.width);
    const int height = int(bitmap.size.height);
    if (width <= 0 || height <= 0 || width > kMaxCursorSide || height > kMaxCursorSide)
        return {};
    const int stride = bitmap.stride ? int(bitmap.stride) : width * kBytesPerPixel;
    if (stride < width * kBytesPerPixel || size_t(stride) * (height - 1) + width * 4 > available)
        return {};
    // Where red, green, blue and alpha sit in each pixel's bytes.
    int r, g, b, a;
    switch (bitmap.format) {
    case SPA_VIDEO_FORMAT_RGBA:
        r = 0, g = 1, b = 2, a = 3;
        break;
    case SPA_VIDEO_FORMAT_BGRA:
        r = 2, g = 1, b = 0, a = 3;
        break;
    case SPA_VIDEO_FORMAT_ARGB:
        r = 1, g = 2, b = 3, a = 0;
        break;
    case SPA_VIDEO_FORMAT_ABGR:
        r = 3, g = 2, b = 1, a = 0;
        break;
    default:
        return {};
    }
    QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = pixels + size_t(y) * stride;
        uint8_t* out = image.scanLine(y);
        for (int x = 0; x < width; ++x, in += 4, out += 4) {
            out[0] = in[r];
            out[1] = in[g];
            out[2] = in[b];
            out[3] = in[a];
        }
    }
    return image;
}

} // namespace

bool PipeWireBufferReader::setFormat(uint32_t spaFormat, QSize size)
{
    const AVPixelFormat format = pixelFormatOf(spaFormat);
    if (format == AV_PIX_FMT_NONE || size.isEmpty())
        return false;
    m_format = format;
    m_size = size;
    m_havePicture = false;
    return true;
}

bool PipeWireBufferReader::takeCursor(const spa_buffer& buffer)
{
    if (!m_drawCursor)
        return false;
    auto* meta = static_cast<const spa_meta*>(nullptr);
    for (uint32_t i = 0; i < buffer.n_metas; ++i) {
        if (buffer.metas[i].type == SPA_META_Cursor &&
            buffer.metas[i].size >= sizeof(spa_meta_cursor))
            meta = &buffer.metas[i];
    }
    if (!meta)
        return false;
    const auto* cursor = static_cast<const spa_meta_cursor*>(meta->data);
    const bool wasShown = m_cursorShown;
    const QPoint wasAt = m_cursorPosition;
    // An id of 0: the cursor is not over what is shared.
    m_cursorShown = cursor->id != 0;
    if (!m_cursorShown)
        return wasShown;
    // The bitmap comes only when the cursor's look changes.
    if (cursor->bitmap_offset >= sizeof(spa_meta_cursor) &&
        size_t(cursor->bitmap_offset) + sizeof(spa_meta_bitmap) <= meta->size) {
        const auto* bitmap = reinterpret_cast<const spa_meta_bitmap*>(
            reinterpret_cast<const uint8_t*>(cursor) + cursor->bitmap_offset);
        const size_t start = size_t(cursor->bitmap_offset) + bitmap->offset;
        if (bitmap->offset >= sizeof(spa_meta_bitmap) && start < meta->size) {
            m_cursor = cursorImage(*bitmap, reinterpret_cast<const uint8_t*>(cursor) + start,
                                   meta->size - start);
            m_hotspot = QPoint(cursor->hotspot.x, cursor->hotspot.y);
        } else if (bitmap->size.width == 0 || bitmap->size.height == 0) {
            m_cursor = QImage(); // an invisible cursor
        }
        m_cursorPosition = QPoint(cursor->position.x, cursor->position.y);
        return true;
    }
    m_cursorPosition = QPoint(cursor->position.x, cursor->position.y);
    return !wasShown || wasAt != m_cursorPosition;
}

const ScreenFrame* PipeWireBufferReader::read(const spa_buffer& buffer, int64_t time)
{
    if (m_format == AV_PIX_FMT_NONE || buffer.n_datas < 1)
        return nullptr;
    const spa_meta_header* header = nullptr;
    const spa_meta_region* crop = nullptr;
    for (uint32_t i = 0; i < buffer.n_metas; ++i) {
        const spa_meta& meta = buffer.metas[i];
        if (meta.type == SPA_META_Header && meta.size >= sizeof(spa_meta_header))
            header = static_cast<const spa_meta_header*>(meta.data);
        else if (meta.type == SPA_META_VideoCrop && meta.size >= sizeof(spa_meta_region))
            crop = static_cast<const spa_meta_region*>(meta.data);
    }
    if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED))
        return nullptr;

    const bool cursorChanged = takeCursor(buffer);
    const spa_data& data = buffer.datas[0];
    const bool hasPicture =
        data.data && data.chunk && data.chunk->size > 0 &&
        !(data.chunk->flags & (SPA_CHUNK_FLAG_CORRUPTED | SPA_CHUNK_FLAG_EMPTY));
    if (!hasPicture) {
        // Only the cursor moved: the last picture again, with the cursor where it is now.
        if (cursorChanged && m_havePicture && data.chunk &&
            !(data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED))
            return compose(time);
        return nullptr;
    }

    // The part of the buffer that is the picture: the crop region when it is
    // a sensible one, else all of it.
    QRect area(QPoint(0, 0), m_size);
    if (crop && crop->region.size.width > 0 && crop->region.size.height > 0) {
        const QRect region = QRect(crop->region.position.x, crop->region.position.y,
                                   int(crop->region.size.width), int(crop->region.size.height))
                                 .intersected(area);
        if (!region.isEmpty())
            area = region;
    }
    const int stride =
        data.chunk->stride > 0 ? data.chunk->stride : m_size.width() * kBytesPerPixel;
    const size_t offset = data.chunk->offset % std::max<uint32_t>(data.maxsize, 1);
    const size_t needed =
        offset + size_t(stride) * (m_size.height() - 1) + size_t(m_size.width()) * kBytesPerPixel;
    if (stride < m_size.width() * kBytesPerPixel || needed > data.maxsize)
        return nullptr; // a buffer smaller than its format says: nothing we can read safely

    const uint8_t* pixels = static_cast<const uint8_t*>(data.data) + offset +
                            size_t(area.y()) * stride + size_t(area.x()) * kBytesPerPixel;
    if (m_frameSize.isEmpty())
        m_frameSize = area.size();
    m_cropOrigin = area.topLeft();

    const bool fits = area.size() == m_frameSize;
    const bool withCursor = m_drawCursor && m_cursorShown && !m_cursor.isNull();
    if (fits && !withCursor && !m_drawCursor) {
        // The common case: the stream's own pixels go out as they are.
        m_frame = ScreenFrame{pixels, stride, m_frameSize, m_format, time};
        return &m_frame;
    }

    // Keep a copy in the frame's size, so a cursor-only update can redraw it.
    const int rowBytes = m_frameSize.width() * kBytesPerPixel;
    m_picture.assign(size_t(rowBytes) * m_frameSize.height(), 0);
    const int rows = std::min(area.height(), m_frameSize.height());
    const int copied = std::min(area.width(), m_frameSize.width()) * kBytesPerPixel;
    for (int y = 0; y < rows; ++y)
        std::memcpy(m_picture.data() + size_t(y) * rowBytes, pixels + size_t(y) * stride, copied);
    m_havePicture = true;
    return compose(time);
}

const ScreenFrame* PipeWireBufferReader::compose(int64_t time)
{
    m_delivered = m_picture;
    const int rowBytes = m_frameSize.width() * kBytesPerPixel;
    if (m_drawCursor && m_cursorShown && !m_cursor.isNull()) {
        // The cursor's position is in the stream's coordinates, as the crop is.
        const QPoint topLeft = m_cursorPosition - m_hotspot - m_cropOrigin;
        const QRect drawn =
            QRect(topLeft, m_cursor.size()).intersected(QRect(QPoint(0, 0), m_frameSize));
        const bool rgb = redFirst(m_format);
        for (int y = drawn.top(); y <= drawn.bottom(); ++y) {
            const uint8_t* in =
                m_cursor.constScanLine(y - topLeft.y()) + (drawn.left() - topLeft.x()) * 4;
            uint8_t* out =
                m_delivered.data() + size_t(y) * rowBytes + drawn.left() * kBytesPerPixel;
            for (int x = drawn.left(); x <= drawn.right(); ++x, in += 4, out += 4) {
                const int alpha = in[3];
                if (alpha == 0)
                    continue;
                // Premultiplied: the cursor's colour plus what shows through it.
                auto over = [alpha](uint8_t cursor, uint8_t screen) {
                    return uint8_t(std::min(255, cursor + (screen * (255 - alpha) + 127) / 255));
                };
                uint8_t* red = out + (rgb ? 0 : 2);
                uint8_t* blue = out + (rgb ? 2 : 0);
                *red = over(in[0], *red);
                out[1] = over(in[1], out[1]);
                *blue = over(in[2], *blue);
            }
        }
    }
    m_frame = ScreenFrame{m_delivered.data(), rowBytes, m_frameSize, m_format, time};
    return &m_frame;
}
