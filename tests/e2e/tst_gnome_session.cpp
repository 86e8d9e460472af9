// Quorvel on a real GNOME desktop: a headless GNOME Shell with the desktop's
// screenshot portal and its GNOME backend, started by run-under-gnome. The
// Shell itself is the oracle (its Screenshot method reads the same screen)
// and the hand (through Eval: its virtual pointer and keyboard, its dialogs).
//
// `doctor`, `capture full` with the one-time consent given in the Shell's own
// dialog, `--copy` read back with wl-paste, the native main window, and an
// editor opened after a capture cancelled in the portal's dialog, with a
// picture on the clipboard: drawn, maximised and restored.

#include "test_support.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

test_support::ProcessResult quorvel(const QStringList& arguments)
{
    QProcess process;
    return test_support::finish(process, test_support::quorvelBinary(), arguments);
}

QStringList lines(const QByteArray& text)
{
    return QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts);
}

// Runs JavaScript in the Shell (it runs with --unsafe-mode) and answers its
// value as JSON, or a null document when the Shell refused or threw.
QJsonDocument shell(const QString& script)
{
    QDBusInterface eval(QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
                        QStringLiteral("org.gnome.Shell"));
    eval.setTimeout(10000);
    const QDBusMessage reply = eval.call(QStringLiteral("Eval"), script);
    const QList<QVariant> values = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || values.size() != 2 || !values[0].toBool()) {
        qWarning("Eval: %s %s", qPrintable(reply.errorMessage()),
                 values.size() == 2 ? qPrintable(values[1].toString()) : "");
        return {};
    }
    // A bare value (true, 3) is wrapped so that QJsonDocument takes it.
    return QJsonDocument::fromJson("[" + values[1].toString().toUtf8() + "]");
}

QJsonValue shellValue(const QString& script)
{
    const QJsonDocument answer = shell(script);
    return answer.isArray() && !answer.array().isEmpty() ? answer.array().first() : QJsonValue();
}

// What the Shell shows on the whole screen now.
QImage screen(const QString& folder)
{
    const QString path = folder + QStringLiteral("/shell.png");
    QFile::remove(path);
    QDBusInterface screenshot(QStringLiteral("org.gnome.Shell"),
                              QStringLiteral("/org/gnome/Shell/Screenshot"),
                              QStringLiteral("org.gnome.Shell.Screenshot"));
    screenshot.setTimeout(10000);
    const QDBusMessage reply = screenshot.call(QStringLiteral("Screenshot"), false, false, path);
    if (reply.type() != QDBusMessage::ReplyMessage)
        qWarning("Screenshot: %s", qPrintable(reply.errorMessage()));
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

struct Window {
    QString title;
    QString wmClass;
    bool wayland = false;
    bool focused = false;
    bool maximized = false;
    QRect frame;
};

// The windows the Shell shows, bottom to top.
QList<Window> windows()
{
    const QJsonDocument listed = shell(QStringLiteral(
        "global.get_window_actors().map(a => { const w = a.meta_window, r = w.get_frame_rect();"
        " return {title: w.get_title(), wmClass: w.get_wm_class(),"
        " wayland: w.get_client_type() === imports.gi.Meta.WindowClientType.WAYLAND,"
        " focused: w.has_focus(), maximized: w.get_maximized() === 3,"
        " x: r.x, y: r.y, width: r.width, height: r.height}; })"));
    QList<Window> found;
    for (const QJsonValue& value : listed.array().first().toArray()) {
        const QJsonObject w = value.toObject();
        found.append(
            {w["title"].toString(), w["wmClass"].toString(), w["wayland"].toBool(),
             w["focused"].toBool(), w["maximized"].toBool(),
             QRect(w["x"].toInt(), w["y"].toInt(), w["width"].toInt(), w["height"].toInt())});
    }
    return found;
}

// The window of this title once it is on the screen (framed, not empty).
std::optional<Window> windowTitled(const QString& title)
{
    for (const Window& window : windows())
        if (window.title == title && !window.frame.isEmpty())
            return window;
    return std::nullopt;
}

// The Shell's virtual pointer and keyboard (made by run-under-gnome).
bool click(QPoint at)
{
    return shellValue(QStringLiteral(
                          "const C = imports.gi.Clutter, p = global.quorvelPointer;"
                          " const t = imports.gi.GLib.get_monotonic_time();"
                          " p.notify_absolute_motion(t, %1, %2);"
                          " p.notify_button(t + 1000, C.BUTTON_PRIMARY, C.ButtonState.PRESSED);"
                          " p.notify_button(t + 2000, C.BUTTON_PRIMARY, C.ButtonState.RELEASED);"
                          " true")
                          .arg(at.x())
                          .arg(at.y()))
        .toBool();
}

bool key(const QString& name)
{
    return shellValue(QStringLiteral("const C = imports.gi.Clutter, k = global.quorvelKeyboard;"
                                     " const t = imports.gi.GLib.get_monotonic_time();"
                                     " k.notify_keyval(t, C.KEY_%1, C.KeyState.PRESSED);"
                                     " k.notify_keyval(t + 1000, C.KEY_%1, C.KeyState.RELEASED);"
                                     " true")
                          .arg(name))
        .toBool();
}

// The share of `area` taken by its commonest colour: 1 for a window that
// drew nothing (or one flat colour), well below for a drawn editor.
double commonestShare(const QImage& image, const QRect& area)
{
    QHash<QRgb, int> counts;
    int samples = 0;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); y += 4)
        for (int x = inside.left(); x <= inside.right(); x += 4, ++samples)
            ++counts[image.pixel(x, y)];
    int most = 0;
    for (int count : std::as_const(counts))
        most = std::max(most, count);
    return samples ? double(most) / samples : 1;
}

