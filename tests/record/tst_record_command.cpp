// `quorvel record` on a private X server and session bus, recording a window
// that shows the time it was drawn (frame-clock): the movie is read back with
// ffprobe and ffmpeg, and its frames tell whether any was lost or misplaced.
#include "movie_fixtures.h"
#include "sound_server.h"

#include <QtTest>
#include <csignal>
#include <memory>

using namespace test_support;
namespace fixtures = movie_fixtures;

namespace {

constexpr int kPeriodUs = 1000000 / 30;
const QSize kWindow(400, 300);

bool xdotool(const QString& line)
{
    return run("xdotool", line.split(' ')).exitCode == 0;
}

QString mouseAt(QPoint at)
{
    return QStringLiteral("mousemove %1 %2").arg(at.x()).arg(at.y());
}

// The window's top-left on the root window.
QPoint windowOrigin(const QString& window)
{
    const QString info = run("xwininfo", {"-id", window}).out;
    const auto field = [&](const char* name) {
        return info.section(name, 1, 1).section('\n', 0, 0).trimmed().toInt();
    };
    return {field("Absolute upper-left X:"), field("Absolute upper-left Y:")};
}

bool near(QRgb pixel, QColor expected, int tolerance)
{
    return test_support::near(QColor(pixel), expected, tolerance);
}

// The magenta mark's top-left in a frame, or (-1, -1): magenta there, and
// not left of it or above it.
QPoint findMark(const QImage& frame)
{
    for (int y = 1; y + 20 <= frame.height(); ++y)
        for (int x = 1; x + 20 <= frame.width(); ++x)
            if (near(frame.pixel(x, y), Qt::magenta, 60) &&
                near(frame.pixel(x + 10, y + 10), Qt::magenta, 40) &&
                !near(frame.pixel(x - 1, y + 10), Qt::magenta, 60) &&
                !near(frame.pixel(x + 10, y - 1), Qt::magenta, 60))
                return {x, y};
    return {-1, -1};
}

// What the tests read back from a recording.
struct Movie {
    QSize size;
    QList<int64_t> pts;   // µs
    QList<int64_t> codes; // the milliseconds the bars of every frame hold
    QImage first, last;
    QPoint mark; // where the mark is in the first frame
};

bool read(const QString& file, Movie& movie)
{
    const QJsonObject video = fixtures::stream(file);
    movie.size = QSize(video["width"].toInt(), video["height"].toInt());
    for (const auto frame : fixtures::probe(file, {"-select_streams", "v", "-show_entries",
                                                   "frame=pts_time"})["frames"]
                                .toArray())
        movie.pts.append(std::llround(frame.toObject()["pts_time"].toString().toDouble() * 1e6));
    movie.first = fixtures::frame(file, 0);
    movie.last = fixtures::frame(file, int(movie.pts.size()) - 1);
    movie.mark = findMark(movie.first);
    if (movie.mark.x() < 0)
        return qWarning("no mark in %s", qPrintable(file)), false;
    // Every frame's bars, cut out by ffmpeg so the frames stay small.
    const QByteArray raw =
        run("ffmpeg", {"-v", "error", "-i", file, "-fps_mode", "passthrough", "-vf",
                       QStringLiteral("crop=280:20:%1:%2").arg(movie.mark.x()).arg(movie.mark.y()),
                       "-f", "rawvideo", "-pix_fmt", "gray", "-"})
            .out;
    for (qsizetype at = 0; at + 280 * 20 <= raw.size(); at += 280 * 20) {
        int64_t ms = 0;
        for (int bit = 0; bit < 24; ++bit)
            ms |= int64_t(uchar(raw[at + 10 * 280 + 25 + bit * 10]) > 128) << bit;
        while (!movie.codes.isEmpty() && ms < movie.codes.last() - (1 << 23))
            ms += 1 << 24; // the bars wrap every 4.7 hours
        movie.codes.append(ms);
    }
    if (movie.codes.size() != movie.pts.size() || movie.pts.isEmpty())
        return qWarning("%lld frames, %lld times", qlonglong(movie.codes.size()),
                        qlonglong(movie.pts.size())),
               false;
    return true;
}

// Whether the pointer shows round `at` in the last frame: something there
// is not the blue quadrant's.
bool pointerShown(const Movie& movie, QPoint at)
{
    int other = 0;
    for (int y = at.y() - 8; y < at.y() + 8; ++y)
        for (int x = at.x() - 8; x < at.x() + 8; ++x)
            other += !near(movie.last.pixel(x, y), Qt::blue, 40);
    return other > 10;
}

} // namespace

