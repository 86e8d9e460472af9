#include "image_loader.h"
#include "test_support.h"

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <optional>
#include <zlib.h>

// Fixtures come from ImageMagick and heif-enc, the tools users' files are made
// with; the one colour conversion is checked against ImageMagick's (Little CMS).

namespace {

// The test picture is 64 x 48 pixels, a colour in each 32 x 24 quadrant.
const QColor kTopLeft(200, 40, 40), kTopRight(40, 160, 60), kBottomLeft(40, 60, 200),
    kBottomRight(230, 200, 40), kHalf(40, 160, 60, 128);

QList<QColor> quadrants(QColor topRight = kTopRight)
{
    return {kTopLeft, topRight, kBottomLeft, kBottomRight};
}

using Chunks = QList<QPair<QByteArray, QByteArray>>; // type and data

QByteArray bigEndian(quint32 value, int bytes = 4)
{
    QByteArray out(4, '\0');
    qToBigEndian(value, out.data());
    return out.right(bytes);
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& data)
{
    const QByteArray body = type + data;
    const auto* bytes = reinterpret_cast<const Bytef*>(body.constData());
    return bigEndian(quint32(data.size())) + body +
           bigEndian(quint32(crc32(0, bytes, uInt(body.size()))));
}

// An 8 x 8 PNG made byte by byte, for the kinds no tool writes on request: any
// grey (0) or RGB (2) depth, chosen chunks before IDAT. `pixels` is row-major,
// one sample per channel.
QByteArray makePng(int colourType, int depth, const QList<QList<quint16>>& pixels,
                   const Chunks& chunks)
{
    const int n = 8;
    QByteArray raw;
    for (int y = 0; y < n; ++y) {
        raw += '\0'; // no filter
        quint32 bits = 0;
        int held = 0;
        for (int x = 0; x < n; ++x) {
            for (const quint16 sample : pixels[y * n + x]) {
                if (depth == 16) {
                    raw += bigEndian(sample, 2);
                } else if (bits = bits << depth | sample, (held += depth) == 8) {
                    raw += char(bits);
                    bits = held = 0;
                }
            }
        }
        if (held)
            raw += char(bits << (8 - held));
    }
    const QByteArray header =
        bigEndian(n) + bigEndian(n) + char(depth) + char(colourType) + QByteArray(3, '\0');
    QByteArray png = QByteArray::fromHex("89504e470d0a1a0a") + pngChunk("IHDR", header);
    for (const auto& [type, data] : chunks)
        png += pngChunk(type, data);
    // zlib's stream with qCompress's four-byte length in front dropped.
    return png + pngChunk("IDAT", qCompress(raw).mid(4)) + pngChunk("IEND", {});
}

} // namespace

class ImageLoaderTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // A file in the folder; an ImageMagick format prefix ("png8:") stays in front.
    QString path(QString n) const { return n.insert(n.indexOf(':') + 1, m_dir.path() + '/'); }
    void write(const QString& name, const QByteArray& bytes)
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    QByteArray contents(const QString& name) const { return test_support::fileBytes(path(name)); }
    // A PNG made byte by byte, loaded back; null when refused.
    QImage madePng(int colourType, int depth, const QList<QList<quint16>>& pixels,
                   const Chunks& chunks)
    {
        const QString name = path("made.png");
        test_support::fileBytes(name, makePng(colourType, depth, pixels, chunks));
        const Result<QImage> loaded = loadImageFile(name);
        return loaded.ok() ? loaded.value() : QImage();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const auto xc = [](QColor c) { return "xc:" + c.name(); };
        const auto picture = [&](const QString& topRight, const QString& output) {
            QUORVEL_MAGICK("-size", "32x24", xc(kTopLeft), topRight, "+append", "(",
                           xc(kBottomLeft), xc(kBottomRight), "+append", ")", "-append",
                           path(output));
        };
        picture(xc(kTopRight), "png24:colours.png");
        picture("xc:none", "png32:clear.png");
        picture("xc:rgba(40,160,60,0.5)", "png32:half.png");
        // Grey 64 x 48 TIFF, directory before pixels as scanners write it (ImageMagick's is
        // last). Entries: width, height, bits, black is zero, pixels' offset, size.
        write("grey.tif", QByteArray::fromHex("49492a00080000000600"
                                              "000103000100000040000000010103000100000030000000"
                                              "020103000100000008000000060103000100000001000000"
                                              "1101040001000000560000001701040001000000000c0000"
                                              "00000000") +
                              QByteArray(64 * 48, char(90)));
        // rgb(200,100,50) in Display P3; the profiles come from Qt.
        write("p3.icc", QColorSpace(QColorSpace::DisplayP3).iccProfile());
        write("srgb.icc", QColorSpace(QColorSpace::SRgb).iccProfile());

        // Every argument with a dot in it names a file in the folder.
        const QList<QStringList> recipes{
            {"convert", "-size", "64x48", "xc:rgb(200,100,50)", "-profile", "p3.icc", "-quality",
             "100", "p3.jpg"},
            {"convert", "colours.png", "-quality", "95", "colours.jpg"},
            {"convert", "p3.jpg", "p3.png"},
            {"convert", "colours.png", "(", "+clone", "-negate", ")", "colours.gif"}, // 2 frames
            {"convert", "colours.png", "colours.bmp"},
            {"convert", "colours.png", "-interlace", "PNG", "interlaced.png"},
            {"convert", "half.png", "-depth", "16", "png64:half-16.png"},
            {"convert", "clear.png", "png8:clear-palette.png"},
            {"convert", "colours.png", "-colorspace", "CMYK", "-quality", "95", "cmyk.jpg"},
            {"convert", "colours.png", "-quality", "95", "jpg:photo.png"},
            {"heif-enc", "-q", "95", "colours.png", "-o", "colours.heic"},
            {"heif-enc", "-q", "95", "half.png", "-o", "half.heic"},
            {"convert", "colours.png", "-units", "PixelsPerInch", "-density", "150", "dpi-150.png"},
            {"convert", "colours.png", "-units", "PixelsPerInch", "-density", "144", "dpi-144.jpg"},
            {"convert", "colours.png", "-units", "PixelsPerInch", "-density", "216", "dpi-216.tif"},
            // EXIF orientation 6: turn a quarter clockwise.
            {"exiftool", "-q", "-n", "-Orientation=6", "-o", "turned.jpg", "colours.jpg"},
        };
        for (QStringList recipe : recipes) {
            for (QString& argument : recipe)
                argument = argument.contains('.') ? path(argument) : argument;
            const auto made = test_support::run(recipe.takeFirst(), recipe);
            QVERIFY2(made.exitCode == 0, made.err.constData());
        }
        // The grey TIFF with a seventh entry, a tag libtiff warns about and reads past.
        QByteArray unknownTag = contents("grey.tif");
        unknownTag[8] = 7;
        unknownTag.insert(8 + 2 + 6 * 12, QByteArray::fromHex("e8fd03000100000000000000"));
        qToLittleEndian<quint32>(8 + 2 + 7 * 12 + 4, unknownTag.data() + 8 + 2 + 4 * 12 + 8);
        write("unknown-tag.tif", unknownTag);
        // Phones append their own data (a second picture, depth maps) after the end.
        const QByteArray jpeg = contents("colours.jpg");
        write("tail.jpg", jpeg + QByteArray(100, '\xff') + jpeg);
    }

    void loadsEveryFormat_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("tolerance");
        QTest::addColumn<QList<QColor>>("expected");

        const auto oracle = test_support::run(
            "convert", {path("p3.jpg"), "-profile", path("srgb.icc"), "-depth", "8", "rgb:-"});
        QVERIFY2(oracle.exitCode == 0 && oracle.out.size() >= 3, oracle.err.constData());
        const QList<QColor> inSrgb(
            4, QColor(uchar(oracle.out[0]), uchar(oracle.out[1]), uchar(oracle.out[2])));

        QTest::newRow("interlaced png") << "interlaced.png" << 0 << quadrants();
        QTest::newRow("bmp") << "colours.bmp" << 0 << quadrants();
        QTest::newRow("animated gif") << "colours.gif" << 0 << quadrants();
        QTest::newRow("heic") << "colours.heic" << 8 << quadrants();
        QTest::newRow("heic, half transparent") << "half.heic" << 8 << quadrants(kHalf);
        QTest::newRow("16-bit png, half transparent") << "half-16.png" << 2 << quadrants(kHalf);
        const QList<QColor> grey(4, QColor(90, 90, 90));
        QTest::newRow("grey tiff, directory first") << "grey.tif" << 0 << grey;
        QTest::newRow("grey tiff, unknown tag") << "unknown-tag.tif" << 0 << grey;
        QTest::newRow("palette png, transparent colour")
            << "clear-palette.png" << 0 << quadrants(Qt::transparent);
        QTest::newRow("cmyk jpeg") << "cmyk.jpg" << 8 << quadrants();
        QTest::newRow("jpeg named .png") << "photo.png" << 6 << quadrants();
        QTest::newRow("jpeg, more data after its end") << "tail.jpg" << 6 << quadrants();
        QTest::newRow("jpeg, Display P3 profile") << "p3.jpg" << 3 << inSrgb;
        QTest::newRow("png, Display P3 profile") << "p3.png" << 3 << inSrgb;
        QTest::newRow("png, 150 dpi, near neither") << "dpi-150.png" << 0 << quadrants();
        QTest::newRow("jpeg, 144 dpi") << "dpi-144.jpg" << 6 << quadrants();
        QTest::newRow("tiff, 216 dpi") << "dpi-216.tif" << 0 << quadrants();
        // Turned a quarter clockwise: the bottom left quadrant comes to the top left.
        QTest::newRow("jpeg, EXIF orientation 6")
            << "turned.jpg" << 6 << QList<QColor>{kBottomLeft, kTopLeft, kBottomRight, kTopRight};
    }
    void loadsEveryFormat()
    {
        QFETCH(QString, file);
        QFETCH(int, tolerance);
        QFETCH(QList<QColor>, expected);

        // What the libraries would warn of (libtiff of what it reads past) goes unsaid.
        std::optional<Result<QImage>> loaded;
        QCOMPARE(test_support::stdoutOf([&] { loaded.emplace(loadImageFile(path(file))); }, 2),
                 QByteArray());
        QVERIFY2(loaded->ok(), qPrintable(loaded->error()));
        const QImage& image = loaded->value();
        QCOMPARE(image.size(), file == "turned.jpg" ? QSize(48, 64) : QSize(64, 48));
        // 72 dpi is ratio 1, as is a density near no multiple of it, or none.
        const QHash<QString, qreal> ratios{{"dpi-144.jpg", 2}, {"dpi-216.tif", 3}};
        QCOMPARE(image.devicePixelRatio(), ratios.value(file, 1));
        QVERIFY(image.format() == QImage::Format_ARGB32_Premultiplied ||
                (image.format() == QImage::Format_RGB32 && expected[1].alpha() == 255));
        for (int i = 0; i < 4; ++i)
            QUORVEL_COMPARE_COLOR(image.pixelColor((1 + i % 2 * 2) * image.width() / 4,
                                                   (1 + i / 2 * 2) * image.height() / 4),
                                  expected[i], tolerance);
    }

    void refusesBadInput_data()
    {
        QTest::addColumn<QString>("name");       // a name ending in '/' is made a directory
        QTest::addColumn<QByteArray>("content"); // none: the file does not exist
        QTest::addColumn<QString>("reason");

        // libheif's refusal of a picture this wide ends in a line break.
        QByteArray wide = contents("colours.heic");
        if (const qsizetype extent = wide.indexOf("ispe"); extent > 0)
            qToBigEndian<quint32>(40000, wide.data() + extent + 8);

        QByteArray huge = contents("colours.png");
        qToBigEndian<quint32>(20000, huge.data() + 16); // the header's width and height
        qToBigEndian<quint32>(20000, huge.data() + 20);

        QTest::newRow("text starting BM")
            << "notes.bmp" << QByteArray("BMW service, 14 May\n") << "not a picture";
        QTest::newRow("empty") << "empty.png" << QByteArray("") << "the file is empty";
        QTest::newRow("directory") << "folder.png/" << QByteArray() << "Is a directory";
        QTest::newRow("png claiming 20000 x 20000") << "huge.png" << huge << "20000 × 20000";
        QTest::newRow("heic wider than libheif takes") << "wide.heic" << wide << "";
        for (const QString file : {"colours.png", "colours.jpg", "colours.gif", "colours.bmp",
                                   "grey.tif", "colours.heic"}) {
            const QByteArray whole = contents(file);
            QTest::addRow("%s cut in half", qPrintable(file))
                << "cut-" + file << whole.left(whole.size() / 2) << "cut short";
        }
    }
    void refusesBadInput()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);

        if (name.endsWith('/'))
            QVERIFY(QDir(m_dir.path()).mkpath(name));
        else if (!content.isNull())
            write(name, content);
        // The reason, in one line, is all that is said, whatever the libraries would say.
        std::optional<Result<QImage>> loaded;
        QCOMPARE(test_support::stdoutOf([&] { loaded.emplace(loadImageFile(path(name))); }, 2),
                 QByteArray());
        QVERIFY(!loaded->ok());
        QVERIFY2(loaded->error().contains(reason) && !loaded->error().contains('\n'),
                 qPrintable(loaded->error()));
    }

    // A checkerboard of the key and a colour one step from it: at 16 bits the
    // step is in the low byte alone, so a key compared at 8 bits takes both.
    void keysOutTransparentColour()
    {
        const std::pair<int, int> kinds[] = {{0, 1},  {0, 2}, {0, 4}, {0, 8},
                                             {0, 16}, {2, 8}, {2, 16}}; // colour type, depth
        for (const auto& [colourType, depth] : kinds) {
            const QString what = QString::asprintf("type %d, %d-bit", colourType, depth);
            const int top = (1 << depth) - 1;
            const QList<quint16> key = colourType == 0 ? QList<quint16>{quint16(top / 3)}
                                       : depth == 16   ? QList<quint16>{0x1234, 0x5678, 0x9abc}
                                                       : QList<quint16>{0x12, 0x56, 0x9a};
            QList<quint16> kept = key;
            kept.last() = quint16(key.last() + 1);
            QList<QList<quint16>> pixels;
            for (int i = 0; i < 64; ++i)
                pixels.append((i / 8 + i) % 2 ? kept : key);
            QByteArray trns;
            for (const quint16 sample : key)
                trns += bigEndian(sample, 2);
            const QImage image = madePng(colourType, depth, pixels, {{"tRNS", trns}});
            QVERIFY2(image.size() == QSize(8, 8), qPrintable(what));
            for (int i = 0; i < 64; ++i)
                QVERIFY2(image.pixelColor(i % 8, i / 8).alpha() == ((i / 8 + i) % 2 ? 255 : 0),
                         qPrintable(what));
        }
    }

    void followsGamma()
    {
        const QByteArray linear = QByteArray::fromHex("000186a0"); // gAMA 1.0
        // The chunks, and what a grey of 128 shows as: in linear light it is sRGB's 188.
        const std::pair<Chunks, int> cases[] = {
            {{}, 128},
            {{{"gAMA", linear}}, 188},
            {{{"gAMA", QByteArray::fromHex("0000b18f")}}, 128}, // 1/2.2
            {{{"sRGB", QByteArray(1, '\0')}, {"gAMA", linear}}, 128},
        };
        for (const auto& [chunks, grey] : cases) {
            QUORVEL_COMPARE_COLOR(
                madePng(0, 8, QList<QList<quint16>>(64, {128}), chunks).pixelColor(3, 3),
                QColor(grey, grey, grey), 1);
        }
    }
};

QTEST_GUILESS_MAIN(ImageLoaderTest)
#include "tst_image_loader.moc"
