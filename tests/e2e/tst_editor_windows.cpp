// Editor windows on a real X server with a window manager: `quorvel open`,
// and copy and paste through the X clipboard.

#include "content_view.h"
#include "editor_window.h"
#include "editor_window_opener.h"
#include "image_compositor.h"
#include "main_view.h"
#include "png_writer.h"
#include "qt_file_panel.h"
#include "test_support.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString xdotool(const QStringList& arguments)
{
    return QString::fromUtf8(test_support::run(QStringLiteral("xdotool"), arguments).out).trimmed();
}

// The top-level windows whose title is exactly `title`.
QStringList windowsTitled(const QString& title)
{
    const QString pattern = QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$');
    return xdotool({"search", "--onlyvisible", "--name", pattern}).split('\n', Qt::SkipEmptyParts);
}

// A window's inside: where it is on the screen, and its size.
QRect windowGeometry(const QString& id)
{
    QMap<QString, int> field;
    for (const QString& line : xdotool({"getwindowgeometry", "--shell", id}).split('\n'))
        field[line.section('=', 0, 0)] = line.section('=', 1).toInt();
    return {field["X"], field["Y"], field["WIDTH"], field["HEIGHT"]};
}

// Runs xclip while our event loop answers it: we may own the clipboard it asks.
QByteArray xclip(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xclip"), QStringList{"-selection", "clipboard"} + arguments);
    if (!process.waitForStarted())
        return "<no xclip>";
    (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 10000);
    return process.readAllStandardOutput();
}

} // namespace

class EditorWindowsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QUORVEL_MAGICK("-size", "320x200", "xc:orange", path("picture.png"));
        const auto movie = test_support::run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                                        "testsrc=size=320x240:rate=30", "-t", "1",
                                                        "-pix_fmt", "yuv420p", path("movie.mp4")});
        QVERIFY2(movie.exitCode == 0, movie.err.constData());
    }

    void openShowsEachFileInAWindowOfItsOwn()
    {
        QProcess quorvel;
        quorvel.setWorkingDirectory(m_dir.path());
        quorvel.start(test_support::quorvelBinary(), {"open", "picture.png", "movie.mp4"});
        QVERIFY(quorvel.waitForStarted());

        QStringList picture, movie;
        QTRY_VERIFY_WITH_TIMEOUT(!(picture = windowsTitled("picture.png — Quorvel")).isEmpty() &&
                                     !(movie = windowsTitled("movie.mp4 — Quorvel")).isEmpty(),
                                 20000);
        QCOMPARE(picture.size(), 1);
        QCOMPARE(movie.size(), 1);

        // 1200 x 800 inside the window manager's frame, centred on the screen.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        for (const QString& id : {picture.first(), movie.first()}) {
            const QRect inside = windowGeometry(id);
            QCOMPARE(inside.size(), QSize(1200, 800));
            QVERIFY2(qAbs(inside.center().x() - screen.center().x()) <= 4 &&
                         qAbs(inside.center().y() - screen.center().y()) <= 40,
                     qPrintable(QStringLiteral("at %1,%2").arg(inside.x()).arg(inside.y())));
        }

        // The command lasts as long as its last window.
        QVERIFY(test_support::closeX11Window(picture.first()));
        QVERIFY(!quorvel.waitForFinished(300));
        QCOMPARE(windowsTitled("movie.mp4 — Quorvel"), movie);
        QVERIFY(test_support::closeX11Window(movie.first()));
        QTRY_VERIFY_WITH_TIMEOUT(quorvel.state() == QProcess::NotRunning, 10000);
        QCOMPARE(quorvel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(quorvel.exitCode(), 0);
    }

    // Ctrl+C leaves the export's very PNG (ratio 2) on the clipboard, kept after the editor
    // closes; Ctrl+V in the main window opens ours or another program's picture.
    void copyAndPasteThroughTheClipboard()
    {
        NullCaptureBackend backend;
        Screencapture capture(backend);
        ScreenRecorder recorder;
        const QImage shot = test_support::filled(Qt::red, {64, 48}, 2);
        capture.setImage(shot);
        QPointer<EditorWindow> editor =
            openEditorWindow(capture, recorder, false, OpenedFrom::mainWindow);
        QVERIFY(QTest::qWaitForWindowActive(editor));
        const GradientStyle blue = GradientStyle::customColor(Qt::blue);
        editor->contentView().setSelectedGradient(blue);
        editor->contentView().setGradientPadding(10);
        editor->contentView().setCornerRadius(4);
        xdotool({"key", "--clearmodifiers", "ctrl+c"}); // through the X server
        QByteArray png;
        QTRY_VERIFY(!(png = xclip({"-o", "-t", "image/png"})).isEmpty());
        QCOMPARE(png, encodePng(composeWithBackground(shot, blue, 10, 4)));

        QVERIFY(test_support::closeX11Window(QString::number(editor->winId())));
        QTRY_VERIFY(editor.isNull());
        QCOMPARE(xclip({"-o", "-t", "image/png"}), png);

        QtFilePanel panel;
        QList<QImage> opened;
        MainView view({backend,
                       panel,
                       [&opened](const EditorRequest& r) { opened << r.picture; },
                       {},
                       [](QObject*, std::function<void(bool)> answer) { answer(true); },
                       [](const QString&) {},
                       {},
                       {}});
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        xdotool({"key", "--clearmodifiers", "ctrl+v"});
        QTRY_COMPARE(opened.size(), 1);
        QCOMPARE(opened[0].devicePixelRatio(), 2.0);
        QCOMPARE(encodePng(opened[0]), png);

        const QString other = m_dir.filePath("other.png");
        QUORVEL_MAGICK("-size", "30x20", "xc:lime", other);
        xclip({"-i", "-t", "image/png", other});
        xdotool({"key", "--clearmodifiers", "ctrl+v"});
        QTRY_COMPARE(opened.size(), 2);
        QCOMPARE(opened[1].convertToFormat(QImage::Format_RGB32),
                 QImage(other).convertToFormat(QImage::Format_RGB32));
    }
};

QTEST_MAIN(EditorWindowsTest)
#include "tst_editor_windows.moc"
