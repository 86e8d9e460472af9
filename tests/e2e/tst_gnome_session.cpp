// Quorvel on a real GNOME desktop: a headless GNOME Shell with the desktop's
// screenshot portal and its GNOME backend, started by run-under-gnome. The
// Shell itself is the oracle (its Screenshot method reads the same screen)
// and the hand (through Eval: its virtual pointer and keyboard, its dialogs).
//
// What GNOME does its own way (the rest: tst_sway_session): `doctor`, `capture
// full` with the one-time consent given in the Shell's own dialog, and an
// editor opened after a capture cancelled in the portal's dialog, with a
// picture on the clipboard: drawn and maximised.

#include "wayland_session.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using session::quorvel;

namespace {

// A method of the Shell's at `path`, whose interface is named like it.
QDBusMessage callShell(const QString& path, const QString& method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall("org.gnome.Shell", path,
                                                       path.mid(1).replace(u'/', u'.'), method);
    call.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().value(0) == false)
        qWarning() << method << reply.errorMessage() << reply.arguments();
    return reply;
}

// Runs JavaScript in the Shell (it runs with --unsafe-mode) and answers its
// value, or null when the Shell refused or threw.
QJsonValue shellValue(const QString& script)
{
    const QList<QVariant> values = callShell("/org/gnome/Shell", "Eval", {script}).arguments();
    if (values.size() != 2 || !values[0].toBool())
        return {};
    // A bare value (true, 3) is wrapped so that QJsonDocument takes it.
    return QJsonDocument::fromJson("[" + values[1].toString().toUtf8() + "]").array().at(0);
}

// What the Shell shows on the whole screen now.
QImage screen(const QString& folder)
{
    const QString path = folder + QStringLiteral("/shell.png");
    QFile::remove(path);
    callShell("/org/gnome/Shell/Screenshot", "Screenshot", {false, false, path});
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

// The window of this title once the Shell shows it (framed, not empty), or an empty object.
QJsonObject windowTitled(const QString& title)
{
    return shellValue(
               QStringLiteral(
                   "global.get_window_actors().map(a => { const w = a.meta_window,"
                   " r = w.get_frame_rect(); return {title: w.get_title(),"
                   " wmClass: w.get_wm_class(), focused: w.has_focus(),"
                   " wayland: w.get_client_type() === imports.gi.Meta.WindowClientType.WAYLAND,"
                   " maximized: w.get_maximized() === 3, x: r.x, y: r.y, width: r.width,"
                   " height: r.height}; })"
                   ".find(w => w.title === '%1' && w.width > 0 && w.height > 0) ?? null")
                   .arg(title))
        .toObject();
}

QRect frame(const QJsonObject& w)
{
    return QRect(w["x"].toInt(), w["y"].toInt(), w["width"].toInt(), w["height"].toInt());
}

// The Shell's virtual pointer `p` and keyboard `k` (made by run-under-gnome)
// do `steps`, from the time `t` on.
bool input(const QString& steps)
{
    return shellValue("const C = imports.gi.Clutter, p = global.quorvelPointer,"
                      " k = global.quorvelKeyboard, t = imports.gi.GLib.get_monotonic_time(); " +
                      steps + " true")
        .toBool();
}

bool click(QPoint at)
{
    return input(
        QStringLiteral("p.notify_absolute_motion(t, %1, %2);"
                       " p.notify_button(t + 1000, C.BUTTON_PRIMARY, C.ButtonState.PRESSED);"
                       " p.notify_button(t + 2000, C.BUTTON_PRIMARY, C.ButtonState.RELEASED);")
            .arg(at.x())
            .arg(at.y()));
}

} // namespace

