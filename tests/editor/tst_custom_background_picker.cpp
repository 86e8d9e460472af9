// The custom background sheet: its fresh start, colours applied as they
// change, and pictures read through the file panel.

#include "color_well.h"
#include "custom_background_picker.h"
#include "named_colors.h"
#include "picture_preview.h"
#include "test_support.h"

#include <QAccessible>
#include <QBuffer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThreadPool>
#include <QTimer>
#include <unistd.h>

using namespace named_colors;
using Style = GradientStyle;
using Mode = CustomBackgroundPicker::Mode;

namespace {

// Answers every open request, on the next turn of the event loop, with
// `answer`, and keeps what it was asked.
struct StandInPanel : FilePanel {
    std::optional<QString> answer;
    QList<OpenRequest> asked;
    int answered = 0;
    void chooseFileToOpen(const OpenRequest& request, Answer done) override
    {
        asked << request;
        QTimer::singleShot(0, [this, done, path = answer] {
            ++answered;
            done(path);
        });
    }
    void chooseSaveLocation(const SaveRequest&, Answer done) override { done(std::nullopt); }
};

struct Sheet {
    StandInPanel panel;
    CustomBackgroundPicker picker{panel};
    QSignalSpy edits{&picker, &CustomBackgroundPicker::selectedStyleEdited};

    Style lastEdit() const { return edits.last().at(0).value<Style>(); }
    template <typename W> W* named(const QString& text) const
    {
        for (W* widget : picker.findChildren<W*>()) {
            if (QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name) == text)
                return widget;
        }
        return nullptr;
    }
    PicturePreview* preview() const { return picker.findChild<PicturePreview*>(); }
    // Chooses `path` (or cancels) and waits until the picture is in.
    void choose(std::optional<QString> path)
    {
        panel.answer = std::move(path);
        QTest::mouseClick(named<QPushButton>("Choose Image"), Qt::LeftButton);
        QTRY_COMPARE(panel.answered, int(panel.asked.size()));
        QTRY_VERIFY(!picker.isLoading() && named<QPushButton>("Choose Image")->isEnabled());
    }
};

// What `action` printed on standard output, where printLine writes.
template <typename F> QByteArray stdoutOf(F action)
{
    QTemporaryFile file;
    const int saved = ::dup(1);
    if (std::fflush(stdout) == 0 && file.open() && ::dup2(file.handle(), 1) == 1)
        action();
    ::dup2(saved, 1);
    ::close(saved);
    return file.seek(0) ? file.readAll() : "<no file>";
}

} // namespace

