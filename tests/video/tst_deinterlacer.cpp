#include "deinterlacer.h"

#include <QtTest>

extern "C" {
#include <libavutil/pixdesc.h>
}

// Pictures shaped unlike the first are refused before they reach the filter,
// which would read them with the first one's plane sizes.
class DeinterlacerTest : public QObject {
    Q_OBJECT

private:
    static libav::FramePtr picture(int width, int height, AVPixelFormat format, int64_t pts)
    {
        libav::FramePtr frame = libav::allocateFrame(format, width, height);
        const int chromaShift = av_pix_fmt_desc_get(format)->log2_chroma_h;
        for (int plane = 0; plane < 3; ++plane)
            std::memset(frame->data[plane], 100,
                        size_t(frame->linesize[plane]) * (plane ? height >> chromaShift : height));
        frame->pts = pts;
#ifdef AV_FRAME_FLAG_INTERLACED
        frame->flags |= AV_FRAME_FLAG_INTERLACED | AV_FRAME_FLAG_TOP_FIELD_FIRST;
#else
        frame->interlaced_frame = 1;
        frame->top_field_first = 1;
#endif
        return frame;
    }

private Q_SLOTS:
    void refusesAChangeOfShape_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("taken");
        QTest::newRow("same") << QSize(32, 24) << int(AV_PIX_FMT_YUV420P) << true;
        QTest::newRow("taller") << QSize(32, 12312) << int(AV_PIX_FMT_YUV420P) << false;
        QTest::newRow("narrower") << QSize(16, 24) << int(AV_PIX_FMT_YUV420P) << false;
        QTest::newRow("other format") << QSize(32, 24) << int(AV_PIX_FMT_YUV422P) << false;
    }

    void refusesAChangeOfShape()
    {
        QFETCH(QSize, size);
        QFETCH(int, format);
        QFETCH(bool, taken);
        libav::FramePtr first = picture(32, 24, AV_PIX_FMT_YUV420P, 0);
        auto opened = Deinterlacer::open(*first, {1, 25}, AV_FIELD_TT);
        QVERIFY2(opened.ok(), qPrintable(opened.error()));
        Deinterlacer& deinterlacer = *opened.value();
        QVERIFY(deinterlacer.send(std::move(first)).ok());

        const auto sent =
            deinterlacer.send(picture(size.width(), size.height(), AVPixelFormat(format), 1));
        QCOMPARE(sent.ok(), taken);
        if (!taken)
            QVERIFY2(sent.error().contains("change size"), qPrintable(sent.error()));
        QVERIFY(deinterlacer.send(nullptr).ok());
        int whole = 0;
        for (;;) {
            auto received = deinterlacer.receive();
            QVERIFY2(received.ok(), qPrintable(received.error()));
            if (!received.value())
                break;
            QCOMPARE(QSize(received.value()->width, received.value()->height), QSize(32, 24));
            ++whole;
        }
        QCOMPARE(whole, taken ? 2 : 1);
    }
};

QTEST_GUILESS_MAIN(DeinterlacerTest)
#include "tst_deinterlacer.moc"
