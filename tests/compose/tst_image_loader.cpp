#include "image_loader.h"
#include "test_support.h"

#include <QColorSpace>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <libheif/heif.h>
#include <memory>
#include <thread>
#include <vector>
#include <zlib.h>

// Fixtures come from ImageMagick and heif-enc (the tools the files users
// bring are made with) plus a few byte layouts no tool writes on request.
// Colour conversions are checked against ImageMagick's own (Little CMS).

namespace {

// The quadrants of the test picture, top left, top right, bottom left,
// bottom right: 64 x 48 pixels, each quadrant 32 x 24.
const QColor kTopLeft(200, 40, 40);
const QColor kTopRight(40, 160, 60);
const QColor kBottomLeft(40, 60, 200);
const QColor kBottomRight(230, 200, 40);
const QList<QColor> kQuadrants{kTopLeft, kTopRight, kBottomLeft, kBottomRight};

QList<QColor> greys(QList<int> levels)
{
    QList<QColor> colors;
    for (int level : levels)
        colors.append(QColor(level, level, level));
    return colors;
}

// The colours at the centres of an image's four quadrants.
QList<QColor> quadrantColors(const QImage& image)
{
    const int w = image.width(), h = image.height();
    return {image.pixelColor(w / 4, h / 4), image.pixelColor(3 * w / 4, h / 4),
            image.pixelColor(w / 4, 3 * h / 4), image.pixelColor(3 * w / 4, 3 * h / 4)};
}

void appendLittle16(QByteArray& out, quint16 v)
{
    out.append(char(v)).append(char(v >> 8));
}
void appendLittle32(QByteArray& out, quint32 v)
{
    appendLittle16(out, quint16(v));
    appendLittle16(out, quint16(v >> 16));
}
void appendBig32(QByteArray& out, quint32 v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char(v >> shift));
}

QByteArray pngChunk(const char* type, const QByteArray& data)
{
    QByteArray chunk;
    appendBig32(chunk, quint32(data.size()));
    const QByteArray body = QByteArray(type, 4) + data;
    chunk.append(body);
    appendBig32(chunk, quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()),
                                     uInt(body.size()))));
    return chunk;
}

// A valid PNG whose header claims `side` x `side` RGB pixels; its data holds
// a single row.
QByteArray pngClaiming(quint32 side)
{
    QByteArray header;
    appendBig32(header, side);
    appendBig32(header, side);
    header.append("\x08\x02\x00\x00\x00", 5);
    const QByteArray row(1 + 3 * side, '\0');
    QByteArray packed(int(compressBound(uLong(row.size()))), '\0');
    uLongf packedSize = uLongf(packed.size());
    compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
             reinterpret_cast<const Bytef*>(row.constData()), uLong(row.size()));
    packed.truncate(int(packedSize));
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) +
           pngChunk("IDAT", packed) + pngChunk("IEND", {});
}

// `jpeg` with an ICC profile segment whose profile is nonsense.
QByteArray withUnreadableProfile(const QByteArray& jpeg)
{
    const QByteArray body = QByteArray("ICC_PROFILE\0\x01\x01", 14) + QByteArray(600, '\x5a');
    QByteArray segment("\xff\xe2", 2);
    segment.append(char((body.size() + 2) >> 8)).append(char(body.size() + 2));
    return jpeg.left(2) + segment + body + jpeg.mid(2);
}

// A run-length BMP of `side` x `side` pixels whose data ends at once: a
// few bytes that would decode to a huge picture.
QByteArray bmpClaiming(qint32 side)
{
    QByteArray bmp("BM");
    appendLittle32(bmp, 14 + 40 + 8 + 2);
    appendLittle32(bmp, 0);
    appendLittle32(bmp, 14 + 40 + 8);
    appendLittle32(bmp, 40);
    appendLittle32(bmp, quint32(side));
    appendLittle32(bmp, quint32(side));
    appendLittle16(bmp, 1);
    appendLittle16(bmp, 8);
    appendLittle32(bmp, 1); // RLE8
    appendLittle32(bmp, 2);
    for (int i = 0; i < 2; ++i)
        appendLittle32(bmp, 2835);
    appendLittle32(bmp, 2); // colours used
    appendLittle32(bmp, 0);
    appendLittle32(bmp, 0x00000000);
    appendLittle32(bmp, 0x00ffffff);
    bmp.append("\x00\x01", 2); // end of bitmap
    return bmp;
}

