// Screencapture and ScreenRecorder as the main window uses them. The backend
// is scripted: it answers as the person's drag, Esc or a broken desktop would,
// later, from the event loop. The clipboard is the offscreen one.

#include "screen_recorder.h"
#include "screencapture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <unistd.h>

namespace {

// A picture answers captured, a reason answers failed, neither cancels.
struct Answer {
    QImage picture;
    QString reason;
};

class ScriptedBackend : public CaptureBackend {
public:
    QList<Answer> answers;
    QString name() const override { return QStringLiteral("scripted"); }
    QList<ScreenshotTypes> supportedKinds() const override { return {ScreenshotTypes::area}; }
    void capture(ScreenshotTypes) override
    {
        QTimer::singleShot(0, this, [this, a = answers.takeFirst()] {
            a.picture.isNull() ? a.reason.isEmpty() ? Q_EMIT cancelled() : Q_EMIT failed(a.reason)
                               : Q_EMIT captured(a.picture);
        });
    }
};

// A Screencapture and what it announced; the main window's own properties
// must never be touched by a screenshot or a file.
struct Watched {
    Screencapture capture;
    QSignalSpy image{&capture, &Screencapture::imageChanged};
    QSignalSpy others[3] = {{&capture, &Screencapture::isRecordingChanged},
                            {&capture, &Screencapture::outputURLChanged},
                            {&capture, &Screencapture::captureTypeChanged}};
    bool othersUntouched() const
    {
        return std::all_of(std::begin(others), std::end(others),
                           [](auto& s) { return s.isEmpty(); });
    }
};

QImage filled(QColor colour, qreal ratio = 1, QSize size = {8, 6})
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    image.setDevicePixelRatio(ratio);
    return image;
}

// What `action` printed on standard output, where printLine writes.
template <typename F> QByteArray stdoutOf(F action)
{
    QTemporaryFile file;
    if (std::fflush(stdout) != 0 || !file.open())
        return "<no file>";
    const int saved = ::dup(1);
    ::dup2(file.handle(), 1);
    action();
    ::dup2(saved, 1);
    ::close(saved);
    return file.seek(0) ? file.readAll() : "<no seek>";
}

const QImage kEarlier = filled(Qt::blue);
const QImage kCapture = filled(Qt::red, 2, {16, 12});

} // namespace

Q_DECLARE_METATYPE(Answer)

