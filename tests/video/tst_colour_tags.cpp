// The colour tags a movie's header gives, as the output and the converters
// take them: a damaged header can carry any byte in those fields.

#include "colour_tags.h"

#include <QtTest>
#include <cstring>

namespace {

// Stores a byte from a header as it is, whatever the field's type allows.
template <typename Tag> void store(Tag& field, int raw)
{
    static_assert(sizeof raw == sizeof field);
    std::memcpy(&field, &raw, sizeof raw);
}

} // namespace

class ColourTagsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void keepsOnlyNamedTags_data()
    {
        QTest::addColumn<int>("primaries");
        QTest::addColumn<int>("transfer");
        QTest::addColumn<int>("space");
        QTest::addColumn<int>("range");
        QTest::addColumn<int>("format");
        QTest::addColumn<QList<int>>("expected"); // primaries, transfer, space, range

        const int yuv = AV_PIX_FMT_YUV422P10;
        const QList<int> bt709{AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG};
        QTest::newRow("untagged") << 2 << 2 << 2 << 0 << yuv << bt709;
        QTest::newRow("bt2020, full range")
            << int(AVCOL_PRI_BT2020) << int(AVCOL_TRC_SMPTE2084) << int(AVCOL_SPC_BT2020_NCL)
            << int(AVCOL_RANGE_JPEG) << yuv
            << QList<int>{AVCOL_PRI_BT2020, AVCOL_TRC_SMPTE2084, AVCOL_SPC_BT2020_NCL,
                          AVCOL_RANGE_JPEG};
        QTest::newRow("all 255") << 255 << 255 << 255 << 255 << yuv << bt709;
        QTest::newRow("reserved") << 3 << 3 << 3 << 0 << yuv << bt709;
        QTest::newRow("just past the last named") << 13 << 19 << 15 << 3 << yuv << bt709;
        QTest::newRow("negative") << -1 << -1 << -1 << -1 << yuv << bt709;
        QTest::newRow("rgb source, full range")
            << int(AVCOL_PRI_SMPTE432) << 13 << int(AVCOL_SPC_RGB) << int(AVCOL_RANGE_JPEG)
            << int(AV_PIX_FMT_GBRP10)
            << QList<int>{AVCOL_PRI_SMPTE432, AVCOL_TRC_IEC61966_2_1, AVCOL_SPC_BT709,
                          AVCOL_RANGE_MPEG};
    }

    void keepsOnlyNamedTags()
    {
        QFETCH(int, primaries);
        QFETCH(int, transfer);
        QFETCH(int, space);
        QFETCH(int, range);
        QFETCH(int, format);
        QFETCH(QList<int>, expected);

        AVCodecParameters source{};
        store(source.color_primaries, primaries);
        store(source.color_trc, transfer);
        store(source.color_space, space);
        store(source.color_range, range);
        source.format = format;
        const ColourTags tags = ColourTags::of(source);
        QCOMPARE((QList<int>{tags.primaries, tags.transfer, tags.space, tags.range}), expected);
    }
};

QTEST_GUILESS_MAIN(ColourTagsTest)
#include "tst_colour_tags.moc"