// `jpeg` with an EXIF segment holding just `orientation`, which ImageMagick 6
// writes only when the source already has EXIF data.
QByteArray withExifOrientation(const QByteArray& jpeg, quint16 orientation)
{
    QByteArray exif("Exif\0\0MM\0*", 10);
    appendBig32(exif, 8); // first directory
    exif.append("\x00\x01", 2);
    exif.append("\x01\x12\x00\x03", 4); // Orientation, SHORT
    appendBig32(exif, 1);
    exif.append(char(orientation >> 8)).append(char(orientation)).append("\0\0", 2);
    appendBig32(exif, 0); // no next directory
    QByteArray segment("\xff\xe1", 2);
    segment.append(char((exif.size() + 2) >> 8)).append(char(exif.size() + 2));
    return jpeg.left(2) + segment + exif + jpeg.mid(2);
}

// An uncompressed RGB TIFF with its directory before its strips (one row
// each), as scanners and cameras write them; ImageMagick puts it last.
QByteArray tiffWithDirectoryFirst(int width, int height, QColor color)
{
    constexpr int kEntries = 9;
    const int arrays = 8 + 2 + kEntries * 12 + 4;
    const int bitsPerSample = arrays + 8 * height;
    const int pixels = bitsPerSample + 6;
    QByteArray tiff("II*\0", 4);
    appendLittle32(tiff, 8);
    appendLittle16(tiff, kEntries);
    auto entry = [&](quint16 tag, quint16 type, quint32 count, quint32 value) {
        appendLittle16(tiff, tag);
        appendLittle16(tiff, type);
        appendLittle32(tiff, count);
        appendLittle32(tiff, value);
    };
    entry(256, 4, 1, quint32(width));
    entry(257, 4, 1, quint32(height));
    entry(258, 3, 3, quint32(bitsPerSample));
    entry(259, 3, 1, 1); // no compression
    entry(262, 3, 1, 2); // RGB
    entry(273, 4, quint32(height), quint32(arrays));
    entry(277, 3, 1, 3);
    entry(278, 4, 1, 1);
    entry(279, 4, quint32(height), quint32(arrays + 4 * height));
    appendLittle32(tiff, 0);
    for (int y = 0; y < height; ++y)
        appendLittle32(tiff, quint32(pixels + y * width * 3));
    for (int y = 0; y < height; ++y)
        appendLittle32(tiff, quint32(width * 3));
    for (int i = 0; i < 3; ++i)
        appendLittle16(tiff, 8);
    for (int i = 0; i < width * height; ++i)
        tiff.append(char(color.red())).append(char(color.green())).append(char(color.blue()));
    return tiff;
}

// A HEIC whose colour is described by nclx primaries rather than an ICC
// profile, which heif-enc 1.15 has no option for.
bool writeNclxHeic(const QString& path, QColor color, heif_color_primaries primaries)
{
    heif_init(nullptr);
    std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(),
                                                                   heif_context_free);
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder)
            .code != heif_error_Ok)
        return false;
    std::unique_ptr<heif_encoder, void (*)(heif_encoder*)> encoder(rawEncoder,
                                                                   heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder.get(), 95);
    heif_image* rawImage = nullptr;
    heif_image_create(32, 32, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &rawImage);
    std::unique_ptr<heif_image, void (*)(const heif_image*)> image(rawImage, heif_image_release);
    heif_image_add_plane(image.get(), heif_channel_interleaved, 32, 32, 8);
    int stride = 0;
    uint8_t* pixels = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            uint8_t* p = pixels + y * stride + 3 * x;
            p[0] = uint8_t(color.red());
            p[1] = uint8_t(color.green());
            p[2] = uint8_t(color.blue());
        }
    }
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    nclx->color_primaries = primaries;
    nclx->transfer_characteristics = heif_transfer_characteristic_IEC_61966_2_1;
    nclx->matrix_coefficients = heif_matrix_coefficients_ITU_R_BT_601_6;
    nclx->full_range_flag = 1;
    heif_image_set_nclx_color_profile(image.get(), nclx);
    heif_nclx_color_profile_free(nclx);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->macOS_compatibility_workaround_no_nclx_profile = 0; // or no colr box is written
    const bool encoded =
        heif_context_encode_image(context.get(), image.get(), encoder.get(), options, nullptr)
            .code == heif_error_Ok;
    heif_encoding_options_free(options);
    return encoded &&
           heif_context_write_to_file(context.get(), QFile::encodeName(path).constData()).code ==
               heif_error_Ok;
}

