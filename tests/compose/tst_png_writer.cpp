// The PNG encoder is our own (banded, multi-threaded deflate), so its files
// are checked three ways: the chunk and zlib structure by hand, decoded by
// libpng through Qt, and decoded by ImageMagick.

#include "png_writer.h"
#include "test_support.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <zlib.h>

namespace {

// Mostly flat like a screenshot, with a noisy block that does not compress;
// all noise when `noisy`.
QImage picture(int width, int height, bool translucent, qreal ratio = 1.0, bool noisy = false)
{
    QImage image(width, height, QImage::Format_ARGB32);
    QRandomGenerator generator(quint32(width * 31 + height));
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const bool random = noisy || (x < width / 2 && y < height / 2);
            quint32 pixel = random ? generator.generate() : qRgb(40, 42, 48 + (x / 64) % 8);
            // Alpha runs through 0, 1, 255 and everything between.
            pixel = translucent ? (pixel & 0xffffff) | (quint32((x + y) % 256) << 24)
                                : pixel | 0xff000000u;
            row[x] = pixel;
        }
    }
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    return image;
}

quint32 bigEndianAt(const QByteArray& data, qsizetype at)
{
    return qFromBigEndian<quint32>(data.constData() + at);
}

// Empty when `png` is well formed: signature, chunks with good CRCs from
// IHDR to IEND, and IDAT data that inflates (checksum included) to exactly
// one filter byte and one row of samples per row.
QString structureProblem(const QByteArray& png)
{
    if (!png.startsWith("\x89PNG\r\n\x1a\n"))
        return QStringLiteral("no PNG signature");
    QByteArray idat;
    QList<QByteArray> types;
    for (qsizetype at = 8; at < png.size();) {
        if (at + 12 > png.size())
            return QStringLiteral("chunk cut short at %1").arg(at);
        const quint32 length = bigEndianAt(png, at);
        if (at + 12 + qsizetype(length) > png.size())
            return QStringLiteral("chunk overruns the file at %1").arg(at);
        const QByteArray type = png.mid(at + 4, 4);
        const uLong crc =
            crc32(0, reinterpret_cast<const Bytef*>(png.constData() + at + 4), uInt(length + 4));
        if (crc != bigEndianAt(png, at + 8 + length))
            return QStringLiteral("bad CRC in %1").arg(QString::fromLatin1(type));
        if (type == "IDAT")
            idat += png.mid(at + 8, length);
        types += type;
        at += 12 + length;
    }
    if (types.value(0) != "IHDR" || types.value(types.size() - 1) != "IEND")
        return QStringLiteral("chunks out of order");
    const quint32 width = bigEndianAt(png, 16), height = bigEndianAt(png, 20);
    const int channels = png[25] == 6 ? 4 : 3;
    const uLong expected = uLong(height) * (1 + uLong(width) * channels);
    QByteArray raw(qsizetype(expected) + 1, 0);
    uLongf rawLength = uLongf(raw.size());
    if (uncompress(reinterpret_cast<Bytef*>(raw.data()), &rawLength,
                   reinterpret_cast<const Bytef*>(idat.constData()), uLong(idat.size())) != Z_OK)
        return QStringLiteral("IDAT does not inflate");
    if (rawLength != expected)
        return QStringLiteral("%1 bytes of rows, not %2").arg(rawLength).arg(expected);
    for (quint32 y = 0; y < height; ++y)
        if (uchar(raw[qsizetype(y * (1 + width * channels))]) > 4)
            return QStringLiteral("row %1 has no valid filter").arg(y);
    return {};
}

// Every file and folder under `root` with its contents.
QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        entries[path] = it.fileInfo().isDir()
                            ? QByteArray("folder")
                            : (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return entries;
}

// Decodes with libpng through Qt. libpng's complaints about a file are only
// logged, the picture may still decode, so they are handed back too.
QImage decode(const QByteArray& png, QString* complaints)
{
    static QStringList logged;
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& message) { logged += message; });
    const QImage image = QImage::fromData(png, "PNG");
    qInstallMessageHandler(previous);
    *complaints = logged.join(QLatin1Char('\n'));
    return image;
}

} // namespace

class TestPngWriter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void writeCreatesAndReplaces();
    void failedWriteChangesNothing_data();
    void failedWriteChangesNothing();
};

void TestPngWriter::roundTrip_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("dotsPerMeter");

    QImage oneHole = picture(300, 200, false);
    oneHole.setPixel(299, 199, 0);
    QImage straight = picture(300, 200, true).convertToFormat(QImage::Format_ARGB32);

    QTest::newRow("opaque") << picture(300, 200, false) << 3 << 2835;
    QTest::newRow("opaque RGB32") << picture(300, 200, false).convertToFormat(QImage::Format_RGB32)
                                  << 3 << 2835;
    QTest::newRow("translucent") << picture(300, 200, true) << 4 << 2835;
    QTest::newRow("straight alpha source") << straight << 4 << 2835;
    QTest::newRow("one clear pixel") << oneHole << 4 << 2835;
    QTest::newRow("RGB888 source")
        << picture(300, 200, false).convertToFormat(QImage::Format_RGB888) << 3 << 2835;
    QTest::newRow("ratio 2") << picture(300, 200, false, 2) << 3 << 5669;
    QTest::newRow("ratio 3") << picture(300, 200, true, 3) << 4 << 8504;
    QTest::newRow("one pixel") << picture(1, 1, false) << 3 << 2835;
    QTest::newRow("one pixel wide") << picture(1, 700, true) << 4 << 2835;
    QTest::newRow("one pixel tall") << picture(700, 1, false) << 3 << 2835;
    // Big enough for several bands and, noisy, for more than one IDAT chunk.
    QTest::newRow("large opaque") << picture(3000, 2000, false, 1, true) << 3 << 2835;
    QTest::newRow("large translucent") << picture(3000, 2000, true, 1, true) << 4 << 2835;
    QTest::newRow("large and flat") << picture(4000, 3000, false) << 3 << 2835;
}

