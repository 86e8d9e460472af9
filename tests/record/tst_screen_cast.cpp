// The screen-cast portal and the PipeWire stream it shares, for real: the
// xdg-desktop-portal frontend forwards to our test backend, which shares a
// GStreamer test pattern through PipeWire (see run-with-screen-cast).

#include "screen_cast_portal.h"
#include "test_support.h"

#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <atomic>

namespace {

// One request and what it ended with.
struct Answer {
    QObject context;
    bool done = false, cancelled = false;
    QString error;
    std::unique_ptr<FrameSource> source;

    ScreenCastPortal::Done into()
    {
        return [this](Result<std::unique_ptr<FrameSource>> result, bool byPerson) {
            done = true, cancelled = byPerson, error = result.error();
            if (result.ok())
                source = std::move(result).value();
        };
    }
};

// Frames as the sink sees them, from the source's thread: how many, the last
// one's bottom-right pixel as 0xRRGGBB, and why they stopped (set before `ended`).
struct Frames {
    std::atomic<int> count{0};
    std::atomic<uint32_t> corner{0};
    QString failure;
    std::atomic<bool> ended{false};

    FrameSink sink()
    {
        return {[this](const ScreenFrame& f) {
                    const uint8_t* p =
                        f.pixels + (f.size.height() - 1) * f.stride + (f.size.width() - 1) * 4;
                    const bool rgb = f.format == AV_PIX_FMT_RGB0;
                    corner = uint32_t(p[rgb ? 0 : 2]) << 16 | p[1] << 8 | p[rgb ? 2 : 0];
                    ++count;
                },
                [this](const QString& reason) { failure = reason, ended = true; }};
    }
};

// Calls the test backend's control interface and returns its reply.
QDBusMessage callBackend(const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall("io.github.quorvel.TestScreenCast",
                                                       "/io/github/quorvel/TestScreenCast",
                                                       "io.github.quorvel.TestScreenCast", method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call);
}

void answerNextStart(const QString& how, const QVariantMap& stream = {})
{
    const QDBusMessage reply = callBackend("Answer", {how, stream});
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
}

// The backend's events of one kind since the test began, e.g. {"event": "select-sources", ...}.
QJsonArray events(const QString& name)
{
    QJsonArray found;
    const QString log = callBackend("Log").arguments().value(0).toString();
    for (const QJsonValue event : QJsonDocument::fromJson(log.toUtf8()).array())
        if (event["event"].toString() == name)
            found.append(event);
    return found;
}

} // namespace

