// The editor's sidebar, its custom background sheet and the background view,
// as the user meets them.

#include "background_painting.h"
#include "color_well.h"
#include "custom_background_picker.h"
#include "editor_fixtures.h"
#include "gradient_picker_button.h"
#include "named_colors.h"
#include "picture_preview.h"
#include "point_slider.h"
#include "secondary_label.h"
#include "sidebar.h"
#include "test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <sys/stat.h>

using namespace named_colors;
using Style = GradientStyle;
using editor_fixtures::childWhere;
using editor_fixtures::FakeFilePanel;
using Mode = CustomBackgroundPicker::Mode;

namespace {

// A sidebar in a window the size of the editor's, with what it said.
struct Editor {
    FakeFilePanel panel;
    QWidget window;
    Sidebar* sidebar = new Sidebar(panel, &window);
    QSignalSpy padding{sidebar, &Sidebar::gradientPaddingEdited},
        radius{sidebar, &Sidebar::cornerRadiusEdited},
        gradient{sidebar, &Sidebar::selectedGradientEdited},
        picker{sidebar, &Sidebar::showColorPickerChanged};

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
        return childWhere<PointSlider>(sidebar,
                                       [&](auto* s) { return s->accessibleName() == name; });
    }
    QString valueShown(const QString& name) const
    {
        return slider(name)->parentWidget()->findChild<SecondaryLabel*>()->text();
    }
    GradientPickerButton* swatch(const QString& title) const
    {
        return childWhere<GradientPickerButton>(sidebar,
                                                [&](auto* s) { return s->title() == title; });
    }
    QStringList selectedSwatches() const
    {
        QStringList titles;
        for (GradientPickerButton* swatch : sidebar->findChildren<GradientPickerButton*>())
            if (swatch->isSelected())
                titles << swatch->title();
        return titles;
    }
    void show()
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }
};

// The button a screen reader knows by `name`.
QPushButton* button(const QWidget* in, const QString& name)
{
    return childWhere<QPushButton>(in, [&](QPushButton* b) {
        return QAccessible::queryAccessibleInterface(b)->text(QAccessible::Name) == name;
    });
}

const QStringList kSwatchTitles{"Cool", "Beach", "Rose", "Nature", "Warm", "Dreamy", "Custom"};

struct Sheet {
    FakeFilePanel panel;
    std::unique_ptr<CustomBackgroundPicker> picker =
        std::make_unique<CustomBackgroundPicker>(panel);
    QSignalSpy edits{picker.get(), &CustomBackgroundPicker::selectedStyleEdited};

    explicit Sheet(Mode mode)
    {
        picker->show();
        picker->setMode(mode);
    }
    Style lastEdit() const { return edits.last().at(0).value<Style>(); }
    PicturePreview* preview() const { return picker->findChild<PicturePreview*>(); }
    // Chooses `path` (or cancels) and waits until the picture is in.
    void choose(std::optional<QString> path)
    {
        panel.answer = std::move(path);
        QPushButton* choice = button(picker.get(), "Choose Image");
        QTest::mouseClick(choice, Qt::LeftButton);
        QTRY_COMPARE(panel.answered, int(panel.openRequests.size()));
        QTRY_VERIFY(!picker->isLoading() && choice->isEnabled());
    }
};

} // namespace

class TestSidebar : public QObject {
    Q_OBJECT

    QTemporaryDir m_files;

private Q_SLOTS:
    // Set values show as whole points (exact to a screen reader), never echoed as
    // edits; arrows move one point, Page keys ten, each move one exact edit.
    void slidersShowAndMoveByWholePoints()
    {
        const struct {
            QString name;
            double points;
            QString shown;
            Qt::Key key;
            double edit; // negative: none
        } cases[] = {{"Padding", 199.9, "199", Qt::Key_Left, 198.9},
                     {"Padding", 5, "5", Qt::Key_PageDown, 0},
                     {"Padding", 200, "200", Qt::Key_Right, -1},
                     {"Corner Radius", 0.4, "0", Qt::Key_Up, 1.4}};
        for (const auto& [name, points, shown, key, edit] : cases) {
            Editor editor;
            const bool padding = name == "Padding";
            padding ? editor.sidebar->setGradientPadding(points)
                    : editor.sidebar->setCornerRadius(points);
            QCOMPARE(editor.valueShown(name), shown);
            QAccessibleInterface* access =
                QAccessible::queryAccessibleInterface(editor.slider(name));
            QCOMPARE(access->text(QAccessible::Value), shown);
            QCOMPARE(access->valueInterface()->currentValue().toDouble(), points);
            QVERIFY(editor.padding.isEmpty() && editor.radius.isEmpty());

            QTest::keyClick(editor.slider(name), key);
            const QSignalSpy& edits = padding ? editor.padding : editor.radius;
            QCOMPARE(edits.size(), edit < 0 ? 0 : 1);
            if (edit >= 0) {
                QCOMPARE(edits.at(0).at(0).toDouble(), edit);
                QCOMPARE(editor.valueShown(name), PointSlider::wholePoints(edit));
            }
            // So is a change an assistive technology makes, exactly as it asks.
            access->valueInterface()->setCurrentValue(12.25);
            QCOMPARE(edits.size(), edit < 0 ? 1 : 2);
            QCOMPARE(edits.last().at(0).toDouble(), 12.25);
            QCOMPARE(editor.valueShown(name), "12");
        }
    }

