// The app's recordings: a stand-in recorder process on a private session bus,
// started, stopped, and its movie opened as a chosen one would be; and how
// each other ending is told.

#include "open_flow.h"
#include "private_bus.h"
#include "recording_flow.h"
#include "screen_recorder.h"
#include "scripted_backend.h"
#include "stand_in_panel.h"
#include "test_support.h"

#include <QTemporaryDir>
#include <QtTest>

class RecordingFlowTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    test_support::PrivateBus m_bus;
    ScriptedBackend m_backend;
    StandInPanel m_panel;
    QList<EditorRequest> m_opened;
    QStringList m_lines;
    OpenFlow m_opener{{m_backend, m_panel, [this](const EditorRequest& r) { m_opened << r; }, {}},
                      OpenedFrom::trayPanel};
    std::unique_ptr<RecordingFlow> m_flow;

    RecordingFlow& makeFlow(const QString& program = QStringLiteral(QUORVEL_STAND_IN_RECORDER))
    {
        m_flow = std::make_unique<RecordingFlow>(
            RecordingFlow::Services{program, m_dir.filePath("Videos"),
                                    [] { return QDateTime(QDate(2026, 12, 7), QTime(8, 15, 0)); },
                                    [this](const QString& line) { m_lines << line; }});
        return *m_flow;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_bus.start(m_dir.path(), "recording-flow-test")); }
    void init()
    {
        m_opened.clear();
        m_lines.clear();
        QDir(m_dir.filePath("Videos")).removeRecursively();
    }
    void cleanup()
    {
        m_flow.reset();
        qunsetenv("STAND_IN_RECORDER_MODE");
    }

    void recordsStopsAndOpens()
    {
        RecordingFlow& flow = makeFlow();
        ScreenRecorder model;
        flow.drive(model);
        QCOMPARE(flow.start(ScreenshotTypes::area, {true, false}, m_opener), QString());
        QTRY_VERIFY(flow.isRecording());
        const QString path = m_dir.filePath("Videos/Quorvel Recording 2026-12-07 at 08.15.00.mp4");
        // The model knows what is recorded and where it goes, while it is.
        QVERIFY(model.isRecording() && model.contentFilter() == ScreenshotTypes::area);
        QCOMPARE(model.streamOutput()->url(), QUrl::fromLocalFile(path));
        // One recording at a time: a second start says so and runs nothing.
        QCOMPARE(flow.start(ScreenshotTypes::full, {}, m_opener),
                 QStringLiteral("Quorvel is already recording"));

        QCOMPARE(flow.stop(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(m_opened.size(), 1, 20000);
        QVERIFY(!flow.isRecording() && !model.contentFilter() && model.streamOutput()->url().isEmpty());
        QCOMPARE(m_lines, QStringList{"quorvel: recording without sound from now on: the output "
                                      "went away"}); // passed on while it records, once
        QCOMPARE(m_opened.first().movie, QUrl::fromLocalFile(path));
        QCOMPARE(test_support::fileBytes(path),
                 "record area --audio --no-cursor -o " + path.toUtf8());

        // The next recording within the same second does not take that name.
        QCOMPARE(flow.start(ScreenshotTypes::full, {}, m_opener), QString());
        const QString second = path.chopped(4) + " (2).mp4";
        QTRY_COMPARE(test_support::fileBytes(second), "record full -o " + second.toUtf8());
    }

    void otherEndings_data()
    {
        QTest::addColumn<QByteArray>("mode"); // empty: no recorder program at all
        QTest::addColumn<QString>("line");    // a part of it; empty: no line at all
        QTest::newRow("pick cancelled") << QByteArray("cancel") << QString();
        QTest::newRow("the recorder's own reason")
            << QByteArray("fail") << QString("quorvel: cannot record area: the screen went away");
        QTest::newRow("crashed while recording")
            << QByteArray("crash") << QString("what was recorded is kept beside");
        QTest::newRow("no recorder program")
            << QByteArray() << QString("cannot start the recorder");
    }
    void otherEndings()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QString, line);
        qputenv("STAND_IN_RECORDER_MODE", mode);
        RecordingFlow& flow = makeFlow(mode.isEmpty() ? m_dir.filePath("no-such-program")
                                                      : QString(QUORVEL_STAND_IN_RECORDER));
        QSignalSpy failed(&flow, &RecordingFlow::failed);
        QCOMPARE(flow.start(ScreenshotTypes::area, {}, m_opener), QString());
        if (mode == "crash") {
            QTRY_VERIFY(flow.isRecording());
            QCOMPARE(flow.stop(), QString());
        }
        QTRY_COMPARE_WITH_TIMEOUT(flow.state(), RecordingFlow::State::idle, 20000);
        QTRY_VERIFY(!flow.isRecording() && m_opened.isEmpty()); // the bus may tell after the end
        QCOMPARE(failed.size(), line.isEmpty() ? 0 : 1);
        QVERIFY2(m_lines.size() == failed.size() && m_lines.join('\n').contains(line),
                 qPrintable(m_lines.join('\n')));
        // Whatever the ending, the next recording can start.
        qputenv("STAND_IN_RECORDER_MODE", "cancel");
        QCOMPARE(flow.start(ScreenshotTypes::area, {}, m_opener), QString());
    }

    // A recording a command started before the app came is found by asking,
    // refuses a start and is stopped from here; its file is not ours to open.
    void someoneElsesRecording()
    {
        QProcess other;
        other.start(QUORVEL_STAND_IN_RECORDER,
                    {"record", "full", "-o", m_dir.filePath("theirs.mp4")});
        QVERIFY(other.waitForReadyRead(10000));
        RecordingFlow& flow = makeFlow();
        QTRY_VERIFY(flow.isRecording());
        QCOMPARE(flow.start(ScreenshotTypes::area, {}, m_opener),
                 QStringLiteral("Quorvel is already recording"));
        QCOMPARE(flow.stop(), QString());
        QTRY_VERIFY(!flow.isRecording());
        QVERIFY(m_opened.isEmpty());
        QCOMPARE(flow.stop(), QStringLiteral("Quorvel is not recording"));
    }
};

QTEST_MAIN(RecordingFlowTest)
#include "tst_recording_flow.moc"
