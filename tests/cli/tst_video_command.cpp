// The `quorvel video` command as a user runs it: the real binary on small
// movies made by the ffmpeg program, checked with ffprobe and decoded frames.

#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace {

// Runs the ffmpeg program quietly, failing the current test when it fails.
#define QUORVEL_FFMPEG(...)                                                                        \
    do {                                                                                           \
        const auto made = test_support::run(QStringLiteral("ffmpeg"),                              \
                                            QStringList{"-v", "error", "-y", __VA_ARGS__});        \
        QVERIFY2(made.exitCode == 0, made.err.constData());                                        \
    } while (0)

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Each stream's codec_type, codec_name, width, height and r_frame_rate.
QJsonArray probeStreams(const QString& path)
{
    const auto probe = test_support::run(QStringLiteral("ffprobe"),
                                         {"-v", "error", "-show_entries",
                                          "stream=codec_type,codec_name,width,height,r_frame_rate",
                                          "-of", "json", path});
    return QJsonDocument::fromJson(probe.out).object().value("streams").toArray();
}

} // namespace

class VideoCommandTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }
    test_support::ProcessResult quorvel(const QStringList& arguments) const
    {
        return test_support::run(test_support::quorvelBinary(), arguments, m_dir.path());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // A white picture with sound, so edges and corners stand out on green.
        QUORVEL_FFMPEG("-f", "lavfi", "-i", "color=c=white:s=160x120:r=25:d=1", "-f", "lavfi", "-i",
                       "sine", "-t", "1", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac",
                       path("clip.mp4"));
        QUORVEL_FFMPEG("-f", "lavfi", "-i", "sine", "-t", "1", "-c:a", "aac", path("sound.m4a"));
        QFile words(path("words.mp4"));
        QVERIFY(words.open(QIODevice::WriteOnly) && words.write("not a movie at all\n") > 0);
    }

    void writesTheMovieOnItsBackground_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("margin");
        QTest::addColumn<bool>("rounded");
        QTest::newRow("default padding 40") << QStringList{} << QSize(320, 280) << 80 << false;
        QTest::newRow("padding 10, radius 30")
            << QStringList{"-p", "10", "-r", "30"} << QSize(200, 160) << 20 << true;
        QTest::newRow("no padding")
            << QStringList{"--padding", "0"} << QSize(160, 120) << 0 << false;
        QTest::newRow("odd size rounded up to even")
            << QStringList{"-p", "1.25"} << QSize(166, 126) << 5 << false;
    }
    void writesTheMovieOnItsBackground()
    {
        QFETCH(QStringList, options);
        QFETCH(QSize, size);
        QFETCH(int, margin);
        QFETCH(bool, rounded);
        QFile::remove(path("out.mp4"));
        // Standard error is a pipe here: no progress line, even without --quiet.
        const auto result = quorvel(QStringList{"video", "-b", "#00ff00"} + options +
                                    QStringList{"clip.mp4", "-o", "out.mp4"});
        QVERIFY2(result.exitCode == 0, result.err.constData());
        QCOMPARE(result.out, "Video saved successfully to: " + path("out.mp4").toUtf8() + "\n");
        QCOMPARE(result.err, QByteArray());

        const QJsonArray streams = probeStreams(path("out.mp4"));
        QCOMPARE(streams.size(), 2);
        const QJsonObject video = streams[0].toObject(), audio = streams[1].toObject();
        QCOMPARE(video["codec_name"].toString(), "h264");
        QCOMPARE(QSize(video["width"].toInt(), video["height"].toInt()), size);
        QCOMPARE(video["r_frame_rate"].toString(), "30/1");
        QCOMPARE(audio["codec_type"].toString(), "audio");

        QUORVEL_FFMPEG("-i", path("out.mp4"), "-frames:v", "1", path("frame.png"));
        const QImage frame(path("frame.png"));
        const QColor green(0, 255, 0), white(Qt::white);
        const int middle = size.height() / 2;
        QUORVEL_COMPARE_COLOR(frame.pixelColor(margin + 3, middle), white, 8);
        QUORVEL_COMPARE_COLOR(frame.pixelColor(margin + 3, margin + 3), rounded ? green : white, 8);
        if (margin >= 4)
            QUORVEL_COMPARE_COLOR(frame.pixelColor(margin - 4, middle), green, 8);
    }

    void progressLineOnlyOnATerminal_data()
    {
        QTest::addColumn<bool>("quiet");
        QTest::newRow("terminal") << false;
        QTest::newRow("terminal, --quiet") << true;
    }
    void progressLineOnlyOnATerminal()
    {
        QFETCH(bool, quiet);
        int terminal = -1, side = -1;
        QVERIFY(::openpty(&terminal, &side, nullptr, nullptr, nullptr) == 0);
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        process.setChildProcessModifier([side] { ::dup2(side, STDERR_FILENO); });
        QStringList arguments{"video", "clip.mp4", "-o", "progress.mp4"};
        if (quiet)
            arguments << "--quiet";
        process.start(test_support::quorvelBinary(), arguments);
        ::close(side);
        QVERIFY(process.waitForFinished(120000));
        QByteArray err;
        ::fcntl(terminal, F_SETFL, O_NONBLOCK);
        char buffer[4096];
        for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;)
            err.append(buffer, n);
        ::close(terminal);

        QVERIFY2(process.exitCode() == 0, err.constData());
        QVERIFY(process.readAllStandardOutput().startsWith("Video saved successfully to: "));
        if (quiet) {
            QCOMPARE(err, QByteArray());
        } else {
            // Redrawn in place, finished at 100% and ended with a newline.
            QVERIFY2(err.startsWith('\r') && err.contains("100%") && err.endsWith('\n'),
                     err.constData());
            QCOMPARE(err.count('\n'), 1);
        }
    }

    void interruptLeavesNothingBehind()
    {
        QUORVEL_FFMPEG("-f", "lavfi", "-i", "testsrc2=size=640x480:rate=30", "-f", "lavfi", "-i",
                       "sine", "-t", "20", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac",
                       path("long.mp4"));
        QVERIFY(QDir(m_dir.path()).mkpath("cancel"));
        const QString earlier = path("cancel/keep.mp4");
        QFile file(earlier);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("an earlier export") > 0);
        file.close();

        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        process.start(test_support::quorvelBinary(), {"video", "long.mp4", "-o", earlier});
        QVERIFY(process.waitForStarted());
        // Wait for the temporary file, that is for encoding to be under way.
        const QDir folder(path("cancel"));
        QElapsedTimer waited;
        waited.start();
        while (folder.entryList(QDir::Files).size() < 2 && waited.elapsed() < 3000 &&
               !process.waitForFinished(20)) {
        }
        QVERIFY2(process.state() == QProcess::Running, "finished before it could be interrupted");
        QVERIFY(::kill(pid_t(process.processId()), SIGINT) == 0);
        QVERIFY(process.waitForFinished(30000));

        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 130);
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
        QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden), QStringList{"keep.mp4"});
        QCOMPARE(fileBytes(earlier), QByteArray("an earlier export"));
    }

    void failuresLeaveTheOutputAlone_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("missing") << "missing.mp4" << QByteArray();
        QTest::newRow("sound only") << "sound.m4a" << QByteArray("it has no video stream");
        QTest::newRow("not a movie") << "words.mp4" << QByteArray();
    }
    void failuresLeaveTheOutputAlone()
    {
        QFETCH(QString, input);
        QFETCH(QByteArray, reason);
        QFile existing(path("kept.mp4"));
        QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("earlier") > 0);
        existing.close();
        const auto result = quorvel({"video", input, "-o", "kept.mp4"});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.out, QByteArray());
        // One line, ours, and no library's chatter.
        const QByteArray prefix = "quorvel: " + input.toUtf8() + ": ";
        QVERIFY2(result.err.startsWith(prefix) && result.err.count('\n') == 1 &&
                     result.err.contains(reason),
                 result.err.constData());
        QCOMPARE(fileBytes(path("kept.mp4")), QByteArray("earlier"));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no output") << QStringList{"video", "clip.mp4"};
        QTest::newRow("no input") << QStringList{"video", "-o", "o.mp4"};
        QTest::newRow("two inputs") << QStringList{"video", "clip.mp4", "clip.mp4", "-o", "o.mp4"};
        QTest::newRow("negative padding")
            << QStringList{"video", "-p", "-5", "clip.mp4", "-o", "o.mp4"};
        QTest::newRow("radius not a number")
            << QStringList{"video", "-r", "round", "clip.mp4", "-o", "o.mp4"};
        QTest::newRow("unknown background")
            << QStringList{"video", "-b", "plaid", "clip.mp4", "-o", "o.mp4"};
        QTest::newRow("unknown option") << QStringList{"video", "--fps", "60", "clip.mp4"};
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        const auto result = quorvel(arguments);
        QCOMPARE(result.exitCode, 2);
        QCOMPARE(result.out, QByteArray());
        QVERIFY2(result.err.contains("Try 'quorvel video --help'."), result.err.constData());
        QVERIFY(!QFile::exists(path("o.mp4")));
    }

    void help()
    {
        const auto result = quorvel({"video", "--help"});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.out.startsWith("Usage: quorvel video [options] INPUT -o OUTPUT.mp4\n"));
    }
};

QTEST_GUILESS_MAIN(VideoCommandTest)
#include "tst_video_command.moc"
