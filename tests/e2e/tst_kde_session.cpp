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
#include <QJsonArray>
#include <QJsonDocument>
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

// The frame of the first window KWin shows whose caption starts with `caption`
// (empty if none), as its scripting sees it: a script of ours prints it into KWin's log.
QRect window(const QString& folder, const QString& caption)
{
    static int runs = 0;
    const QString marker = QStringLiteral("quorvel-windows-%1").arg(++runs);
    const QString script = QStringLiteral("%1/%2.js").arg(folder, marker);
    test_support::fileBytes(
        script, QStringLiteral("const c = workspace.clientList().find(c => c.caption.startsWith("
                               "'%2')), g = c ? c.frameGeometry : {};"
                               " print('%1 ' + JSON.stringify([g.x, g.y, g.width, g.height]));")
                    .arg(marker, caption)
                    .toUtf8());
    for (const auto& [method, arguments] :
         {std::pair{"loadScript", QVariantList{script, marker}}, {"start", QVariantList{}}}) {
        QDBusMessage call = QDBusMessage::createMethodCall("org.kde.KWin", "/Scripting",
                                                           "org.kde.kwin.Scripting", method);
        call.setArguments(arguments);
        QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    }
    const QString prefix = "js: " + marker + ' ';
    QString log;
    (void)QTest::qWaitFor(
        [&] {
            log =
                QString::fromUtf8(test_support::fileBytes(qEnvironmentVariable("QUORVEL_KDE_LOG")));
            return log.contains(prefix);
        },
        10000);
    const QString printed = log.mid(log.indexOf(prefix) + prefix.size()).section(u'\n', 0, 0);
    const QJsonArray g = QJsonDocument::fromJson(printed.toUtf8()).array();
    return QRect(g[0].toInt(), g[1].toInt(), g[2].toInt(), g[3].toInt());
}

// Clicks and keys through kde-input: "X Y" clicks, "ctrl+c" presses keys.
bool input(const QStringList& steps)
{
    return test_support::run(QStringLiteral(QUORVEL_KDE_INPUT), steps).exitCode == 0;
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
    // on a picture, the picture's own colour on the screen. Ctrl+C in it lands on the compositor's
    // clipboard (the key's serial lets the app set the selection itself).
    void nativeWindows()
    {
        session::startNatively(m_app);
        QVERIFY(QTest::qWaitFor(
            [this] { return test_support::differingShare(screen(), m_background) > 0.1; }, 15000));
        session::saveForALook("QUORVEL_KDE_SCREENSHOTS", screen(), "main-window.png");

        const QString picture = m_dir.filePath("picture.png");
        QUORVEL_MAGICK("-size", "400x300", "xc:#c03090", picture);
        QCOMPARE(quorvel({"open", picture}).exitCode, 0);
        // At least a quarter of the picture's own colour (sampled) on the screen.
        QImage flat(m_background.size(), QImage::Format_RGB32);
        flat.fill(qRgb(0xc0, 0x30, 0x90));
        const bool drawn = QTest::qWaitFor(
            [&] {
                return test_support::differingShare(screen(), flat) < 1 - 200 * 150 / (1280. * 720);
            },
            15000);
        session::saveForALook("QUORVEL_KDE_SCREENSHOTS", screen(), "editor.png");
        QVERIFY2(drawn, "the editor does not show the picture");

        // Ctrl+C there copies the composed picture: 40 points of padding all round.
        QVERIFY(input({"1000", "300", "ctrl+c"}));
        QTRY_COMPARE_WITH_TIMEOUT(session::pasted().size(), QSize(480, 380), 10000);
        QCOMPARE(session::pasted().pixel(240, 190), qRgb(0xc0, 0x30, 0x90));
    }

    // KWin's data-control keeps the full screen --copy puts there, with no dialog asked.
    void copyLandsOnTheClipboard()
    {
        session::copyLandsOnTheClipboard(m_dir.filePath("copied.png"));
    }

    // An area (or a window) is chosen in the portal's dialog, the whole
    // screen unless told otherwise: Take, then Save, gives the screen as it
    // was at Take (the dialog on it).
    void areaChosenInTheDialog()
    {
        const QString out = m_dir.filePath("area.png");
        QProcess command;
        session::startCapture(command, {"area", "-o", out, "--padding", "0"});
        // KWin titles the dialog after its program.
        QRect dialog;
        QTRY_VERIFY_WITH_TIMEOUT(!(dialog = window(m_dir.path(), "Request screenshot")).isEmpty(),
                                 15000);
        const QImage shown = screen();
        // Its buttons sit along its bottom: Save at the left, Take at the right.
        const int y = dialog.bottom() - 27;
        const auto click = [&](int x) { return input({QString::number(x), QString::number(y)}); };
        // Take, then Save once the screen is taken; both again while the command runs,
        // as a busy machine shows the dialog before it takes clicks.
        const auto ended = [&] { return command.state() == QProcess::NotRunning; };
        const auto save = [&] {
            return ended() || (click(dialog.left() + 78) && command.waitForFinished(500));
        };
        const bool saved = QTest::qWaitFor(
            [&] { return ended() || (click(dialog.right() - 78) && QTest::qWaitFor(save, 3000)); },
            30000);
        const QImage shot = session::captured(command, out, 0);
        QVERIFY2(saved && shot.size() == QSize(1280, 720), "Save does not end the capture");
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
        session::startCapture(command, {"area", "-o", out});
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