class TestScreenCast : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // run-with-screen-cast starts everything; without it there is nothing to test.
        QVERIFY2(qEnvironmentVariableIsSet("QUORVEL_SCREEN_CAST_BACKEND"),
                 "run this test under tests/record/run-with-screen-cast");
    }

    // What is asked for, whatever then happens. A share: frames of the
    // pattern's size and colour; our stop closes the portal's session and no
    // frame comes after it, or the desktop ends the share (its own "stop
    // sharing" button) and the sink hears it in our words. Cancelled in the
    // chooser (1), ended there with "other" (2), or our cancel while it is
    // open: a person choosing nothing; the chooser goes, and the session.
    void asksThePortal_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<ScreenCastKind>("kind");
        QTest::addColumn<bool>("showCursor");
        QTest::addColumn<QString>("format");
        QTest::newRow("monitor, BGRx, we stop")
            << "share" << ScreenCastKind::monitor << true << "BGRx";
        QTest::newRow("window, RGBx, no cursor, the desktop stops")
            << "share" << ScreenCastKind::window << false << "RGBx";
        QTest::newRow("cancelled") << "cancel" << ScreenCastKind::window << true << "";
        QTest::newRow("other") << "fail" << ScreenCastKind::monitor << false << "";
        QTest::newRow("our cancel") << "hold" << ScreenCastKind::monitor << true << "";
    }
    void asksThePortal()
    {
        QFETCH(QString, how);
        QFETCH(ScreenCastKind, kind);
        QFETCH(bool, showCursor);
        QFETCH(QString, format);
        const auto sessionsBefore = events("session-closed").size();
        const auto requestsBefore = events("request-closed").size();
        const auto startsBefore = events("start").size();
        // A colour whose channels all differ, so swapped red and blue show.
        answerNextStart(how, {{"pattern", "solid-color"},
                              {"color", int(0xff3366cc)},
                              {"width", 320},
                              {"height", 200},
                              {"format", format}});
        Answer answer;
        ScreenCastPortal* portal =
            requestScreenCast(kind, showCursor, &answer.context, answer.into());
        if (how == "hold") {
            QTRY_COMPARE_WITH_TIMEOUT(events("start").size(), startsBefore + 1, 20000);
            QVERIFY(portal->cancel());
            QTRY_COMPARE_WITH_TIMEOUT(events("request-closed").size(), requestsBefore + 1, 10000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(answer.done, 20000);

        const QJsonValue options = events("select-sources").last()["options"];
        QCOMPARE(options["types"].toInt(), kind == ScreenCastKind::window ? 2 : 1);
        // Offered: hidden 1, embedded 2, metadata 4; the best one that shows
        // the cursor, or hidden when it should not show.
        const int offered = qEnvironmentVariableIntValue("QUORVEL_TEST_CURSOR_MODES");
        const int expected = !showCursor ? 1 : (offered & 2) ? 2 : (offered & 4) ? 4 : 1;
        QCOMPARE(options["cursor_mode"].toInt(), expected);
        if (how != "share") {
            QVERIFY(answer.cancelled && !answer.source);
            QTRY_COMPARE_WITH_TIMEOUT(events("session-closed").size(), sessionsBefore + 1, 10000);
            return;
        }

        QVERIFY2(answer.source, qPrintable(answer.error));
        Frames frames;
        QString error;
        QVERIFY2(answer.source->start(frames.sink(), &error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(frames.count >= 3, 10000);
        QCOMPARE(frames.corner, 0x3366ccu);
        if (kind == ScreenCastKind::window) {
            callBackend("StopSharing");
            QTRY_VERIFY_WITH_TIMEOUT(frames.ended, 10000);
            QCOMPARE(frames.failure, "the desktop stopped sharing the screen");
            return;
        }
        answer.source->stop();
        const int afterStop = frames.count;
        QTRY_COMPARE_WITH_TIMEOUT(events("session-closed").size(), sessionsBefore + 1, 10000);
        QCOMPARE(frames.count, afterStop);
        QVERIFY(!frames.ended);
    }

    // `quorvel record` on Wayland: the portal's chooser picks, the movie is
    // the shared screen, and a dismissed chooser writes nothing.
    void recordsThroughThePortal()
    {
        const QString quorvel = qEnvironmentVariable("QUORVEL_BINARY");
        QVERIFY2(QFileInfo(quorvel).isExecutable(), "QUORVEL_BINARY names no program");
        QProcessEnvironment wayland = QProcessEnvironment::systemEnvironment();
        wayland.insert("XDG_SESSION_TYPE", "wayland");
        wayland.insert("QT_QPA_PLATFORM", "offscreen");
        QTemporaryDir folder;
        const QString movie = folder.filePath("recording.mp4");
        const auto recordFull = [&](QProcess& recorder) {
            recorder.setProcessEnvironment(wayland);
            recorder.start(quorvel, {"record", "full", "-o", movie});
        };

        answerNextStart("cancel");
        QProcess dismissed;
        recordFull(dismissed);
        QVERIFY(dismissed.waitForFinished(20000));
        QCOMPARE(dismissed.exitCode(), 130);
        QVERIFY(!QFileInfo::exists(movie));

        answerNextStart("share", {{"pattern", "smpte"}, {"width", 320}, {"height", 240}});
        QProcess recorder;
        recordFull(recorder);
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += recorder.readAllStandardOutput()).contains("Recording") ||
                                     recorder.state() == QProcess::NotRunning,
                                 20000);
        QCOMPARE(recorder.state(), QProcess::Running);
        // A second of pictures is on the disk once the first cluster is flushed.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(movie + ".recording.mkv").size() > 16384, 10000);
        QCOMPARE(test_support::run(quorvel, {"record", "stop"}).exitCode, 0);
        QVERIFY(recorder.waitForFinished(20000));
        QVERIFY2(recorder.exitCode() == 0, recorder.readAllStandardError().constData());

        const auto probe =
            test_support::run("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                          "stream=codec_name,width,height:format=duration", "-of",
                                          "default=nw=1", movie});
        QCOMPARE(probe.exitCode, 0);
        QVERIFY2(probe.out.contains("codec_name=h264\nwidth=320\nheight=240\n"),
                 probe.out.constData());
        const double duration =
            probe.out.mid(probe.out.indexOf("duration=") + 9).trimmed().toDouble();
        QVERIFY2(duration >= 0.8, probe.out.constData());

        const QString still = folder.filePath("last.png");
        const auto extracted = test_support::run("ffmpeg", {"-v", "error", "-sseof", "-0.5", "-i",
                                                            movie, "-frames:v", "1", "-y", still});
        QVERIFY2(extracted.exitCode == 0, extracted.err.constData());
        const QImage image(still);
        // The top bars, left to right: white, yellow, cyan, green, magenta, red, blue.
        const QList<QPair<int, QRgb>> bars{{20, qRgb(255, 255, 255)},
                                           {160, qRgb(0, 255, 0)},
                                           {250, qRgb(255, 0, 0)},
                                           {300, qRgb(0, 0, 255)}};
        for (const auto& [x, expected] : bars)
            QUORVEL_COMPARE_COLOR(image.pixelColor(x, 40), QColor(expected), 31);
    }
};

QTEST_GUILESS_MAIN(TestScreenCast)
#include "tst_screen_cast.moc"
