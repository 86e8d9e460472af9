#pragma once

// Small helpers shared by the tests: running the real tools (ImageMagick,
// heif-enc, our own binary) and comparing colours with a tolerance.

#include <QColor>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <QtTest>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace test_support {

struct ProcessResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Starts `program` in `process` (set up by the caller) and runs it to
// completion (two minutes at most); returns what it said.
inline ProcessResult finish(QProcess& process, const QString& program, const QStringList& arguments)
{
    process.start(program, arguments);
    ProcessResult result;
    if (!process.waitForStarted(10000)) {
        result.err = process.errorString().toUtf8();
        return result;
    }
    process.waitForFinished(120000);
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

inline ProcessResult run(const QString& program, const QStringList& arguments,
                         const QString& workingDirectory = {})
{
    QProcess process;
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    return finish(process, program, arguments);
}

// Closes a top-level X window as its close button does: the window manager is asked
// (_NET_CLOSE_WINDOW) and sends WM_DELETE_WINDOW. Asked again while the window stays,
// since a busy window manager may drop the request; waits until the window is not shown.
inline bool closeX11Window(const QString& id, int timeoutMs = 30000)
{
    QElapsedTimer asked;
    return QTest::qWaitFor(
        [&] {
            if (!run("xwininfo", {"-id", id}).out.contains("IsViewable"))
                return true;
            if (!asked.isValid() || asked.hasExpired(3000))
                run("wmctrl", {"-i", "-c", id}), asked.start();
            return false;
        },
        timeoutMs);
}

// Something this machine lacks that the test needs (a codec, a second core),
// named by a string literal: skipped where a developer runs the tests, a
// failure under CI (CI set), where scripts/install-deps put everything in place.
#define QUORVEL_MISSING(what)                                                                      \
    do {                                                                                           \
        if (!qEnvironmentVariableIsEmpty("CI"))                                                    \
            QFAIL("missing under CI: " what);                                                      \
        QSKIP("missing: " what);                                                                   \
    } while (0)

// Runs ImageMagick's convert, failing the current test when it fails.
#define QUORVEL_MAGICK(...)                                                                        \
    do {                                                                                           \
        const auto magick =                                                                        \
            test_support::run(QStringLiteral("convert"), QStringList{__VA_ARGS__});                \
        QVERIFY2(magick.exitCode == 0, magick.err.constData());                                    \
    } while (0)

// A picture of one colour, as a capture or a file read in holds it.
inline QImage filled(QColor color, QSize size = {40, 30}, qreal ratio = 1)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    image.setDevicePixelRatio(ratio);
    return image;
}

// The share of sampled pixels (every `step`th each way) that differ between
// two pictures of one size; 1 when their sizes differ.
inline double differingShare(const QImage& a, const QImage& b, int step = 10)
{
    if (a.size() != b.size() || a.isNull())
        return 1;
    int differing = 0, samples = 0;
    for (int y = step / 2; y < a.height(); y += step)
        for (int x = step / 2; x < a.width(); x += step, ++samples)
            differing += a.pixel(x, y) != b.pixel(x, y);
    return double(differing) / samples;
}

// Writes `bytes` to `path` when given, then answers what the file holds.
inline QByteArray fileBytes(const QString& path, const QByteArray& bytes = {})
{
    QFile file(path);
    if (!bytes.isEmpty() && file.open(QIODevice::WriteOnly))
        file.write(bytes), file.close();
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The quorvel binary under test (CTest passes its path).
inline QString quorvelBinary()
{
    const char* path = std::getenv("QUORVEL_BINARY");
    return path ? QString::fromLocal8Bit(path) : QStringLiteral("quorvel");
}

// True when every channel, alpha included, is within `tolerance`.
inline bool near(QColor actual, QColor expected, int tolerance = 2)
{
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance &&
           std::abs(actual.alpha() - expected.alpha()) <= tolerance;
}

inline QString describe(QColor c)
{
    return c.name(QColor::HexArgb);
}

// Compares colours with a readable message.
#define QUORVEL_COMPARE_COLOR(actual, expected, tolerance)                                         \
    QVERIFY2(test_support::near((actual), (expected), (tolerance)),                                \
             qPrintable(test_support::describe(actual) + QStringLiteral(" != ") +                  \
                        test_support::describe(expected)))

// What `action` wrote to file descriptor `fd` (standard output, where
// printLine writes, unless told).
template <typename F> QByteArray stdoutOf(F action, int fd = 1)
{
    QTemporaryFile file;
    const int saved = ::dup(fd);
    if (std::fflush(stdout) == 0 && std::fflush(stderr) == 0 && file.open() &&
        ::dup2(file.handle(), fd) == fd)
        action();
    std::fflush(stdout), std::fflush(stderr);
    ::dup2(saved, fd);
    ::close(saved);
    return file.seek(0) ? file.readAll() : "<no file>";
}

} // namespace test_support
