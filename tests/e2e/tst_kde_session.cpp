// Quorvel on a real KDE desktop: headless KWin with the desktop's screenshot
// portal and its KDE backend, started by run-under-kde. KWin itself is the
// oracle: its own screenshot interface reads the screen the portal reads.
//
// What KDE does its own way (the rest: tst_sway_session): `doctor`, the full
// screen at once, `--copy` through KWin's data-control, the app's native
// windows drawn, and the portal's dialog (shown for an area or a window):
// driven through KWin's fake input, and closed when the capture is stopped.

#include "wayland_session.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

using session::quorvel;

namespace {

// What KWin shows on the whole screen now, pointer included as the portal
// takes it: its ScreenShot2 interface writes the raw pixels into a pipe.
QImage screen()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    QDBusMessage reply;
    {
        QDBusMessage call =
            QDBusMessage::createMethodCall("org.kde.KWin", "/org/kde/KWin/ScreenShot2",
                                           "org.kde.KWin.ScreenShot2", "CaptureWorkspace");
        call << QVariantMap{{"include-cursor", true}}
             << QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]));
        ::close(fds[1]);
        reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    } // the message's copy of the write end goes with it, so the pipe ends
    QFile pipe;
    pipe.open(fds[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QByteArray pixels = pipe.readAll();
    QVariantMap shot;
    reply.arguments().value(0).value<QDBusArgument>() >> shot;
    const int width = shot["width"].toInt(), height = shot["height"].toInt();
    const int stride = shot["stride"].toInt();
    if (reply.type() != QDBusMessage::ReplyMessage || pixels.size() < qsizetype(stride) * height) {
        qWarning() << "KWin's screenshot:" << reply.errorMessage() << pixels.size();
        return {};
    }
    return QImage(reinterpret_cast<const uchar*>(pixels.constData()), width, height, stride,
                  QImage::Format(shot["format"].toInt()))
        .convertToFormat(QImage::Format_RGB32);
}

// How many of the screen's pixels are exactly `color`.
int pixelsOf(const QImage& shown, QRgb color)
{
    int count = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            count += shown.pixel(x, y) == color;
    return count;
}

// The frames of the windows KWin shows, by caption, as its scripting sees
// them: a script of ours prints them into KWin's log.
QHash<QString, QRect> windows(const QString& folder)
{
    static int runs = 0;
    const QString marker = QStringLiteral("quorvel-windows-%1").arg(++runs);
    const QString script = QStringLiteral("%1/%2.js").arg(folder, marker);
    test_support::fileBytes(
        script, QStringLiteral("workspace.clientList().forEach(c => print('%1 ' + JSON.stringify("
                               "{caption: c.caption, x: c.frameGeometry.x, y: c.frameGeometry.y,"
                               " width: c.frameGeometry.width, height: c.frameGeometry.height})));"
                               " print('%1 end');")
                    .arg(marker)
                    .toUtf8());
    for (const auto& [method, arguments] :
         {std::pair{"loadScript", QVariantList{script, marker}}, {"start", QVariantList{}}}) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", method);
        call.setArguments(arguments);
        QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    }
    const QString prefix = "js: " + marker + ' ';
    QString log;
    QTest::qWaitFor(
        [&] {
            log = QString::fromUtf8(test_support::fileBytes(qEnvironmentVariable("QUORVEL_KDE_LOG")));
            return log.contains(prefix + "end");
        },
        10000);
    QHash<QString, QRect> found;
    for (const QString& line : log.split(u'\n')) {
        if (!line.startsWith(prefix) || line.endsWith(" end"))
            continue;
        const QJsonObject w = QJsonDocument::fromJson(line.mid(prefix.size()).toUtf8()).object();
        found[w["caption"].toString()] =
            QRect(w["x"].toInt(), w["y"].toInt(), w["width"].toInt(), w["height"].toInt());
    }
    return found;
}

// The portal's dialog once KWin shows it (KWin titles it after its program).
QRect portalDialog(const QString& folder)
{
    const QHash<QString, QRect> shown = windows(folder);
    for (auto it = shown.begin(); it != shown.end(); ++it)
        if (it.key().startsWith(u"Request screenshot"))
            return it.value();
    return {};
}