class TestScreencapture : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void takeScreenshot_data()
    {
        QTest::addColumn<QImage>("clipboard"); // null: text only
        QTest::addColumn<QList<Answer>>("answers");
        QTest::addColumn<QImage>("expected"); // null: unchanged
        QTest::addColumn<QByteArray>("printed");
        const QImage second = filled(Qt::green, 1, {10, 10});
        QTest::newRow("captured at ratio 2")
            << kEarlier << QList<Answer>{{kCapture, {}}} << kCapture << QByteArray();
        QTest::newRow("cancel over a picture")
            << kEarlier << QList<Answer>{{}} << kEarlier << QByteArray();
        QTest::newRow("cancel over text")
            << QImage() << QList<Answer>{{}} << QImage() << QByteArray();
        QTest::newRow("failed") << kEarlier << QList<Answer>{{{}, "portal said no"}} << QImage()
                                << QByteArray("Failed to take screenshot: portal said no\n");
        QTest::newRow("second replaces first")
            << QImage() << QList<Answer>{{kCapture, {}}, {second, {}}} << second << QByteArray();
    }

    void takeScreenshot()
    {
        QFETCH(QImage, clipboard);
        QFETCH(QList<Answer>, answers);
        QFETCH(QImage, expected);
        auto* data = new QMimeData;
        clipboard.isNull() ? data->setText("hi") : data->setImageData(clipboard);
        QGuiApplication::clipboard()->setMimeData(data);
        ScriptedBackend backend;
        backend.answers = answers;
        Watched w{Screencapture(backend)};

        QTEST(stdoutOf([&] {
                  for (qsizetype i = 0; i < answers.size(); ++i)
                      w.capture.takeScreenshot(ScreenshotTypes::area);
              }),
              "printed");
        QCOMPARE(w.capture.image(), expected);
        QCOMPARE(w.capture.image().devicePixelRatio(),
                 expected.isNull() ? 1.0 : expected.devicePixelRatio());
        QCOMPARE(w.image.count(), expected.isNull() ? 0 : answers.size());
        QVERIFY(w.othersUntouched());
        if (!answers.last().picture.isNull())
            QCOMPARE(QGuiApplication::clipboard()->image(), expected);
    }

    // X11 hands the clipboard back as a PNG, without the ratio; only the
    // capture's own pixels get it back.
    void ratioSurvivesTheClipboard()
    {
        ScriptedBackend backend;
        backend.answers = {{kCapture, {}}};
        Screencapture capture(backend);
        capture.takeScreenshot(ScreenshotTypes::area);
        for (const QColor colour : {Qt::red, Qt::cyan}) {
            QGuiApplication::clipboard()->setImage(filled(colour, 1, kCapture.size()));
            capture.loadImageFromPasteboard();
            QCOMPARE(capture.image().devicePixelRatio(), colour == Qt::red ? 2.0 : 1.0);
            QCOMPARE(capture.image().pixelColor(0, 0), colour);
        }
    }

    void loadImage()
    {
        QTemporaryDir dir;
        const QString good = dir.filePath("shot.png"), bad = dir.filePath("cut.bmp");
        QVERIFY(filled(Qt::green, 1, {5, 7}).save(good) && kEarlier.save(bad));
        QVERIFY(QFile::resize(bad, 30));
        ScriptedBackend backend;
        Watched w{Screencapture(backend)};
        QCOMPARE(stdoutOf([&] { w.capture.loadImage(QUrl::fromLocalFile(good)); }), "");
        for (const QString& path : {bad, dir.filePath("missing.png")})
            QCOMPARE(stdoutOf([&] { w.capture.loadImage(QUrl::fromLocalFile(path)); }),
                     "Failed to load image from URL: file://" + path.toUtf8() + "\n");
        QCOMPARE(w.capture.image().pixelColor(4, 6), QColor(Qt::green));
        QVERIFY(w.image.count() == 1 && w.othersUntouched());
    }

    // Views redraw on every assignment, so the same value announces too.
    void propertiesStartEmptyAndAnnounceEveryAssignment()
    {
        ScriptedBackend backend;
        Screencapture capture(backend);
        ScreenRecorder recorder;
        const QVariantMap initial{{"image", QImage()},
                                  {"isRecording", false},
                                  {"outputURL", QUrl()},
                                  {"captureType", QVariant::fromValue(ScreenshotTypes::full)},
                                  {"showsCursor", true},
                                  {"capturesAudio", true},
                                  {"lastRecordingURL", QUrl()}};
        for (QObject* object : std::initializer_list<QObject*>{&capture, &recorder}) {
            const QMetaObject* meta = object->metaObject();
            for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
                const QMetaProperty property = meta->property(i);
                const QVariant value = initial.value(property.name());
                QCOMPARE(property.read(object), value);
                QSignalSpy spy(object, property.notifySignal());
                QVERIFY(property.write(object, value) && property.write(object, value));
                QCOMPARE(spy.count(), 2);
            }
        }
        for (const char* movie : {"/tmp/first.mov", "/tmp/second.mp4"})
            recorder.setLastRecordingURL(QUrl::fromLocalFile(movie));
        QVERIFY(recorder.lastRecordingURL().toLocalFile() == "/tmp/second.mp4" &&
                recorder.streamOutput());
    }

    void forcedNullBackendFailsWithItsReason()
    {
        qputenv("QUORVEL_CAPTURE_BACKEND", "null");
        const std::unique_ptr<CaptureBackend> backend = loadCaptureBackend();
        QVERIFY(backend && backend->name() == "null" && backend->supportedKinds().isEmpty());
        Screencapture capture(*backend);
        QCOMPARE(stdoutOf([&] { capture.takeScreenshot(ScreenshotTypes::window); }),
                 "Failed to take screenshot: no screen capture is available in this session "
                 "(neither X11 nor a desktop portal)\n");
        QVERIFY(capture.image().isNull());
    }
};

QTEST_MAIN(TestScreencapture)
#include "tst_screencapture.moc"
