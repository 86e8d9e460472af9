// The one way every window opens an editor: captures, panels, drops and named
// files, over a scripted backend, a stand-in panel and real files.

#include "open_flow.h"
#include "scripted_backend.h"
#include "stand_in_panel.h"
#include "test_support.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

using test_support::filled;

class OpenFlowTest : public QObject {
    Q_OBJECT

    ScriptedBackend m_backend;
    StandInPanel m_panel;
    QList<EditorRequest> m_opened;
    QStringList m_lines;
    QStringList m_moviesChecked;
    QTemporaryDir m_dir;
    std::unique_ptr<OpenFlow> m_flow;

    OpenFlow& makeFlow(OpenedFrom from = OpenedFrom::mainWindow)
    {
        m_flow = std::make_unique<OpenFlow>(
            OpenFlow::Services{m_backend, m_panel,
                               [this](const EditorRequest& r) { m_opened << r; },
                               [this](const QString& path) {
                                   m_moviesChecked << path;
                                   return path.contains("still") ? QString("the movie has no picture")
                                                                 : QString();
                               },
                               [this](const QString& line) { m_lines << line; }},
            from);
        return *m_flow;
    }
    QString file(const QString& name, const QByteArray& bytes)
    {
        test_support::fileBytes(m_dir.filePath(name), bytes);
        return m_dir.filePath(name);
    }
    QString png(const QString& name, QColor color)
    {
        return filled(color).save(m_dir.filePath(name), "PNG") ? m_dir.filePath(name) : QString();
    }
    // A few bytes that start an MP4: enough to be taken for one by content.
    QByteArray mp4Head() { return QByteArray("\0\0\0\x18" "ftypisom", 12) + QByteArray(64, '\0'); }

private Q_SLOTS:
    void init()
    {
        QGuiApplication::clipboard()->clear();
        m_backend.answers.clear(), m_backend.asked.clear();
        m_panel = {};
        m_opened.clear(), m_lines.clear(), m_moviesChecked.clear();
    }
    void cleanup() { m_flow.reset(); }

    // A capture opens an editor with its picture; a second one asked meanwhile is refused;
    // a cancelled or failed one with nothing to show opens nothing; once there is a picture,
    // a cancel opens the last one (or the clipboard's).
    void capturesOpenWhatTheyShow()
    {
        OpenFlow& flow = makeFlow(OpenedFrom::trayPanel);
        m_backend.answers = {QVariant(), QString("no screen"), QVariant::fromValue(filled(Qt::red)),
                             QVariant()};
        QCOMPARE(flow.startCapture(ScreenshotTypes::area), QString());
        QCOMPARE(flow.startCapture(ScreenshotTypes::window), "a capture is already under way");
        QTRY_VERIFY(!flow.isCapturing());
        QCOMPARE(flow.startCapture(ScreenshotTypes::area), QString());
        QTRY_VERIFY(!flow.isCapturing());
        QCOMPARE(m_backend.asked, (QList{ScreenshotTypes::area, ScreenshotTypes::area}));
        QVERIFY(m_opened.isEmpty()); // cancelled, then failed: nothing to show

        flow.startCapture(ScreenshotTypes::window);
        QTRY_COMPARE(m_opened.size(), 1);
        QCOMPARE(m_opened[0].picture, filled(Qt::red));
        QCOMPARE(m_opened[0].from, OpenedFrom::trayPanel);
        flow.startCapture(ScreenshotTypes::area);
        QTRY_COMPARE(m_opened.size(), 2); // cancelled: the clipboard still holds the capture
        QCOMPARE(m_opened[1].picture, filled(Qt::red));
    }

    // Chosen files: a picture named after its file; a bad one prints the line, then shows the
    // last picture (none yet: nothing); a movie opens a movie editor; a cancelled panel nothing.
    void chosenFiles()
    {
        OpenFlow& flow = makeFlow();
        const QString bad = file("bad.png", "not a picture");
        flow.chooseImage();
        m_panel.answer(bad);
        QTRY_COMPARE(m_lines.size(), 1);
        QCOMPARE(m_lines[0], "Failed to load image from URL: " + QUrl::fromLocalFile(bad).toString());
        flow.chooseImage();
        m_panel.answer(png("shot.png", Qt::green));
        QTRY_COMPARE(m_opened.size(), 1);
        flow.chooseImage();
        m_panel.answer(bad);
        QTRY_COMPARE(m_opened.size(), 2);
        flow.chooseMovie();
        m_panel.answer(m_dir.filePath("take.mov"));
        flow.chooseImage();
        m_panel.answer(std::nullopt);

        QCOMPARE(m_panel.requests[0].prompt, "Choose Image");
        QCOMPARE(m_panel.requests[3].prompt, "Choose Video");
        QCOMPARE(m_opened.size(), 3);
        QCOMPARE(m_opened[0].fileName, "shot.png");
        QCOMPARE(m_opened[0].picture, filled(Qt::green));
        QCOMPARE(m_opened[1].fileName, QString()); // the old picture, not the bad file
        QCOMPARE(m_opened[1].picture, filled(Qt::green));
        QVERIFY(m_opened[2].showVideoPlayer);
        QCOMPARE(m_opened[2].movie, QUrl::fromLocalFile(m_dir.filePath("take.mov")));
        QCOMPARE(flow.screenRecorder().lastRecordingURL(), m_opened[2].movie);
    }