class TestCustomBackgroundPicker : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_files.isValid()); }

    // Every opening starts from the same place, whatever the editor shows,
    // and applies nothing until something changes.
    void startsFresh()
    {
        Sheet sheet;
        sheet.picker.show();
        QCOMPARE(sheet.picker.width(), 250);
        QCOMPARE(sheet.picker.mode(), Mode::plain);
        QCOMPARE(sheet.picker.plainWell().color(), green());
        QCOMPARE(sheet.picker.gradientWell1().color(), cyan());
        QCOMPARE(sheet.picker.gradientWell2().color(), purple());
        QVERIFY(!sheet.picker.customImage() && !sheet.preview()->picture());
        QVERIFY(sheet.picker.plainWell().isVisible() && !sheet.picker.gradientWell1().isVisible());

        for (const char* name : {"Plain Color", "Gradient", "Custom Image"})
            QVERIFY2(sheet.named<QRadioButton>(name), name);
        QVERIFY(sheet.named<QRadioButton>("Plain Color")->isChecked());
        QVERIFY(sheet.named<QPushButton>("Done")->isDefault());
        // Switching the kind shows its section and applies nothing.
        sheet.named<QRadioButton>("Custom Image")->click();
        QCOMPARE(sheet.picker.mode(), Mode::image);
        QVERIFY(sheet.named<QPushButton>("Choose Image")->isVisible());
        QVERIFY(!sheet.picker.plainWell().isVisible());
        QCOMPARE(sheet.preview()->accessibleName(), "No Image");
        sheet.named<QRadioButton>("Gradient")->click();
        QVERIFY(sheet.picker.gradientWell2().isVisible());
        QVERIFY(sheet.edits.isEmpty());
    }

    // Each change in the colour dialog applies at once, opacity and the other
    // colour of a gradient included.
    void coloursApplyAsTheyChange_data()
    {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<int>("well"); // 0 plain, 1 and 2 the gradient's
        QTest::addColumn<QColor>("color");
        QTest::addColumn<Style>("applied");
        const QColor seeThrough(255, 128, 0, 102);
        QTest::newRow("plain") << Mode::plain << 0 << red() << Style::customColor(red());
        QTest::newRow("plain, see-through")
            << Mode::plain << 0 << seeThrough << Style::customColor(seeThrough);
        QTest::newRow("second colour only")
            << Mode::gradient << 2 << yellow() << Style::customGradient({cyan(), yellow()});
        QTest::newRow("first colour only")
            << Mode::gradient << 1 << red() << Style::customGradient({red(), purple()});
        QTest::newRow("second colour, see-through")
            << Mode::gradient << 2 << seeThrough << Style::customGradient({cyan(), seeThrough});
    }
    void coloursApplyAsTheyChange()
    {
        QFETCH(Mode, mode);
        QFETCH(int, well);
        QFETCH(QColor, color);
        QFETCH(Style, applied);
        Sheet sheet;
        sheet.picker.show();
        sheet.picker.setMode(mode);
        ColorWell* wells[] = {&sheet.picker.plainWell(), &sheet.picker.gradientWell1(),
                              &sheet.picker.gradientWell2()};
        QTest::keyClick(wells[well], Qt::Key_Space);
        QColorDialog* dialog = wells[well]->dialog();
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(dialog->testOption(QColorDialog::ShowAlphaChannel));

        // Qt's dialog may report a change in more than one step (colour, then
        // opacity); each one applies.
        dialog->setCurrentColor(blue()); // on the way
        QVERIFY(!sheet.edits.isEmpty());
        const qsizetype onTheWay = sheet.edits.size();
        dialog->setCurrentColor(color);
        QVERIFY(sheet.edits.size() > onTheWay);
        QVERIFY(sheet.lastEdit() == applied);
        QCOMPARE(wells[well]->color(), color);

        // Done in the dialog keeps the colour; cancelling a later visit puts
        // back the colour that visit started from.
        dialog->accept();
        const qsizetype kept = sheet.edits.size();
        QTest::keyClick(wells[well], Qt::Key_Space);
        QVERIFY(wells[well]->dialog() && wells[well]->dialog() != dialog);
        wells[well]->dialog()->setCurrentColor(blue());
        QVERIFY(sheet.edits.size() > kept && !(sheet.lastEdit() == applied));
        wells[well]->dialog()->reject();
        QVERIFY(!wells[well]->dialog());
        QVERIFY(sheet.lastEdit() == applied);
    }

    // A picture is read, shown and applied; it stays while the sheet is open,
    // across a trip to another kind and back.
    void pictureIsAppliedAndKept()
    {
        Sheet sheet;
        sheet.picker.show();
        sheet.picker.setMode(Mode::image);
        const QString path = m_files.filePath("wide.png");
        QImage wide(300, 100, QImage::Format_RGB32);
        wide.fill(Qt::darkCyan);
        QVERIFY(wide.save(path));

        sheet.choose(path);
        QCOMPARE(sheet.panel.asked.size(), 1);
        QCOMPARE(sheet.panel.asked[0].prompt, "Choose Image");
        const QString filters = sheet.panel.asked[0].nameFilters.join(' ');
        for (const char* type : {"*.jpg", "*.jpeg", "*.png", "*.tif", "*.tiff", "*.bmp"})
            QVERIFY2(filters.contains(type), type);

        QCOMPARE(sheet.edits.size(), 1);
        const Style applied = sheet.lastEdit();
        QCOMPARE(applied.kind(), Style::Kind::customImage);
        QVERIFY(applied.image() && applied.image() == sheet.picker.customImage());
        QCOMPARE(applied.image()->size(), QSize(300, 100));
        QCOMPARE(sheet.preview()->picture(), applied.image());
        QCOMPARE(sheet.preview()->grab().toImage().pixelColor(50, 30), QColor(Qt::darkCyan));

        sheet.picker.setMode(Mode::plain);
        sheet.picker.setMode(Mode::image);
        QCOMPARE(sheet.preview()->picture(), applied.image());
        QVERIFY(sheet.preview()->isVisible());
        QCOMPARE(sheet.edits.size(), 1);
    }

    // A choice that yields no picture changes nothing; one that cannot be
    // read says why in one line.
    void unusableChoiceChangesNothing_data()
    {
        QTest::addColumn<QString>("file"); // empty: cancelled
        QTest::addColumn<QByteArray>("printed");
        QTest::newRow("cancelled") << "" << QByteArray();
        QTest::newRow("cut short") << "short.png" << QByteArray("Error selecting image: ");
        QTest::newRow("not a picture") << "notes.png" << QByteArray("Error selecting image: ");
        QTest::newRow("gone") << "gone.png" << QByteArray("Error selecting image: ");
    }
    void unusableChoiceChangesNothing()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, printed);
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(Qt::magenta);
        QByteArray png;
        {
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY(picture.save(&buffer, "PNG"));
        }
        const auto write = [this](const QString& name, const QByteArray& bytes) {
            QFile out(m_files.filePath(name));
            return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
        };
        QVERIFY(write("good.png", png));
        QVERIFY(write("short.png", png.left(png.size() / 2)));
        QVERIFY(write("notes.png", "not a picture at all\n"));

        Sheet sheet;
        sheet.picker.show();
        sheet.picker.setMode(Mode::image);
        sheet.choose(m_files.filePath("good.png"));
        QCOMPARE(sheet.edits.size(), 1);
        const auto before = sheet.picker.customImage();

        const QByteArray said = stdoutOf([&] {
            sheet.choose(file.isEmpty() ? std::nullopt
                                        : std::optional<QString>(m_files.filePath(file)));
        });
        if (printed.isEmpty()) {
            QCOMPARE(said, QByteArray());
        } else {
            QVERIFY2(said.startsWith(printed) && said.size() > printed.size() + 1,
                     said.constData());
            QCOMPARE(said.count('\n'), 1);
            QVERIFY(said.endsWith('\n'));
        }
        QCOMPARE(sheet.edits.size(), 1);
        QCOMPARE(sheet.picker.customImage(), before);
        QCOMPARE(sheet.preview()->picture(), before);
    }

    // The sheet can go while a picture is still being read: the late picture
    // goes nowhere.
    void closingWhileReadingDropsThePicture()
    {
        const QString path = m_files.filePath("big.png");
        QImage big(4000, 3000, QImage::Format_RGB32);
        big.fill(Qt::yellow);
        QVERIFY(big.save(path));
        StandInPanel panel;
        panel.answer = path;
        auto* picker = new CustomBackgroundPicker(panel);
        int edits = 0;
        connect(picker, &CustomBackgroundPicker::selectedStyleEdited, this, [&] { ++edits; });
        picker->setMode(Mode::image);
        for (QPushButton* button : picker->findChildren<QPushButton*>()) {
            if (button->text() == "Choose Image")
                button->click();
        }
        QTRY_VERIFY(picker->isLoading());
        delete picker;
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(10);
        QCOMPARE(edits, 0);
    }

private:
    QTemporaryDir m_files;
};

QTEST_MAIN(TestCustomBackgroundPicker)
#include "tst_custom_background_picker.moc"
