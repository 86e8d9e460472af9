// `quorvel open` where no window opens: refused files and no display (its options are
// in tst_compose_command, its windows in tests/e2e/tst_editor_windows).

#include "../video/movie_fixtures.h"
#include "command_sandbox.h"

#include <QImage>
#include <QtTest>

class OpenCommandTest : public QObject {
    Q_OBJECT

    test_support::CommandSandbox m_sandbox;
    QString path(const QString& name) const { return m_sandbox.path(name); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_sandbox.isValid()); }

    // Every file is tried and reported in order, one line each; with not one
    // window open, the command ends at once.
    void filesThatAreNeitherPictureNorMovie()
    {
        test_support::fileBytes(path("notes.txt"), "not a picture\n");
        QVERIFY(movie_fixtures::make(path("sound.m4a"), "-f lavfi -i sine=duration=0.2 -c:a aac"));
        // How each kind of damaged file is told: tst_open_flow, tst_image_loader, tst_movie_source.
        const QStringList files{"notes.txt", "sound.m4a", "missing.png"};
        const QList<QByteArray> reasons{"not a picture or a movie Quorvel can read",
                                        "the movie has no picture", "No such file or directory"};
        const auto result = m_sandbox.quorvel(QStringList{"open"} + files);
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.out.isEmpty());
        const QList<QByteArray> lines = result.err.split('\n');
        QCOMPARE(lines.size(), files.size() + 1);
        for (int i = 0; i < files.size(); ++i)
            QVERIFY2(lines[i].startsWith("quorvel: " + files[i].toUtf8() + ": " + reasons[i]),
                     lines[i].constData());
    }

    // No display at all, or one that is not there.
    void noDisplayIsOneLine()
    {
        QUORVEL_MAGICK("-size", "8x8", "xc:blue", path("shot.png"));
        for (const auto& [environment, error] : QList<std::pair<QString, QByteArray>>{
                 {"env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM", "no display"},
                 {"env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb DISPLAY=:4711",
                  "cannot connect to display :4711"}}) {
            const auto result = m_sandbox.shell(environment + " \"$Q\" open shot.png");
            QCOMPARE(result.exitCode, 1);
            QCOMPARE(result.err, "quorvel: cannot open a window: " + error + "\n");
            QVERIFY(result.out.isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(OpenCommandTest)
#include "tst_open_command.moc"
