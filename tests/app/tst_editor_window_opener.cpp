// openEditorWindow on the offscreen platform: what each window copies, what it
// leaves alone, its size and lifetime.

#include "content_view.h"
#include "editor_window.h"
#include "editor_window_opener.h"
#include "null_capture_backend.h"
#include "screen_recorder.h"
#include "screencapture.h"

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QtTest>

Q_DECLARE_METATYPE(OpenedFrom)

namespace {

QImage picture(QColor color)
{
    QImage image(64, 48, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

const QUrl kMovie = QUrl::fromLocalFile(QStringLiteral("/tmp/recording.mp4"));

} // namespace

class EditorWindowOpenerTest : public QObject {
    Q_OBJECT

    NullCaptureBackend m_backend;
    Screencapture m_capture{m_backend};
    ScreenRecorder m_recorder;

private Q_SLOTS:
    void init()
    {
        m_capture.setImage(picture(Qt::red));
        m_recorder.setLastRecordingURL(kMovie);
    }

    void cleanup()
    {
        const QList<EditorWindow*> open = editorWindows();
        qDeleteAll(open);
        QVERIFY(editorWindows().isEmpty());
    }

    void copiesOnlyWhatTheModeShows_data()
    {
        QTest::addColumn<bool>("movie");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("title");
        QTest::newRow("screenshot") << false << QString() << "Screenshot — Quorvel";
        QTest::newRow("picture file") << false << "shot.png"
                                      << "shot.png — Quorvel";
        QTest::newRow("movie by its own name") << true << QString() << "recording.mp4 — Quorvel";
    }
    void copiesOnlyWhatTheModeShows()
    {
        QFETCH(bool, movie);
        QFETCH(QString, fileName);
        QFETCH(QString, title);
        const qint64 sourceKey = m_capture.image().cacheKey();
        QSignalSpy captureChanges(&m_capture, &Screencapture::imageChanged);
        QSignalSpy recorderChanges(&m_recorder, &ScreenRecorder::lastRecordingURLChanged);

        EditorWindow* window =
            openEditorWindow(m_capture, m_recorder, movie, OpenedFrom::trayPanel, fileName);

        QCOMPARE(editorWindows(), QList<EditorWindow*>{window});
        QCOMPARE(window->showsVideoPlayer(), movie);
        QCOMPARE(window->windowTitle(), title);
        QCOMPARE(window->screencapture().image().isNull(), movie);
        if (!movie)
            QCOMPARE(window->screencapture().image(), picture(Qt::red));
        QCOMPARE(window->screenRecorder().lastRecordingURL(), movie ? kMovie : QUrl());
        // The source pair is neither changed nor told anything.
        QCOMPARE(m_capture.image().cacheKey(), sourceKey);
        QCOMPARE(m_recorder.lastRecordingURL(), kMovie);
        QCOMPARE(captureChanges.count(), 0);
        QCOMPARE(recorderChanges.count(), 0);
    }

    void laterCapturesOpenWindowsOfTheirOwn()
    {
        EditorWindow* first = openEditorWindow(m_capture, m_recorder, false, OpenedFrom::trayPanel);
        m_capture.setImage(picture(Qt::blue));
        m_recorder.setLastRecordingURL(QUrl::fromLocalFile(QStringLiteral("/tmp/other.mov")));
        EditorWindow* second =
            openEditorWindow(m_capture, m_recorder, false, OpenedFrom::trayPanel);
        EditorWindow* movie = openEditorWindow(m_capture, m_recorder, true, OpenedFrom::trayPanel);

        QCOMPARE(editorWindows(), (QList<EditorWindow*>{first, second, movie}));
        QCOMPARE(first->screencapture().image(), picture(Qt::red));
        QCOMPARE(second->screencapture().image(), picture(Qt::blue));
        QVERIFY(first->screenRecorder().lastRecordingURL().isEmpty());
        QCOMPARE(movie->screenRecorder().lastRecordingURL().fileName(), "other.mov");

        // Each window's editor values are its own.
        first->contentView().setGradientPadding(12);
        first->contentView().setCornerRadius(9);
        QCOMPARE(second->contentView().gradientPadding(), 40.0);
        QCOMPARE(second->contentView().cornerRadius(), 0.0);
        // And so are its models: an edit in one reaches no other.
        first->screencapture().setImage(picture(Qt::green));
        QCOMPARE(m_capture.image(), picture(Qt::blue));
        QCOMPARE(second->screencapture().image(), picture(Qt::blue));
    }

    void sizeAndPlace_data()
    {
        QTest::addColumn<OpenedFrom>("from");
        QTest::addColumn<int>("minimumHeight");
        QTest::newRow("tray panel") << OpenedFrom::trayPanel << 800;
        QTest::newRow("main window") << OpenedFrom::mainWindow << 400;
    }
    void sizeAndPlace()
    {
        QFETCH(OpenedFrom, from);
        QFETCH(int, minimumHeight);
        EditorWindow* window = openEditorWindow(m_capture, m_recorder, false, from);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(window->isWindow());
        QCOMPARE(window->size(), QSize(1200, 800));
        QCOMPARE(window->minimumSize(), QSize(1200, minimumHeight));
        QVERIFY(window->maximumHeight() > 800 && window->maximumWidth() > 1200);
        // The ordinary decorations: title, close, minimise, maximise.
        const Qt::WindowFlags flags = window->windowHandle()->flags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);
        QVERIFY(!(flags & (Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)));
        QCOMPARE(window->windowModality(), Qt::NonModal);
        QCOMPARE(QApplication::activeWindow(), window);

        // Centred as a whole, frame included, on a screen larger than it.
        const QRect available = window->screen()->availableGeometry();
        QVERIFY(available.width() > 1300 && available.height() > 900);
        const QPoint offCentre = window->frameGeometry().center() - available.center();
        QVERIFY2(
            qAbs(offCentre.x()) <= 2 && qAbs(offCentre.y()) <= 2,
            qPrintable(
                QStringLiteral("%1, %2 from the centre").arg(offCentre.x()).arg(offCentre.y())));
        window->resize(1200, 300);
        QCOMPARE(window->height(), minimumHeight);
    }

    void closingFreesTheWindowAndItsPicture()
    {
        // Ours is the only other reference to the pixels once the source
        // moves on, so isDetached() tells whether the editor still holds them.
        QImage pixels = picture(Qt::red);
        m_capture.setImage(pixels);
        EditorWindow* window =
            openEditorWindow(m_capture, m_recorder, false, OpenedFrom::trayPanel);
        m_capture.setImage(QImage());
        QVERIFY(!pixels.isDetached());
        QPointer<EditorWindow> alive(window);
        QPointer<ContentView> view(&window->contentView());
        QPointer<Screencapture> model(&window->screencapture());

        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(window->close());
        QTRY_VERIFY(alive.isNull());
        QVERIFY(view.isNull());
        QVERIFY(model.isNull());
        QVERIFY(editorWindows().isEmpty());
        // A preview still being composed off the main thread lets go when done.
        QTRY_VERIFY(pixels.isDetached());
    }
};

QTEST_MAIN(EditorWindowOpenerTest)
#include "tst_editor_window_opener.moc"
