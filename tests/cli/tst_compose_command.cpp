// `quorvel compose` as a user runs it, `quorvel open` where no window opens, and every
// command's usage mistakes and help.

#include "../video/movie_fixtures.h"
#include "command_sandbox.h"

#include <QImage>
#include <QtTest>
#include <unistd.h>

using test_support::fileBytes;

namespace {

// A picture of one colour, written as PNG through Qt at the given density.
QString writePicture(const QString& path, QSize size, QColor color, int dotsPerMeter = 2835)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    image.setDotsPerMeterX(dotsPerMeter), image.setDotsPerMeterY(dotsPerMeter);
    return image.save(path, "PNG") ? path : QString();
}

QByteArray saved(const QString& path)
{
    return "Image saved successfully to: " + path.toUtf8() + "\n";
}

} // namespace

class ComposeCommandTest : public QObject {
    Q_OBJECT

    test_support::CommandSandbox m_sandbox;
    QString path(const QString& name) const { return m_sandbox.path(name); }
    auto quorvel(const QStringList& arguments) const { return m_sandbox.quorvel(arguments); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_sandbox.isValid());
        for (const char* dir : {"in", "x", "y", "same"})
            QVERIFY(QDir(path(".")).mkpath(dir));
        // Left half red, right half blue: a backdrop for image: backgrounds.
        QUORVEL_MAGICK("-size", "20x400", "xc:red", "xc:blue", "+append", path("backdrop.png"));
    }

    void writesTheComposedPictureAndSaysWhere()
    {
        // The output's extension is matched in any case.
        const QString input = writePicture(path("shot.png"), {100, 50}, Qt::white);
        const auto result =
            quorvel({"compose", "-b", "#00ff00", "-p", "10", "-o", "out.PNG", input});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, saved(path("out.PNG")));
        QVERIFY(result.err.isEmpty());
        const QImage out(path("out.PNG"));
        QCOMPARE(out.size(), QSize(120, 70));
        QCOMPARE(out.pixelColor(9, 35), QColor(Qt::green));
        QCOMPARE(out.pixelColor(10, 10), QColor(Qt::white));

        // A 144 dpi file is a HiDPI capture: padding 10 points is 20 pixels, unless -s 1.
        const QString retina = writePicture(path("retina.png"), {100, 50}, Qt::white, 5669);
        QCOMPARE(quorvel({"compose", "-p", "10", "-o", "retina_out.png", retina}).exitCode, 0);
        QCOMPARE(QImage(path("retina_out.png")).size(), QSize(140, 90));
        QCOMPARE(QImage(path("retina_out.png")).dotsPerMeterX(), 5669);
        QCOMPARE(quorvel({"compose", "-p", "10", "-s", "1", "-o", "flat.png", retina}).exitCode, 0);
        QCOMPARE(QImage(path("flat.png")).size(), QSize(120, 70));
    }

    // Each preset's colours: tst_background_painting; here the names reach them.
    void backgrounds()
    {
        const QColor red(255, 0, 0, 128);
        const struct {
            QString background;
            QColor topLeft, bottomRight;
        } cases[] = {{{}, QColor(0x007aff), QColor(0xaf52de)}, // cool, the default
                     {"Nature", QColor(0x28cd41), QColor(0xffcc00)},
                     {"#ff000080", red, red},
                     {"#000000,#808080,#ffffff", Qt::black, Qt::white},
                     {"image:" + path("backdrop.png"), Qt::red, Qt::blue}};
        const QString input = writePicture(path("bg.png"), {200, 100}, Qt::white);
        for (const auto& [background, topLeft, bottomRight] : cases) {
            QStringList arguments{"compose", "-o", "bg_out.png", input};
            if (!background.isNull())
                arguments << "--background" << background;
            QCOMPARE(quorvel(arguments).exitCode, 0);
            const QImage out = QImage(path("bg_out.png")).convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(out.size(), QSize(280, 180));
            QUORVEL_COMPARE_COLOR(out.pixelColor(0, 0), topLeft, 3);
            QUORVEL_COMPARE_COLOR(out.pixelColor(279, 179), bottomRight, 3);
        }
    }

    // Outputs in a folder made as needed (beside the input: fileNamesThatAreNotUtf8); a failing
    // input does not stop the others, and two inputs of one name never overwrite each other's
    // result.
    void severalInputs()
    {
        const QString a = writePicture(path("in/a.png"), {10, 10}, Qt::white);
        const QString b = writePicture(path("in/b.shot.png"), {10, 10}, Qt::black);
        const auto result = quorvel({"compose", "-d", "out/framed/", a, path("missing.png"), b});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.out, saved(path("out/framed/a_with_background.png")) +
                                 saved(path("out/framed/b.shot_with_background.png")));
        QVERIFY(result.err.startsWith("quorvel: " + path("missing.png").toUtf8() + ": ") &&
                result.err.count('\n') == 1);
        QCOMPARE(QImage(path("out/framed/b.shot_with_background.png")).pixelColor(45, 45),
                 QColor(Qt::black));

        const QString first = writePicture(path("x/p.png"), {10, 10}, Qt::white);
        const QString second = writePicture(path("y/p.png"), {10, 10}, Qt::black);
        const auto clash = quorvel({"compose", "-d", "same", first, second});
        QCOMPARE(clash.exitCode, 1);
        QVERIFY(clash.err.startsWith("quorvel: " + second.toUtf8() + ": "));
        QCOMPARE(QImage(path("same/p_with_background.png")).pixelColor(45, 45), QColor(Qt::white));
    }

    // Names that are not UTF-8 are read, and names made from them written, byte for byte.
    void fileNamesThatAreNotUtf8()
    {
        writePicture(path("plain.png"), {10, 10}, Qt::white);
        const auto result = m_sandbox.shell(
            "name=$(printf 'raw\\377\\376'); mkdir -p \"bytes/$name\" && "
            "cp plain.png \"bytes/$name.png\" && "
            "\"$Q\" compose \"bytes/$name.png\" && "
            "\"$Q\" compose -d \"bytes/$name/out\" \"bytes/$name.png\" && "
            "\"$Q\" compose -o \"bytes/$name/x.png\" -b \"image:bytes/$name.png\" plain.png && "
            "ls bytes \"bytes/$name\" \"bytes/$name/out\"");
        QVERIFY2(result.exitCode == 0 && result.err.isEmpty(), result.err.constData());
        QCOMPARE(result.out.count("Image saved successfully to: "), 3);
        const QByteArray listing = result.out.mid(result.out.lastIndexOf("saved"));
        QVERIFY2(listing.contains("raw\xff\xfe_with_background.png\n") &&
                     listing.contains("\nx.png\n") &&
                     listing.contains(":\nraw\xff\xfe_with_background.png\n"),
                 listing.constData());
    }

    // `-` reads standard input and writes the very bytes -o FILE writes to standard output,
    // the saved line to standard error; a failed write or a terminal is refused in one line.
    // A FIFO, with no size and no seeking either, is read to its end.
    void standardStreams()
    {
        QUORVEL_MAGICK("-size", "300x300", "xc:", "+noise", "Random", path("noise.png"));
        const auto piped = m_sandbox.shell(
            "\"$Q\" compose -b beach -r 12 -o file.png noise.png >/dev/null && "
            "cat noise.png | \"$Q\" compose -b beach -r 12 - -o - > piped.png && "
            "cmp file.png piped.png && \"$Q\" compose -b beach -r 12 - -o fromstdin.png "
            "< noise.png && cmp file.png fromstdin.png && mkfifo fifo && { cat noise.png >fifo & } "
            "&& \"$Q\" compose -b beach -r 12 -o fromfifo.png fifo >/dev/null && "
            "cmp file.png fromfifo.png");
        QVERIFY2(piped.exitCode == 0, piped.err.constData());
        QCOMPARE(piped.err, "Image saved successfully to: standard output\n");
        QCOMPARE(piped.out, saved(path("fromstdin.png")));

        // The PNG is larger than a pipe holds, so the early reader's exit is always seen.
        const auto failures = m_sandbox.shell(
            "{ \"$Q\" compose -p 0 - -o - < noise.png; echo \"broken $?\" >&2; } | true; "
            "\"$Q\" compose - -o - < noise.png >&-; echo \"closed $?\" >&2; "
            "Q=\"$Q\" script -qec '\"$Q\" compose - -o - < noise.png' /dev/null; "
            "echo \"tty $?\" >&2; "
            "Q=\"$Q\" script -qec '\"$Q\" compose - -o out.png' /dev/null; echo \"tty $?\" >&2");
        const QByteArray cannot = "quorvel: standard input: cannot write to standard output: ";
        QCOMPARE(failures.err, cannot + "Broken pipe\nbroken 1\n" + cannot +
                                   "Bad file descriptor\nclosed 1\ntty 2\ntty 2\n");
        QVERIFY2(failures.out.contains("to a terminal;") &&
                     failures.out.contains("input is a terminal;") &&
                     failures.out.count('\n') == 2 && !failures.out.contains("PNG\r"),
                 failures.out.constData());
        QVERIFY(!QFile::exists(path("out.png")));
    }

    // Refused inputs and outputs: one line of ours, the input and earlier output left alone.
    void failuresLeaveTheFilesAlone_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("err");
        QVERIFY(QDir(path(".")).mkpath("orig"));
        const QString input = writePicture(path("orig/shot.png"), {10, 10}, Qt::white);
        QVERIFY(::link(qPrintable(input), qPrintable(path("orig/hard.png"))) == 0);
        QVERIFY(QFile::link("shot.png", path("orig/soft.png")));
        fileBytes(path("bad.png"), QByteArray("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16));
        const auto row = [](const char* name, const QStringList& arguments, const QString& err) {
            QTest::newRow(name) << QStringList{"compose"} + arguments << err;
        };
        row("truncated picture", {"-o", "keep.png", "bad.png"}, "bad.png: ");
        // A path below a regular file cannot be created, even by root.
        row("output folder below a file", {"-d", "orig/shot.png/framed", "orig/shot.png"},
            "cannot create orig/shot.png/framed: Not a directory\n");
        row("control characters in a name", {"-o", "keep.png", "no\nsuch\x1b.png"},
            "no\\nsuch\\x1b.png: No such file");
        row("missing background picture",
            {"-b", "image:nope.png", "-o", "keep.png", "orig/shot.png"}, "nope.png: ");
        // Told by the file itself, not its name.
        for (const char* output : {"orig/hard.png", "orig/soft.png"})
            row(output, {"-o", output, "orig/shot.png"},
                QStringLiteral("orig/shot.png: its output %1 is the input itself;").arg(output));
    }
    void failuresLeaveTheFilesAlone()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, err);
        const QByteArray kept = fileBytes(path("keep.png"), "earlier");
        const QByteArray input = fileBytes(path("orig/shot.png"));
        const QStringList entries = m_sandbox.entries(".");
        const auto result = quorvel(arguments);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.out.isEmpty() && result.err.startsWith("quorvel: " + err.toUtf8()) &&
                     result.err.count('\n') == 1,
                 result.err.constData());
        QCOMPARE(fileBytes(path("keep.png")), kept);
        QCOMPARE(fileBytes(path("orig/shot.png")), input);
        QCOMPARE(m_sandbox.entries("."), entries);
    }

    // `open`: every file is tried and reported in order, one line each; with not one window
    // open, the command ends at once. How each kind of damaged file is told: tst_open_flow,
    // tst_image_loader, tst_movie_source. With no display, or one not there, one line.
    void openWithNothingToShow()
    {
        fileBytes(path("notes.txt"), "not a picture\n");
        QVERIFY(movie_fixtures::make(path("sound.m4a"), "-f lavfi -i sine=duration=0.2 -c:a aac"));
        const QStringList files{"notes.txt", "sound.m4a", "missing.png"};
        const QList<QByteArray> reasons{"not a picture or a movie Quorvel can read",
                                        "the movie has no picture", "No such file or directory"};
        const auto result = quorvel(QStringList{"open"} + files);
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.out.isEmpty());
        const QList<QByteArray> lines = result.err.split('\n');
        QCOMPARE(lines.size(), files.size() + 1);
        for (int i = 0; i < files.size(); ++i)
            QVERIFY2(lines[i].startsWith("quorvel: " + files[i].toUtf8() + ": " + reasons[i]),
                     lines[i].constData());

        writePicture(path("shown.png"), {8, 8}, Qt::blue);
        const QList<std::pair<QString, QByteArray>> displays{
            {"env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM", "no display"},
            {"env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb DISPLAY=:4711",
             "cannot connect to display :4711"}};
        for (const auto& [environment, error] : displays) {
            const auto refused = m_sandbox.shell(environment + " \"$Q\" open shown.png");
            QCOMPARE(refused.exitCode, 1);
            QCOMPARE(refused.err, "quorvel: cannot open a window: " + error + "\n");
            QVERIFY(refused.out.isEmpty());
        }
    }

    // Usage mistakes: two lines on standard error, the second naming the help; status 2.
    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("says");
        const auto row = [](const char* name, const QStringList& arguments, const char* says = "") {
            QTest::newRow(name) << arguments << QByteArray(says);
        };
        row("no input", {"compose"}, "no INPUT");
        row("output with two inputs", {"compose", "-o", "o.png", "a", "b"});
        row("output and output-dir", {"compose", "-o", "o.png", "-d", ".", "a"});
        row("unknown background", {"compose", "-b", "plaid", "a"}, "called 'plaid'\n");
        row("newline in a background", {"compose", "-b", "cool\nx", "a"}, "called 'cool\\nx'\n");
        row("output not PNG", {"compose", "-o", "o.jpg", "a"}, "-o 'o.jpg': ");
        row("unknown command", {"frobnicate"}, "'frobnicate'");
        row("video without output", {"video", "a.mp4"}, "--output");
        row("video output not MPEG-4", {"video", "a.mp4", "-o", "o.mov"}, "-o 'o.mov': ");
        row("open, unknown option", {"open", "--padding", "3", "a.png"}, "'padding'");
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, says);
        const QByteArray command = arguments[0] == "frobnicate" ? "" : " " + arguments[0].toUtf8();
        const auto result = quorvel(arguments);
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.out.isEmpty() &&
                m_sandbox.entries(".").filter(QRegularExpression("^o\\b")).isEmpty());
        QVERIFY2(result.err.count('\n') == 2 && result.err.contains(says) &&
                     result.err.endsWith("\nTry 'quorvel" + command + " --help'.\n"),
                 result.err.constData());
    }

    // Help needs no display, not even for the command that opens windows.
    void help()
    {
        const auto result = m_sandbox.shell(
            "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \"$Q\" open --help");
        QVERIFY2(result.exitCode == 0 && result.out.startsWith("Usage: quorvel open ") &&
                     result.err.isEmpty(),
                 result.err.constData());
    }
};

QTEST_GUILESS_MAIN(ComposeCommandTest)
#include "tst_compose_command.moc"
