// The `quorvel compose` command as a user runs it: the real binary, real
// files, and what it prints, writes and returns.

#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A picture of one colour, written as PNG through Qt at the given density.
QString writePicture(const QString& path, QSize size, QColor color, int dotsPerMeter = 2835)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.save(path, "PNG");
    return path;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray saved(const QString& path)
{
    return "Image saved successfully to: " + path.toUtf8() + "\n";
}

} // namespace

class ComposeCommandTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }
    test_support::ProcessResult quorvel(const QStringList& arguments) const
    {
        return test_support::run(test_support::quorvelBinary(), arguments, m_dir.path());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        for (const char* dir : {"in", "out", "x", "y", "same"})
            QVERIFY(QDir(m_dir.path()).mkpath(dir));
        // Left half red, right half blue: a backdrop for image: backgrounds.
        QImage backdrop(40, 400, QImage::Format_RGB32);
        backdrop.fill(Qt::red);
        for (int y = 0; y < 400; ++y)
            for (int x = 20; x < 40; ++x)
                backdrop.setPixel(x, y, qRgb(0, 0, 255));
        QVERIFY(backdrop.save(path("backdrop.png")));
    }

    void writesTheComposedPictureAndSaysWhere()
    {
        const QString input = writePicture(path("shot.png"), {100, 50}, Qt::white);
        const auto result =
            quorvel({"compose", "-b", "#00ff00", "-p", "10", "-o", "out.png", input});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, saved(path("out.png")));
        QVERIFY(result.err.isEmpty());
        const QImage out(path("out.png"));
        QCOMPARE(out.size(), QSize(120, 70));
        QCOMPARE(out.pixelColor(9, 35), QColor(Qt::green));
        QCOMPARE(out.pixelColor(10, 10), QColor(Qt::white));
        QCOMPARE(out.pixelColor(109, 59), QColor(Qt::white));
        QCOMPARE(out.pixelColor(110, 60), QColor(Qt::green));
    }

    void backgrounds_data()
    {
        QTest::addColumn<QString>("background");
        QTest::addColumn<QColor>("topLeft");
        QTest::addColumn<QColor>("bottomRight");
        const QColor blue(0, 122, 255), purple(175, 82, 222), green(40, 205, 65);
        const QColor yellow(255, 204, 0), red(255, 59, 48);
        QTest::newRow("default is cool") << QString() << blue << purple;
        QTest::newRow("beach") << "beach" << QColor(85, 190, 240) << blue;
        QTest::newRow("rose") << "rose" << QColor(255, 149, 0) << QColor(255, 45, 85);
        QTest::newRow("nature, any case") << "Nature" << green << yellow;
        QTest::newRow("warm") << "warm" << red << yellow;
        QTest::newRow("dreamy") << "dreamy" << QColor::fromRgbF(1, 0.4f, 0.8f)
                                << QColor::fromRgbF(0.4f, 0.6f, 1);
        QTest::newRow("case name") << "greenYellow" << green << yellow;
        QTest::newRow("plain colour")
            << "#336699" << QColor(0x33, 0x66, 0x99) << QColor(0x33, 0x66, 0x99);
        QTest::newRow("translucent colour")
            << "#ff000080" << QColor(255, 0, 0, 128) << QColor(255, 0, 0, 128);
        QTest::newRow("custom gradient")
            << "#000000,#808080,#ffffff" << QColor(Qt::black) << QColor(Qt::white);
        QTest::newRow("picture") << "image:" + path("backdrop.png") << QColor(Qt::red)
                                 << QColor(Qt::blue);
    }
    void backgrounds()
    {
        QFETCH(QString, background);
        QFETCH(QColor, topLeft);
        QFETCH(QColor, bottomRight);
        const QString input = writePicture(path("bg.png"), {200, 100}, Qt::white);
        QStringList arguments{"compose", "-o", "bg_out.png", input};
        if (!background.isNull())
            arguments << "--background" << background;
        QCOMPARE(quorvel(arguments).exitCode, 0);
        const QImage out = QImage(path("bg_out.png")).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(out.size(), QSize(280, 180));
        QUORVEL_COMPARE_COLOR(out.pixelColor(0, 0), topLeft, 3);
        QUORVEL_COMPARE_COLOR(out.pixelColor(279, 179), bottomRight, 3);
    }

    void densityAndScaleKeepEveryPixel()
    {
        // A 144 dpi file is a HiDPI capture: padding 10 points is 20 pixels.
        const QString retina = writePicture(path("retina.png"), {100, 50}, Qt::white, 5669);
        QCOMPARE(quorvel({"compose", "-p", "10", "-o", "retina_out.png", retina}).exitCode, 0);
        const QImage out(path("retina_out.png"));
        QCOMPARE(out.size(), QSize(140, 90));
        QCOMPARE(out.dotsPerMeterX(), 5669);
        QCOMPARE(quorvel({"compose", "-p", "10", "-s", "1", "-o", "plain.png", retina}).exitCode,
                 0);
        QCOMPARE(QImage(path("plain.png")).size(), QSize(120, 70));
    }

    void outputDirectoryAndDefaultPlacement()
    {
        const QString a = writePicture(path("in/a.png"), {10, 10}, Qt::white);
        const QString b = writePicture(path("in/b.shot.png"), {10, 10}, Qt::black);
        const auto result = quorvel({"compose", "-d", "out", a, b});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, saved(path("out/a_with_background.png")) +
                                 saved(path("out/b.shot_with_background.png")));
        QCOMPARE(QImage(path("out/b.shot_with_background.png")).pixelColor(45, 45),
                 QColor(Qt::black));
        QCOMPARE(quorvel({"compose", a}).exitCode, 0);
        QVERIFY(QFile::exists(path("in/a_with_background.png")));
    }

    void badInputLeavesTheOutputAlone_data()
    {
        QTest::addColumn<QByteArray>("inputBytes");
        QTest::newRow("not a picture") << QByteArray("just some words\n");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("truncated") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    }
    void badInputLeavesTheOutputAlone()
    {
        QFETCH(QByteArray, inputBytes);
        QFile bad(path("bad.png"));
        QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write(inputBytes) == inputBytes.size());
        bad.close();
        const QString existing = writePicture(path("keep.png"), {7, 7}, Qt::red);
        const QByteArray before = fileBytes(existing);
        const auto result = quorvel({"compose", "-o", existing, path("bad.png")});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.out.isEmpty());
        // One line, ours, and no reader's chatter.
        QVERIFY2(result.err.startsWith("quorvel: " + path("bad.png").toUtf8() + ": "),
                 result.err.constData());
        QCOMPARE(result.err.count('\n'), 1);
        QCOMPARE(fileBytes(existing), before);
    }

    void failedInputsDoNotStopTheOthers()
    {
        const QString good = writePicture(path("good.png"), {10, 10}, Qt::white);
        const auto result = quorvel({"compose", "-d", "out", path("missing.png"), good});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.out, saved(path("out/good_with_background.png")));
        QVERIFY(result.err.startsWith("quorvel: " + path("missing.png").toUtf8() + ": "));

        // A path below a regular file cannot be created, even by root.
        const auto unwritable = quorvel({"compose", "-o", good + "/out.png", good});
        QCOMPARE(unwritable.exitCode, 1);
        QVERIFY(unwritable.err.startsWith("quorvel: " + good.toUtf8() + ": cannot write "));

        // Two inputs of one name never overwrite each other's result.
        const QString first = writePicture(path("x/p.png"), {10, 10}, Qt::white);
        const QString second = writePicture(path("y/p.png"), {10, 10}, Qt::black);
        const auto clash = quorvel({"compose", "-d", "same", first, second});
        QCOMPARE(clash.exitCode, 1);
        QVERIFY(clash.err.startsWith("quorvel: " + second.toUtf8() + ": "));
        QCOMPARE(QImage(path("same/p_with_background.png")).pixelColor(45, 45), QColor(Qt::white));

        const auto noBackdrop = quorvel({"compose", "-b", "image:nope.png", "-o", "n.png", good});
        QCOMPARE(noBackdrop.exitCode, 1);
        QVERIFY(noBackdrop.err.startsWith("quorvel: nope.png: "));
        QVERIFY(!QFile::exists(path("n.png")));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no input") << QStringList{"compose"};
        QTest::newRow("output with two inputs") << QStringList{"compose", "-o", "o.png", "a", "b"};
        QTest::newRow("output and output-dir") << QStringList{"compose", "-o", "o", "-d", ".", "a"};
        QTest::newRow("negative padding") << QStringList{"compose", "-p", "-5", "a"};
        QTest::newRow("padding not a number") << QStringList{"compose", "-p", "wide", "a"};
        QTest::newRow("radius infinite") << QStringList{"compose", "-r", "inf", "a"};
        QTest::newRow("zero scale") << QStringList{"compose", "-s", "0", "a"};
        QTest::newRow("unknown background") << QStringList{"compose", "-b", "plaid", "a"};
        QTest::newRow("short colour") << QStringList{"compose", "-b", "#12", "a"};
        QTest::newRow("unknown option") << QStringList{"compose", "--sparkle", "a"};
        QTest::newRow("unknown command") << QStringList{"frobnicate"};
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        const auto result = quorvel(arguments);
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.out.isEmpty());
        QVERIFY2(result.err.contains("--help"), result.err.constData());
    }

    void helpAndVersion()
    {
        const auto help = quorvel({"compose", "--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.startsWith("Usage: quorvel compose [options] INPUT..."));
        QCOMPARE(quorvel({"--help"}).exitCode, 0);
        QCOMPARE(quorvel({"--version"}).out, QByteArray("quorvel " QUORVEL_VERSION "\n"));
    }
};

QTEST_GUILESS_MAIN(ComposeCommandTest)
#include "tst_compose_command.moc"
