// The editor's movie player with Qt Multimedia's FFmpeg backend, on movies
// made by the ffmpeg program, at a device pixel ratio of 2.

#include "../video/movie_fixtures.h"
#include "content_view.h"
#include "editor_fixtures.h"
#include "ffmpeg_media_backend.h"
#include "gradient_background.h"
#include "play_pause_button.h"
#include "player_controls.h"
#include "test_support.h"
#include "video_editor.h"
#include "video_player_view.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QSlider>
#include <QVBoxLayout>

namespace {

constexpr int kWait = 10000;
const QColor kLeft(230, 60, 40);
const QColor kRight(40, 90, 220);

// The view painted on a transparent canvas, as its parent would see it.
QImage rendered(QWidget& widget)
{
    const qreal ratio = widget.devicePixelRatioF();
    QImage canvas(widget.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(ratio);
    canvas.fill(Qt::transparent);
    widget.render(&canvas, {}, {}, QWidget::DrawChildren);
    return canvas.convertToFormat(QImage::Format_ARGB32);
}

QColor pixelAt(const QImage& image, QPointF point)
{
    const qreal ratio = image.devicePixelRatio();
    return image.pixelColor(int(point.x() * ratio), int(point.y() * ratio));
}

QString nameOf(QWidget* widget)
{
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}

} // namespace

class VideoPlayerViewTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QUrl url(const QString& name) const { return QUrl::fromLocalFile(path(name)); }

    // A view on screen (as the editor shows it) that has shown a frame; null
    // when none came.
    std::unique_ptr<VideoPlayerView> playing(const QString& name, double radius = 0,
                                             QSize size = {300, 120})
    {
        auto view = std::make_unique<VideoPlayerView>(url(name), radius);
        view->resize(size);
        view->show();
        const bool shown = QTest::qWaitFor([&] { return !view->currentFrame().isNull(); }, kWait);
        return shown ? std::move(view) : nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Left 40% one colour, the rest another, 16:9, two seconds, BT.709 (as untagged).
        const QString halves =
            QStringLiteral("-f lavfi -i color=c=0xE63C28:s=128x180:r=25:d=2 -f lavfi -i "
                           "color=c=0x285ADC:s=192x180:r=25:d=2 -filter_complex "
                           "[0][1]hstack,scale=out_color_matrix=%2,format=%1 ");
        // Red for a second and a half, then blue, to twelve seconds.
        const QString turning = QStringLiteral("-f lavfi -i color=c=0xE63C28:s=160x90:r=25:d=12,"
                                               "drawbox=c=0x285ADC:t=fill:enable=gte(t\\,1.5),"
                                               "scale=out_color_matrix=bt709,format=%1 ");
        const QString blue = "-f lavfi -i color=c=0x285ADC:%1 -pix_fmt yuv420p ",
                      x264 = "-c:v libx264 -preset ultrafast ", bt709 = "bt709";
        const std::pair<const char*, QString> movies[] = {
            {"h264.mp4", halves.arg("yuv420p", bt709) + x264},
            {"h264-601.mp4", halves.arg("yuv420p", "bt601") + x264 +
                                 "-colorspace smpte170m -color_primaries smpte170m "
                                 "-color_trc smpte170m"},
            {"animation.mov", halves.arg("rgb24", bt709) + "-c:v qtrle"},
            {"hevc10.mp4",
             halves.arg("yuv420p10le", bt709) + "-c:v libx265 -x265-params log-level=error"},
            {"turning.mp4", turning.arg("yuv420p") + x264 + "-g 10"},
            {"turning.mov", turning.arg("yuv422p10le") + "-c:v prores_ks"},
            {"sound.mp4", halves.arg("yuv420p", bt709) +
                              "-f lavfi -i sine=frequency=440:d=2 -map 2:a -c:a aac -shortest " +
                              x264},
            {"blue.mp4", blue.arg("s=160x90:r=25:d=3") + x264},
            {"sound-only.m4a", "-f lavfi -i sine=frequency=440:d=1 -c:a aac"}};
        for (const auto& [name, arguments] : movies)
            QVERIFY2(movie_fixtures::make(path(name), arguments), name);
        // Cut before the index at the end, as an interrupted copy leaves it.
        const QByteArray whole = test_support::fileBytes(path("sound.mp4"));
        test_support::fileBytes(path("cut.mp4"), whole.left(whole.size() / 2));
    }