class GnomeSession : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QImage m_background; // the screen with no window on it

    // Whether `window` is on the screen and something other than the background.
    bool drawnOver(const QJsonObject& window, double share)
    {
        return !window.isEmpty() &&
               test_support::differingShare(screen(m_dir.path()).copy(frame(window)),
                                            m_background.copy(frame(window))) > share;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("QUORVEL_GNOME_LOG"),
                 "run this under run-under-gnome");
        QVERIFY(m_dir.isValid());
        QCOMPARE(shellValue(QStringLiteral("Main.layoutManager._startingUp")), QJsonValue(false));
        m_background = screen(m_dir.path());
        QCOMPARE(m_background.size(), QSize(1280, 720));
    }

    void doctorSaysWhatEachKindShows()
    {
        session::doctorSays("gnome", "GNOME",
                            {"Capture area: the desktop's own screenshot dialog.*Cancel",
                             "Capture window: the desktop's own screenshot dialog.*Cancel"});
    }

    // The first full-screen capture waits for the person's consent in the
    // Shell's dialog; given once, the next one asks nothing. Either way no
    // choosing: every pixel of the screen as the Shell sees it.
    void fullScreenAfterOneConsent()
    {
        const QString out = m_dir.filePath("full.png");
        QProcess command;
        session::startCapture(command, {"full", "-o", out, "--padding", "0"});
        const QString dialog = QStringLiteral("Main.shellAccessDialogDBusService._accessDialog");
        QTRY_VERIFY2_WITH_TIMEOUT(shellValue(dialog + " !== null").toBool(),
                                  "the Shell does not ask for consent", 10000);
        const QJsonArray allow =
            shellValue(
                QStringLiteral("const b = %1.buttonLayout.get_children()"
                               ".find(b => b.label === 'Allow');"
                               " const [x, y] = b.get_transformed_position();"
                               " [Math.round(x + b.width / 2), Math.round(y + b.height / 2)]")
                    .arg(dialog))
                .toArray();
        QCOMPARE(allow.size(), 2);
        QVERIFY(click({allow[0].toInt(), allow[1].toInt()}));
        const QImage shot = session::captured(command, out);
        QVERIFY2(shot.size() == QSize(1280, 720), "capture full failed or waits after the consent");
        // Below the top bar, whose clock may turn meanwhile, pixel for pixel.
        QCOMPARE(test_support::differingShare(shot.copy(0, 40, 1280, 680),
                                              screen(m_dir.path()).copy(0, 40, 1280, 680), 1),
                 0.0);

        QProcess again;
        session::startCapture(again, {"full", "-o", out});
        QVERIFY2(!session::captured(again, out, 10000).isNull(), "the second capture asked again");
    }

    // The app runs natively: its main window is a Wayland client of the
    // Shell's, drawn on the screen. A picture on the clipboard, Capture Area
    // cancelled with Escape in the portal's dialog: an editor opens on the
    // clipboard's picture (which the app is offered only once its focus is
    // back), drawn and, too big for the screen, maximised.
    void editorAfterACancelledCapture()
    {
        const QString file = m_dir.filePath("picture.png");
        QUORVEL_MAGICK("-size", "400x300", "gradient:#0000ff-#ffff00", file);
        QCOMPARE(quorvel({"compose", file, "--padding", "0", "--copy"}).exitCode, 0);

        QProcess app;
        session::startNatively(app);
        QJsonObject main;
        // Drawn and holding the keyboard, so it takes the click.
        QTRY_VERIFY_WITH_TIMEOUT(
            (main = windowTitled("Quorvel"))["focused"].toBool() && drawnOver(main, 0.8), 15000);
        QCOMPARE(main["wmClass"].toString(), QStringLiteral("io.github.quorvel.Quorvel"));
        QVERIFY2(main["wayland"].toBool(), "the main window came through XWayland");
        session::saveForALook("QUORVEL_GNOME_SCREENSHOTS", screen(m_dir.path()),
                              QStringLiteral("main-window.png"));
        // Capture Area, the second of the main window's buttons.
        QVERIFY(click({frame(main).center().x(), frame(main).top() + 327}));
        QTRY_VERIFY_WITH_TIMEOUT(windowTitled("Screenshot")["focused"].toBool(), 10000);
        QVERIFY(input("k.notify_keyval(t, C.KEY_Escape, C.KeyState.PRESSED);"
                      " k.notify_keyval(t + 1000, C.KEY_Escape, C.KeyState.RELEASED);"));

        // Drawn where the Shell framed it, not the desktop's background.
        const QString title = QStringLiteral("Screenshot — Quorvel");
        const bool drawn =
            QTest::qWaitFor([&] { return drawnOver(windowTitled(title), 0.95); }, 20000);
        session::saveForALook("QUORVEL_GNOME_SCREENSHOTS", screen(m_dir.path()), "editor.png");
        QVERIFY(drawn);
        QVERIFY(windowTitled(title)["maximized"].toBool());
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    GnomeSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_gnome_session.moc"