enum class Entry { file, missing, directory, unreadable };

} // namespace

// x265, behind libheif's HEVC encoder that writes the nclx fixture, keeps
// one allocation for the life of the process; the sanitizer build should
// not fail this test over it.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libx265.so\n";
}

Q_DECLARE_METATYPE(Entry)

class ImageLoaderTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void loadsEveryFormat_data();
    void loadsEveryFormat();
    void turnsPicturesUpright_data();
    void turnsPicturesUpright();
    void convertsColourProfilesToSrgb_data();
    void convertsColourProfilesToSrgb();
    void takesScaleFromDensity_data();
    void takesScaleFromDensity();
    void refusesFilesCutShort_data();
    void refusesFilesCutShort();
    void acceptsBytesAfterThePicture_data();
    void acceptsBytesAfterThePicture();
    void refusesBadInput_data();
    void refusesBadInput();
    void loadsOnSeveralThreadsAtOnce();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    void write(const QString& name, const QByteArray& bytes);
    QByteArray contents(const QString& name) const;

    QTemporaryDir m_dir;
};

void ImageLoaderTest::write(const QString& name, const QByteArray& bytes)
{
    QFile file(path(name));
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(file.errorString()));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray ImageLoaderTest::contents(const QString& name) const
{
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void ImageLoaderTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const auto rgb = [](QColor c) {
        return QStringLiteral("xc:rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
    };
    const auto quadrants = [&](const QString& tl, const QString& tr, const QString& output) {
        QUORVEL_MAGICK("-size", "32x24", tl, tr, "+append", "(", rgb(kBottomLeft),
                       rgb(kBottomRight), "+append", ")", "-append", output);
    };
    quadrants(rgb(kTopLeft), rgb(kTopRight), "png24:" + path("colours.png"));
    quadrants(rgb(kTopLeft), "xc:none", "png32:" + path("clear.png"));
    quadrants(rgb(kTopLeft), "xc:rgba(40,160,60,0.5)", "png32:" + path("half.png"));
    QUORVEL_MAGICK("-size", "32x24", "xc:rgb(30,30,30)", "xc:rgb(90,90,90)", "+append", "(",
                   "xc:rgb(160,160,160)", "xc:rgb(230,230,230)", "+append", ")", "-append", "-type",
                   "Grayscale", path("greys.png"));
    QUORVEL_MAGICK("-seed", "7", "-size", "160x120", "plasma:", "png24:" + path("noise.png"));

    // The profiles come from Qt; the conversions they are checked against do not.
    write("p3.icc", QColorSpace(QColorSpace::DisplayP3).iccProfile());
    write("adobe.icc", QColorSpace(QColorSpace::AdobeRgb).iccProfile());
    write("srgb.icc", QColorSpace(QColorSpace::SRgb).iccProfile());
    for (const QString profile : {"p3", "adobe", "srgb"})
        QUORVEL_MAGICK("-size", "16x16", "xc:rgb(200,100,50)", "-profile", path(profile + ".icc"),
                       "png24:" + path(profile + ".png"));

    struct Recipe {
        QString output; // with ImageMagick's format prefix where the name does not say it
        QString source;
        QStringList options;
    };
    const QList<Recipe> recipes{
        {"colours.jpg", "colours.png", {"-quality", "95"}},
        {"colours.gif", "colours.png", {}},
        {"colours.bmp", "colours.png", {}},
        {"bmp3:colours-rle.bmp", "colours.png", {"-type", "Palette", "-compress", "RLE"}},
        {"colours.tif", "colours.png", {"-compress", "None"}},
        {"colours-lzw.tif", "colours.png", {"-compress", "LZW"}},
        {"png48:colours-16.png", "colours.png", {"-depth", "16"}},
        {"colours-16.tif", "colours.png", {"-depth", "16", "-compress", "None"}},
        {"colours-cmyk.jpg", "colours.png", {"-colorspace", "CMYK", "-quality", "95"}},
        {"colours-cmyk.tif", "colours.png", {"-colorspace", "CMYK", "-compress", "None"}},
        {"colours.heic", "colours.png", {}},
        {"greys.jpg", "greys.png", {"-quality", "95"}},
        {"greys.tif", "greys.png", {"-compress", "None"}},
        {"png8:clear-palette.png", "clear.png", {}},
        {"clear.gif", "clear.png", {}},
        {"png64:half-16.png", "half.png", {"-depth", "16"}},
        {"half.heic", "half.png", {}},
        {"jpg:photo.png", "colours.png", {"-quality", "95"}},
        {"png24:shot.jpg", "colours.png", {}},
        {"phone.jpg", "colours.png", {}}, // heif-enc writes HEIC whatever the name
        {"noise.jpg", "noise.png", {"-quality", "90"}},
        {"noise-progressive.jpg", "noise.png", {"-quality", "90", "-interlace", "JPEG"}},
        {"noise.gif", "noise.png", {}},
        {"noise.bmp", "noise.png", {}},
        {"bmp3:noise-rle.bmp", "noise.png", {"-colors", "200", "-compress", "RLE"}},
        {"noise.tif", "noise.png", {"-compress", "None"}},
        {"noise.heic", "noise.png", {}},
        {"orient-RightTop.tif", "colours.png", {"-orient", "RightTop", "-compress", "None"}},
        {"dpi-72.png", "colours.png", {"-units", "PixelsPerInch", "-density", "72"}},
        {"dpi-96.png", "colours.png", {"-units", "PixelsPerInch", "-density", "96"}},
        {"dpi-144.png", "colours.png", {"-units", "PixelsPerInch", "-density", "144"}},
        {"dpi-150.png", "colours.png", {"-units", "PixelsPerInch", "-density", "150"}},
        {"dpi-216.png", "colours.png", {"-units", "PixelsPerInch", "-density", "216"}},
        {"dpi-144.jpg", "colours.png", {"-units", "PixelsPerInch", "-density", "144"}},
        {"dpcm-57.jpg", "colours.png", {"-units", "PixelsPerCentimeter", "-density", "57"}},
        {"dpi-216.tif", "colours.png", {"-units", "PixelsPerInch", "-density", "216"}},
        {"dpi-144.bmp", "colours.png", {"-units", "PixelsPerInch", "-density", "144"}},
        {"p3.jpg", "p3.png", {"-quality", "100"}},
        {"adobe.jpg", "adobe.png", {"-quality", "100"}},
        {"adobe.tif", "adobe.png", {"-compress", "None"}},
        {"p3.heic", "p3.png", {}},
    };
    for (const Recipe& recipe : recipes) {
        const qsizetype colon = recipe.output.indexOf(':');
        const QString name = recipe.output.mid(colon + 1);
        const QString output = recipe.output.left(colon + 1) + path(name);
        if (name.endsWith(".heic") || name == "phone.jpg") {
            const auto encoded =
                test_support::run("heif-enc", {"-q", "95", path(recipe.source), "-o", path(name)});
            QVERIFY2(encoded.exitCode == 0, encoded.err.constData());
        } else {
            QUORVEL_MAGICK(QStringList{path(recipe.source)} + recipe.options + QStringList{output});
        }
    }
    for (quint16 orientation = 1; orientation <= 8; ++orientation)
        write(QStringLiteral("orient-%1.jpg").arg(orientation),
              withExifOrientation(contents("colours.jpg"), orientation));
    write("directory-first.tif", tiffWithDirectoryFirst(64, 48, kTopLeft));
    write("odd-profile.jpg", withUnreadableProfile(contents("colours.jpg")));
    QVERIFY(writeNclxHeic(path("nclx-p3.heic"), QColor(200, 100, 50),
                          heif_color_primaries_SMPTE_EG_432_1));
}

void ImageLoaderTest::loadsEveryFormat_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<QList<QColor>>("expected");

    const QColor clear(0, 0, 0, 0);
    const QColor half(40, 160, 60, 128);
    QTest::newRow("png") << "colours.png" << 0 << kQuadrants;
    QTest::newRow("jpeg") << "colours.jpg" << 6 << kQuadrants;
    QTest::newRow("gif") << "colours.gif" << 0 << kQuadrants;
    QTest::newRow("bmp") << "colours.bmp" << 0 << kQuadrants;
    QTest::newRow("run-length bmp") << "colours-rle.bmp" << 0 << kQuadrants;
    QTest::newRow("tiff") << "colours.tif" << 0 << kQuadrants;
    QTest::newRow("lzw tiff") << "colours-lzw.tif" << 0 << kQuadrants;
    QTest::newRow("tiff, directory first")
        << "directory-first.tif" << 0 << QList<QColor>(4, kTopLeft);
    QTest::newRow("heic") << "colours.heic" << 8 << kQuadrants;
    QTest::newRow("16-bit png") << "colours-16.png" << 0 << kQuadrants;
    QTest::newRow("16-bit tiff") << "colours-16.tif" << 0 << kQuadrants;
    QTest::newRow("cmyk jpeg") << "colours-cmyk.jpg" << 8 << kQuadrants;
    QTest::newRow("cmyk tiff") << "colours-cmyk.tif" << 3 << kQuadrants;
    QTest::newRow("grey png") << "greys.png" << 0 << greys({30, 90, 160, 230});
    QTest::newRow("grey jpeg") << "greys.jpg" << 3 << greys({30, 90, 160, 230});
    QTest::newRow("grey tiff") << "greys.tif" << 0 << greys({30, 90, 160, 230});
    QTest::newRow("palette png, transparent colour")
        << "clear-palette.png" << 0 << QList<QColor>{kTopLeft, clear, kBottomLeft, kBottomRight};
    QTest::newRow("gif, transparent colour")
        << "clear.gif" << 0 << QList<QColor>{kTopLeft, clear, kBottomLeft, kBottomRight};
    QTest::newRow("png, half transparent")
        << "half.png" << 2 << QList<QColor>{kTopLeft, half, kBottomLeft, kBottomRight};
    QTest::newRow("16-bit png, half transparent")
        << "half-16.png" << 2 << QList<QColor>{kTopLeft, half, kBottomLeft, kBottomRight};
    QTest::newRow("heic, half transparent")
        << "half.heic" << 8 << QList<QColor>{kTopLeft, half, kBottomLeft, kBottomRight};
    QTest::newRow("jpeg, profile past understanding") << "odd-profile.jpg" << 6 << kQuadrants;
    QTest::newRow("jpeg named .png") << "photo.png" << 6 << kQuadrants;
    QTest::newRow("png named .jpg") << "shot.jpg" << 0 << kQuadrants;
    QTest::newRow("heic named .jpg") << "phone.jpg" << 8 << kQuadrants;
}

