// The editor window's content as the user sees it: which parts show for
// which capture, the sidebar's edits reaching the previews, the screenshot
// preview against the export it stands for, and the movie section's layout.

#include "content_view.h"
#include "editor_fixtures.h"
#include "exporting_notice.h"
#include "gradient_background.h"
#include "image_compositor.h"
#include "image_editor.h"
#include "preview_renderer.h"
#include "screenshot_preview.h"
#include "sidebar.h"
#include "soft_shadow.h"
#include "test_support.h"
#include "video_editor.h"
#include "video_player_view.h"

#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QtTest>

using namespace editor_fixtures;

namespace {

struct Editor {
    Models models;
    FakeFilePanel panel;
    RecordingReveal reveal;
    Lines lines;
    std::unique_ptr<ContentView> view;

    Editor(const QImage& image, const QUrl& movie, bool showVideoPlayer = true)
    {
        models.screencapture.setImage(image);
        models.recorder.setLastRecordingURL(movie);
        view = std::make_unique<ContentView>(models.screencapture, models.recorder, showVideoPlayer,
                                             panel, reveal, nullptr, lines.writer());
        view->resize(1200, 800);
    }
    void show()
    {
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    }
};

// How far apart two pictures of one size are: the mean channel difference,
// and the share of pixels off by more than 40 in some channel.
struct Difference {
    double mean = 0;
    double outliers = 0;
};
Difference difference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    Difference d;
    qint64 total = 0, far = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            const int dr = std::abs(qRed(p) - qRed(q)), dg = std::abs(qGreen(p) - qGreen(q)),
                      db = std::abs(qBlue(p) - qBlue(q));
            total += dr + dg + db;
            far += std::max({dr, dg, db}) > 40;
        }
    const double pixels = double(x.width()) * x.height();
    d.mean = total / (3 * pixels);
    d.outliers = far / pixels;
    return d;
}

QString describe(const Difference& d)
{
    return QStringLiteral("mean %1, outliers %2%").arg(d.mean).arg(d.outliers * 100);
}

const QUrl kMovie = QUrl::fromLocalFile(QStringLiteral("/tmp/recording.mov"));

} // namespace

