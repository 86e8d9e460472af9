// The PNG encoder is our own (banded, multi-threaded deflate), so its files are
// read back by two decoders, libpng through Qt and ImageMagick. Both reject a
// bad chunk CRC, a broken deflate stream, a wrong zlib checksum or missing
// rows; whatever libpng merely warns about, ImageMagick says on stderr.

#include "png_writer.h"
#include "test_support.h"

#include <QColorSpace>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <future>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Flat like a screenshot, with a noisy quarter that does not compress. When
// translucent, the quarter holds every alpha from 0 to 255 and the rest is
// half covered.
QImage picture(int width, int height, bool translucent, qreal ratio = 1)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(40, 42, 48, translucent ? 128 : 255));
    for (int y = 0; y < height / 2; ++y)
        QRandomGenerator(y).fillRange(reinterpret_cast<quint32*>(image.scanLine(y)), width / 2);
    image = image.convertToFormat(translucent ? QImage::Format_ARGB32 : QImage::Format_RGB32)
                .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    return image;
}

// The folder's entries with their contents.
QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> entries;
    for (const QFileInfo& entry :
         QDir(root).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        QFile file(entry.filePath());
        entries[entry.fileName()] =
            !entry.isDir() && file.open(QIODevice::ReadOnly) ? file.readAll() : "folder";
    }
    return entries;
}

} // namespace

class TestPngWriter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The very pixels back, read by both decoders (ImageMagick re-encodes them
    // losslessly for Qt to compare); 8-bit RGB (colour type 2) when every pixel
    // is opaque, RGBA (6) otherwise (the density: tst_compose_command). Each write
    // replaces the last file whole: a second name for the old file still
    // reads the old bytes, and nothing is left beside them.
    void writeAndReadBack()
    {
        QImage lastPixelClear = picture(300, 200, false);
        lastPixelClear.setPixel(299, 199, 0);
        const std::tuple<const char*, QImage, char> cases[] = {
            {"translucent", picture(300, 200, true), 6},
            {"last pixel clear", lastPixelClear, 6},
            {"opaque at ratio 2", picture(300, 200, false, 2), 2},
            {"large: several bands and IDAT chunks", picture(3000, 2000, false), 2},
        };
        QTemporaryDir dir;
        const QString path = dir.filePath("shot.png"), old = dir.filePath("old.png");
        QVERIFY(writePng(picture(8, 8, false), path).ok());
        for (const auto& [what, image, colourType] : cases) {
            QFile::remove(old);
            QVERIFY(::link(qPrintable(path), qPrintable(old)) == 0);
            const QByteArray previous = snapshot(dir.path())["old.png"], png = encodePng(image);
            QVERIFY2(writePng(image, path).ok(), what);
            QCOMPARE(snapshot(dir.path()),
                     (QMap<QString, QByteArray>{{"old.png", previous}, {"shot.png", png}}));
            QCOMPARE(png.mid(24, 2), QByteArray("\x08") + colourType);
            // Encoders running side by side share the threads, not the result.
            auto other =
                std::async(std::launch::async, [&image = image] { return encodePng(image); });
            QCOMPARE(encodePng(image), png);
            QCOMPARE(other.get(), png);
            QCOMPARE(QImage(path).colorSpace(), QColorSpace(QColorSpace::SRgb));

            const auto magick = test_support::run("convert", {path, "-depth", "8", "png:-"});
            QVERIFY2(magick.exitCode == 0 && magick.err.isEmpty(), magick.err.constData());
            for (QImage decoded : {QImage(path), QImage::fromData(magick.out)}) {
                decoded.setColorSpace(image.colorSpace()); // the pixels alone from here
                QVERIFY2(decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied) ==
                             image.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                         what);
            }
        }
    }

    // The picture is on the disk before it takes its name, and the name is
    // after: a crash leaves the old file or the new one, never an empty one.
    void durableBeforeAndAfterItsName()
    {
        QTemporaryDir dir;
        QVERIFY(writePng(picture(8, 8, false), dir.filePath("in.png")).ok());
        const auto traced = test_support::run(
            "strace", {"-f", "-qq", "-e", "trace=fsync,fdatasync,renameat", "-o", "trace",
                       test_support::quorvelBinary(), "compose", "-o", "out.png", "in.png"},
            dir.path());
        QVERIFY2(traced.exitCode == 0, traced.err.constData());
        const QString calls = QString::fromUtf8(test_support::fileBytes(dir.filePath("trace")))
                                  .remove(QRegularExpression("^\\d+ +", QRegularExpression::MultilineOption));
        const auto order = QRegularExpression("f(?:data)?sync\\((\\d+)\\) += 0\n(?:.*\n)*"
                                              "renameat\\((\\d+), \"[^\"]+\", \\2, \"out.png\"\\) += 0\n"
                                              "(?:.*\n)*f(?:data)?sync\\(\\2\\) += 0")
                               .match(calls);
        QVERIFY2(order.hasMatch() && order.captured(1) != order.captured(2), qPrintable(calls));
    }

    // Running as root, permissions would not stop a write; these do, leaving
    // the folder as it was. The reason is the system's own when the system
    // refused. The file-size limit holds for every case; the last one reaches it.
    void failedWriteChangesNothing()
    {
        // The target, and the errno when the system is the one refusing.
        const std::pair<const char*, int> cases[] = {
            {"missing/a.png", ENOENT}, {"note/a.png", ENOTDIR}, {"folder", 0}, {"old.png", EFBIG}};
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0 && std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR);
        const rlimit lowered{64 * 1024, saved.rlim_max};
        for (const auto& [target, error] : cases) {
            QTemporaryDir dir;
            QVERIFY(QDir(dir.path()).mkdir("folder"));
            for (const char* name : {"note", "old.png"})
                QVERIFY(writePng(picture(8, 8, false), dir.filePath(name)).ok());
            const auto before = snapshot(dir.path());
            QVERIFY(setrlimit(RLIMIT_FSIZE, &lowered) == 0);
            const Result<void> result = writePng(picture(1000, 1000, true), dir.filePath(target));
            setrlimit(RLIMIT_FSIZE, &saved);
            const QString why = result.error(), says = error ? std::strerror(error) : "";
            QVERIFY2(!result.ok() && !why.isEmpty() && why.contains(says), qPrintable(why));
            QCOMPARE(snapshot(dir.path()), before);
        }
    }
};

QTEST_GUILESS_MAIN(TestPngWriter)
#include "tst_png_writer.moc"