void ImageLoaderTest::loadsEveryFormat()
{
    QFETCH(QString, file);
    QFETCH(int, tolerance);
    QFETCH(QList<QColor>, expected);

    const Result<QImage> loaded = loadImageFile(path(file));
    QVERIFY2(loaded.ok(), qPrintable(loaded.error()));
    const QImage& image = loaded.value();
    QCOMPARE(image.size(), QSize(64, 48));
    const bool transparent =
        std::any_of(expected.begin(), expected.end(), [](QColor c) { return c.alpha() < 255; });
    if (transparent)
        QCOMPARE(image.format(), QImage::Format_ARGB32_Premultiplied);
    else
        QVERIFY(image.format() == QImage::Format_RGB32 ||
                image.format() == QImage::Format_ARGB32_Premultiplied);
    const QList<QColor> actual = quadrantColors(image);
    for (int i = 0; i < 4; ++i)
        QUORVEL_COMPARE_COLOR(actual[i], expected[i], tolerance);
}

void ImageLoaderTest::turnsPicturesUpright_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QList<QColor>>("expected");

    const QColor tl = kTopLeft, tr = kTopRight, bl = kBottomLeft, br = kBottomRight;
    const QSize wide(64, 48), tall(48, 64);
    QTest::newRow("jpeg, as stored") << "orient-1.jpg" << wide << QList{tl, tr, bl, br};
    QTest::newRow("jpeg, mirrored") << "orient-2.jpg" << wide << QList{tr, tl, br, bl};
    QTest::newRow("jpeg, upside down") << "orient-3.jpg" << wide << QList{br, bl, tr, tl};
    QTest::newRow("jpeg, flipped") << "orient-4.jpg" << wide << QList{bl, br, tl, tr};
    QTest::newRow("jpeg, transposed") << "orient-5.jpg" << tall << QList{tl, bl, tr, br};
    QTest::newRow("jpeg, quarter turn") << "orient-6.jpg" << tall << QList{bl, tl, br, tr};
    QTest::newRow("jpeg, transverse") << "orient-7.jpg" << tall << QList{br, tr, bl, tl};
    QTest::newRow("jpeg, quarter turn back") << "orient-8.jpg" << tall << QList{tr, br, tl, bl};
    QTest::newRow("tiff, quarter turn") << "orient-RightTop.tif" << tall << QList{bl, tl, br, tr};
}