    void showsEveryPictureFormatStretched_data()
    {
        QTest::addColumn<QString>("movie");
        QTest::newRow("H.264 4:2:0") << "h264.mp4";
        QTest::newRow("HEVC 4:2:0 10-bit") << "hevc10.mp4";
        QTest::newRow("H.264 tagged BT.601") << "h264-601.mp4";
        QTest::newRow("QuickTime Animation RGB") << "animation.mov";
    }
    void showsEveryPictureFormatStretched()
    {
        QFETCH(QString, movie);
        // Square, while the movie is 16:9: the picture must reach every edge.
        const auto view = playing(movie, 0, {200, 200});
        QVERIFY(view && view->isPlaying());
        QCOMPARE(view->currentFrame().size(), view->size() * view->devicePixelRatioF());
        const QImage image = rendered(*view);
        // The colour boundary sits at 40% of the width, however wide the view.
        for (const QPointF at :
             {QPointF(2, 2), {70, 100}, {2, 197}, {197, 2}, {100, 100}, {197, 197}})
            QUORVEL_COMPARE_COLOR(pixelAt(image, at), at.x() < 80 ? kLeft : kRight, 8);
    }

    void seeksToThePictureOfThatTime_data()
    {
        QTest::addColumn<QString>("movie");
        QTest::newRow("frames as Qt gives them") << "turning.mp4";
        QTest::newRow("frames Qt mislabels") << "turning.mov";
    }
    void seeksToThePictureOfThatTime()
    {
        QFETCH(QString, movie);
        const auto view = playing(movie, 0, {160, 90});
        QVERIFY(view);
        QUORVEL_COMPARE_COLOR(view->currentFrame().pixelColor(50, 50), kLeft, 8);
        QSlider* slider = view->controls()->positionSlider();
        QTRY_COMPARE_WITH_TIMEOUT(slider->maximum(), 12000, kWait);
        QTest::keyClick(view.get(), Qt::Key_Space);
        QTRY_VERIFY(!view->isPlaying());

        // A frame decoded before the seek may come after it; the new time's picture must
        // follow. The arrow keys the view itself receives step five seconds back and on.
        const std::tuple<int, Qt::Key, QColor> steps[] = {{2500, {}, kRight},
                                                          {500, {}, kLeft},
                                                          {6000, {}, kRight},
                                                          {1000, Qt::Key_Left, kLeft},
                                                          {6000, Qt::Key_Right, kRight}};
        for (const auto& [at, key, colour] : steps) {
            if (key)
                QTest::keyClick(view.get(), key);
            else
                slider->setValue(at);
            // The player may settle on the picture's own time, within a frame (40 ms).
            QTRY_VERIFY_WITH_TIMEOUT(qAbs(slider->value() - at) <= 40, kWait);
            QTRY_VERIFY2_WITH_TIMEOUT(
                test_support::near(view->currentFrame().pixelColor(50, 50), colour, 8),
                qPrintable(QStringLiteral("at %1 ms").arg(at)), kWait);
        }
        QVERIFY(view->errorText().isEmpty());
    }

    void roundsItsCornersOnly()
    {
        const auto view = playing("h264.mp4", 24, {240, 160});
        QVERIFY(view);
        QImage image = rendered(*view);
        QCOMPARE(pixelAt(image, {0.5, 0.5}).alpha(), 0);
        QCOMPARE(pixelAt(image, {239.5, 159.5}).alpha(), 0);
        // The curve is antialiased: some corner pixel is neither clear nor solid.
        bool partial = false;
        for (int step = 0; step < 48; ++step)
            partial |= image.pixelColor(step, step).alpha() % 255 != 0;
        QVERIFY(partial);

        // A new radius repaints the picture it has, without starting over.
        view->setCornerRadius(0);
        image = rendered(*view);
        QUORVEL_COMPARE_COLOR(pixelAt(image, {0.5, 0.5}), kLeft, 8);
    }

    // In an editor window of the size it opens at, a 16:9 movie shows at 16:9 on a
    // background of the export's shape, inset by the padding at the same scale, centred.
    // (That the picture fills the player, rounded: the tests above.)
    void keepsItsShapeInTheEditor()
    {
        using namespace editor_fixtures;
        Models models;
        FakeFilePanel panel;
        RecordingReveal reveal;
        models.recorder.setLastRecordingURL(url("blue.mp4"));
        ContentView view(models.screencapture, models.recorder, true, panel, reveal);
        view.resize(1200, 800);
        view.show();
        VideoPlayerView* player = view.videoEditor()->player();
        QTRY_VERIFY_WITH_TIMEOUT(!player->movieSize().isEmpty(), kWait);
        // 160 x 90 padded by 40 on each side; the player lies on the background.
        const QRectF area = view.videoEditor()->background()->rect(), movie = player->geometry();
        QVERIFY(std::abs(movie.width() / movie.height() - 16.0 / 9) < 0.02);
        QVERIFY(std::abs(area.width() / area.height() - 240.0 / 170) < 0.02);
        QVERIFY(std::abs(movie.left() / movie.width() - 40.0 / 160) < 0.02);
        QVERIFY((movie.center() - area.center()).manhattanLength() <= 2);
    }

