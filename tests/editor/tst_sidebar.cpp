// The editor's sidebar: sliders, swatches and the custom background sheet as
// the user meets them, and the background view behind the preview.

#include "color_well.h"
#include "custom_background_picker.h"
#include "gradient_background.h"
#include "gradient_picker_button.h"
#include "named_colors.h"
#include "point_slider.h"
#include "secondary_label.h"
#include "sidebar.h"
#include "sidebar_panel.h"
#include "test_support.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QTimer>

using namespace named_colors;
using Style = GradientStyle;

namespace {

// Answers every open request, on the next turn of the event loop, with
// `answer`.
struct StandInPanel : FilePanel {
    std::optional<QString> answer;
    void chooseFileToOpen(const OpenRequest&, Answer done) override
    {
        QTimer::singleShot(0, [done, path = answer] { done(path); });
    }
    void chooseSaveLocation(const SaveRequest&, Answer done) override { done(std::nullopt); }
};

// A sidebar in a window the size of the editor's, with what it said.
struct Editor {
    StandInPanel panel;
    QWidget window;
    Sidebar* sidebar = new Sidebar(panel, &window);
    QSignalSpy padding{sidebar, &Sidebar::gradientPaddingEdited};
    QSignalSpy radius{sidebar, &Sidebar::cornerRadiusEdited};
    QSignalSpy gradient{sidebar, &Sidebar::selectedGradientEdited};
    QSignalSpy picker{sidebar, &Sidebar::showColorPickerChanged};

    Editor()
    {
        auto* layout = new QHBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(sidebar);
        layout->addStretch();
        window.resize(1200, 800);
    }

    PointSlider* slider(const QString& name) const
    {
        for (PointSlider* slider : sidebar->findChildren<PointSlider*>()) {
            if (slider->accessibleName() == name)
                return slider;
        }
        return nullptr;
    }
    QSignalSpy& spyOf(const QString& name) { return name == "Padding" ? padding : radius; }
    QString valueShown(const QString& name) const
    {
        return slider(name)->parentWidget()->findChild<SecondaryLabel*>()->text();
    }
    GradientPickerButton* swatch(const QString& title) const
    {
        for (GradientPickerButton* swatch : sidebar->findChildren<GradientPickerButton*>()) {
            if (swatch->title() == title)
                return swatch;
        }
        return nullptr;
    }
    QStringList selectedSwatches() const
    {
        QStringList titles;
        for (GradientPickerButton* swatch : sidebar->findChildren<GradientPickerButton*>()) {
            if (swatch->isSelected())
                titles << swatch->title();
        }
        return titles;
    }
};

const QStringList kPresetTitles{"Cool", "Beach", "Rose", "Nature", "Warm", "Dreamy"};

Style pictureStyle(QSize size, QColor left, QColor right)
{
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(left);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = size.width() / 2; x < size.width(); ++x)
            picture.setPixelColor(x, y, right);
    }
    return Style::customImage(std::make_shared<const QImage>(picture));
}

QPalette darkPalette()
{
    QPalette dark(QColor(53, 53, 53), QColor(40, 40, 40));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
    dark.setColor(QPalette::Text, QColor(235, 235, 235));
    dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Highlight, QColor(10, 132, 255));
    return dark;
}

} // namespace

