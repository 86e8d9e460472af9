// What a screen-cast buffer turns into: the crop region's pixels, the
// cursor drawn from its metadata, and nothing for buffers without a picture.
// Built by hand, as no test source of ours can send crop or cursor metadata.

#include "pipewire_buffer_reader.h"

#include <QtTest>
#include <functional>
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
    struct {
        spa_meta_cursor meta;
        spa_meta_bitmap bitmap;
        uint8_t rgba[4 * 4 * 4];
    } cursor{};
    bool withCursor = false;
    spa_meta metas[3]{};

    FakeBuffer()
    {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                reinterpret_cast<uint32_t*>(pixels.data() + y * kStride)[x] =
                    0xff800000u | y << 8 | x;
        chunk = {0, uint32_t(pixels.size()), kStride, 0};
        data = {SPA_DATA_MemPtr, 0, -1, 0, uint32_t(pixels.size()), pixels.data(), &chunk};
    }
    void setCrop(int x, int y, int w, int h)
    {
        crop.region = SPA_REGION(x, y, uint32_t(w), uint32_t(h));
    }
    // A cursor at (x, y), hotspot (1, 1); with a bitmap, 4 × 4 half-transparent red.
    void setCursor(int x, int y, bool bitmapToo)
    {
        withCursor = true;
        cursor.meta = {1, 0, SPA_POINT(x, y), SPA_POINT(1, 1), 0};
        cursor.meta.bitmap_offset = bitmapToo ? offsetof(decltype(cursor), bitmap) : 0;
        cursor.bitmap = {SPA_VIDEO_FORMAT_RGBA, SPA_RECTANGLE(4, 4), 16,
                         offsetof(decltype(cursor), rgba) - offsetof(decltype(cursor), bitmap)};
        for (int i = 0; i < 16; ++i)
            cursor.rgba[i * 4] = cursor.rgba[i * 4 + 3] = 0x80;
    }
    spa_buffer get()
    {
        uint32_t n = 0;
        metas[n++] = spa_meta{SPA_META_Header, sizeof(header), &header};
        if (crop.region.size.width)
            metas[n++] = spa_meta{SPA_META_VideoCrop, sizeof(crop), &crop};
        if (withCursor)
            metas[n++] = spa_meta{SPA_META_Cursor, sizeof(cursor), &cursor};
        return {n, 1, metas, &data};
    }
};

// A BGRx frame's pixel at (x, y) as 0xRRGGBB (this machine is little-endian).
uint32_t rgbAt(const ScreenFrame& frame, int x, int y)
{
    return reinterpret_cast<const uint32_t*>(frame.pixels + y * frame.stride)[x] & 0xffffffu;
}

uint32_t sourceAt(int x, int y)
{
    return 0x800000u | uint32_t(y) << 8 | uint32_t(x);
}

// Half-transparent red (premultiplied, as compositors send cursors) over the
// buffer's pixel at (x, y).
uint32_t halfRedOver(int x, int y)
{
    const auto through = [](int value) { return uint32_t((value * 127 + 127) / 255); };
    return (0x80 + through(0x80)) << 16 | through(y) << 8 | through(x);
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
        QCOMPARE(rgbAt(*frame, 19, 15), sourceAt(29, 20));

        // A region reaching out of the buffer shows what there is of it,
        // and a frame never changes size: the rest stays black.
        buffer.setCrop(50, 40, 30, 30);
        frame = reader.read(buffer.get(), 2);
        QVERIFY(frame);
        QCOMPARE(frame->size, QSize(20, 16));
        QCOMPARE(rgbAt(*frame, 13, 7), sourceAt(63, 47));
        QCOMPARE(rgbAt(*frame, 14, 8), 0u);
    }

    void skipsBuffersWithoutAPicture()
    {
        PipeWireBufferReader reader;
        QVERIFY(reader.setFormat(SPA_VIDEO_FORMAT_BGRA, QSize(kWidth, kHeight)));
        QVERIFY(!reader.setFormat(SPA_VIDEO_FORMAT_NV12, QSize(kWidth, kHeight)));
        const std::function<void(FakeBuffer&)> spoilers[] = {
            [](FakeBuffer& b) { b.header.flags = SPA_META_HEADER_FLAG_CORRUPTED; },
            [](FakeBuffer& b) { b.chunk.flags = SPA_CHUNK_FLAG_CORRUPTED; },
            [](FakeBuffer& b) { b.chunk.size = 0; },
            // A moved cursor is nothing to show when we draw none.
            [](FakeBuffer& b) { b.chunk.size = 0, b.setCursor(5, 5, true); },
            // Smaller than its format says.
            [](FakeBuffer& b) { b.data.maxsize = kStride * (kHeight - 1); },
        };
        for (const auto& spoil : spoilers) {
            FakeBuffer buffer;
            spoil(buffer);
            QVERIFY(!reader.read(buffer.get(), 1));
        }
        QVERIFY(reader.frameSize().isEmpty());
    }

    void drawsTheCursorFromItsMetadata()
    {
        PipeWireBufferReader reader;
        QVERIFY(reader.setFormat(SPA_VIDEO_FORMAT_BGRx, QSize(kWidth, kHeight)));
        reader.setDrawCursor(true);
        FakeBuffer buffer;
        buffer.setCrop(10, 5, 20, 16);
        // At (12, 10) in the stream: (1, 4) to (4, 7) in the cropped frame.
        buffer.setCursor(12, 10, true);
        const ScreenFrame* frame = reader.read(buffer.get(), 1);
        QVERIFY(frame);
        QCOMPARE(rgbAt(*frame, 1, 4), halfRedOver(11, 9));
        QCOMPARE(rgbAt(*frame, 4, 7), halfRedOver(14, 12));
        QCOMPARE(rgbAt(*frame, 5, 8), sourceAt(15, 13));

        // Only the cursor moved: the last picture again, the cursor at its new
        // place (its bitmap is not sent again) and the old place clean; then
        // off the shared area (id 0), no cursor.
        buffer.chunk.size = 0;
        buffer.setCursor(22, 10, false);
        frame = reader.read(buffer.get(), 2);
        QVERIFY(frame);
        QCOMPARE(frame->time, 2);
        QCOMPARE(rgbAt(*frame, 1, 4), sourceAt(11, 9));
        QCOMPARE(rgbAt(*frame, 11, 4), halfRedOver(21, 9));
        QVERIFY(!reader.read(buffer.get(), 3)); // nothing changed
        buffer.cursor.meta.id = 0;
        frame = reader.read(buffer.get(), 4);
        QVERIFY(frame);
        QCOMPARE(rgbAt(*frame, 11, 4), sourceAt(21, 9));
    }
};

QTEST_GUILESS_MAIN(TestPipeWireBufferReader)
#include "tst_pipewire_buffer_reader.moc"
