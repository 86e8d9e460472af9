// Quorvel on a real Wayland desktop: headless sway with the screenshot portal
// and its wlroots backend (run-under-sway); what the portal gives is checked
// against grim, which reads the same screen. Also run without PipeWire (no
// screenshots) and at a fractional scale (every pixel kept, the density recorded).

#include "wayland_session.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <cmath>

using session::quorvel;

namespace {

// What grim sees on the whole screen now.
QImage screen()
{
    return QImage::fromData(test_support::run("grim", {"-"}).out)
        .convertToFormat(QImage::Format_RGB32);
}

// How many slurps run: the wlroots backend's child, not ours, so looked for, not waited on.
int slurps()
{
    return test_support::run("pgrep", {"-c", "-x", "slurp"}).out.trimmed().toInt();
}

// The windows sway shows, by the protocol each came through (xdg_shell is
// native Wayland, xwayland is not), as `swaymsg -t get_tree` lists them.
QStringList swayViews()
{
    const auto tree = test_support::run(QStringLiteral("swaymsg"), {"-t", "get_tree", "-r"});
    QStringList found;
    std::function<void(const QJsonObject&)> walk = [&](const QJsonObject& node) {
        if (node.contains("shell"))
            found << node.value("shell").toString();
        for (const char* children : {"nodes", "floating_nodes"})
            for (const QJsonValue& child : node.value(children).toArray())
                walk(child.toObject());
    };
    walk(QJsonDocument::fromJson(tree.out).object());
    return found;
}

} // namespace