QProcess* startNativeApp(QObject* parent)
{
    auto* app = new QProcess(parent);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "wayland");
    app->setProcessEnvironment(env);
    app->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app->start(test_support::quorvelBinary(), QStringList());
    return app;
}

void saveForALook(const QImage& shown, const QString& name)
{
    if (const QString folder = qEnvironmentVariable("QUORVEL_GNOME_SCREENSHOTS"); !folder.isEmpty())
        shown.save(folder + u'/' + name);
}

} // namespace

class GnomeSession : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QImage m_background; // the screen with no window on it

    bool backgroundShows()
    {
        return QTest::qWaitFor(
            [this] {
                const QImage now = screen(m_dir.path());
                return test_support::differingShare(now.copy(0, 40, 1280, 680),
                                                    m_background.copy(0, 40, 1280, 680)) == 0;
            },
            10000);
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
        const auto doctor = quorvel({"doctor"});
        const QStringList printed = lines(doctor.out);
        QCOMPARE(doctor.exitCode, 0);
        QVERIFY2(printed.filter(QRegularExpression("^Screenshot portal: version \\d+, through "
                                                   "xdg-desktop-portal-gnome$"))
                         .size() == 1,
                 doctor.out.constData());
        for (const QString& line :
             {QStringLiteral("Session: Wayland (%1), desktop GNOME")
                  .arg(qEnvironmentVariable("WAYLAND_DISPLAY")),
              QStringLiteral("Capture area: the desktop's own screenshot dialog, where you "
                             "choose what to take; its Cancel button cancels"),
              QStringLiteral("Capture window: the desktop's own screenshot dialog, where you "
                             "choose what to take; its Cancel button cancels")})
            QVERIFY2(printed.contains(line), qPrintable(line + "\nnot in\n" + doctor.out));
        QVERIFY(doctor.err.isEmpty());
    }

    // The first full-screen capture waits for the person's consent in the
    // Shell's dialog; given once, the next one asks nothing. Either way no
    // choosing: every pixel of the screen as the Shell sees it.
    void fullScreenAfterOneConsent()
    {
        const QString out = m_dir.filePath("full.png");
        QProcess command;
        command.start(test_support::quorvelBinary(),
                      {"capture", "full", "-o", out, "--padding", "0"});
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
        QVERIFY2(command.waitForFinished(20000), "capture full still waits after the consent");
        QVERIFY2(command.exitCode() == 0, command.readAllStandardError().constData());
        QVERIFY(
            command.readAllStandardOutput().startsWith("Capturing full: the whole screen at once"));

        const QImage shot = QImage(out).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shot.size(), QSize(1280, 720));
        // Below the top bar, whose clock may turn meanwhile, pixel for pixel.
        QCOMPARE(test_support::differingShare(shot.copy(0, 40, 1280, 680),
                                              screen(m_dir.path()).copy(0, 40, 1280, 680), 1),
                 0.0);

        QProcess again;
        again.start(test_support::quorvelBinary(), {"capture", "full", "-o", out});
        QVERIFY2(again.waitForFinished(10000), "the second capture asked again");
        QCOMPARE(again.exitCode(), 0);
    }

    // --copy lands on the compositor's clipboard and stays after the command.
    void copyLandsOnTheClipboard()
    {
        const QString out = m_dir.filePath("copied.png");
        const auto capture = quorvel({"capture", "full", "-o", out, "--copy"});
        QCOMPARE(capture.exitCode, 0);
        QVERIFY2(capture.err.isEmpty(), capture.err.constData());
        const auto paste = test_support::run("wl-paste", {"--no-newline", "--type", "image/png"});
        QVERIFY2(paste.exitCode == 0, paste.err.constData());
        QVERIFY2(paste.out == test_support::fileBytes(out), "the clipboard holds another picture");
    }

    // The app runs natively: its main window is a Wayland client of the
    // Shell's, drawn on the screen.
    void nativeMainWindow()
    {
        QProcess* app = startNativeApp(this);
        QVERIFY(app->waitForStarted());
        std::optional<Window> main;
        QTRY_VERIFY_WITH_TIMEOUT((main = windowTitled("Quorvel")).has_value(), 15000);
        QCOMPARE(main->wmClass, QStringLiteral("io.github.quorvel.Quorvel"));
        QVERIFY2(main->wayland, "the main window came through XWayland");
        QTRY_VERIFY_WITH_TIMEOUT(
            test_support::differingShare(screen(m_dir.path()).copy(main->frame),
                                         m_background.copy(main->frame)) > 0.8,
            10000);
        saveForALook(screen(m_dir.path()), QStringLiteral("main-window.png"));
        app->terminate();
        QVERIFY(app->waitForFinished(10000));
        delete app;
        QVERIFY(backgroundShows());
    }

    // The app running natively, a picture on the clipboard, Capture Area
    // cancelled with Escape in the portal's dialog: an editor opens on the
    // clipboard's picture (which the app is offered only once its focus is
    // back), drawn, maximised and once restored.
    void editorAfterACancelledCapture()
    {
        QImage picture(400, 300, QImage::Format_RGB32);
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x)
                picture.setPixelColor(x, y, QColor(x * 255 / 399, y * 255 / 299, 128));
        const QString file = m_dir.filePath("picture.png");
        QVERIFY(picture.save(file));
        QCOMPARE(quorvel({"compose", file, "--padding", "0", "--copy"}).exitCode, 0);

        QProcess* app = startNativeApp(this);
        QVERIFY(app->waitForStarted());
        std::optional<Window> main;
        // Drawn and holding the keyboard, so it takes the click.
        QTRY_VERIFY_WITH_TIMEOUT(
            (main = windowTitled("Quorvel")).has_value() && main->focused &&
                test_support::differingShare(screen(m_dir.path()).copy(main->frame),
                                             m_background.copy(main->frame)) > 0.8,
            15000);
        // Capture Area, the second of the main window's buttons.
        QVERIFY(click({main->frame.center().x(), main->frame.top() + 327}));
        std::optional<Window> dialog;
        QTRY_VERIFY_WITH_TIMEOUT(
            (dialog = windowTitled("Screenshot")).has_value() && dialog->focused, 10000);
        QVERIFY(key("Escape"));

        const auto drawn = [this](const QString& name) {
            std::optional<Window> editor;
            const bool opened = QTest::qWaitFor(
                [&] { return (editor = windowTitled("Screenshot — Quorvel")).has_value(); }, 10000);
            if (!opened)
                return QStringLiteral("no editor opened");
            // Drawn: on the screen where the Shell framed it (not the
            // desktop's background), the sidebar, the picture on its
            // background and the export button, not one flat colour.
            QImage shown;
            const bool isDrawn = QTest::qWaitFor(
                [&] {
                    editor = windowTitled("Screenshot — Quorvel");
                    shown = screen(m_dir.path());
                    return editor &&
                           test_support::differingShare(shown.copy(editor->frame),
                                                        m_background.copy(editor->frame)) > 0.95 &&
                           commonestShare(shown, editor->frame) < 0.7;
                },
                10000);
            saveForALook(shown, name);
            if (!isDrawn)
                return QStringLiteral("the editor at %1,%2 %3x%4 is blank (%5 of it one colour)")
                    .arg(editor->frame.x())
                    .arg(editor->frame.y())
                    .arg(editor->frame.width())
                    .arg(editor->frame.height())
                    .arg(commonestShare(shown, editor->frame));
            return QString();
        };
        const QString maximised = drawn(QStringLiteral("editor-after-cancel.png"));
        QVERIFY2(maximised.isEmpty(), qPrintable(maximised));
        // Too big for the screen, the Shell maximises it.
        QVERIFY(windowTitled("Screenshot — Quorvel")->maximized);
        const QRect maximisedFrame = windowTitled("Screenshot — Quorvel")->frame;
        QVERIFY(shellValue(QStringLiteral(
                               "global.get_window_actors().map(a => a.meta_window)"
                               ".filter(w => w.get_title() === 'Screenshot — Quorvel')"
                               ".forEach(w => w.unmaximize(imports.gi.Meta.MaximizeFlags.BOTH));"
                               " true"))
                    .toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!windowTitled("Screenshot — Quorvel")->maximized &&
                                     windowTitled("Screenshot — Quorvel")->frame != maximisedFrame,
                                 10000);
        const QString restored = drawn(QStringLiteral("editor-restored.png"));
        QVERIFY2(restored.isEmpty(), qPrintable(restored));

        app->terminate();
        QVERIFY(app->waitForFinished(10000));
        delete app;
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    GnomeSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_gnome_session.moc"
