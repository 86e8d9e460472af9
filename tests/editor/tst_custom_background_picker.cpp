// The custom background sheet: its fresh start, colours applied as they
// change, and pictures read through the file panel.

#include "color_well.h"
#include "custom_background_picker.h"
#include "editor_fixtures.h"
#include "named_colors.h"
#include "picture_preview.h"

#include <QAccessible>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThreadPool>
#include <QtTest>
#include <unistd.h>

using namespace named_colors;
using editor_fixtures::childWhere;
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
    std::unique_ptr<CustomBackgroundPicker> picker =
        std::make_unique<CustomBackgroundPicker>(panel);
    QSignalSpy edits{picker.get(), &CustomBackgroundPicker::selectedStyleEdited};

    explicit Sheet(Mode mode = Mode::plain)
    {
        picker->show();
        picker->setMode(mode);
    }
    Style lastEdit() const { return edits.last().at(0).value<Style>(); }
    // The control a screen reader knows by `name`.
    template <typename W> W* named(const QString& name) const
    {
        return childWhere<W>(picker.get(), [&](W* widget) {
            return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name) == name;
        });
    }
    PicturePreview* preview() const { return picker->findChild<PicturePreview*>(); }
    // Chooses `path` (or cancels) and waits until the picture is in.
    void choose(std::optional<QString> path)
    {
        panel.answer = std::move(path);
        QTest::mouseClick(named<QPushButton>("Choose Image"), Qt::LeftButton);
        QTRY_COMPARE(panel.answered, int(panel.asked.size()));
        QTRY_VERIFY(!picker->isLoading() && named<QPushButton>("Choose Image")->isEnabled());
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

    QTemporaryDir m_files;

    // A picture of `size` filled with `colour`, saved as `name`.
    QString pictureFile(const QString& name, QSize size, QColor colour)
    {
        QImage picture(size, QImage::Format_RGB32);
        picture.fill(colour);
        return picture.save(m_files.filePath(name)) ? m_files.filePath(name) : QString();
    }

private Q_SLOTS:
    // Every opening starts from the same place, whatever the editor shows,
    // and applies nothing until something changes, switching kinds included.
    void startsFresh()
    {
        Sheet sheet;
        QCOMPARE(sheet.picker->width(), 250);
        QCOMPARE(sheet.picker->plainWell().color(), green());
        QCOMPARE(sheet.picker->gradientWell1().color(), cyan());
        QCOMPARE(sheet.picker->gradientWell2().color(), purple());
        QVERIFY(!sheet.picker->customImage() && !sheet.preview()->picture());
        QVERIFY(sheet.picker->plainWell().isVisible() &&
                !sheet.picker->gradientWell1().isVisible());
        QVERIFY(sheet.named<QRadioButton>("Plain Color")->isChecked());
        QVERIFY(sheet.named<QPushButton>("Done")->isDefault());

        sheet.named<QRadioButton>("Custom Image")->click();
        QCOMPARE(sheet.picker->mode(), Mode::image);
        QVERIFY(sheet.named<QPushButton>("Choose Image")->isVisible());
        QVERIFY(!sheet.picker->plainWell().isVisible());
        QCOMPARE(sheet.preview()->accessibleName(), "No Image");
        sheet.named<QRadioButton>("Gradient")->click();
        QVERIFY(sheet.picker->gradientWell2().isVisible());
        QVERIFY(sheet.edits.isEmpty());
    }

    // Each change in the colour dialog applies at once, opacity and the other
    // colour of a gradient kept. Done in the dialog keeps the colour;
    // cancelling a later visit puts back the colour that visit started from.
    void coloursApplyAsTheyChange_data()
    {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<int>("well"); // 0 plain, 1 and 2 the gradient's
        QTest::addColumn<QColor>("color");
        QTest::addColumn<Style>("applied");
        const QColor seeThrough(255, 128, 0, 102);
        QTest::newRow("plain, see-through")
            << Mode::plain << 0 << seeThrough << Style::customColor(seeThrough);
        QTest::newRow("first colour only")
            << Mode::gradient << 1 << red() << Style::customGradient({red(), purple()});
        QTest::newRow("second colour only, see-through")
            << Mode::gradient << 2 << seeThrough << Style::customGradient({cyan(), seeThrough});
    }
    void coloursApplyAsTheyChange()
    {
        QFETCH(Mode, mode);
        QFETCH(int, well);
        QFETCH(QColor, color);
        QFETCH(Style, applied);
        Sheet sheet(mode);
        ColorWell* wells[] = {&sheet.picker->plainWell(), &sheet.picker->gradientWell1(),
                              &sheet.picker->gradientWell2()};
        QTest::keyClick(wells[well], Qt::Key_Space);
        QColorDialog* dialog = wells[well]->dialog();
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(dialog->testOption(QColorDialog::ShowAlphaChannel));

        // Qt's dialog may report a change in more than one step (colour, then
        // opacity); each one applies.
        dialog->setCurrentColor(blue());
        const qsizetype onTheWay = sheet.edits.size();
        QVERIFY(onTheWay > 0);
        dialog->setCurrentColor(color);
        QVERIFY(sheet.edits.size() > onTheWay);
        QVERIFY(sheet.lastEdit() == applied);
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

    // A picture is read, shown and applied; it stays while the sheet is open,
    // across a trip to another kind and back.
    void pictureIsAppliedAndKept()
    {
        Sheet sheet(Mode::image);
        sheet.choose(pictureFile("wide.png", {300, 100}, Qt::darkCyan));
        QCOMPARE(sheet.panel.asked.size(), 1);
        QCOMPARE(sheet.panel.asked[0].prompt, "Choose Image");
        const QString filters = sheet.panel.asked[0].nameFilters.join(' ');
        for (const char* type : {"*.jpg", "*.jpeg", "*.png", "*.tif", "*.tiff", "*.bmp"})
            QVERIFY2(filters.contains(type), type);

        QCOMPARE(sheet.edits.size(), 1);
        const Style applied = sheet.lastEdit();
        QCOMPARE(applied.kind(), Style::Kind::customImage);
        QVERIFY(applied.image() && applied.image() == sheet.picker->customImage());
        QCOMPARE(applied.image()->size(), QSize(300, 100));
        QCOMPARE(sheet.preview()->picture(), applied.image());
        QCOMPARE(sheet.preview()->grab().toImage().pixelColor(50, 30), QColor(Qt::darkCyan));

        sheet.picker->setMode(Mode::plain);
        sheet.picker->setMode(Mode::image);
        QCOMPARE(sheet.preview()->picture(), applied.image());
        QVERIFY(sheet.preview()->isVisible());
        QCOMPARE(sheet.edits.size(), 1);
    }

    // A choice that yields no picture changes nothing; one that cannot be
    // read says why in one line.
    void unusableChoiceChangesNothing_data()
    {
        QTest::addColumn<QString>("file"); // empty: cancelled
        QTest::addColumn<bool>("says");
        QTest::newRow("cancelled") << "" << false;
        QTest::newRow("cut short") << "short.png" << true;
        QTest::newRow("gone") << "gone.png" << true;
    }
    void unusableChoiceChangesNothing()
    {
        QFETCH(QString, file);
        QFETCH(bool, says);
        const QString good = pictureFile("good.png", {64, 48}, Qt::magenta);
        QFile whole(good), cut(m_files.filePath("short.png"));
        QVERIFY(whole.open(QIODevice::ReadOnly) && cut.open(QIODevice::WriteOnly));
        QVERIFY(cut.write(whole.read(whole.size() / 2)) > 0);
        cut.close();

        Sheet sheet(Mode::image);
        sheet.choose(good);
        QCOMPARE(sheet.edits.size(), 1);
        const auto before = sheet.picker->customImage();
        const QByteArray said = stdoutOf([&] {
            sheet.choose(file.isEmpty() ? std::nullopt
                                        : std::optional<QString>(m_files.filePath(file)));
        });
        const QByteArray line = "Error selecting image: ";
        if (says)
            QVERIFY2(said.startsWith(line) && said.size() > line.size() + 1 &&
                         said.count('\n') == 1 && said.endsWith('\n'),
                     said.constData());
        else
            QCOMPARE(said, QByteArray());
        QCOMPARE(sheet.edits.size(), 1);
        QCOMPARE(sheet.picker->customImage(), before);
        QCOMPARE(sheet.preview()->picture(), before);
    }

    // The sheet can go while a picture is still being read: the late picture
    // goes nowhere.
    void closingWhileReadingDropsThePicture()
    {
        Sheet sheet(Mode::image);
        sheet.panel.answer = pictureFile("big.png", {4000, 3000}, Qt::yellow);
        sheet.named<QPushButton>("Choose Image")->click();
        QTRY_VERIFY(sheet.picker->isLoading());
        sheet.picker.reset();
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(10);
        QVERIFY(sheet.edits.isEmpty());
    }
};

QTEST_MAIN(TestCustomBackgroundPicker)
#include "tst_custom_background_picker.moc"