void ImageLoaderTest::turnsPicturesUpright()
{
    QFETCH(QString, file);
    QFETCH(QSize, size);
    QFETCH(QList<QColor>, expected);

    const Result<QImage> loaded = loadImageFile(path(file));
    QVERIFY2(loaded.ok(), qPrintable(loaded.error()));
    QCOMPARE(loaded.value().size(), size);
    const QList<QColor> actual = quadrantColors(loaded.value());
    for (int i = 0; i < 4; ++i)
        QUORVEL_COMPARE_COLOR(actual[i], expected[i], 6);
}

void ImageLoaderTest::convertsColourProfilesToSrgb_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<int>("tolerance");

    // Every file holds rgb(200,100,50) in the colour space `profile` names.
    QTest::newRow("png, Display P3") << "p3.png"
                                     << "p3" << 2;
    QTest::newRow("jpeg, Display P3") << "p3.jpg"
                                      << "p3" << 4;
    QTest::newRow("png, Adobe RGB") << "adobe.png"
                                    << "adobe" << 2;
    QTest::newRow("jpeg, Adobe RGB") << "adobe.jpg"
                                     << "adobe" << 4;
    QTest::newRow("tiff, Adobe RGB") << "adobe.tif"
                                     << "adobe" << 2;
    QTest::newRow("png, sRGB") << "srgb.png"
                               << "srgb" << 2;
    QTest::newRow("heic, Display P3 profile") << "p3.heic"
                                              << "p3" << 5;
    QTest::newRow("heic, Display P3 primaries") << "nclx-p3.heic"
                                                << "p3" << 5;
}