void TestPngWriter::roundTrip()
{
    QFETCH(QImage, image);
    QFETCH(int, channels);
    QFETCH(int, dotsPerMeter);

    const QByteArray png = encodePng(image);
    const QString problem = structureProblem(png);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(png[24], char(8));
    QCOMPARE(png[25], char(channels == 4 ? 6 : 2));

    QString libpngSays;
    const QImage decoded = decode(png, &libpngSays);
    QCOMPARE(decoded.size(), image.size());
    QCOMPARE(decoded.dotsPerMeterX(), dotsPerMeter);
    QCOMPARE(decoded.dotsPerMeterY(), dotsPerMeter);
    // The file holds straight alpha; premultiplied back, each channel is
    // within one of where it started (exact when opaque).
    const int tolerance = channels == 4 ? 1 : 0;
    const QImage expected = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage actual = decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y) {
        const auto* want = reinterpret_cast<const QRgb*>(expected.constScanLine(y));
        const auto* got = reinterpret_cast<const QRgb*>(actual.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(got[x]) != qAlpha(want[x]) ||
                std::abs(qRed(got[x]) - qRed(want[x])) > tolerance ||
                std::abs(qGreen(got[x]) - qGreen(want[x])) > tolerance ||
                std::abs(qBlue(got[x]) - qBlue(want[x])) > tolerance)
                QFAIL(qPrintable(QStringLiteral("(%1,%2): %3 != %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(got[x], 8, 16)
                                     .arg(want[x], 8, 16)));
        }
    }

    // A second decoder must read the same samples and have nothing to say.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("round.png"));
    QVERIFY(writePng(image, path).ok());
    const auto magick = test_support::run(
        QStringLiteral("convert"),
        {path, QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("rgba:-")});
    QVERIFY2(magick.exitCode == 0 && magick.err.isEmpty(), magick.err.constData());
    const QImage straight = decoded.convertToFormat(QImage::Format_RGBA8888);
    QByteArray samples;
    for (int y = 0; y < straight.height(); ++y)
        samples.append(reinterpret_cast<const char*>(straight.constScanLine(y)),
                       straight.width() * 4);
    QVERIFY(magick.out == samples);
    QVERIFY2(libpngSays.isEmpty(), qPrintable(libpngSays));
}

void TestPngWriter::writeCreatesAndReplaces()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shot.png"));
    const QImage first = picture(64, 48, false);
    const QImage second = picture(80, 20, true);

    auto contents = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QVERIFY(writePng(first, path).ok());
    QCOMPARE(contents(), encodePng(first));
    QVERIFY(writePng(second, path).ok());
    QCOMPARE(contents(), encodePng(second));
    // Replaced in place, no temporary file left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{QStringLiteral("shot.png")});
}

void TestPngWriter::failedWriteChangesNothing_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QImage>("image");
    QTest::addColumn<bool>("diskLimit");
    QTest::addColumn<QString>("systemSays"); // when the system is the one refusing

    // The tests run as root, so permissions would not stop a write.
    auto says = [](int error) { return QString::fromLocal8Bit(std::strerror(error)); };
    const QImage image = picture(400, 300, false);
    QTest::newRow("missing folder")
        << QStringLiteral("missing/shot.png") << image << false << says(ENOENT);
    QTest::newRow("folder is a file")
        << QStringLiteral("notes.txt/shot.png") << image << false << says(ENOTDIR);
    QTest::newRow("target is a folder") << QStringLiteral("folder") << image << false << QString();
    QTest::newRow("null picture over a file")
        << QStringLiteral("old.png") << QImage() << false << QString();
    QTest::newRow("disk limit reached over a file")
        << QStringLiteral("old.png") << picture(1000, 1000, true) << true << says(EFBIG);
}

void TestPngWriter::failedWriteChangesNothing()
{
    QFETCH(QString, target);
    QFETCH(QImage, image);
    QFETCH(bool, diskLimit);
    QFETCH(QString, systemSays);

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    for (const char* name : {"notes.txt", "old.png"}) {
        QFile file(dir.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("what was there before: ") + name);
    }
    const auto before = snapshot(dir.path());

    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto restore = qScopeGuard([saved] { setrlimit(RLIMIT_FSIZE, &saved); });
    if (diskLimit) {
        // Root ignores permissions but not this: the write fails part way.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved;
        lowered.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    const Result<void> result = writePng(image, dir.filePath(target));
    QVERIFY(!result.ok());
    QVERIFY(!result.error().isEmpty());
    QVERIFY2(result.error().contains(systemSays), qPrintable(result.error()));
    QCOMPARE(snapshot(dir.path()), before);
}

QTEST_GUILESS_MAIN(TestPngWriter)
#include "tst_png_writer.moc"