// The compositor's clipboard picture as wl-paste reads it. With nothing on
// the clipboard KWin tells wl-paste nothing at all, and it waits: bounded.
QImage pasted()
{
    QProcess paste;
    paste.start("wl-paste", {"--type", "image/png"});
    if (!paste.waitForFinished(3000)) {
        paste.kill();
        paste.waitForFinished();
        return {};
    }
    return QImage::fromData(paste.readAllStandardOutput());
}

// wl-copy's keepers serving this session's clipboard (other sessions' may
// run beside it).
int keepers()
{
    const QByteArray display = "WAYLAND_DISPLAY=" + qgetenv("WAYLAND_DISPLAY");
    int count = 0;
    const auto found = test_support::run("pgrep", {"-f", "wl-copy --type image/png"});
    for (const QByteArray& pid : found.out.split('\n'))
        if (!pid.isEmpty())
            count += test_support::fileBytes("/proc/" + pid + "/environ").split('\0').contains(display);
    return count;
}

// Clicks and keys through kde-input: "X Y" clicks, "ctrl+c" presses keys.
bool input(const QStringList& steps)
{
    return test_support::run(QStringLiteral(QUORVEL_KDE_INPUT), steps).exitCode == 0;
}

bool click(QPoint at)
{
    return input({QString::number(at.x()), QString::number(at.y())});
}

} // namespace

