// `quorvel record` on a private X server and session bus, recording a window
// that shows the time it was drawn (frame-clock): the movie is read back with
// ffprobe and ffmpeg, and its frames tell whether any was lost or misplaced.
#include "test_support.h"

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

using namespace test_support;

namespace {

constexpr int kPeriodUs = 1000000 / 30;

// The window's quadrants, as frame-clock paints them, about their centres.
struct Sample {
    QPoint at; // from the window's top-left
    QColor colour;
};
const Sample kQuadrants[] = {{{100, 75}, Qt::red},
                             {{300, 75}, Qt::green},
                             {{60, 200}, Qt::blue},
                             {{300, 225}, Qt::yellow}};
const QSize kWindow(400, 300);

QString tool(const QString& name, const QStringList& arguments, bool* ok = nullptr)
{
    const ProcessResult result = run(name, arguments);
    if (ok)
        *ok = result.exitCode == 0;
    if (result.exitCode != 0)
        qWarning("%s %s: %s", qPrintable(name), qPrintable(arguments.join(' ')),
                 result.err.constData());
    return QString::fromUtf8(result.out).trimmed();
}

bool xdotool(const QString& line)
{
    bool ok = false;
    tool(QStringLiteral("xdotool"), line.split(QLatin1Char(' ')), &ok);
    return ok;
}

// The window's top-left on the root window.
QPoint windowOrigin(const QString& window)
{
    const QString info = tool(QStringLiteral("xwininfo"), {"-id", window});
    QPoint origin(-1, -1);
    for (QString line : info.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1String("Absolute upper-left X:")))
            origin.setX(line.section(QLatin1Char(':'), 1).toInt());
        if (line.startsWith(QLatin1String("Absolute upper-left Y:")))
            origin.setY(line.section(QLatin1Char(':'), 1).toInt());
    }
    return origin;
}

bool near(QRgb pixel, QColor expected, int tolerance = 24)
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

// The milliseconds the bars right of the mark hold.
int64_t timeCode(const QImage& strip, QPoint mark)
{
    int64_t ms = 0;
    for (int bit = 0; bit < 24; ++bit)
        if (qGray(strip.pixel(mark.x() + 20 + bit * 10 + 5, mark.y() + 10)) > 128)
            ms |= int64_t(1) << bit;
    return ms;
}

// What the tests read back from a recording.
struct Movie {
    QSize size;
    QList<int64_t> pts; // µs
    QImage first, last;
    QList<int64_t> codes; // the bars of every frame, in ms
    QPoint mark;          // where the mark is in the first frame
};

} // namespace