class TestSidebar : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // What the editor sets shows as whole points next to the slider and to a
    // screen reader, which also gets the exact value; setting never echoes
    // back as an edit.
    void valuesShowAsWholePoints_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("points");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no padding") << "Padding" << 0.0 << "0";
        QTest::newRow("padding just short of 200") << "Padding" << 199.9 << "199";
        QTest::newRow("half a point") << "Padding" << 40.5 << "40";
        QTest::newRow("radius just short of 100") << "Corner Radius" << 99.99 << "99";
        QTest::newRow("under one point") << "Corner Radius" << 0.4 << "0";
    }
    void valuesShowAsWholePoints()
    {
        QFETCH(QString, name);
        QFETCH(double, points);
        QFETCH(QString, shown);
        Editor editor;
        name == "Padding" ? editor.sidebar->setGradientPadding(points)
                          : editor.sidebar->setCornerRadius(points);
        QCOMPARE(editor.valueShown(name), shown);

        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(editor.slider(name));
        QVERIFY(access);
        QCOMPARE(access->role(), QAccessible::Slider);
        QCOMPARE(access->text(QAccessible::Name), name);
        QCOMPARE(access->text(QAccessible::Value), shown);
        QVERIFY(access->valueInterface());
        QCOMPARE(access->valueInterface()->currentValue().toDouble(), points);
        QVERIFY(editor.padding.isEmpty() && editor.radius.isEmpty());
    }

    // Arrow keys move by one point, Page Up/Down by ten, within the range;
    // each move is an edit with the exact new value.
    void keysMoveByWholePoints_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("start");
        QTest::addColumn<int>("key");
        QTest::addColumn<QVariantList>("edits");
        QTest::newRow("right") << "Padding" << 40.0 << int(Qt::Key_Right) << QVariantList{41.0};
        QTest::newRow("left keeps the fraction")
            << "Padding" << 40.5 << int(Qt::Key_Left) << QVariantList{39.5};
        QTest::newRow("page up") << "Padding" << 40.0 << int(Qt::Key_PageUp) << QVariantList{50.0};
        QTest::newRow("page down stops at 0")
            << "Padding" << 5.0 << int(Qt::Key_PageDown) << QVariantList{0.0};
        QTest::newRow("right at the end")
            << "Padding" << 200.0 << int(Qt::Key_Right) << QVariantList{};
        QTest::newRow("radius up")
            << "Corner Radius" << 0.0 << int(Qt::Key_Up) << QVariantList{1.0};
        QTest::newRow("radius page up stops at 100")
            << "Corner Radius" << 95.0 << int(Qt::Key_PageUp) << QVariantList{100.0};
    }
    void keysMoveByWholePoints()
    {
        QFETCH(QString, name);
        QFETCH(double, start);
        QFETCH(int, key);
        QFETCH(QVariantList, edits);
        Editor editor;
        name == "Padding" ? editor.sidebar->setGradientPadding(start)
                          : editor.sidebar->setCornerRadius(start);
        QTest::keyClick(editor.slider(name), Qt::Key(key));
        QSignalSpy& spy = editor.spyOf(name);
        QCOMPARE(spy.size(), edits.size());
        for (qsizetype i = 0; i < edits.size(); ++i)
            QCOMPARE(spy.at(i).at(0).toDouble(), edits.at(i).toDouble());
        if (!edits.isEmpty())
            QCOMPARE(editor.valueShown(name), PointSlider::wholePoints(edits.last().toDouble()));
    }

    // A drag reports every step, in fractions of a point, and the label
    // follows; so does a change made by an assistive technology.
    void draggingEditsOnEveryChange()
    {
        Editor editor;
        editor.window.show();
        PointSlider* slider = editor.slider("Padding");
        // The middle button grabs the handle wherever it lands.
        const auto mouse = [slider](QEvent::Type type, double fraction, Qt::MouseButtons held) {
            const QPointF at(slider->width() * fraction, slider->height() / 2.0);
            QMouseEvent event(type, at, slider->mapToGlobal(at),
                              type == QEvent::MouseMove ? Qt::NoButton : Qt::MiddleButton, held,
                              Qt::NoModifier);
            QApplication::sendEvent(slider, &event);
        };
        mouse(QEvent::MouseButtonPress, 0.2, Qt::MiddleButton);
        for (double fraction : {0.3, 0.41, 0.55, 0.7})
            mouse(QEvent::MouseMove, fraction, Qt::MiddleButton);
        mouse(QEvent::MouseButtonRelease, 0.7, Qt::NoButton);

        QVERIFY2(editor.padding.size() >= 5, qPrintable(QString::number(editor.padding.size())));
        bool fractional = false;
        for (qsizetype i = 1; i < editor.padding.size(); ++i) {
            const double value = editor.padding.at(i).at(0).toDouble();
            QVERIFY(value > editor.padding.at(i - 1).at(0).toDouble());
            fractional |= value != std::trunc(value);
        }
        QVERIFY2(fractional, "a drag moves in whole points only");
        const double last = editor.padding.last().at(0).toDouble();
        QCOMPARE(last, slider->points());
        QCOMPARE(editor.valueShown("Padding"), PointSlider::wholePoints(last));

        QAccessible::queryAccessibleInterface(editor.slider("Corner Radius"))
            ->valueInterface()
            ->setCurrentValue(12.25);
        QCOMPARE(editor.radius.size(), 1);
        QCOMPARE(editor.radius.at(0).at(0).toDouble(), 12.25);
        QCOMPARE(editor.valueShown("Corner Radius"), "12");
    }

    // A preset swatch is selected only by an equal style: custom styles, even
    // with a preset's very colours, select none. The selection reaches
    // screen readers as the checked state.
    void selectionFollowsStyleEquality_data()
    {
        QTest::addColumn<Style>("style");
        QTest::addColumn<QString>("selected"); // empty: none
        QTest::newRow("bluePurple") << Style::bluePurple() << "Cool";
        QTest::newRow("ocean") << Style::ocean() << "Beach";
        QTest::newRow("sunset") << Style::sunset() << "Rose";
        QTest::newRow("greenYellow") << Style::greenYellow() << "Nature";
        QTest::newRow("warmGlow") << Style::warmGlow() << "Warm";
        QTest::newRow("dreamyPink") << Style::dreamyPink() << "Dreamy";
        QTest::newRow("plain colour") << Style::customColor(blue()) << "";
        QTest::newRow("bluePurple's own colours")
            << Style::customGradient({blue(), purple()}) << "";
        QTest::newRow("picture") << pictureStyle({4, 4}, Qt::red, Qt::blue) << "";
    }
    void selectionFollowsStyleEquality()
    {
        QFETCH(Style, style);
        QFETCH(QString, selected);
        Editor editor;
        QCOMPARE(editor.selectedSwatches(), QStringList{"Cool"}); // before the editor says
        editor.sidebar->setSelectedGradient(style);
        QCOMPARE(editor.selectedSwatches(),
                 selected.isEmpty() ? QStringList() : QStringList{selected});
        for (const QString& title : kPresetTitles + QStringList{"Custom"}) {
            QAccessibleInterface* access =
                QAccessible::queryAccessibleInterface(editor.swatch(title));
            QCOMPARE(access->text(QAccessible::Name), title);
            QCOMPARE(access->role(), QAccessible::Button);
            QCOMPARE(bool(access->state().checked), title == selected);
        }
        QVERIFY(editor.gradient.isEmpty());
    }

    // Clicking a swatch, or Space on it, picks its style and marks it alone.
    void swatchesPickTheirStyle_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<Style>("style");
        QTest::addColumn<bool>("bySpace");
        QTest::newRow("Beach, clicked") << "Beach" << Style::ocean() << false;
        QTest::newRow("Rose, Space") << "Rose" << Style::sunset() << true;
        QTest::newRow("Cool, Space") << "Cool" << Style::bluePurple() << true;
    }
    void swatchesPickTheirStyle()
    {
        QFETCH(QString, title);
        QFETCH(Style, style);
        QFETCH(bool, bySpace);
        Editor editor;
        editor.sidebar->setSelectedGradient(Style::customColor(red()));
        GradientPickerButton* swatch = editor.swatch(title);
        bySpace ? QTest::keyClick(swatch, Qt::Key_Space)
                : QTest::mouseClick(swatch, Qt::LeftButton, {},
                                    swatch->swatchRect().center().toPoint());
        QCOMPARE(editor.gradient.size(), 1);
        QVERIFY(editor.gradient.at(0).at(0).value<Style>() == style);
        QCOMPARE(editor.selectedSwatches(), QStringList{title});
        QVERIFY(editor.picker.isEmpty());
    }

    // "Custom" opens the sheet, window-modal and 250 px wide, and wears the
    // white border exactly while it is up; closing it without a change leaves
    // the background alone, and the next opening starts afresh.
    void customSheetComesAndGoes_data()
    {
        QTest::addColumn<int>("closeKey"); // 0: the "Done" button
        QTest::newRow("Done") << 0;
        QTest::newRow("Escape") << int(Qt::Key_Escape);
        QTest::newRow("Return") << int(Qt::Key_Return);
    }
    void customSheetComesAndGoes()
    {
        QFETCH(int, closeKey);
        Editor editor;
        editor.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor.window));
        QVERIFY(!editor.sidebar->showColorPicker());
        QTest::keyClick(editor.swatch("Custom"), Qt::Key_Space);

        QPointer<CustomBackgroundPicker> sheet = editor.sidebar->customBackgroundPicker();
        QVERIFY(sheet && sheet->isVisible());
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->width(), 250);
        QVERIFY(editor.sidebar->showColorPicker());
        QCOMPARE(editor.picker.size(), 1);
        QCOMPARE(editor.selectedSwatches(), (QStringList{"Cool", "Custom"}));
        sheet->setMode(CustomBackgroundPicker::Mode::gradient);

        if (closeKey) {
            QTest::keyClick(sheet, Qt::Key(closeKey));
        } else {
            for (QPushButton* button : sheet->findChildren<QPushButton*>()) {
                if (button->text() == "Done")
                    QTest::mouseClick(button, Qt::LeftButton);
            }
        }
        QVERIFY(!editor.sidebar->showColorPicker());
        QCOMPARE(editor.picker.size(), 2);
        QCOMPARE(editor.picker.at(1).at(0).toBool(), false);
        QCOMPARE(editor.selectedSwatches(), QStringList{"Cool"});
        QVERIFY(editor.gradient.isEmpty());
        QTRY_VERIFY(!sheet); // made fresh every time, so nothing to keep

        QTest::keyClick(editor.swatch("Custom"), Qt::Key_Space);
        sheet = editor.sidebar->customBackgroundPicker();
        QVERIFY(sheet);
        QCOMPARE(sheet->mode(), CustomBackgroundPicker::Mode::plain);
        sheet->close();
        QVERIFY(!editor.sidebar->showColorPicker());
    }

    // What the sheet applies reaches the editor at once and selects no preset.
    void sheetEditsReachTheEditor()
    {
        Editor editor;
        editor.window.show();
        QTest::keyClick(editor.swatch("Custom"), Qt::Key_Space);
        ColorWell& well = editor.sidebar->customBackgroundPicker()->plainWell();
        QTest::keyClick(&well, Qt::Key_Space);
        QVERIFY(well.dialog());
        well.dialog()->setCurrentColor(red());
        QCOMPARE(editor.gradient.size(), 1);
        QVERIFY(editor.gradient.at(0).at(0).value<Style>() == Style::customColor(red()));
        QCOMPARE(editor.selectedSwatches(), QStringList{"Custom"});
        well.dialog()->accept();
        editor.sidebar->customBackgroundPicker()->accept();
        QCOMPARE(editor.selectedSwatches(), QStringList{});
        QCOMPARE(editor.gradient.size(), 1);
    }

    // Tab walks the sliders, then the swatches in their order; the arrow keys
    // then work on the focused slider.
    void tabWalksTheControlsInOrder()
    {
        Editor editor;
        editor.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&editor.window));
        editor.slider("Padding")->setFocus(Qt::TabFocusReason);
        QStringList walked{QApplication::focusWidget()->accessibleName()};
        for (int i = 0; i < 8; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            auto* swatch = qobject_cast<GradientPickerButton*>(QApplication::focusWidget());
            walked << (swatch ? swatch->title() : QApplication::focusWidget()->accessibleName());
        }
        QCOMPARE(walked,
                 QStringList({"Padding", "Corner Radius"}) + kPresetTitles + QStringList{"Custom"});
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QVERIFY(editor.sidebar->showColorPicker());
    }

    // 200 px of controls with 16 px around them and the swatches two to a
    // row; a window too short for them scrolls, the scroll bar taking room of
    // its own, and Tab brings a hidden swatch into view.
    void keepsItsWidthAndScrollsWhenShort_data()
    {
        QTest::addColumn<int>("windowHeight");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("editor's height") << 800 << false;
        QTest::newRow("short window") << 300 << true;
    }
    void keepsItsWidthAndScrollsWhenShort()
    {
        QFETCH(int, windowHeight);
        QFETCH(bool, scrolls);
        Editor editor;
        editor.window.resize(1200, windowHeight);
        editor.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&editor.window));
        auto* scrollArea = editor.sidebar->findChild<QScrollArea*>();
        QCOMPARE(scrollArea->verticalScrollBar()->isVisible(), scrolls);
        const int bar = scrolls ? scrollArea->verticalScrollBar()->width() : 0;
        QCOMPARE(editor.sidebar->width(), 232 + bar);
        for (SidebarPanel* panel : editor.sidebar->findChildren<SidebarPanel*>())
            QCOMPARE(panel->geometry(), QRect(16, panel->y(), 200, panel->height()));
        QCOMPARE(editor.swatch("Cool")->y(), editor.swatch("Beach")->y());
        QVERIFY(editor.swatch("Rose")->y() > editor.swatch("Beach")->y());

        editor.swatch("Dreamy")->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        GradientPickerButton* custom = editor.swatch("Custom");
        QCOMPARE(QApplication::focusWidget(), custom);
        const QRect seen(custom->mapTo(scrollArea->viewport(), QPoint()), custom->size());
        QVERIFY(scrollArea->viewport()->rect().contains(seen));
    }

    // The view behind the preview: each preset in its own direction, a
    // picture covering an area of another shape, centred.
    void backgroundPaintsEachStyleItsWay_data()
    {
        QTest::addColumn<Style>("style");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QColor>("expected");
        const QSize wide(160, 90);
        QTest::newRow("sunset top") << Style::sunset() << wide << QPoint(80, 0) << orange();
        QTest::newRow("sunset bottom") << Style::sunset() << wide << QPoint(80, 89) << pink();
        QTest::newRow("greenYellow left")
            << Style::greenYellow() << wide << QPoint(0, 45) << green();
        QTest::newRow("greenYellow right")
            << Style::greenYellow() << wide << QPoint(159, 45) << yellow();
        QTest::newRow("dreamyPink bottom-left")
            << Style::dreamyPink() << wide << QPoint(0, 89) << QColor::fromRgbF(1, 0.4f, 0.8f);
        QTest::newRow("dreamyPink top-right")
            << Style::dreamyPink() << wide << QPoint(159, 0) << QColor::fromRgbF(0.4f, 0.6f, 1);
        QTest::newRow("bluePurple top-left")
            << Style::bluePurple() << wide << QPoint(0, 0) << blue();
        // 20 × 10, red then blue, on a square: scaled to 200 × 100 (not 100 × 50),
        // overflowing left and right by 50 px each.
        const Style picture = pictureStyle({20, 10}, Qt::red, Qt::blue);
        QTest::newRow("picture, top-left")
            << picture << QSize(100, 100) << QPoint(0, 0) << QColor(Qt::red);
        QTest::newRow("picture, bottom-left")
            << picture << QSize(100, 100) << QPoint(0, 99) << QColor(Qt::red);
        QTest::newRow("picture, left of centre")
            << picture << QSize(100, 100) << QPoint(40, 50) << QColor(Qt::red);
        QTest::newRow("picture, right of centre")
            << picture << QSize(100, 100) << QPoint(60, 50) << QColor(Qt::blue);
        QTest::newRow("picture, bottom-right")
            << picture << QSize(100, 100) << QPoint(99, 99) << QColor(Qt::blue);
    }
    void backgroundPaintsEachStyleItsWay()
    {
        QFETCH(Style, style);
        QFETCH(QSize, size);
        QFETCH(QPoint, at);
        QFETCH(QColor, expected);
        GradientBackground background;
        background.setStyle(style);
        background.resize(size);
        const QImage shown = background.grab().toImage();
        QCOMPARE(shown.size(), size);
        QUORVEL_COMPARE_COLOR(shown.pixelColor(at), expected, 4);
    }

    // The theme colours the text and the panels; the swatches keep their
    // fixed colours. Set QUORVEL_SHOTS to a folder to keep the pictures.
    void followsTheThemeExceptTheSwatches()
    {
        const QPalette original = QApplication::palette();
        const QString shots = qEnvironmentVariable("QUORVEL_SHOTS");
        QColor swatchCentre[2], panelTint[2];
        for (int dark = 0; dark < 2; ++dark) {
            QApplication::setPalette(dark ? darkPalette()
                                          : QApplication::style()->standardPalette());
            Editor editor;
            editor.window.resize(400, 700);
            editor.sidebar->setGradientPadding(40);
            editor.window.show();
            QVERIFY(QTest::qWaitForWindowActive(&editor.window));
            editor.swatch("Beach")->setFocus(Qt::TabFocusReason);
            const QImage shown = editor.sidebar->grab().toImage();
            GradientPickerButton* cool = editor.swatch("Cool");
            swatchCentre[dark] = shown.pixelColor(
                cool->mapTo(editor.sidebar, cool->swatchRect().center().toPoint()));
            panelTint[dark] = shown.pixelColor(20, 20);
            const QString theme = dark ? "dark" : "light";
            if (!shots.isEmpty())
                shown.save(shots + "/sidebar-" + theme + ".png");

            QTest::keyClick(editor.swatch("Custom"), Qt::Key_Space);
            CustomBackgroundPicker* sheet = editor.sidebar->customBackgroundPicker();
            const char* modes[] = {"plain", "gradient", "image"};
            for (int mode = 0; mode < 3; ++mode) {
                sheet->setMode(CustomBackgroundPicker::Mode(mode));
                QApplication::processEvents();
                if (!shots.isEmpty())
                    sheet->grab().save(QStringLiteral("%1/sidebar-sheet-%2-%3.png")
                                           .arg(shots, theme, modes[mode]));
            }
            if (!shots.isEmpty()) {
                const QString picture = shots + "/sidebar-sample-picture.png";
                QVERIFY(pictureStyle({300, 120}, orange(), cyan()).image()->save(picture));
                editor.panel.answer = picture;
                for (QPushButton* button : sheet->findChildren<QPushButton*>()) {
                    if (button->text() == "Choose Image")
                        button->click();
                }
                QTRY_VERIFY(sheet->customImage());
                QFile::remove(picture);
                sheet->grab().save(
                    QStringLiteral("%1/sidebar-sheet-%2-picture.png").arg(shots, theme));
                editor.sidebar->grab().save(
                    QStringLiteral("%1/sidebar-%2-custom.png").arg(shots, theme));
            }
            sheet->accept();
        }
        QApplication::setPalette(original);
        QCOMPARE(swatchCentre[0], swatchCentre[1]);
        QVERIFY(panelTint[0].lightness() > 200);
        QVERIFY(panelTint[1].lightness() < 80);
    }
};

QTEST_MAIN(TestSidebar)
#include "tst_sidebar.moc"
