// `quorvel video` as a user runs it, on small movies made and checked with ffmpeg.

#include "../video/movie_fixtures.h"
#include "command_sandbox.h"

#include <QImage>
#include <QtTest>
#include <csignal>
#include <unistd.h>

namespace fixtures = movie_fixtures;
using test_support::fileBytes;

// True once process `pid` holds a file open inside `folder`, named or not.
static bool writesInto(qint64 pid, const QString& folder)
{
    char target[4096];
    for (int fd = 0; fd < 64; ++fd) {
        const QByteArray link =
            "/proc/" + QByteArray::number(pid) + "/fd/" + QByteArray::number(fd);
        const ssize_t length = ::readlink(link.constData(), target, sizeof target);
        if (length > 0 && QByteArray(target, length).startsWith(QFile::encodeName(folder) + '/'))
            return true;
    }
    return false;
}

class VideoCommandTest : public QObject {
    Q_OBJECT

    test_support::CommandSandbox m_sandbox;
    QString path(const QString& name) const { return m_sandbox.path(name); }
    auto quorvel(const QStringList& arguments, rlim_t limit = RLIM_INFINITY) const
    {
        return m_sandbox.quorvel(QStringList{"video"} + arguments, limit);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_sandbox.isValid());
        for (const char* dir : {"links", "targets", "leftovers"})
            QVERIFY(QDir(path(".")).mkpath(dir));
        QVERIFY(QFile::link("clip.mp4", path("clip-link.mp4")));
        // A white picture with sound, so edges and corners stand out on green.
        QVERIFY(fixtures::make(path("clip.mp4"), "-f lavfi -i color=c=white:s=160x120:r=25:d=1 -f "
                                                 "lavfi -i sine -t 1 -c:v libx264 -c:a aac"));
    }

    // Padding 10 at 1x is 20 pixels; rounded corners show the background.
    void writesTheMovieOnItsBackground()
    {
        // Standard error is a pipe here: no progress line, even without --quiet.
        const auto result =
            quorvel({"-b", "#00ff00", "-p", "10", "-r", "30", "clip.mp4", "-o", "out.mp4"});
        QCOMPARE(result.out, "Video saved successfully to: " + path("out.mp4").toUtf8() + "\n");
        QCOMPARE(result.err, QByteArray());

        const QJsonObject video = fixtures::stream(path("out.mp4"));
        QCOMPARE(QSize(video["width"].toInt(), video["height"].toInt()), QSize(200, 160));
        QCOMPARE(fixtures::stream(path("out.mp4"), "a")["codec_type"].toString(), "audio");
        const QImage frame = fixtures::frame(path("out.mp4"));
        const QColor green(0, 255, 0);
        QUORVEL_COMPARE_COLOR(frame.pixelColor(23, 80), QColor(Qt::white), 8);
        QUORVEL_COMPARE_COLOR(frame.pixelColor(23, 23), green, 8);
        QUORVEL_COMPARE_COLOR(frame.pixelColor(16, 80), green, 8);
    }

    // On a terminal the progress is redrawn in place, finished at 100% and ended with its only
    // newline (the terminal's own carriage return before it).
    void progressLineOnATerminal()
    {
        const auto result = m_sandbox.shell(
            "Q=\"$Q\" script -qec '\"$Q\" video clip.mp4 -o progress.mp4 >/dev/null' /dev/null");
        QVERIFY2(result.exitCode == 0 && result.out.startsWith('\r') &&
                     result.out.contains("100%") && result.out.endsWith("\r\n") &&
                     result.out.count('\n') == 1,
                 result.out.constData());
    }

    // Signals stop the run (SIGTERM and SIGHUP as SIGINT), saying so unless SIGKILL; no stray
    // file is left either way.
    void stoppedRunsLeaveNothingBehind()
    {
        QVERIFY(fixtures::make(path("long.mp4"), "-f lavfi -i testsrc2=size=640x480:rate=30 -f "
                                                 "lavfi -i sine -t 20 -c:v libx264 -preset "
                                                 "ultrafast -c:a aac"));
        for (const auto& [signal, exitCode] : {std::pair{SIGINT, 130}, std::pair{SIGKILL, -1}}) {
            const QString folder = path(QString("stopped-%1").arg(signal));
            const QString earlier = folder + "/keep.mp4";
            QVERIFY(QDir().mkpath(folder) && !fileBytes(earlier, "an earlier export").isEmpty());
            QProcess process;
            process.start(test_support::quorvelBinary(),
                          {"video", path("long.mp4"), "-o", earlier});
            QVERIFY(process.waitForStarted());
            QElapsedTimer waited;
            waited.start();
            while (!writesInto(process.processId(), folder) && waited.elapsed() < 10000 &&
                   !process.waitForFinished(20)) {
            }
            QVERIFY2(process.state() == QProcess::Running, "finished before it could be stopped");
            QVERIFY(::kill(pid_t(process.processId()), signal) == 0 &&
                    process.waitForFinished(30000));
            QCOMPARE(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                     exitCode);
            QCOMPARE(process.readAllStandardOutput(), QByteArray());
            if (exitCode > 0)
                QVERIFY(process.readAllStandardError().endsWith(
                    "long.mp4: cancelled; nothing was written\n"));
            const QDir listing(folder);
            QCOMPARE(listing.entryList(QDir::Files | QDir::Hidden), QStringList{"keep.mp4"});
            QCOMPARE(fileBytes(earlier), QByteArray("an earlier export"));
        }
    }

    // The next run removes a killed writer's leftover once its process is gone, nothing else.
    void leftoversOfKilledRunsAreRemoved()
    {
        const QByteArray gone = test_support::run("sh", {"-c", "echo $$"}).out.trimmed();
        const QByteArray running = QByteArray::number(::getpid());
        const QStringList kept{".movie.mp4." + running + "-k3x9qa.part",
                               ".other.mp4." + gone + "-k3x9qa.part", ".movie.mp4.abc123.part"};
        for (const QString& name : kept + QStringList{".movie.mp4." + gone + "-k3x9qa.part"})
            fileBytes(path("leftovers/") + name, "half a movie");
        QCOMPARE(quorvel({"clip.mp4", "-o", "leftovers/movie.mp4"}).exitCode, 0);
        QStringList expected = kept + QStringList{"movie.mp4"};
        expected.sort();
        QCOMPARE(m_sandbox.entries("leftovers"), expected);
    }

    // Through symbolic links, a chain of them or a dangling one, the movie replaces the final
    // file, keeping its permissions.
    void writesThroughSymbolicLinks()
    {
        const QString kept = path("targets/a.mp4");
        fileBytes(kept, "earlier");
        QVERIFY(
            QFile::setPermissions(kept, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QVERIFY(QFile::link("a2.mp4", path("links/a.mp4")) &&
                QFile::link(kept, path("links/a2.mp4")) &&
                QFile::link("../targets/b.mp4", path("links/b.mp4")));
        for (const char* link : {"links/a.mp4", "links/b.mp4"})
            QCOMPARE(quorvel({"clip.mp4", "-o", link}).exitCode, 0);
        QCOMPARE(m_sandbox.entries("links") + m_sandbox.entries("targets"),
                 (QStringList{"a.mp4", "a2.mp4", "b.mp4", "a.mp4", "b.mp4"}));
        for (const char* link : {"links/a.mp4", "links/a2.mp4", "links/b.mp4"})
            QVERIFY(QFileInfo(path(link)).isSymLink());
        for (const char* target : {"targets/a.mp4", "targets/b.mp4"})
            QCOMPARE(fileBytes(path(target)).mid(4, 4), "ftyp");
        QCOMPARE(int(QFile::permissions(kept) & 0x777), 0x640);
    }

    // Failed runs: one line of ours; input and earlier output untouched, no temporary file.
    void failuresLeaveTheFilesAlone()
    {
        const struct {
            QStringList arguments;
            QByteArray err;
            rlim_t sizeLimit;
        } cases[] = {// A frame H.264 cannot carry is refused before anything is written.
                     {{"-p", "3000", "clip.mp4", "-o", "kept.mp4"},
                      "clip.mp4: the framed movie would be 12160 × 12120",
                      RLIM_INFINITY},
                     {{"clip.mp4", "-o", "clip-link.mp4"},
                      "clip.mp4: its output clip-link.mp4 is the input",
                      RLIM_INFINITY},
                     // A write that fails part way, as on a full disk.
                     {{"clip.mp4", "-o", "kept.mp4"}, "clip.mp4: cannot write kept.mp4: ", 4096}};
        const QByteArray input = fileBytes(path("clip.mp4"));
        for (const auto& [arguments, err, sizeLimit] : cases) {
            fileBytes(path("kept.mp4"), "earlier");
            const auto result = quorvel(arguments, sizeLimit);
            QCOMPARE(result.exitCode, 1);
            QVERIFY2(result.out.isEmpty() && result.err.startsWith("quorvel: " + err) &&
                         result.err.count('\n') == 1,
                     result.err.constData());
            QCOMPARE(fileBytes(path("kept.mp4")), QByteArray("earlier"));
            QCOMPARE(fileBytes(path("clip.mp4")), input);
            QCOMPARE(m_sandbox.entries(".").filter(".part"), QStringList());
        }
    }

    // Names that are not UTF-8 (folder and output) are read and written byte for byte,
    // and printed with replacement characters; the movie whole and nothing else left.
    void fileNamesThatAreNotUtf8()
    {
        const auto result = m_sandbox.shell(
            "name=$(printf 'raw\\377'); out=$(printf '\\377\\376.mp4'); mkdir -p \"$name\" && "
            "cp clip.mp4 \"$name/in.mp4\" && \"$Q\" video -q \"$name/in.mp4\" -o \"$name/$out\" && "
            "ffprobe -v error -show_entries stream=codec_type -of csv=p=0 \"$name/$out\" && "
            "LC_ALL=C ls -A \"$name\"");
        QVERIFY2(result.exitCode == 0, result.err.constData());
        QVERIFY2(result.out.endsWith(
                     "/raw\uFFFD/\uFFFD\uFFFD.mp4\nvideo\naudio\nin.mp4\n\xff\xfe.mp4\n"),
                 result.out.constData());
    }
};

QTEST_GUILESS_MAIN(VideoCommandTest)
#include "tst_video_command.moc"