class TestRecordCommand : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QProcess clock;
    QString window; // frame-clock's X window
    std::unique_ptr<QProcess> recorder;
    QString startedLine;
    QElapsedTimer sinceStarted; // from the line saying it records
    // From that line to asking it to stop, and to its end: `quorvel record
    // stop` takes a moment to start, and the movie ends in between.
    double recordedSeconds = 0, endedSeconds = 0;

    QString path(const QString& name) const { return dir.filePath(name); }

    // Starts `quorvel record ARGS`, drives the overlay with `steps` once it
    // holds the keyboard, and waits for the line saying it records.
    bool startRecording(const QStringList& arguments, const QStringList& steps = {})
    {
        recorder = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUORVEL_REPORT_OVERLAY"), QStringLiteral("1"));
        recorder->setProcessEnvironment(environment);
        recorder->start(quorvelBinary(), QStringList{"record"} + arguments);
        if (!recorder->waitForStarted(10000))
            return false;
        QByteArray err;
        if (!steps.isEmpty()) {
            if (!QTest::qWaitFor(
                    [&] {
                        err += recorder->readAllStandardError();
                        return err.contains("keyboard grabbed") ||
                               recorder->state() == QProcess::NotRunning;
                    },
                    20000) ||
                !err.contains("keyboard grabbed")) {
                qWarning("no overlay: %s", err.constData());
                return false;
            }
            for (const QString& step : steps)
                if (!xdotool(step))
                    return false;
        }
        QByteArray out;
        const bool started = QTest::qWaitFor(
            [&] {
                out += recorder->readAllStandardOutput();
                return out.contains('\n') || recorder->state() == QProcess::NotRunning;
            },
            20000);
        startedLine = QString::fromUtf8(out).trimmed();
        sinceStarted.start();
        if (!started || recorder->state() == QProcess::NotRunning)
            qWarning("not recording: %s %s", out.constData(),
                     (err + recorder->readAllStandardError()).constData());
        return started && recorder->state() == QProcess::Running;
    }

    // Lets it record until `ms` after it started (the movie's length is what
    // is tested), then ends it by `how`: "stop" runs `quorvel record stop`,
    // else a signal.
    ProcessResult stopRecording(int ms, const QString& how)
    {
        [[maybe_unused]] const bool waited =
            QTest::qWaitFor([&] { return sinceStarted.elapsed() >= ms; }, ms + 1000);
        recordedSeconds = sinceStarted.elapsed() / 1000.0;
        if (how == QLatin1String("stop")) {
            const ProcessResult stop = run(quorvelBinary(), {"record", "stop"});
            if (stop.exitCode != 0)
                qWarning("record stop: %s", stop.err.constData());
        } else {
            ::kill(pid_t(recorder->processId()), how == QLatin1String("SIGINT") ? SIGINT : SIGTERM);
        }
        recorder->waitForFinished(60000);
        endedSeconds = sinceStarted.elapsed() / 1000.0;
        ProcessResult result;
        result.exitCode =
            recorder->exitStatus() == QProcess::NormalExit ? recorder->exitCode() : -1;
        result.out = recorder->readAllStandardOutput();
        result.err = recorder->readAllStandardError();
        return result;
    }

    static bool read(const QString& file, Movie& movie)
    {
        bool ok = false;
        const QString size = tool(QStringLiteral("ffprobe"),
                                  {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                   "stream=width,height", "-of", "csv=p=0", file},
                                  &ok);
        const QStringList wh = size.split(QLatin1Char(','));
        if (!ok || wh.size() != 2)
            return false;
        movie.size = QSize(wh[0].toInt(), wh[1].toInt());
        const QString times = tool(QStringLiteral("ffprobe"),
                                   {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                    "frame=pts_time", "-of", "csv=p=0", file},
                                   &ok);
        for (const QString& t : times.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            movie.pts.append(std::llround(t.toDouble() * 1e6));
        const QString first = file + QStringLiteral(".first.png");
        const QString last = file + QStringLiteral(".last.png");
        tool(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-i", file, "-frames:v", "1", first});
        tool(QStringLiteral("ffmpeg"),
             {"-v", "error", "-y", "-sseof", "-0.5", "-i", file, "-update", "1", last});
        movie.first = QImage(first).convertToFormat(QImage::Format_RGB32);
        movie.last = QImage(last).convertToFormat(QImage::Format_RGB32);
        movie.mark = findMark(movie.first);
        if (movie.first.isNull() || movie.mark.x() < 0) {
            qWarning("no mark in the first frame of %s", qPrintable(file));
            return false;
        }
        // Every frame's bars, cut out by ffmpeg so the frames stay small.
        QProcess strips;
        strips.start(QStringLiteral("ffmpeg"),
                     {"-v", "error", "-i", file, "-fps_mode", "passthrough", "-vf",
                      QStringLiteral("crop=280:20:%1:%2").arg(movie.mark.x()).arg(movie.mark.y()),
                      "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
        if (!strips.waitForFinished(120000))
            return false;
        const QByteArray raw = strips.readAllStandardOutput();
        constexpr qsizetype stripBytes = 280 * 20 * 3;
        for (qsizetype at = 0; at + stripBytes <= raw.size(); at += stripBytes) {
            const QImage strip(reinterpret_cast<const uchar*>(raw.constData() + at), 280, 20,
                               280 * 3, QImage::Format_RGB888);
            movie.codes.append(timeCode(strip, {0, 0}));
        }
        if (movie.codes.size() != movie.pts.size() || movie.pts.isEmpty()) {
            qWarning("%lld frames, %lld times", qlonglong(movie.codes.size()),
                     qlonglong(movie.pts.size()));
            return false;
        }
        return true;
    }

    // Every frame time has its frame, each shows the screen at its time, the
    // length is what was recorded, and the window's picture is where the mark
    // says, first and last.
    void checkMovie(const Movie& movie)
    {
        const double length = (movie.pts.last() - movie.pts.first()) / 1e6 + 1 / 30.0;
        QVERIFY2(length > recordedSeconds - 0.3 && length < endedSeconds + 0.3,
                 qPrintable(QStringLiteral("%1 s of movie for %2 to %3 s recorded")
                                .arg(length)
                                .arg(recordedSeconds)
                                .arg(endedSeconds)));
        // Frame times come on the 30 fps grid. One may be missing where the
        // screen did not change (the writer keeps no identical frames) or
        // where the X server, on a machine busy with other work, answered
        // late; more than a few lost means the recording loses frames.
        // The last frame is the one before held until the stop, which may
        // come late by a frame time.
        int64_t lost = 0;
        for (qsizetype i = 1; i < movie.pts.size(); ++i) {
            const int64_t step = movie.pts[i] - movie.pts[i - 1];
            const int64_t periods = (step + kPeriodUs / 2) / kPeriodUs;
            if (i + 1 == movie.pts.size()) {
                QVERIFY2(step > 0 && periods <= 2,
                         qPrintable(QStringLiteral("the last frame comes %1 µs after the one before")
                                        .arg(step)));
                continue;
            }
            QVERIFY2(periods >= 1 && std::abs(step - periods * kPeriodUs) < 1500,
                     qPrintable(QStringLiteral("frame %1 comes %2 µs after the one before")
                                    .arg(i)
                                    .arg(step)));
            lost += periods - 1;
        }
        QVERIFY2(lost <= std::max<int64_t>(2, movie.pts.size() * 3 / 100),
                 qPrintable(QStringLiteral("%1 frame times of %2 lost").arg(lost).arg(movie.pts.size() + lost)));
        // The picture's own clock moves with the movie's. How old the window's
        // picture is when grabbed varies (it redraws every 8 ms when the
        // machine lets it), but stale or mistimed frames would age steadily.
        // The last frame may be the one before, held until the stop.
        qsizetype counted = movie.pts.size();
        if (counted > 1 && movie.codes[counted - 1] == movie.codes[counted - 2])
            --counted;
        QList<int64_t> ages;
        for (qsizetype i = 0; i < counted; ++i)
            ages.append(movie.pts[i] - movie.codes[i] * 1000);
        const int64_t youngest = *std::min_element(ages.begin(), ages.end());
        for (int64_t& age : ages)
            age -= youngest;
        const int64_t oldest = *std::max_element(ages.begin(), ages.end());
        const qsizetype mostIndex = ages.size() * 9 / 10;
        std::nth_element(ages.begin(), ages.begin() + mostIndex, ages.end());
        const int64_t most = ages[mostIndex];
        QVERIFY2(most < kPeriodUs && oldest < 200000,
                 qPrintable(QStringLiteral("the window's picture is up to %1 ms old in 9 "
                                           "frames of 10, %2 ms at most")
                                .arg(most / 1000)
                                .arg(oldest / 1000)));
        const QPoint window = movie.mark - QPoint(8, 8);
        for (const QImage* frame : {&movie.first, &movie.last})
            for (const Sample& s : kQuadrants)
                QVERIFY2(near(frame->pixel(window + s.at), s.colour),
                         qPrintable(QStringLiteral("%1 at %2,%3 of the %4 frame")
                                        .arg(describe(QColor(frame->pixel(window + s.at))))
                                        .arg(s.at.x())
                                        .arg(s.at.y())
                                        .arg(frame == &movie.first ? "first" : "last")));
        QCOMPARE(findMark(movie.last), movie.mark);
    }

    // Whether the pointer shows round `at` in the last frame: something there
    // is not the blue quadrant's.
    static bool pointerShown(const Movie& movie, QPoint at)
    {
        int other = 0;
        for (int y = at.y() - 8; y < at.y() + 8; ++y)
            for (int x = at.x() - 8; x < at.x() + 8; ++x)
                other += !near(movie.last.pixel(x, y), Qt::blue, 40);
        return other > 10;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // QUORVEL_KEEP=1 keeps the movies and their first and last frames to look at.
        if (!qEnvironmentVariableIsEmpty("QUORVEL_KEEP")) {
            dir.setAutoRemove(false);
            qInfo("movies in %s", qPrintable(dir.path()));
        }
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"), "no session bus");
        clock.start(QStringLiteral(QUORVEL_FRAME_CLOCK),
                    {"200", "150", QString::number(kWindow.width()),
                     QString::number(kWindow.height())});
        QVERIFY(clock.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return clock.canReadLine(); }, 20000));
        window = QString::fromUtf8(clock.readLine()).section(QLatin1Char(' '), 1).trimmed();
        QTRY_VERIFY(windowOrigin(window).x() >= 0);
    }

    // A test that failed half-way leaves no recorder behind for the next.
    void cleanup()
    {
        if (recorder && recorder->state() != QProcess::NotRunning) {
            recorder->kill();
            recorder->waitForFinished();
        }
    }

    void cleanupTestCase()
    {
        clock.kill();
        clock.waitForFinished();
    }

    void noneToStop()
    {
        const ProcessResult stop = run(quorvelBinary(), {"record", "stop"});
        QCOMPARE(stop.exitCode, 1);
        QCOMPARE(stop.err.trimmed(), QByteArray("Quorvel is not recording"));
    }

    // An area dragged over the window, the pointer left on its blue quadrant,
    // stopped by `quorvel record stop`; meanwhile a second start is refused.
    void area()
    {
        const QPoint origin = windowOrigin(window);
        const QPoint from = origin - QPoint(30, 20), to = origin + QPoint(kWindow.width() + 41, kWindow.height() + 25);
        const QString output = path("area.mp4");
        QVERIFY(startRecording({"area", "-o", output},
                               {QStringLiteral("mousemove %1 %2").arg(from.x()).arg(from.y()),
                                "mousedown 1",
                                QStringLiteral("mousemove %1 %2").arg(to.x()).arg(to.y()),
                                "mouseup 1",
                                QStringLiteral("mousemove %1 %2")
                                    .arg(origin.x() + 100)
                                    .arg(origin.y() + 262)}));
        QCOMPARE(startedLine,
                 QStringLiteral("Recording the screen; stop with `quorvel record stop` or Ctrl+C"));

        const ProcessResult second = run(quorvelBinary(), {"record", "full", "-o", path("second.mp4")});
        QCOMPARE(second.exitCode, 1);
        QCOMPARE(second.err.trimmed(),
                 QByteArray("Quorvel is already recording; stop it with `quorvel record stop`"));
        QVERIFY(!QFile::exists(path("second.mp4")));

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

    // The whole screen without the pointer, ended by Ctrl+C.
    void fullWithoutPointer()
    {
        const QPoint origin = windowOrigin(window);
        QVERIFY(xdotool(QStringLiteral("mousemove %1 %2").arg(origin.x() + 100).arg(origin.y() + 262)));
        const QString output = path("full.mp4");
        QVERIFY(startRecording({"full", "--no-cursor", "-o", output}));
        const ProcessResult done = stopRecording(2500, "SIGINT");
        QCOMPARE(done.exitCode, 0);
        Movie movie;
        QVERIFY(read(output, movie));
        QCOMPARE(movie.mark, origin + QPoint(8, 8));
        checkMovie(movie);
        QVERIFY(!pointerShown(movie, origin + QPoint(100, 262)));
    }

    // A clicked window, followed as it moves, ended by SIGTERM.
    void windowFollowed()
    {
        const QPoint origin = windowOrigin(window);
        const QString output = path("window.mp4");
        QVERIFY(startRecording({"window", "--no-cursor", "-o", output},
                               {QStringLiteral("mousemove %1 %2").arg(origin.x() + 50).arg(origin.y() + 50),
                                "click 1"}));
        QVERIFY(xdotool(QStringLiteral("windowmove %1 300 220").arg(window)));
        QTRY_VERIFY(windowOrigin(window) != origin);
        const ProcessResult done = stopRecording(2500, "SIGTERM");
        QCOMPARE(done.exitCode, 0);
        Movie movie;
        QVERIFY(read(output, movie));
        // The window manager's frame is part of the window.
        QVERIFY(movie.size.width() >= kWindow.width() && movie.size.width() < kWindow.width() + 40);
        checkMovie(movie);
        QVERIFY(xdotool(QStringLiteral("windowmove %1 200 150").arg(window)));
    }
};

QTEST_GUILESS_MAIN(TestRecordCommand)
#include "tst_record_command.moc"