class TestRecordCommand : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QProcess clock;
    QString window; // frame-clock's X window
    std::unique_ptr<QProcess> recorder;
    QElapsedTimer sinceStarted; // from the line saying it records
    // From that line to asking it to stop, and to its end: `quorvel record
    // stop` takes a moment to start, and the movie ends in between.
    double recordedSeconds = 0, endedSeconds = 0;

    // Starts `quorvel record ARGS`, drives the overlay with `steps` once it
    // holds the keyboard, and waits for the line saying it records.
    bool startRecording(const QStringList& arguments, const QStringList& steps = {},
                        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
    {
        recorder = std::make_unique<QProcess>();
        environment.insert(QStringLiteral("QUORVEL_REPORT_OVERLAY"), QStringLiteral("1"));
        recorder->setProcessEnvironment(environment);
        recorder->start(quorvelBinary(), QStringList{"record"} + arguments);
        QByteArray err, out;
        const auto until = [&](const char* said, const QByteArray& in) {
            const auto heard = [&] {
                err += recorder->readAllStandardError(), out += recorder->readAllStandardOutput();
                return in.contains(said) || recorder->state() == QProcess::NotRunning;
            };
            return QTest::qWaitFor(heard, 20000) && in.contains(said);
        };
        if (!steps.isEmpty() && !until("keyboard grabbed", err))
            return qWarning("no overlay: %s", err.constData()), false;
        for (const QString& step : steps)
            if (!xdotool(step))
                return false;
        const bool started = until("\n", out);
        sinceStarted.start();
        if (!started)
            qWarning("not recording: %s %s", out.constData(),
                     (err + recorder->readAllStandardError()).constData());
        return started && recorder->state() == QProcess::Running;
    }

    // Lets it record until `ms` after it started, then ends it by `how`:
    // "stop" runs `quorvel record stop`, "close" closes the window, else a signal.
    ProcessResult stopRecording(int ms, const QString& how)
    {
        [[maybe_unused]] bool waited =
            QTest::qWaitFor([&] { return sinceStarted.elapsed() >= ms; }, ms + 1000);
        recordedSeconds = sinceStarted.elapsed() / 1000.0;
        if (how == QLatin1String("stop"))
            run(quorvelBinary(), {"record", "stop"}); // unheard, the recorder goes on
        else if (how == QLatin1String("close"))
            clock.kill(); // the movie ends where the window went
        else
            ::kill(pid_t(recorder->processId()), how == QLatin1String("SIGINT") ? SIGINT : SIGTERM);
        recorder->waitForFinished(60000);
        endedSeconds = sinceStarted.elapsed() / 1000.0;
        return {recorder->exitStatus() == QProcess::NormalExit ? recorder->exitCode() : -1,
                recorder->readAllStandardOutput(), recorder->readAllStandardError()};
    }

    // Every frame time has its frame, each shows the screen at its time, the
    // length is what was recorded, and the window is where the mark says, first and last.
    void checkMovie(const Movie& movie)
    {
        const double length = (movie.pts.last() - movie.pts.first()) / 1e6 + 1 / 30.0;
        const QString seconds = QStringLiteral("%1 s for %2 to %3 s");
        QVERIFY2(length > recordedSeconds - 0.3 && length < endedSeconds + 0.3,
                 qPrintable(seconds.arg(length).arg(recordedSeconds).arg(endedSeconds)));
        // Frame times come on the 30 fps grid. One may be missing where the
        // screen did not change (the writer keeps no identical frames) or
        // where the X server, on a busy machine, answered late; more than a
        // few lost means the recording loses frames. The last frame is the
        // one before held until the stop, which may come a frame time late.
        int64_t lost = 0;
        for (qsizetype i = 1; i < movie.pts.size(); ++i) {
            const int64_t step = movie.pts[i] - movie.pts[i - 1];
            const int64_t periods = (step + kPeriodUs / 2) / kPeriodUs;
            const bool onGrid = i + 1 == movie.pts.size()
                                    ? step > 0 && periods <= 2
                                    : periods >= 1 && std::abs(step - periods * kPeriodUs) < 1500;
            QVERIFY2(onGrid, qPrintable(QStringLiteral("frame %1: %2 µs on").arg(i).arg(step)));
            lost += i + 1 < movie.pts.size() ? periods - 1 : 0;
        }
        QVERIFY2(lost <= std::max<int64_t>(2, movie.pts.size() * 3 / 100),
                 qPrintable(QStringLiteral("%1 frame times lost").arg(lost)));
        // The picture's own clock moves with the movie's. How old the window's
        // picture is when grabbed varies (it redraws every 8 ms when the
        // machine lets it), but stale or mistimed frames would age steadily.
        qsizetype counted = movie.pts.size();
        if (counted > 1 && movie.codes[counted - 1] == movie.codes[counted - 2])
            --counted; // the one before, held until the stop
        QList<int64_t> ages;
        for (qsizetype i = 0; i < counted; ++i)
            ages.append(movie.pts[i] - movie.codes[i] * 1000);
        std::sort(ages.begin(), ages.end());
        const int64_t most = ages[ages.size() * 9 / 10] - ages.first(),
                      oldest = ages.last() - ages.first();
        const QString age = QStringLiteral("%1 ms old in 9 frames of 10, %2 ms at most");
        QVERIFY2(most < 3 * kPeriodUs && oldest < 250000,
                 qPrintable(age.arg(most / 1000).arg(oldest / 1000)));
        QCOMPARE(findMark(movie.last), movie.mark);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // QUORVEL_KEEP=1 keeps the movies and their first and last frames to look at.
        dir.setAutoRemove(qEnvironmentVariableIsEmpty("QUORVEL_KEEP"));
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"), "no session bus");
        clock.start(
            QStringLiteral(QUORVEL_FRAME_CLOCK),
            {"200", "150", QString::number(kWindow.width()), QString::number(kWindow.height())});
        QVERIFY(QTest::qWaitFor([&] { return clock.canReadLine(); }, 20000));
        window = QString::fromUtf8(clock.readLine()).section(' ', 1).trimmed();
        QTRY_VERIFY(windowOrigin(window).x() >= 0);
    }

    // A test that failed half-way leaves no recorder behind for the next.
    void cleanup()
    {
        if (recorder && recorder->state() != QProcess::NotRunning)
            recorder->kill(), recorder->waitForFinished();
    }

    void cleanupTestCase() { clock.kill(), clock.waitForFinished(); }

    // An area dragged over the window, the pointer left on its blue quadrant,
    // stopped by `quorvel record stop`, which with nothing recording says so.
    void area()
    {
        const ProcessResult none = run(quorvelBinary(), {"record", "stop"});
        QCOMPARE(none.exitCode, 1);
        QCOMPARE(none.err.trimmed(), QByteArray("Quorvel is not recording"));

        const QPoint origin = windowOrigin(window);
        const QString output = dir.filePath("area.mp4");
        QVERIFY(
            startRecording({"area", "-o", output},
                           {mouseAt(origin - QPoint(30, 20)), "mousedown 1",
                            mouseAt(origin + QPoint(kWindow.width() + 41, kWindow.height() + 25)),
                            "mouseup 1", mouseAt(origin + QPoint(100, 262))}));
        const ProcessResult done = stopRecording(3000, "stop");
        QCOMPARE(done.exitCode, 0);
        QCOMPARE(done.out.trimmed(), "Saved the recording to " + output.toUtf8());
        Movie movie;
        QVERIFY(read(output, movie));
        QCOMPARE(movie.size, QSize((kWindow.width() + 71) & ~1, (kWindow.height() + 45) & ~1));
        QCOMPARE(movie.mark, QPoint(38, 28));
        checkMovie(movie);
        QVERIFY(pointerShown(movie, QPoint(38 - 8 + 100, 28 - 8 + 262)));
    }

    // The whole screen without the pointer, ended by Ctrl+C; with --audio the
    // default output's monitor, from a sound server of the test's own,
    // becomes the movie's sound track, as long as its picture.
    void fullWithSound()
    {
        QTemporaryDir folder;
        SoundServer server(folder.path());
        QString why;
        QVERIFY2(server.start(&why), qPrintable(why));
        QVERIFY(server.addNullSink(QStringLiteral("quorvel_record_test")));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PULSE_SERVER", "unix:" + folder.path() + "/run/pulse/native");
        const QPoint origin = windowOrigin(window);
        QVERIFY(xdotool(mouseAt(origin + QPoint(100, 262))));
        const QString output = dir.filePath("full.mp4"), tone = folder.filePath("tone.wav");
        QCOMPARE(test_support::run("sox", {"-n", "-r", "48000", "-c", "2", "-b", "16", tone,
                                           "synth", "1", "sine", "1000", "vol", "0.5"})
                     .exitCode,
                 0);
        QVERIFY(startRecording({"full", "--audio", "--no-cursor", "-o", output}, {}, environment));
        QProcess player; // a tone played while it records
        player.setProcessEnvironment(environment);
        QCOMPARE(test_support::finish(player, "paplay", {tone}).exitCode, 0);
        // Then the sound server goes: the picture goes on, to silence.
        server.stop();
        QByteArray said;
        QTRY_VERIFY((said += recorder->readAllStandardError())
                        .contains("recording without sound from now on"));
        QCOMPARE(stopRecording(2500, "SIGINT").exitCode, 0);
        Movie movie;
        QVERIFY(read(output, movie));
        QCOMPARE(movie.mark, origin + QPoint(8, 8));
        checkMovie(movie);
        QVERIFY(!pointerShown(movie, origin + QPoint(100, 262)));
        const QJsonObject sound = fixtures::stream(output, "a");
        QCOMPARE(sound["codec_name"].toString(), "aac");
        QVERIFY(std::abs(sound["duration"].toString().toDouble() -
                         fixtures::stream(output)["duration"].toString().toDouble()) < 0.3);
        // The tone is in the movie's sound: strong at its pitch, not beside it.
        const auto decoded = test_support::run(
            "ffmpeg", {"-v", "error", "-i", output, "-map", "0:a", "-ac", "2", "-f", "s16le", "-"});
        const auto* samples = reinterpret_cast<const int16_t*>(decoded.out.constData());
        const int frames = int(decoded.out.size() / 4);
        const double at = test_support::goertzel(samples, frames, 0, 1000),
                     beside = test_support::goertzel(samples, frames, 0, 1500);
        QVERIFY2(frames > 48000 && at > 500 && beside < at / 20,
                 qPrintable(QStringLiteral("%1 %2").arg(at).arg(beside)));
    }

    // A clicked window, followed as it moves partly off the screen (that part
    // black), recorded until it closes: the recording ends by itself, saying
    // why, and is kept. Last, as it closes the window.
    void windowUntilClosed()
    {
        const QPoint origin = windowOrigin(window);
        const QString output = dir.filePath("window.mp4");
        QVERIFY(startRecording({"window", "--no-cursor", "-o", output},
                               {mouseAt(origin + QPoint(50, 50)), "click 1"}));
        QVERIFY(xdotool(QStringLiteral("windowmove %1 724 150").arg(window)));
        QTRY_VERIFY(windowOrigin(window) != origin);
        const ProcessResult done = stopRecording(2500, "close");
        QCOMPARE(done.exitCode, 0);
        QVERIFY2(done.err.contains("Recording stopped: the recorded window was closed"),
                 done.err.constData());
        Movie movie;
        QVERIFY(read(output, movie));
        // The window manager's frame is part of the window.
        QVERIFY(movie.size.width() >= kWindow.width() && movie.size.width() < kWindow.width() + 40);
        checkMovie(movie);
        const QImage& last = movie.last;
        QVERIFY(near(last.pixel(movie.mark + QPoint(92, 50)), Qt::red, 24));
        QVERIFY(near(last.pixel(last.width() - 20, last.height() / 2), Qt::black, 24));
    }
};

QTEST_GUILESS_MAIN(TestRecordCommand)
#include "tst_record_command.moc"