void ImageLoaderTest::convertsColourProfilesToSrgb()
{
    QFETCH(QString, file);
    QFETCH(QString, profile);
    QFETCH(int, tolerance);

    const auto oracle = test_support::run(
        "convert", {path(profile + ".png"), "-profile", path("srgb.icc"), "-depth", "8", "rgb:-"});
    QVERIFY2(oracle.exitCode == 0 && oracle.out.size() >= 3, oracle.err.constData());
    const QColor expected(uchar(oracle.out[0]), uchar(oracle.out[1]), uchar(oracle.out[2]));

    const Result<QImage> loaded = loadImageFile(path(file));
    QVERIFY2(loaded.ok(), qPrintable(loaded.error()));
    const QImage& image = loaded.value();
    QUORVEL_COMPARE_COLOR(image.pixelColor(image.width() / 2, image.height() / 2), expected,
                          tolerance);
}

void ImageLoaderTest::takesScaleFromDensity_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<qreal>("ratio");

    QTest::newRow("png, no density") << "colours.png" << 1.0;
    QTest::newRow("png, 72 dpi") << "dpi-72.png" << 1.0;
    QTest::newRow("png, 96 dpi") << "dpi-96.png" << 1.0;
    QTest::newRow("png, 144 dpi") << "dpi-144.png" << 2.0;
    QTest::newRow("png, 150 dpi") << "dpi-150.png" << 1.0;
    QTest::newRow("png, 216 dpi") << "dpi-216.png" << 3.0;
    QTest::newRow("jpeg, 144 dpi") << "dpi-144.jpg" << 2.0;
    QTest::newRow("jpeg, 57 dots per cm") << "dpcm-57.jpg" << 2.0;
    QTest::newRow("tiff, 216 dpi") << "dpi-216.tif" << 3.0;
    QTest::newRow("bmp, 144 dpi") << "dpi-144.bmp" << 2.0;
    QTest::newRow("heic") << "colours.heic" << 1.0;
}