class SwaySession : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QImage m_background; // the screen with no window on it
    QProcess m_input;    // sway-input: a pointer and a keyboard on the seat throughout

    // Has sway-input do `command` (none: once started) and waits until the compositor has it.
    bool input(const QByteArray& command = {})
    {
        if (!command.isEmpty())
            m_input.write(command + '\n');
        return QTest::qWaitFor([this] { return m_input.canReadLine(); }, 10000) &&
               m_input.readLine() == "ok\n";
    }
    // slurp takes input once its surface is on the screen, a veil over the
    // whole output; a gesture made before would be half lost.
    bool slurpShows()
    {
        return QTest::qWaitFor(
            [this] { return slurps() == 1 && screen().pixel(5, 5) != m_background.pixel(5, 5); },
            10000);
    }
    bool ended(const QList<QByteArray>& gesture)
    {
        for (const QByteArray& command : gesture)
            if (!input(command))
                return false;
        return QTest::qWaitFor([] { return slurps() == 0; }, 5000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("SWAYSOCK"), "run this under run-under-sway");
        QVERIFY(m_dir.isValid());
        m_background = screen();
        QCOMPARE(m_background.size(), QSize(1280, 720));
        m_input.start(QStringLiteral(QUORVEL_SWAY_INPUT), QStringList());
        QVERIFY(input());
    }
    void cleanupTestCase()
    {
        m_input.closeWriteChannel();
        m_input.waitForFinished(5000);
    }

    // On wlroots an area and a window are the same drag, and doctor says so.
    void doctorSaysWhatEachKindShows()
    {
        session::doctorSays("wlr", "sway",
                            {"Capture area: a drag on the screen over the area.*Escape",
                             "Capture window: a drag on the screen over the window.*Escape",
                             "Clipboard manager: wl-copy"});
    }

    // The whole screen at once, with no drag and no pointer: every pixel as grim sees it, and
    // 72 dpi for each device pixel per point. At a fractional scale the portal's picture
    // (grim's, through the wlroots backend) differs from a plain grim in its top row alone:
    // the row is sampled half a pixel apart.
    void fullScreenAtOnce()
    {
        const QString out = m_dir.filePath("full.png");
        QProcess command;
        session::startCapture(command, {"full", "-o", out, "--padding", "0"});
        const QImage shot = session::captured(command, out);
        QVERIFY2(shot.size() == QSize(1280, 720), "capture full failed or asked for a drag");
        const double scale = qEnvironmentVariable("QUORVEL_SWAY_SCALE").toDouble();
        const QRect compared = shot.rect().adjusted(0, scale == std::floor(scale) ? 0 : 1, 0, 0);
        QCOMPARE(test_support::differingShare(shot.copy(compared), screen().copy(compared), 1),
                 0.0);
        QCOMPARE(shot.dotsPerMeterX(), qRound(72 * scale / 0.0254));
        QCOMPARE(shot.dotsPerMeterY(), qRound(72 * scale / 0.0254));
    }

    // The app runs natively (Wayland, not XWayland): its main window is a view of sway's.
    // Capture Area in it is a drag through the portal, with the window off the screen until
    // the portal has answered, then back beside the editor that opens on the capture,
    // which is also on the compositor's clipboard (set with the click's input serial). The
    // editor gets half the screen, a tile narrower than it would like, and fits in it. Ctrl+C
    // in the editor copies the composed picture (the key's serial lets the app set the
    // clipboard itself).
    void nativeWindows()
    {
        QProcess app;
        session::startNatively(app);
        QVERIFY(QTest::qWaitFor([] { return swayViews() == QStringList{"xdg_shell"}; }, 15000));
        QVERIFY(QTest::qWaitFor(
            [this] { return test_support::differingShare(screen(), m_background) > 0.2; }, 10000));
        session::saveForALook("QUORVEL_SWAY_SCREENSHOTS", screen(), "main-window.png");
        // The drag goes over the window's icon and title, but the window has
        // left the screen for it: the picture is the desktop behind.
        QVERIFY(input("move 640 427") && input("press") && input("release")); // Capture Area
        QVERIFY(slurpShows());
        QVERIFY(ended({"move 580 200", "press", "move 640 260", "move 700 320", "release"}));
        QTRY_COMPARE_WITH_TIMEOUT(swayViews(), (QStringList{"xdg_shell", "xdg_shell"}), 15000);
        QImage pasted;
        QTRY_COMPARE_WITH_TIMEOUT((pasted = session::pasted()).size(), QSize(121, 121), 10000);
        // The pointer, drawn into the screen, sits on the last corner.
        QVERIFY(test_support::differingShare(pasted, m_background.copy(580, 200, 121, 121), 1) <
                0.02);

        // The right tile's last columns are the window's own background, top
        // to bottom, once the editor is drawn there.
        const auto fits = [this] {
            const QImage shown = screen();
            if (shown.pixel(1000, 360) == m_background.pixel(1000, 360))
                return false; // not drawn yet
            for (int y = 0; y < shown.height(); ++y)
                if (shown.pixel(1276, y) != shown.pixel(1276, 0))
                    return false;
            return true;
        };
        const bool fitted = QTest::qWaitFor(fits, 10000);
        session::saveForALook("QUORVEL_SWAY_SCREENSHOTS", screen(), "editor-tiled.png");
        QVERIFY2(fitted, "the editor runs past its tile");

        QVERIFY(input("move 1000 300") && input("press") && input("release")); // the editor
        QVERIFY(input("ctrl c"));
        // The capture on its background, 40 points of padding all round.
        QTRY_COMPARE_WITH_TIMEOUT(session::pasted().size(), QSize(201, 201), 10000);
        QCOMPARE(session::pasted().pixel(100, 100), pasted.pixel(60, 60));
        // Gone from the screen, so what a later test sees there is its own.
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
        QVERIFY(QTest::qWaitFor([this] { return screen().pixel(5, 5) == m_background.pixel(5, 5); },
                                10000));
    }

    void copyLandsOnTheClipboard()
    {
        session::copyLandsOnTheClipboard(m_dir.filePath("copied.png"));
    }

    // A dragged area keeps every pixel, and its density is 72 dpi for each of the output's
    // pixels per point, as the full screen's is, though Qt rounds a scale of 1.5 up to 2.
    void areaAtTheOutputScale()
    {
        const QString out = m_dir.filePath("area.png");
        QProcess command;
        session::startCapture(command, {"area", "-o", out, "--padding", "0"});
        QVERIFY(slurpShows());
        QVERIFY(ended({"move 300 300", "press", "move 400 400", "move 500 500", "release"}));
        const QImage shot = session::captured(command, out, 10000);
        const double scale = qEnvironmentVariable("QUORVEL_SWAY_SCALE").toDouble();
        QVERIFY2(qAbs(shot.width() - 200) <= 2, "not the 200 pixels dragged over");
        QCOMPARE(shot.dotsPerMeterX(), qRound(72 * scale / 0.0254));
    }

    // Escape during the drag: the backend ends the request without a picture, which is
    // cancelled, not failed: one line, nothing written (SIGTERM: tst_portal_capture). Last:
    // the wlroots backend is busy until its drag ends.
    void cancelledByEscape()
    {
        const QString out = m_dir.filePath("cancelled.png");
        QProcess command;
        session::startCapture(command, {"window", "-o", out});
        QVERIFY(slurpShows());
        QVERIFY(ended({"key Escape"}));
        QVERIFY(command.waitForFinished(10000));
        QCOMPARE(command.exitCode(), 1);
        QVERIFY(command.readAllStandardError().contains("the capture was cancelled"));
        QVERIFY(!QFile::exists(out));
    }
};

// sway without PipeWire, as on a desktop that never started it: the portal
// runs, its wlroots backend cannot, so there are no screenshots.
class SwayWithoutPipeWire : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A capture says so in our words (doctor: tst_doctor).
    void noScreenshots()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("full.png");
        const auto capture = quorvel({"capture", "full", "-o", out});
        QCOMPARE(capture.exitCode, 1);
        QVERIFY(capture.err.contains("portal offers no screenshots"));
        QVERIFY(!QFile::exists(out));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    SwayWithoutPipeWire withoutPipeWire;
    SwaySession full;
    if (qEnvironmentVariable("QUORVEL_SWAY_PIPEWIRE") == u"0")
        return QTest::qExec(&withoutPipeWire, argc, argv);
    // On a HiDPI screen (--scale 1.5) captures alone: their pixels and density.
    if (qEnvironmentVariable("QUORVEL_SWAY_SCALE") != u"1")
        return QTest::qExec(
            &full, {app.arguments().constFirst(), "fullScreenAtOnce", "areaAtTheOutputScale"});
    return QTest::qExec(&full, argc, argv);
}

#include "tst_sway_session.moc"