    // Only an equal style selects a preset swatch, shown to screen readers as checked;
    // a click picks the swatch's style and marks it alone.
    void selectionFollowsStyleEquality()
    {
        for (const auto& [style, selected] :
             {std::pair{Style::dreamyPink(), "Dreamy"}, {Style::customColor(blue()), ""}}) {
            Editor editor;
            QCOMPARE(editor.selectedSwatches(), QStringList{"Cool"}); // before the editor says
            editor.sidebar->setSelectedGradient(style);
            QCOMPARE(editor.selectedSwatches(), *selected ? QStringList{selected} : QStringList());
            for (const QString& title : kSwatchTitles)
                QCOMPARE(bool(QAccessible::queryAccessibleInterface(editor.swatch(title))
                                  ->state()
                                  .checked),
                         title == selected);
            QVERIFY(editor.gradient.isEmpty());

            GradientPickerButton* beach = editor.swatch("Beach");
            QTest::mouseClick(beach, Qt::LeftButton, {}, beach->swatchRect().center().toPoint());
            QCOMPARE(editor.gradient.size(), 1);
            QVERIFY(editor.gradient.at(0).at(0).value<Style>() == Style::ocean());
            QCOMPARE(editor.selectedSwatches(), QStringList{"Beach"});
            QVERIFY(editor.picker.isEmpty());
        }
    }

    // "Custom" opens a fresh window-modal sheet, selected while up; a change
    // applies at once, and closing without one leaves the background alone.
    void customSheetComesAndGoes()
    {
        for (const bool changed : {false, true}) { // closed with Return, else "Done"
            Editor editor;
            editor.show();
            QVERIFY(!editor.sidebar->showColorPicker());
            QTest::keyClick(editor.swatch("Custom"), Qt::Key_Space);

            QPointer<CustomBackgroundPicker> sheet = editor.sidebar->customBackgroundPicker();
            QVERIFY(sheet && sheet->isVisible() && editor.sidebar->showColorPicker());
            QCOMPARE(sheet->windowModality(), Qt::WindowModal);
            QCOMPARE(editor.picker.size(), 1);
            QCOMPARE(editor.selectedSwatches(), (QStringList{"Cool", "Custom"}));
            sheet->setMode(Mode::gradient);
            if (changed) {
                QTest::keyClick(&sheet->gradientWell2(), Qt::Key_Space);
                sheet->gradientWell2().dialog()->setCurrentColor(red());
                QCOMPARE(editor.gradient.size(), 1);
                QVERIFY(editor.gradient.at(0).at(0).value<Style>() ==
                        Style::customGradient({cyan(), red()}));
                QCOMPARE(editor.selectedSwatches(), QStringList{"Custom"});
                sheet->gradientWell2().dialog()->accept();
            }

            changed ? QTest::mouseClick(button(sheet, "Done"), Qt::LeftButton)
                    : QTest::keyClick(sheet, Qt::Key_Return);
            QVERIFY(!editor.sidebar->showColorPicker());
            QCOMPARE(editor.picker.size(), 2);
            QCOMPARE(editor.selectedSwatches(), changed ? QStringList() : QStringList{"Cool"});
            QCOMPARE(editor.gradient.size(), changed ? 1 : 0);
            QTRY_VERIFY(!sheet); // made fresh every time, so nothing to keep
        }
    }