    // Named or dropped files are told apart by content whatever their names, each opens its
    // own editor, and any that cannot be opened, however it fails, opens nothing and says why.
    void namedFilesByContent()
    {
        OpenFlow& flow = makeFlow();
        const QString fifo = m_dir.filePath("pipe.png");
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        const QString empty = m_dir.filePath("empty.jpg");
        QFile(empty).open(QIODevice::WriteOnly);
        const QStringList paths{png("looks-like.mov", Qt::blue), file("clip.png", mp4Head()),
                                file("still.mp4", mp4Head()), file("notes.png", "some words"),
                                empty, fifo, m_dir.path(),
                                m_dir.filePath("missing.png")};
        QStringList failures;
        flow.openFiles(paths, [&](const QStringList& f) { failures = f; });
        QVERIFY(m_opened.isEmpty()); // nothing is read on the caller's thread
        QTRY_COMPARE(failures.size(), paths.size());

        QCOMPARE(m_opened.size(), 2);
        QCOMPARE(m_opened[0].picture, filled(Qt::blue));
        QCOMPARE(m_opened[0].fileName, "looks-like.mov");
        QVERIFY(m_opened[1].showVideoPlayer);
        QCOMPARE(m_opened[1].movie, QUrl::fromLocalFile(paths[1]));
        m_moviesChecked.sort(); // checked on the pool, in no set order
        QCOMPARE(m_moviesChecked, (QStringList{paths[1], paths[2]}));
        QCOMPARE(failures.mid(0, 5),
                 (QStringList{"", "", "the movie has no picture",
                              "not a picture or a movie Quorvel can read", "the file is empty"}));
        QVERIFY2(failures[5].startsWith("not a regular file"), qPrintable(failures[5]));
        QCOMPARE(failures.mid(6), (QStringList{"Is a directory", "No such file or directory"}));
    }

    // A mistaken glob cannot open thousands of windows: the first few open, the rest are
    // refused with how many were left.
    void manyFilesAtOnce()
    {
        OpenFlow& flow = makeFlow();
        const QString one = png("one.png", Qt::red);
        const QStringList paths(OpenFlow::kMostFilesAtOnce + 5, one);
        QStringList failures;
        flow.openFiles(paths, [&](const QStringList& f) { failures = f; });
        QTRY_COMPARE(failures.size(), paths.size());
        QCOMPARE(m_opened.size(), OpenFlow::kMostFilesAtOnce);
        QCOMPARE(failures.count(QString()), OpenFlow::kMostFilesAtOnce);
        QVERIFY(failures.last().contains("5 were left"));
    }

    // The clipboard's picture opens an editor; with none there, a line and no editor.
    void paste()
    {
        OpenFlow& flow = makeFlow();
        flow.pastePicture();
        QCOMPARE(m_lines, QStringList{"No picture on the clipboard to paste"});
        QGuiApplication::clipboard()->setImage(filled(Qt::yellow));
        flow.pastePicture();
        QCOMPARE(m_opened.size(), 1);
        QCOMPARE(m_opened[0].picture.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 filled(Qt::yellow));
    }

    // The access check's answer arrives later and is printed once per ask.
    void permissionComesLater()
    {
        std::function<void(bool)> pending;
        OpenFlow flow({m_backend, m_panel, {}, {}, [this](const QString& l) { m_lines << l; },
                       [&](QObject*, std::function<void(bool)> answer) { pending = answer; }},
                      OpenedFrom::mainWindow);
        QSignalSpy changes(&flow, &OpenFlow::permissionChanged);
        flow.refreshPermission();
        flow.refreshPermission(); // answered by the one on its way
        QVERIFY(!flow.isPermissionGranted() && changes.isEmpty() && m_lines.isEmpty());
        pending(true);
        QVERIFY(flow.isPermissionGranted());
        QCOMPARE(changes.size(), 1);
        QCOMPARE(m_lines, QStringList{"Permission check: true"});
    }
};

QTEST_MAIN(OpenFlowTest)
#include "tst_open_flow.moc"