void ImageLoaderTest::takesScaleFromDensity()
{
    QFETCH(QString, file);
    QFETCH(qreal, ratio);

    const Result<QImage> loaded = loadImageFile(path(file));
    QVERIFY2(loaded.ok(), qPrintable(loaded.error()));
    QCOMPARE(loaded.value().devicePixelRatio(), ratio);
    QCOMPARE(loaded.value().size(), QSize(64, 48)); // pixels are never resampled
}

void ImageLoaderTest::refusesFilesCutShort_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("keepPercent");
    QTest::addColumn<int>("dropBytes");

    QTest::newRow("jpeg, in its data") << "noise.jpg" << 70 << 0;
    QTest::newRow("jpeg, before its end marker") << "noise.jpg" << 100 << 2;
    QTest::newRow("progressive jpeg, between scans") << "noise-progressive.jpg" << 50 << 0;
    QTest::newRow("jpeg, in its headers") << "noise.jpg" << 5 << 0;
    QTest::newRow("png, in its data") << "noise.png" << 60 << 0;
    QTest::newRow("png, before its end chunk") << "noise.png" << 100 << 12;
    QTest::newRow("gif, in its data") << "noise.gif" << 60 << 0;
    QTest::newRow("gif, before its trailer") << "noise.gif" << 100 << 1;
    QTest::newRow("bmp, in its rows") << "noise.bmp" << 60 << 0;
    QTest::newRow("bmp, in its headers") << "noise.bmp" << 0 << -30;
    QTest::newRow("run-length bmp") << "noise-rle.bmp" << 60 << 0;
    QTest::newRow("tiff, directory lost") << "noise.tif" << 90 << 0;
    QTest::newRow("tiff, in its strips") << "directory-first.tif" << 60 << 0;
    QTest::newRow("heic, in its data") << "noise.heic" << 70 << 0;
    QTest::newRow("heic, in its boxes") << "noise.heic" << 0 << -200;
    QTest::newRow("png, in its signature") << "noise.png" << 0 << -5;
}

void ImageLoaderTest::refusesFilesCutShort()
{
    QFETCH(QString, file);
    QFETCH(int, keepPercent);
    QFETCH(int, dropBytes);

    // A negative dropBytes keeps that many bytes from the start instead.
    const QByteArray whole = contents(file);
    QVERIFY(!whole.isEmpty());
    const qsizetype keep =
        dropBytes < 0 ? -dropBytes : whole.size() * keepPercent / 100 - dropBytes;
    write("cut-" + file, whole.left(keep));

    const Result<QImage> loaded = loadImageFile(path("cut-" + file));
    QVERIFY(!loaded.ok());
    QVERIFY2(loaded.error().contains("cut short"), qPrintable(loaded.error()));
}

void ImageLoaderTest::acceptsBytesAfterThePicture_data()
{
    QTest::addColumn<QString>("file");

    QTest::newRow("jpeg") << "noise.jpg";
    QTest::newRow("png") << "noise.png";
    QTest::newRow("gif") << "noise.gif";
    QTest::newRow("bmp") << "noise.bmp";
}

void ImageLoaderTest::acceptsBytesAfterThePicture()
{
    QFETCH(QString, file);

    // Phones append their own data (a second picture, depth maps) after the end.
    write("tail-" + file, contents(file) + QByteArray(4000, '\xff') + contents("colours.jpg"));
    const Result<QImage> original = loadImageFile(path(file));
    const Result<QImage> tailed = loadImageFile(path("tail-" + file));
    QVERIFY2(original.ok(), qPrintable(original.error()));
    QVERIFY2(tailed.ok(), qPrintable(tailed.error()));
    QCOMPARE(tailed.value(), original.value());
}

