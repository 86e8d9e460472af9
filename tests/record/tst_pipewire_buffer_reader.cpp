// What a screen-cast buffer turns into: the crop region's pixels, the
// cursor drawn from its metadata, and nothing for buffers without a picture.
// Built by hand, as no test source of ours can send crop or cursor metadata.

#include "pipewire_buffer_reader.h"

#include <QtTest>
#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>
#include <vector>

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kStride = kWidth * 4 + 32; // rows padded, as compositors do

// Every pixel tells where it is: B = x, G = y, R = 0x80 (in BGRx order).
struct FakeBuffer {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(size_t(kStride) * kHeight);
    spa_chunk chunk{};
    spa_data data{};
    spa_meta_header header{};
    spa_meta_region crop{};
    std::vector<uint8_t> cursor;
    spa_meta metas[3]{};
    spa_buffer buffer{};

    FakeBuffer()
    {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                uint8_t* p = pixels.data() + y * kStride + x * 4;
                p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = 0x80, p[3] = 0xff;
            }
        chunk.size = uint32_t(pixels.size());
        chunk.stride = kStride;
        data.type = SPA_DATA_MemPtr;
        data.data = pixels.data();
        data.maxsize = uint32_t(pixels.size());
        data.chunk = &chunk;
    }
    void setCrop(int x, int y, int width, int height)
    {
        crop.region = SPA_REGION(x, y, uint32_t(width), uint32_t(height));
    }
    // A cursor at (x, y); with a bitmap, side × side opaque pixels of `rgba`.
    void setCursor(int x, int y, int side = 0, uint32_t rgba = 0)
    {
        cursor.assign(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + 16 * 16 * 4, 0);
        auto* meta = reinterpret_cast<spa_meta_cursor*>(cursor.data());
        meta->id = 1;
        meta->position = SPA_POINT(x, y);
        meta->hotspot = SPA_POINT(1, 1);
        if (side > 0) {
            meta->bitmap_offset = sizeof(spa_meta_cursor);
            auto* bitmap =
                reinterpret_cast<spa_meta_bitmap*>(cursor.data() + sizeof(spa_meta_cursor));
            bitmap->format = SPA_VIDEO_FORMAT_RGBA;
            bitmap->size = SPA_RECTANGLE(uint32_t(side), uint32_t(side));
            bitmap->stride = side * 4;
            bitmap->offset = sizeof(spa_meta_bitmap);
            auto* out = reinterpret_cast<uint8_t*>(bitmap) + bitmap->offset;
            for (int i = 0; i < side * side; ++i, out += 4)
                out[0] = rgba >> 24, out[1] = rgba >> 16, out[2] = rgba >> 8, out[3] = rgba;
        }
    }
    const spa_buffer& get()
    {
        uint32_t n = 0;
        metas[n++] = spa_meta{SPA_META_Header, sizeof(header), &header};
        if (crop.region.size.width)
            metas[n++] = spa_meta{SPA_META_VideoCrop, sizeof(crop), &crop};
        if (!cursor.empty())
            metas[n++] = spa_meta{SPA_META_Cursor, uint32_t(cursor.size()), cursor.data()};
        buffer.n_metas = n;
        buffer.metas = metas;
        buffer.n_datas = 1;
        buffer.datas = &data;
        return buffer;
    }
};

// The frame's pixel at (x, y) as 0xRRGGBB, whatever the order of its bytes.
uint32_t rgbAt(const ScreenFrame& frame, int x, int y)
{
    const uint8_t* p = frame.pixels + y * frame.stride + x * 4;
    const bool rgb = frame.format == AV_PIX_FMT_RGB0 || frame.format == AV_PIX_FMT_RGBA;
    return rgb ? uint32_t(p[0]) << 16 | p[1] << 8 | p[2] : uint32_t(p[2]) << 16 | p[1] << 8 | p[0];
}

uint32_t sourceAt(int x, int y)
{
    return 0x800000u | uint32_t(y) << 8 | uint32_t(x);
}

// The same bytes read as RGBx.
uint32_t sourceAtAsRgb(int x, int y)
{
    return uint32_t(x) << 16 | uint32_t(y) << 8 | 0x80u;
}

// Half-transparent red (premultiplied, as compositors send cursors) over the
// pixel at (x, y) read as RGBx.
uint32_t halfRedOver(int x, int y)
{
    const auto through = [](int value) { return uint32_t((value * 127 + 127) / 255); };
    return (0x80 + through(x)) << 16 | through(y) << 8 | through(0x80);
}

} // namespace

class TestPipeWireBufferReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsTheCropRegionAndKeepsTheFirstSize()
    {
        PipeWireBufferReader reader;
        QVERIFY(reader.setFormat(SPA_VIDEO_FORMAT_BGRx, QSize(kWidth, kHeight)));
        FakeBuffer buffer;
        buffer.setCrop(10, 5, 20, 16);
        const ScreenFrame* frame = reader.read(buffer.get(), 1);
        QVERIFY(frame);
        QCOMPARE(frame->size, QSize(20, 16));
        QCOMPARE(frame->format, AV_PIX_FMT_BGR0);
        QCOMPARE(rgbAt(*frame, 0, 0), sourceAt(10, 5));
        QCOMPARE(rgbAt(*frame, 19, 15), sourceAt(29, 20));
        QCOMPARE(reader.frameSize(), QSize(20, 16));

        // A region reaching out of the buffer shows what there is of it,
        // and a frame never changes size: the rest stays black.
        buffer.setCrop(50, 40, 30, 30);
        frame = reader.read(buffer.get(), 2);
        QVERIFY(frame);
        QCOMPARE(frame->size, QSize(20, 16));
        QCOMPARE(rgbAt(*frame, 0, 0), sourceAt(50, 40));
        QCOMPARE(rgbAt(*frame, 13, 7), sourceAt(63, 47));
        QCOMPARE(rgbAt(*frame, 14, 8), 0u);

        // Without a crop region the whole buffer is the picture.
        PipeWireBufferReader whole;
        QVERIFY(whole.setFormat(SPA_VIDEO_FORMAT_RGBx, QSize(kWidth, kHeight)));
        FakeBuffer plain;
        frame = whole.read(plain.get(), 3);
        QVERIFY(frame);
        QCOMPARE(frame->size, QSize(kWidth, kHeight));
        QCOMPARE(frame->format, AV_PIX_FMT_RGB0);
        QCOMPARE(frame->stride, kStride);
    }

    void skipsBuffersWithoutAPicture()
    {
        PipeWireBufferReader reader;
        QVERIFY(reader.setFormat(SPA_VIDEO_FORMAT_BGRA, QSize(kWidth, kHeight)));
        QVERIFY(!reader.setFormat(SPA_VIDEO_FORMAT_NV12, QSize(kWidth, kHeight)));
        FakeBuffer corrupted;
        corrupted.header.flags = SPA_META_HEADER_FLAG_CORRUPTED;
        QVERIFY(!reader.read(corrupted.get(), 1));
        FakeBuffer corruptedChunk;
        corruptedChunk.chunk.flags = SPA_CHUNK_FLAG_CORRUPTED;
        QVERIFY(!reader.read(corruptedChunk.get(), 1));
        FakeBuffer empty;
        empty.chunk.size = 0;
        QVERIFY(!reader.read(empty.get(), 1));
        FakeBuffer cursorOnly; // a moved cursor is nothing to show when we draw none
        cursorOnly.chunk.size = 0;
        cursorOnly.setCursor(5, 5, 4, 0xff0000ff);
        QVERIFY(!reader.read(cursorOnly.get(), 1));
        FakeBuffer short_; // smaller than its format says
        short_.data.maxsize = kStride * (kHeight - 1);
        QVERIFY(!reader.read(short_.get(), 1));
        QVERIFY(reader.frameSize().isEmpty());
    }

    void drawsTheCursorFromItsMetadata()
    {
        PipeWireBufferReader reader;
        QVERIFY(reader.setFormat(SPA_VIDEO_FORMAT_RGBx, QSize(kWidth, kHeight)));
        reader.setDrawCursor(true);
        FakeBuffer buffer;
        buffer.setCrop(10, 5, 20, 16);
        // The bitmap is 4 × 4 half-transparent red, hotspot (1, 1), at (12, 10)
        // in the stream: (1, 4) to (4, 7) in the cropped frame.
        buffer.setCursor(12, 10, 4, 0x80000080);
        const ScreenFrame* frame = reader.read(buffer.get(), 1);
        QVERIFY(frame);
        QCOMPARE(rgbAt(*frame, 1, 4), halfRedOver(11, 9));
        QCOMPARE(rgbAt(*frame, 4, 7), halfRedOver(14, 12));
        QCOMPARE(rgbAt(*frame, 0, 4), sourceAtAsRgb(10, 9));
        QCOMPARE(rgbAt(*frame, 5, 8), sourceAtAsRgb(15, 13));

        // Only the cursor moved: the last picture again, the cursor at its new
        // place (its bitmap is not sent again) and the old place clean.
        FakeBuffer moved;
        moved.chunk.size = 0;
        moved.setCrop(10, 5, 20, 16);
        moved.setCursor(22, 10);
        frame = reader.read(moved.get(), 2);
        QVERIFY(frame);
        QCOMPARE(frame->time, 2);
        QCOMPARE(rgbAt(*frame, 1, 4), sourceAtAsRgb(11, 9));
        QCOMPARE(rgbAt(*frame, 11, 4), halfRedOver(21, 9));
        QVERIFY(!reader.read(moved.get(), 3)); // nothing changed

        // Off the shared area (id 0): no cursor.
        FakeBuffer away;
        away.setCrop(10, 5, 20, 16);
        away.setCursor(22, 10);
        reinterpret_cast<spa_meta_cursor*>(away.cursor.data())->id = 0;
        frame = reader.read(away.get(), 4);
        QVERIFY(frame);
        QCOMPARE(rgbAt(*frame, 11, 4), sourceAtAsRgb(21, 9));
    }
};

QTEST_GUILESS_MAIN(TestPipeWireBufferReader)
#include "tst_pipewire_buffer_reader.moc"