class TestContentView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Nothing at all without a capture; otherwise the sidebar, and each
    // section only for a capture it can show, the screenshot first.
    void showsWhatTheModelsHold_data()
    {
        QTest::addColumn<bool>("image");
        QTest::addColumn<bool>("movie");
        QTest::addColumn<bool>("showVideoPlayer");
        QTest::addColumn<bool>("sidebar");
        QTest::addColumn<bool>("imageEditor");
        QTest::addColumn<bool>("videoEditor");
        QTest::newRow("neither") << false << false << true << false << false << false;
        QTest::newRow("movie not to be shown") << false << true << false << true << false << false;
        QTest::newRow("movie") << false << true << true << true << false << true;
        QTest::newRow("screenshot") << true << false << true << true << true << false;
        QTest::newRow("both") << true << true << true << true << true << true;
    }
    void showsWhatTheModelsHold()
    {
        QFETCH(bool, image);
        QFETCH(bool, movie);
        QFETCH(bool, showVideoPlayer);
        Editor editor(image ? screenshot({400, 300}, 1) : QImage(), movie ? kMovie : QUrl(),
                      showVideoPlayer);
        editor.show();
        ContentView& view = *editor.view;
        QTEST(view.sidebar() != nullptr && view.sidebar()->isVisible(), "sidebar");
        QTEST(view.imageEditor() != nullptr, "imageEditor");
        QTEST(view.videoEditor() != nullptr, "videoEditor");
        if (view.videoEditor())
            QCOMPARE(view.videoEditor()->player()->url(), kMovie);
        if (view.imageEditor() && view.videoEditor())
            QVERIFY(view.imageEditor()->geometry().bottom() < view.videoEditor()->geometry().top());
        if (!view.sidebar()) {
            // An empty window: nothing visible inside it.
            for (const QWidget* child : view.findChildren<QWidget*>())
                QVERIFY2(!child->isVisible(), qPrintable(child->metaObject()->className()));
        }
    }

    // The view follows its models: a capture arriving, changing and going.
    void followsTheModels()
    {
        Editor editor{QImage(), QUrl()};
        editor.show();
        ContentView& view = *editor.view;
        QVERIFY(!view.sidebar());

        editor.models.screencapture.setImage(screenshot({300, 200}, 1));
        QVERIFY(view.sidebar() && view.sidebar()->isVisible());
        QVERIFY(view.imageEditor());
        const QRectF wide = view.imageEditor()->preview()->pictureRect();
        editor.models.screencapture.setImage(screenshot({200, 300}, 1));
        QVERIFY(view.imageEditor()->preview()->pictureRect().height() > wide.height());

        editor.models.recorder.setLastRecordingURL(kMovie);
        QVERIFY(view.videoEditor());
        const QUrl other = QUrl::fromLocalFile("/tmp/other.mp4");
        editor.models.recorder.setLastRecordingURL(other);
        QCOMPARE(view.videoEditor()->player()->url(), other);

        editor.models.screencapture.setImage(QImage());
        editor.models.recorder.setLastRecordingURL(QUrl());
        QVERIFY(!view.sidebar() && !view.imageEditor() && !view.videoEditor());
    }

    // The sidebar's edits land in the view, announced once, and reach both
    // previews; the view's own changes go back to the sidebar's controls.
    void sidebarEditsReachThePreviews()
    {
        Editor editor(screenshot({400, 300}, 1), kMovie);
        editor.show();
        ContentView& view = *editor.view;
        QSignalSpy padding(&view, &ContentView::gradientPaddingChanged);
        QSignalSpy radius(&view, &ContentView::cornerRadiusChanged);
        QSignalSpy style(&view, &ContentView::selectedGradientChanged);
        QCOMPARE(view.selectedGradient(), GradientStyle::bluePurple());
        QCOMPARE(view.gradientPadding(), 40.0);
        QCOMPARE(view.cornerRadius(), 0.0);

        const QRectF before = view.imageEditor()->preview()->pictureRect();
        Q_EMIT view.sidebar()->gradientPaddingEdited(100);
        Q_EMIT view.sidebar()->cornerRadiusEdited(50);
        Q_EMIT view.sidebar()->selectedGradientEdited(GradientStyle::sunset());
        Q_EMIT view.sidebar()->gradientPaddingEdited(100); // no change, no signal
        QCOMPARE(view.gradientPadding(), 100.0);
        QCOMPARE(view.cornerRadius(), 50.0);
        QCOMPARE(view.selectedGradient(), GradientStyle::sunset());
        QCOMPARE(padding.size(), 1);
        QCOMPARE(radius.size(), 1);
        QCOMPARE(style.size(), 1);

        // More padding around the same screenshot: the picture is fitted
        // with a wider aspect closer to square, so a different rectangle.
        QVERIFY(view.imageEditor()->preview()->pictureRect() != before);
        QCOMPARE(view.videoEditor()->background()->style(), GradientStyle::sunset());
        QCOMPARE(view.videoEditor()->player()->cornerRadius(), 10.0);
        const QRect background = view.videoEditor()->background()->rect();
        QCOMPARE(view.videoEditor()->player()->geometry(),
                 background.adjusted(100, 100, -100, -100));
    }

    // What the preview shows is the export, scaled: reduced for a large
    // screenshot, enlarged for a small one, at any padding and radius.
    void previewShowsTheExportScaled_data()
    {
        QTest::addColumn<QSize>("points");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<double>("padding");
        QTest::addColumn<double>("radius");
        QTest::newRow("5K at ratio 2, reduced") << QSize(2560, 1440) << 2.0 << 40.0 << 24.0;
        QTest::newRow("large, no padding") << QSize(1600, 1200) << 1.0 << 0.0 << 0.0;
        QTest::newRow("small, enlarged") << QSize(240, 160) << 1.0 << 20.0 << 30.0;
        QTest::newRow("tall at ratio 2") << QSize(500, 900) << 2.0 << 100.0 << 60.0;
    }
    void previewShowsTheExportScaled()
    {
        QFETCH(QSize, points);
        QFETCH(qreal, ratio);
        QFETCH(double, padding);
        QFETCH(double, radius);
        const QImage shot = screenshot(points, ratio);
        Editor editor(shot, QUrl());
        editor.show();
        ScreenshotPreview* preview = editor.view->imageEditor()->preview();
        preview->grab(); // composed once with the first values
        editor.view->setGradientPadding(padding);
        editor.view->setCornerRadius(radius);
        editor.view->setSelectedGradient(GradientStyle::ocean());
        const QRectF shown = preview->pictureRect();
        // Fitted with the 40-point margin along one axis at least.
        QVERIFY(qAbs(shown.left() - 40) < 0.5 || qAbs(shown.top() - 40) < 0.5);
        QVERIFY(shown.left() >= 39.5 && shown.top() >= 39.5);

        const QRect inner = shown.toAlignedRect().adjusted(2, 2, -2, -2);
        const QImage grabbed = preview->grab().toImage().copy(inner);
        const QImage exported =
            composeWithBackground(shot, GradientStyle::ocean(), padding, radius);
        QCOMPARE(exported.deviceIndependentSize(),
                 QSizeF(points) + QSizeF(2 * padding, 2 * padding));
        QImage expected =
            exported.scaled(shown.size().toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        expected = expected.copy(inner.translated(-shown.topLeft().toPoint()));
        const Difference d = difference(grabbed, expected);
        QVERIFY2(d.mean < 3 && d.outliers < 0.01, qPrintable(describe(d)));
    }

    // The reduced copy has the detail the preview needs and never more
    // pixels than the screenshot; it is kept while it still serves.
    void previewCopyFollowsThePreviewSize()
    {
        const QImage shot = screenshot({1000, 500}, 2);
        PreviewRenderer renderer;
        const auto sourceWidth = [&](double pixelsPerPoint) {
            renderer.compose(shot, pixelsPerPoint, GradientStyle::sunset(), 10, 4);
            // Still the screenshot's size in points, whatever its pixels.
            return renderer.source().deviceIndependentSize() == QSizeF(1000, 500)
                       ? renderer.source().width()
                       : -1;
        };
        QCOMPARE(sourceWidth(0.5), 500);
        QCOMPARE(sourceWidth(0.45), 500); // a little smaller: kept
        QCOMPARE(sourceWidth(0.3), 300);  // much smaller: remade
        QCOMPARE(sourceWidth(0.4), 400);  // larger: remade, never short of detail
        QCOMPARE(sourceWidth(3), 2000);   // beyond the screenshot: the screenshot itself
        QCOMPARE(renderer.source().cacheKey(), shot.cacheKey());
        QImage composed = renderer.compose(shot, 0.5, GradientStyle::sunset(), 10, 4);
        QCOMPARE(composed.deviceIndependentSize(), QSizeF(1020, 520));
        QCOMPARE(composed.size(), QSize(510, 260));
    }

    // The shadow drawn from its small tile is the shape blurred by a Gaussian
    // of half the radius, on a surface of any ratio, for a shape of any size.
    void shadowIsAGaussianBlur_data()
    {
        QTest::addColumn<QRectF>("shape");
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("large") << QRectF(40, 30, 200, 120) << 1.0;
        QTest::newRow("large, ratio 2") << QRectF(40, 30, 200, 120) << 2.0;
        QTest::newRow("smaller than the blur") << QRectF(60, 50, 12, 8) << 1.0;
    }
    void shadowIsAGaussianBlur()
    {
        QFETCH(QRectF, shape);
        QFETCH(qreal, ratio);
        const double blur = 10, sigma = blur / 2, opacity = 0.5;
        const QPointF offset(3, 4);
        QImage surface(QSize(280, 200) * ratio, QImage::Format_ARGB32_Premultiplied);
        surface.setDevicePixelRatio(ratio);
        surface.fill(Qt::transparent);
        {
            QPainter painter(&surface);
            SoftShadow(blur, QColor::fromRgbF(0, 0, 0, opacity), offset).paint(painter, shape);
        }
        // A blurred box is the product of two blurred edges.
        const QRectF moved = shape.translated(offset);
        const auto along = [&](double at, double from, double to) {
            const double s = sigma * std::sqrt(2.0);
            return (std::erf((at - from) / s) - std::erf((at - to) / s)) / 2;
        };
        int worst = 0;
        for (int y = 0; y < surface.height(); y += 3)
            for (int x = 0; x < surface.width(); x += 3) {
                const double px = (x + 0.5) / ratio, py = (y + 0.5) / ratio;
                const double expected = 255 * opacity * along(px, moved.left(), moved.right()) *
                                        along(py, moved.top(), moved.bottom());
                worst = std::max(worst, std::abs(qAlpha(surface.pixel(x, y)) - int(expected)));
            }
        QVERIFY2(worst <= 4, qPrintable(QString::number(worst)));
    }

    // A soft shadow falls around the background; a customImage has neither
    // background nor shadow, so the window shows right up to the picture.
    void shadowAroundThePreview()
    {
        Editor editor(screenshot({400, 300}, 1), QUrl());
        editor.show();
        ScreenshotPreview* preview = editor.view->imageEditor()->preview();
        const QColor window = preview->palette().color(QPalette::Window);
        const auto outside = [&](double by) {
            const QRectF shown = preview->pictureRect();
            const QImage grabbed = preview->grab().toImage();
            return grabbed.pixelColor(int(shown.center().x()), int(shown.bottom() + by));
        };
        QVERIFY(outside(3).lightness() < window.lightness() - 10);
        QVERIFY(outside(8).lightness() < window.lightness() - 3);
        QCOMPARE(outside(30), window);

        QImage backdrop(64, 64, QImage::Format_RGB32);
        backdrop.fill(Qt::red);
        editor.view->setSelectedGradient(
            GradientStyle::customImage(std::make_shared<const QImage>(backdrop)));
        QCOMPARE(outside(3), window);
    }

    // The export controls can be found by name, reached with Tab and pressed
    // with Space; the notice says what it shows.
    void controlsByKeyboardAndName()
    {
        Editor editor(screenshot({400, 300}, 1), kMovie);
        editor.panel.hold = true;
        editor.show();
        ContentView& view = *editor.view;
        for (QPushButton* button :
             {view.imageEditor()->exportButton(), view.videoEditor()->exportButton()}) {
            QAccessibleInterface* access = QAccessible::queryAccessibleInterface(button);
            QVERIFY(access);
            QCOMPARE(access->text(QAccessible::Name), "Export with Background");
            QVERIFY(button->focusPolicy() & Qt::TabFocus);
        }
        QAccessibleInterface* notice =
            QAccessible::queryAccessibleInterface(view.videoEditor()->notice());
        QCOMPARE(notice->text(QAccessible::Name),
                 "Exporting video, this may take a few seconds...");

        // Tab from the window's start reaches the screenshot's button.
        view.activateWindow();
        QPushButton* button = view.imageEditor()->exportButton();
        for (int i = 0; i < 40 && !button->hasFocus(); ++i)
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &view,
                            Qt::Key_Tab);
        QVERIFY(button->hasFocus());
        QTest::keyClick(button, Qt::Key_Space);
        QCOMPARE(editor.panel.saveRequests.size(), 1);
        QCOMPARE(editor.panel.saveRequests[0].proposedName, "screenshot_with_background.png");
        QCOMPARE(editor.panel.saveRequests[0].nameFilters, QStringList{"PNG image (*.png)"});
        editor.panel.answerNext(std::nullopt);
    }

    // The window in both palettes, saved for a look when QUORVEL_SHOTS names
    // a folder: the picture with and without a custom image, the movie with
    // its button and with the notice.
    void rendersInBothPalettes()
    {
        const QString folder = qEnvironmentVariable("QUORVEL_SHOTS");
        const QPalette light = QApplication::palette();
        QPalette dark = QStyleFactory::create("Fusion")->standardPalette();
        dark.setColor(QPalette::Window, QColor(37, 37, 40));
        dark.setColor(QPalette::WindowText, QColor(236, 236, 236));
        dark.setColor(QPalette::Base, QColor(28, 28, 30));
        dark.setColor(QPalette::Text, QColor(236, 236, 236));
        dark.setColor(QPalette::Button, QColor(58, 58, 62));
        dark.setColor(QPalette::ButtonText, QColor(236, 236, 236));
        for (const auto& [name, palette] : {std::pair{"light", light}, std::pair{"dark", dark}}) {
            QApplication::setPalette(palette);
            Editor picture(screenshot({1440, 900}, 2), QUrl());
            picture.view->setCornerRadius(16);
            picture.show();
            Editor movie(QImage(), kMovie);
            movie.view->setGradientPadding(60);
            movie.view->setCornerRadius(50);
            movie.show();
            const QImage shots[] = {picture.view->grab().toImage(), movie.view->grab().toImage()};
            QVERIFY(!shots[0].isNull() && !shots[1].isNull());
            if (!folder.isEmpty()) {
                shots[0].save(QStringLiteral("%1/window-picture-%2.png").arg(folder, name));
                shots[1].save(QStringLiteral("%1/window-movie-%2.png").arg(folder, name));
                movie.view->videoEditor()->setExporting(true);
                movie.view->grab().save(
                    QStringLiteral("%1/window-movie-exporting-%2.png").arg(folder, name));
            }
        }
        QApplication::setPalette(light);
    }
};

QTEST_MAIN(TestContentView)
#include "tst_content_view.moc"