    // A dark theme colours the panels; the swatches keep their fixed colours. Every preset
    // swatch runs from its top-left corner to its bottom-right, whatever its direction as a
    // background, as a composed picture lays any gradient on a square: sampled in each
    // quarter, so one across or down shows.
    void swatchesKeepColoursAndRunCornerToCorner()
    {
        const QPalette original = QApplication::palette();
        QApplication::setPalette(QPalette(QColor(53, 53, 53), QColor(40, 40, 40))); // dark
        Editor editor;
        editor.show();
        const QImage shown = editor.sidebar->grab().toImage();
        QApplication::setPalette(original);
        QVERIFY(shown.pixelColor(20, 20).lightness() < 80);
        for (const QString& title : kSwatchTitles.mid(0, 6)) {
            const GradientPickerButton* swatch = editor.swatch(title);
            const QRectF area = swatch->swatchRect();
            QImage expected(area.size().toSize(), QImage::Format_ARGB32_Premultiplied);
            QPainter painter(&expected);
            paintBackground(painter, expected.rect(), swatch->gradientStyle(),
                            BackgroundSurface::picture);
            painter.end();
            for (const QPointF at : {QPointF(.25, .25), {.75, .25}, {.25, .75}, {.75, .75}}) {
                const QPoint inside(int(area.width() * at.x()), int(area.height() * at.y()));
                const QPoint there =
                    swatch->mapTo(editor.sidebar, area.topLeft().toPoint() + inside);
                QVERIFY2(
                    test_support::near(shown.pixelColor(there), expected.pixelColor(inside), 6),
                    qPrintable(title));
            }
        }
    }
    // Each dialog change applies at once, keeping opacity and the other colour;
    // cancelling a later visit restores that visit's start.
    void coloursApplyAsTheyChange()
    {
        const QColor seeThrough(255, 128, 0, 102);
        const std::tuple<Mode, int, QColor, Style> cases[] = {
            // well 0: plain, 1 and 2 gradient
            {Mode::plain, 0, seeThrough, Style::customColor(seeThrough)},
            {Mode::gradient, 1, red(), Style::customGradient({red(), purple()})},
            {Mode::gradient, 2, seeThrough, Style::customGradient({cyan(), seeThrough})}};
        for (const auto& [mode, well, color, applied] : cases) {
            Sheet sheet(mode);
            ColorWell* wells[] = {&sheet.picker->plainWell(), &sheet.picker->gradientWell1(),
                                  &sheet.picker->gradientWell2()};
            QTest::keyClick(wells[well], Qt::Key_Space);
            QColorDialog* dialog = wells[well]->dialog();
            QVERIFY(dialog && dialog->isVisible() &&
                    dialog->testOption(QColorDialog::ShowAlphaChannel));

            // Qt's dialog may report a change in steps (colour, then opacity): the last counts.
            dialog->setCurrentColor(color);
            QVERIFY(!sheet.edits.isEmpty() && sheet.lastEdit() == applied);
            QCOMPARE(wells[well]->color(), color);

            dialog->accept();
            QTest::keyClick(wells[well], Qt::Key_Space);
            QVERIFY(wells[well]->dialog() && wells[well]->dialog() != dialog);
            wells[well]->dialog()->setCurrentColor(blue());
            QVERIFY(!(sheet.lastEdit() == applied));
            wells[well]->dialog()->reject();
            QVERIFY(!wells[well]->dialog());
            QVERIFY(sheet.lastEdit() == applied);
        }
    }

    // A chosen picture is applied, shown, and kept across a change of kind. A later choice
    // of none changes nothing; an unreadable one also says why in one line.
    void pictureIsAppliedAndKept()
    {
        for (const QString file : {"", "short.png"}) { // cancelled, cut short
            const QString good = m_files.filePath("wide.png");
            QVERIFY(test_support::filled(Qt::darkCyan, {300, 100}).save(good));
            const QByteArray whole = test_support::fileBytes(good);
            test_support::fileBytes(m_files.filePath("short.png"), whole.left(whole.size() / 2));

            Sheet sheet(Mode::image);
            sheet.choose(good);
            QCOMPARE(sheet.edits.size(), 1);
            const auto applied = sheet.lastEdit().image();
            QVERIFY(applied && applied == sheet.picker->customImage());
            QCOMPARE(applied->size(), QSize(300, 100));
            QCOMPARE(sheet.preview()->grab().toImage().pixelColor(50, 30), QColor(Qt::darkCyan));
            sheet.picker->setMode(Mode::plain);
            sheet.picker->setMode(Mode::image);
            QVERIFY(sheet.preview()->isVisible());

            const QByteArray said = test_support::stdoutOf([&] {
                sheet.choose(file.isEmpty() ? std::nullopt
                                            : std::optional<QString>(m_files.filePath(file)));
            });
            const QByteArray line = "Error selecting image: ";
            QVERIFY2(file.isEmpty() ? said.isEmpty()
                                    : said.startsWith(line) && said.size() > line.size() + 1 &&
                                          said.count('\n') == 1 && said.endsWith('\n'),
                     said.constData());
            QCOMPARE(sheet.edits.size(), 1);
            QVERIFY(sheet.picker->customImage() == applied &&
                    sheet.preview()->picture() == applied);
        }
    }

    // Closing the sheet while a picture is read drops the late answer: the
    // sidebar, which outlives the sheet, hears of nothing, and nothing is said.
    void closingWhileReadingDropsTheAnswer()
    {
        Editor editor;
        editor.show();
        QTest::keyClick(editor.swatch("Custom"), Qt::Key_Space);
        QPointer<CustomBackgroundPicker> sheet = editor.sidebar->customBackgroundPicker();
        QVERIFY(sheet);
        // A pipe: reading it waits until the sheet is gone and the test writes.
        const QString pipe = m_files.filePath("late.png");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        editor.panel.answer = pipe;
        sheet->setMode(Mode::image);
        QTest::mouseClick(button(sheet, "Choose Image"), Qt::LeftButton);
        QTRY_VERIFY(sheet->isLoading());
        QTest::keyClick(sheet, Qt::Key_Escape);
        QTRY_VERIFY(!sheet);

        QFile writer(pipe);
        QVERIFY(writer.open(QIODevice::WriteOnly)); // once the reader is there
        writer.close();
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(test_support::stdoutOf([] { QCoreApplication::sendPostedEvents(); }),
                 QByteArray());
        QVERIFY(editor.gradient.isEmpty());
        QCOMPARE(editor.selectedSwatches(), QStringList{"Cool"});
    }
};

QTEST_MAIN(TestSidebar)
#include "tst_sidebar.moc"