void ImageLoaderTest::refusesBadInput_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Entry>("entry");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");

    QByteArray jpegClaimingHuge = contents("colours.jpg");
    const qsizetype frame = jpegClaimingHuge.indexOf("\xff\xc0");
    QVERIFY(frame > 0);
    qToBigEndian<quint16>(20000, jpegClaimingHuge.data() + frame + 5);
    qToBigEndian<quint16>(20000, jpegClaimingHuge.data() + frame + 7);

    QByteArray noise(4096, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + 13) % 251);

    QTest::newRow("text") << "notes.png" << Entry::file
                          << QByteArray("Meeting notes\nBM and GIF8 mentioned\n")
                          << "not a picture Quorvel can read";
    QTest::newRow("noise") << "noise.bin" << Entry::file << noise
                           << "not a picture Quorvel can read";
    QTest::newRow("empty") << "empty.png" << Entry::file << QByteArray("") << "the file is empty";
    QTest::newRow("png claiming 20000 x 20000")
        << "huge.png" << Entry::file << pngClaiming(20000)
        << "picture too large: 20000 × 20000 pixels (at most 16384 × 16384)";
    QTest::newRow("bmp claiming 20000 x 20000")
        << "huge.bmp" << Entry::file << bmpClaiming(20000) << "picture too large: 20000 × 20000";
    QTest::newRow("jpeg claiming 20000 x 20000")
        << "huge.jpg" << Entry::file << jpegClaimingHuge << "picture too large: 20000 × 20000";
    QTest::newRow("missing") << "missing.png" << Entry::missing << QByteArray()
                             << "No such file or directory";
    QTest::newRow("directory") << "folder.png" << Entry::directory << QByteArray()
                               << "Is a directory";
    QTest::newRow("unreadable") << "secret.png" << Entry::unreadable << contents("colours.png")
                                << "Permission denied";
}

void ImageLoaderTest::refusesBadInput()
{
    QFETCH(QString, name);
    QFETCH(Entry, entry);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);

    switch (entry) {
    case Entry::file:
        write(name, content);
        break;
    case Entry::missing:
        break;
    case Entry::directory:
        QVERIFY(QDir(m_dir.path()).mkpath(name));
        break;
    case Entry::unreadable:
        write(name, content);
        QVERIFY(QFile::setPermissions(path(name), QFileDevice::WriteOwner));
        if (QFile(path(name)).open(QIODevice::ReadOnly))
            QSKIP("running with the rights to read any file");
        break;
    }
    const Result<QImage> loaded = loadImageFile(path(name));
    QVERIFY(!loaded.ok());
    QVERIFY2(loaded.error().contains(reason), qPrintable(loaded.error()));
}

void ImageLoaderTest::loadsOnSeveralThreadsAtOnce()
{
    // The command line loads its inputs in parallel.
    const QStringList files{"noise.jpg", "noise.png", "noise.heic",   "noise.tif",
                            "noise.gif", "p3.jpg",    "nclx-p3.heic", "noise-progressive.jpg"};
    std::vector<QImage> expected;
    for (const QString& file : files) {
        const Result<QImage> loaded = loadImageFile(path(file));
        QVERIFY2(loaded.ok(), qPrintable(file + ": " + loaded.error()));
        expected.push_back(loaded.value());
    }

    std::vector<int> mismatches(files.size(), 0);
    {
        std::vector<std::jthread> threads;
        for (qsizetype i = 0; i < files.size(); ++i) {
            threads.emplace_back([&, i] {
                for (int round = 0; round < 5; ++round) {
                    const Result<QImage> loaded = loadImageFile(path(files[i]));
                    if (!loaded.ok() || loaded.value() != expected[size_t(i)])
                        ++mismatches[size_t(i)];
                }
            });
        }
    }
    for (qsizetype i = 0; i < files.size(); ++i)
        QVERIFY2(mismatches[size_t(i)] == 0, qPrintable(files[i]));
}

QTEST_GUILESS_MAIN(ImageLoaderTest)
#include "tst_image_loader.moc"
