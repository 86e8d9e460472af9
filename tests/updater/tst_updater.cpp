#include "appcast.h"
#include "check_for_updates_view_model.h"
#include "simple_html.h"
#include "test_support.h"
#include "update_dialog.h"
#include "updater.h"

#include <QAccessible>
#include <QAction>
#include <QHash>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSignalSpy>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

Q_DECLARE_METATYPE(UpdateCheckResult)

using namespace std::chrono_literals;

namespace {

// Loopback HTTP, or HTTPS with a QSslServer: canned answers by path, else
// 404; "/trickle" never ends.
class FeedServer : public QObject {
public:
    explicit FeedServer(QTcpServer* server = new QTcpServer) : m_server(server)
    {
        QVERIFY(m_server->listen(QHostAddress::LocalHost));
        // Pending once accepted (for HTTPS: once the handshake is done).
        connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket* socket = m_server->nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        });
    }

    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                        .arg(qobject_cast<QSslServer*>(m_server.get()) ? "https" : "http")
                        .arg(m_server->serverPort())
                        .arg(path));
    }

    void serve(const QString& path, const QByteArray& response) { m_routes.insert(path, response); }

    static QByteArray ok(const QByteArray& body, const QByteArray& headers = {})
    {
        return "HTTP/1.1 200 OK\r\n" + headers +
               "Content-Length: " + QByteArray::number(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
    }

    int requests = 0;

private:
    void answer(QTcpSocket* socket)
    {
        QByteArray& request = m_pending[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        ++requests;
        const QString path = QString::fromLatin1(request.split(' ').value(1));
        if (path == u"/trickle") {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
            auto* drip = new QTimer(socket);
            connect(drip, &QTimer::timeout, socket, [socket] { socket->write(" "); });
            drip->start(50);
            return;
        }
        socket->write(m_routes.value(path, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n"
                                           "Connection: close\r\n\r\n"));
        socket->disconnectFromHost();
    }

    std::unique_ptr<QTcpServer> m_server;
    QHash<QString, QByteArray> m_routes;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

QByteArray feed(const QByteArray& items)
{
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Quorvel</title>)" +
           items + "</channel></rss>";
}

QByteArray enclosureItem(const QByteArray& version, const QByteArray& shortVersion = {})
{
    return "<item><title>Quorvel " + version +
           "</title><description><![CDATA[<p>Faster <b>export</b>.</p>]]></description>"
           "<enclosure url=\"https://downloads.example.org/quorvel-" +
           version + ".tar.gz\" sparkle:version=\"" + version + "\"" +
           (shortVersion.isEmpty() ? QByteArray()
                                   : " sparkle:shortVersionString=\"" + shortVersion + "\"") +
           " length=\"1\" type=\"application/octet-stream\"/></item>";
}

bool hasReddishPixel(const QImage& image)
{
    for (int i = 0; i < image.width() * image.height(); ++i)
        if (const QColor c = image.pixelColor(i % image.width(), i / image.width());
            c.red() > 200 && c.green() < 80 && c.blue() < 80)
            return true;
    return false;
}

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

    QSslConfiguration m_selfSigned = QSslConfiguration::defaultConfiguration();

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<UpdateCheckResult>();
        // A certificate no one signed, and its key, for a server that must be refused.
        const auto made = test_support::run(
            "openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", "/dev/stdout"});
        m_selfSigned.setLocalCertificate(QSslCertificate(made.out));
        m_selfSigned.setPrivateKey(QSslKey(made.out, QSsl::Rsa));
        QVERIFY2(!m_selfSigned.localCertificate().isNull() && !m_selfSigned.privateKey().isNull(),
                 made.err.constData());
    }
    void cleanup() { delete findDialog(); } // left by a failure, not to mislead the next

    void comparesVersionsAsFeedsMeanThem()
    {
        const struct {
            const char *a, *b;
            int order;
        } rows[] = {{"1.10", "1.9", 1},
                    {"2.0", "2.0b1", 1},
                    {"2.0b2", "2.0rc1", -1},
                    {"1.02", "1.2", 0},
                    {"2.0 beta 1", "2.0", -1},
                    {"1.0.1", "1.01", -1},
                    {"123456789012345678901234", "99", 1}};
        for (const auto& [a, b, order] : rows) {
            QCOMPARE(compareVersions(a, b), order);
            QCOMPARE(compareVersions(b, a), -order);
        }
    }

    // Items without a version are skipped, and a web link beats the download.
    void readsAppcasts()
    {
        const QByteArray bytes = feed(enclosureItem("1.9") +
                                      R"(<item><title>Elements</title>
                <sparkle:version>1.10</sparkle:version>
                <link>https://quorvel.example.org/download</link>
                <enclosure url="https://downloads.example.org/q.tar.gz" length="1"/></item>
            <item><title>No version</title><enclosure url="https://x.example.org/a"/></item>
            <item><title>Nothing to download</title><sparkle:version>9</sparkle:version>
                <link>javascript:alert(1)</link></item>)");
        const AppcastParse parsed = parseAppcast(bytes);
        const auto& items = std::get<QList<AppcastItem>>(parsed);
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0].downloadPage, QUrl("https://downloads.example.org/quorvel-1.9.tar.gz"));
        QCOMPARE(items[0].releaseNotes, QStringLiteral("<p>Faster <b>export</b>.</p>"));
        QCOMPARE(newestItem(items)->downloadPage, QUrl("https://quorvel.example.org/download"));
    }

    void checksTheFeed_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("detail"); // version shown, or words of the reason

        using O = UpdateCheckResult::Outcome;
        const auto row = [](const char* name, const QByteArray& response, O outcome,
                            const char* detail = "", const char* path = "/feed") {
            QTest::newRow(name) << path << response << int(outcome) << detail;
        };
        const auto ok = [](const QByteArray& items) { return FeedServer::ok(feed(items)); };
        row("newer", ok(enclosureItem("1.2.0") + enclosureItem("1.10.0", "1.10")),
            O::updateAvailable, "1.10");
        row("same", ok(enclosureItem("1.9.0")), O::upToDate);
        row("no releases", ok({}), O::upToDate);
        row("not a feed", FeedServer::ok("<html><body>Sign in</body></html>"), O::failed,
            "not an RSS");
        row("nested without end",
            FeedServer::ok("<rss><channel>" + QByteArray("<a>").repeated(200000)), O::failed,
            "well-formed");
        QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a0 \"lol\">";
        for (int i = 1; i < 10; ++i)
            laughs += "<!ENTITY a" + QByteArray::number(i) + " \"" +
                      ("&a" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
        laughs += "]><rss><channel><item><title>&a9;</title></item></channel></rss>";
        row("entity expansion", FeedServer::ok(laughs), O::failed, "well-formed");
        row("404", {}, O::failed, "404", "/missing");
        // The deadline covers the whole check, not each read.
        row("time-out, while trickling", {}, O::failed, "did not answer", "/trickle");
        row("oversized, no length",
            "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + QByteArray(3 * 1024 * 1024, ' '),
            O::failed, "larger than 1 MB");
        // 20 MB of zeros, packed to 20 kB.
        row("gzip bomb",
            FeedServer::ok(test_support::run("sh", {"-c", "head -c 20M /dev/zero | gzip"}).out,
                           "Content-Encoding: gzip\r\n"),
            O::failed, "could not be unpacked");
        // The reason names the address, too long to show whole.
        row("redirect to plain HTTP",
            "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/" + QByteArray(30000, 'x') +
                "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
            O::failed, "not HTTPS");
        // Never fetched, as nothing reaches the network then.
        row("plain HTTP elsewhere", {}, O::failed, "not HTTPS", "http://updates.example.org/a");
        row("no feed", {}, O::notConfigured, "", "");
        row("self-signed certificate", ok(enclosureItem("2.0")), O::failed, "self-signed",
            "/self-signed");
    }
    void checksTheFeed()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, response);
        QFETCH(int, outcome);
        QFETCH(QString, detail);
        using O = UpdateCheckResult::Outcome;

        // Only a certificate the system trusts will do.
        const bool tls = path == u"/self-signed";
        auto* listener = tls ? new QSslServer : new QTcpServer;
        if (tls)
            static_cast<QSslServer*>(listener)->setSslConfiguration(m_selfSigned);
        FeedServer server(listener);
        if (!response.isEmpty())
            server.serve(path, response);
        const bool local = path.startsWith('/');
        Updater updater({.feedUrl = local ? server.url(path) : QUrl(path), .timeout = 400ms},
                        QStringLiteral("1.9.0"));
        QList<QUrl> opened;
        UpdateDialog::showForChecks(updater, [&opened](const QUrl& url) {
            opened << url;
            return true;
        });
        QSignalSpy finished(&updater, &Updater::checkFinished);
        updater.start();
        // The check at start speaks up only of a newer version, and lets the
        // person go on with what they are doing.
        if (!path.isEmpty()) {
            QVERIFY(finished.wait(5000));
            QCOMPARE(findDialog() && !findDialog()->isModal(), outcome == int(O::updateAvailable));
        }

        // A person's check is always answered, replacing the dialog still open.
        QPointer<UpdateDialog> first = findDialog();
        finished.clear();
        const QByteArray printed = test_support::stdoutOf([&] {
            updater.checkForUpdates();
            finished.wait(5000);
        });
        QCOMPARE(finished.size(), 1);
        const auto result = finished.first().first().value<UpdateCheckResult>();
        QCOMPARE(int(result.outcome), outcome);
        QCOMPARE(server.requests >= 2, local && !tls); // Qt may retry a connection cut short
        QVERIFY(local || !updater.findChild<QNetworkAccessManager*>());
        if (result.outcome == O::updateAvailable)
            QCOMPARE(result.item.displayVersion(), detail);
        else if (result.outcome == O::failed)
            QVERIFY(printed.startsWith("Update check failed: " + result.reason.toUtf8() + "\n"));
        QTRY_VERIFY(findDialog() && findDialog() != first);
        QTRY_VERIFY(!first);

        // What it found is heard through the accessibility tree; every button
        // takes Tab, and the default one, pressed there, opens the download
        // page when there is one.
        // Versions and reasons come from outside: however long, the dialog keeps a sane size.
        QPointer<UpdateDialog> dialog = findDialog();
        QVERIFY(dialog->width() < 700 && dialog->height() < 700);
        QString names;
        for (QLabel* label : dialog->findChildren<QLabel*>())
            names += QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name) + " | ";
        QVERIFY2(names.contains(detail), qPrintable(names));
        QCOMPARE(names.contains("1.9.0"),
                 result.outcome == O::upToDate || result.outcome == O::updateAvailable);
        QPushButton* press = nullptr;
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
            QVERIFY(button->focusPolicy() & Qt::TabFocus);
            press = button->isDefault() ? button : press;
        }
        QAccessible::queryAccessibleInterface(press)->actionInterface()->doAction(
            QAccessibleActionInterface::pressAction());
        QTRY_VERIFY(!dialog);
        QCOMPARE(opened, result.outcome == O::updateAvailable
                             ? QList<QUrl>{result.item.downloadPage}
                             : QList<QUrl>{});
    }

    // One check at a time, the menu action following; then again on schedule.
    void oneCheckAtATimeAndOnSchedule()
    {
        FeedServer server;
        Updater updater({.feedUrl = server.url("/trickle"), .timeout = 300ms},
                        QStringLiteral("1.0"));
        CheckForUpdatesViewModel model(updater);
        QAction* action = model.createAction(&model);
        QVERIFY(!model.canCheckForUpdates() && !action->isEnabled()); // not started yet

        updater.start(); // the scheduled check starts from the event loop
        QVERIFY(model.canCheckForUpdates());
        QTRY_COMPARE(server.requests, 1);
        QVERIFY(!model.canCheckForUpdates() && !action->isEnabled());
        updater.checkForUpdates(); // ignored while one runs
        QTRY_VERIFY(model.canCheckForUpdates());
        QCOMPARE(server.requests, 1);

        QSignalSpy finished(&updater, &Updater::checkFinished);
        action->trigger();
        QVERIFY(finished.wait(5000));
        QCOMPARE(server.requests, 2);
        QVERIFY(action->isEnabled());

        server.serve(QStringLiteral("/feed"), FeedServer::ok(feed(enclosureItem("1.0"))));
        Updater scheduled({.feedUrl = server.url("/feed"), .interval = 200ms}, "1.0");
        QSignalSpy again(&scheduled, &Updater::checkFinished);
        scheduled.start();
        QTRY_COMPARE_WITH_TIMEOUT(again.size(), 3, 5000);
        QVERIFY(!again.last().at(1).toBool());
    }

    void readsTheSettingsFile()
    {
        QTemporaryDir dir;
        QCOMPARE(readUpdaterSettings(dir.filePath("none.conf")).feedUrl, QUrl());
        // As shipped, quoted, and with a comma unquoted; a file each, as QSettings
        // keeps what it read of a name whose size and time look the same.
        for (const char* value :
             {"\"\"", "\"https://q.example.org/a.xml\"", "https://q.example.org/a,b.xml"}) {
            const QString file = dir.filePath(QString::number(qHash(QByteArray(value))));
            test_support::fileBytes(file, "[Updates]\nFeedURL=" + QByteArray(value) + "\n");
            QCOMPARE(readUpdaterSettings(file).feedUrl, QUrl(QString(value).remove('"')));
        }
    }

    // Notes come from the feed. Simplified, they keep text, simple formatting
    // and web links; they load nothing (no files, no data: URLs), run nothing,
    // show at once however deeply nested, and only a click on a web link opens
    // anything.
    void releaseNotesAreInert()
    {
        QTemporaryDir dir;
        const QString picture = dir.filePath("red.png"), sheet = dir.filePath("notes.css");
        QVERIFY(test_support::filled(Qt::red, {120, 60}).save(picture));
        test_support::fileBytes(sheet, "p { color: red; background-color: red }");
        const QString web = "https://quorvel.example.org/notes?a=1&b=2";
        UpdateCheckResult result{UpdateCheckResult::Outcome::updateAvailable, "1.9", {}, {}};
        // Too long to show whole, as one run and as words.
        result.item.shortVersionString =
            QString(100000, u'7') + QStringLiteral(" 1").repeated(50000);
        result.item.releaseNotes =
            QStringLiteral(
                "<!DOCTYPE html><head><link rel=\"stylesheet\" href=\"%1\"></head>"
                "<style>p { color: red }</style><script>alert(1)</script><!-- <img src=\"%2\"> -->"
                "<p onclick=\"x()\" style=\"background-image: url(%2)\">"
                "<a href=\"file:///etc/passwd\">local</a> <A HREF='javascript:alert(1)'>script</A> "
                "<a href=\"https://quorvel.example.org/notes?a=1&amp;b=2\">web</a></p>"
                "<p>Faster <b>export</b> <img src=\"%2\"><iframe src=\"%2\"></iframe></p>"
                "<p><img src=\"data:image/png;base64,%3\"></p>")
                .arg(QUrl::fromLocalFile(sheet).toString(), QUrl::fromLocalFile(picture).toString(),
                     QString::fromLatin1(test_support::fileBytes(picture).toBase64())) +
            // Qt's layout slows down steeply with nesting (twenty tables freeze it).
            QStringLiteral("<table><tr><td>").repeated(12) +
            QStringLiteral("<b><ul><li>").repeated(5000) + "deep<script>never";
        const QString simple = simpleHtml(result.item.releaseNotes);
        for (const char* gone : {"<script", "alert", "<style", "<img", "<link", "<iframe",
                                 "style=", "onclick", "file:", "data:", "never"})
            QVERIFY2(!simple.contains(QLatin1String(gone), Qt::CaseInsensitive), gone);
        QVERIFY(simple.contains("<p>Faster <b>export</b>") && simple.count("<li>") < 100);
        QVERIFY(simpleHtml(QStringLiteral("word ").repeated(100000)).size() < 20000);

        QList<QUrl> opened;
        QElapsedTimer clock;
        clock.start();
        QPointer<UpdateDialog> dialog = new UpdateDialog(result, [&opened](const QUrl& url) {
            opened << url;
            return true;
        });
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QVERIFY(dialog->width() < 700 && dialog->height() < 700);
        auto* notes = dialog->findChild<QTextBrowser*>();
        QVERIFY(!hasReddishPixel(dialog->grab().toImage()));
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY(notes->toPlainText().contains("deep"));
        for (const char* text : {"local", "script", "web"}) {
            QTextCursor link = notes->document()->find(QString::fromLatin1(text));
            link.setPosition(link.selectionStart() + 1);
            QTest::mouseClick(notes->viewport(), Qt::LeftButton, {},
                              notes->cursorRect(link).center());
        }
        QCOMPARE(opened, QList<QUrl>{QUrl(web)});
        dialog->close();
    }

private:
    static UpdateDialog* findDialog()
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<UpdateDialog*>(widget); dialog && dialog->isVisible())
                return dialog;
        return nullptr;
    }
};

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