    void sameMovieGoesOnAndAnotherStartsOver()
    {
        const auto view = playing("h264.mp4");
        QVERIFY(view);
        QSignalSpy failed(view.get(), &VideoPlayerView::playbackFailed);
        const auto position = [&] { return view->controls()->positionSlider()->value(); };
        QTRY_VERIFY_WITH_TIMEOUT(position() >= 400, kWait);

        // Another spelling of the same file.
        view->setUrl(QUrl::fromLocalFile(m_dir.path() + "/./h264.mp4"));
        QVERIFY(!view->currentFrame().isNull() && position() >= 400 && view->isPlaying());

        view->setUrl(url("blue.mp4"));
        QVERIFY(view->currentFrame().isNull() && position() < 400);
        QSignalSpy shown(view.get(), &VideoPlayerView::frameShown);
        QVERIFY(shown.wait(kWait));
        QUORVEL_COMPARE_COLOR(view->currentFrame().pixelColor(10, 10), kRight, 8);
        QVERIFY(view->isPlaying() && failed.isEmpty());
    }

    void saysWhyItCannotPlay_data()
    {
        QTest::addColumn<QString>("movie");
        QTest::newRow("cut short") << "cut.mp4";
        QTest::newRow("sound only") << "sound-only.m4a";
    }
    void saysWhyItCannotPlay()
    {
        QFETCH(QString, movie);
        VideoPlayerView view(url(movie), 12);
        view.resize(320, 180);
        view.show();
        QSignalSpy failed(&view, &VideoPlayerView::playbackFailed);
        QVERIFY(failed.wait(kWait) && !view.errorText().isEmpty());
        QCOMPARE(failed.first().first().toString(), view.errorText());
        QVERIFY(view.currentFrame().isNull() && !view.isPlaying());

        // Hovering shows no controls for a movie that cannot play.
        QEnterEvent enter({10, 10}, {10, 10}, {10, 10});
        QApplication::sendEvent(&view, &enter);
        QVERIFY(!view.controlsShown());

        // A good movie afterwards clears the complaint (that it plays: sameMovieGoesOn...).
        view.setUrl(url("blue.mp4"));
        QVERIFY(view.errorText().isEmpty());
    }

    void controlsFollowPointerAndFocus()
    {
        QWidget window;
        auto* before = new QLineEdit(&window);
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(before);
        const auto view = new VideoPlayerView(url("sound.mp4"), 0);
        layout->addWidget(view, 1);
        window.resize(400, 300);
        window.show();
        QApplication::setActiveWindow(&window);
        QSignalSpy shown(view, &VideoPlayerView::frameShown);
        QVERIFY(shown.wait(kWait));
        QVERIFY(!view->controlsShown());

        QEnterEvent enter({10, 10}, {10, 10}, {10, 10});
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(view, &enter);
        QVERIFY(view->controlsShown());
        QApplication::sendEvent(view, &leave);
        QVERIFY(!view->controlsShown());

        // Tab reaches the controls while they are out of sight, and shows them.
        PlayerControls* controls = view->controls();
        before->setFocus();
        QTest::keyClick(before, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), controls->playPauseButton());
        QVERIFY(view->controlsShown());
        QCOMPARE(nameOf(controls->playPauseButton()), "Pause");

        QTest::keyClick(controls->playPauseButton(), Qt::Key_Space);
        QTRY_VERIFY(!view->isPlaying());
        QCOMPARE(nameOf(controls->playPauseButton()), "Play");

        QTest::keyClick(controls->playPauseButton(), Qt::Key_Tab);
        QSlider* slider = controls->positionSlider();
        QCOMPARE(QApplication::focusWidget(), slider);
        QCOMPARE(nameOf(slider), "Position");
        QTRY_COMPARE(slider->maximum(), 2000);
        const int from = slider->value();
        QTest::keyClick(slider, Qt::Key_Right);
        QVERIFY(slider->value() > from);
        QTRY_COMPARE(controls->timeText(), "0:01 / 0:02");
        // Times read as a clock does, whole seconds cut down, hours when needed.
        for (const auto& [milliseconds, text] :
             {std::pair{3999, "0:03"}, {3723000, "1:02:03"}, {-5, "0:00"}})
            QCOMPARE(PlayerControls::formatTime(milliseconds), text);

        before->setFocus();
        QVERIFY(!view->controlsShown());
        // Going away with the focus inside must not reach a half-gone view.
        slider->setFocus();
        QVERIFY(view->controlsShown());
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_SCALE_FACTOR", "2"); // a HiDPI screen, before Qt reads it
    useFfmpegMediaBackend();
    // The backend's own chatter about hardware decoders it looks for.
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        qputenv("QT_LOGGING_RULES", "qt.multimedia.*.debug=false");
    QApplication app(argc, argv);
    VideoPlayerViewTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_video_player_view.moc"