class KdeSession : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QImage m_background; // the screen with no window on it
    QProcess m_app;      // the app, natively, from nativeWindows on

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("QUORVEL_KDE_LOG"), "run this under run-under-kde");
        QVERIFY(m_dir.isValid());
        m_background = screen();
        QCOMPARE(m_background.size(), QSize(1280, 720));
    }
    void cleanupTestCase()
    {
        m_app.terminate();
        m_app.waitForFinished(10000);
    }

    // KDE's backend shows its dialog for an area and a window alike.
    void doctorSaysWhatEachKindShows()
    {
        session::doctorSays("kde", "KDE",
                            {"Capture area: the desktop's own screenshot dialog.*Cancel",
                             "Capture window: the desktop's own screenshot dialog.*Cancel",
                             "Clipboard manager: wl-copy"});
    }

    // The app runs natively (KWin runs no XWayland here, so whatever shows is
    // a Wayland client): its main window is drawn, and so is an editor opened
    // on a picture, the picture's own colour on the screen, the whole editor
    // within the screen. Ctrl+C in it lands on the compositor's clipboard (the
    // key's serial lets the app set the selection itself).
    void nativeWindows()
    {
        session::startNatively(m_app);
        QVERIFY(QTest::qWaitFor(
            [this] { return test_support::differingShare(screen(), m_background) > 0.1; },
            15000));
        session::saveForALook("QUORVEL_KDE_SCREENSHOTS", screen(), "main-window.png");

        const QString picture = m_dir.filePath("picture.png");
        QUORVEL_MAGICK("-size", "400x300", "xc:#c03090", picture);
        QCOMPARE(quorvel({"open", picture}).exitCode, 0);
        const bool drawn = QTest::qWaitFor(
            [] { return pixelsOf(screen(), qRgb(0xc0, 0x30, 0x90)) > 200 * 150; }, 15000);
        session::saveForALook("QUORVEL_KDE_SCREENSHOTS", screen(), "editor.png");
        QVERIFY2(drawn, "the editor does not show the picture");
        // All of it on the screen, its export button too.
        const QRect editor = windows(m_dir.path()).value("picture.png — Quorvel");
        QVERIFY(!editor.isEmpty());
        QVERIFY2(m_background.rect().contains(editor),
                 qPrintable(QStringLiteral("the editor runs past the screen: %1,%2 %3x%4")
                                .arg(editor.x())
                                .arg(editor.y())
                                .arg(editor.width())
                                .arg(editor.height())));

        // Ctrl+C there copies the composed picture: 40 points of padding all round.
        QVERIFY(input({"1000", "300", "ctrl+c"}));
        QImage copied;
        QVERIFY2(QTest::qWaitFor([&] { return (copied = pasted()).size() == QSize(480, 380); },
                                 10000),
                 "Ctrl+C copies nothing");
        QCOMPARE(copied.pixel(240, 190), qRgb(0xc0, 0x30, 0x90));
    }

    // The whole screen at once, with no dialog: every pixel as KWin sees it,
    // the app's windows on it.
    void fullScreenAtOnce()
    {
        const QString out = m_dir.filePath("full.png");
        QProcess command;
        command.start(test_support::quorvelBinary(),
                      {"capture", "full", "-o", out, "--padding", "0"});
        QVERIFY2(command.waitForFinished(20000), "capture full still waits: a dialog?");
        QCOMPARE(command.exitCode(), 0);
        const QImage shot = QImage(out).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shot.size(), QSize(1280, 720));
        QVERIFY(test_support::differingShare(shot, m_background) > 0.1);
        QCOMPARE(test_support::differingShare(shot, screen(), 1), 0.0);
    }

    // --copy lands on the compositor's clipboard and stays there after the
    // command has gone; its keeper goes when another program copies.
    void copyLandsOnTheClipboard()
    {
        const QString out = m_dir.filePath("copied.png");
        QCOMPARE(quorvel({"capture", "full", "-o", out, "--copy"}).exitCode, 0);
        QCOMPARE(test_support::run("wl-paste", {"--no-newline", "--type", "image/png"}).out,
                 test_support::fileBytes(out));
        QCOMPARE(keepers(), 1);
        QCOMPARE(test_support::run("wl-copy", {"--type", "text/plain", "something else"}).exitCode,
                 0);
        QTRY_COMPARE_WITH_TIMEOUT(keepers(), 0, 5000);
        test_support::run("wl-copy", {"--clear"});
    }

    // An area (or a window) is chosen in the portal's dialog, the whole
    // screen unless told otherwise: Take, then Save, gives the screen as it
    // was at Take (the dialog on it).
    void areaChosenInTheDialog()
    {
        const QString out = m_dir.filePath("area.png");
        QProcess command;
        command.start(test_support::quorvelBinary(),
                      {"capture", "area", "-o", out, "--padding", "0"});
        QRect dialog;
        QVERIFY2(QTest::qWaitFor(
                     [&] { return !(dialog = portalDialog(m_dir.path())).isEmpty(); }, 15000),
                 "no dialog shows");
        const QImage shown = screen();
        // Its buttons sit along its bottom: Save at the left, Take at the right.
        QVERIFY(click({dialog.right() - 78, dialog.bottom() - 27}));
        // Save is enabled once the screen is taken.
        const QPoint save(dialog.left() + 78, dialog.bottom() - 27);
        const bool saved = QTest::qWaitFor(
            [&] {
                return command.state() == QProcess::NotRunning ||
                       (click(save) && command.waitForFinished(500));
            },
            15000);
        QVERIFY2(saved, "Save does not end the capture");
        QCOMPARE(command.exitCode(), 0);
        const QImage shot = QImage(out).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shot.size(), QSize(1280, 720));
        // Only the pointer and the button under it differ.
        QVERIFY(test_support::differingShare(shot, shown, 2) < 0.005);
    }

    // Stopping the command while the dialog shows ends the request (closed
    // by us, or by the portal once we leave the bus), so the dialog goes too:
    // one line, nothing written.
    void dialogClosedWithTheCapture()
    {
        const QImage before = screen();
        const QString out = m_dir.filePath("stopped.png");
        QProcess command;
        command.start(test_support::quorvelBinary(), {"capture", "area", "-o", out});
        const bool shown = QTest::qWaitFor(
            [&] { return test_support::differingShare(screen(), before) > 0.05; }, 15000);
        session::saveForALook("QUORVEL_KDE_SCREENSHOTS", screen(), "portal-dialog.png");
        QVERIFY2(shown, "no dialog shows");
        ::kill(command.processId(), SIGTERM);
        QVERIFY(command.waitForFinished(10000));
        QCOMPARE(command.exitCode(), 1);
        QVERIFY(command.readAllStandardError().contains("the capture was cancelled"));
        QVERIFY(!QFile::exists(out));
        QVERIFY2(QTest::qWaitFor(
                     [&] { return test_support::differingShare(screen(), before) == 0; }, 10000),
                 "the dialog stays");
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    KdeSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_kde_session.moc"
