#include "appcast.h"
#include "check_for_updates_view_model.h"
#include "test_support.h"
#include "update_dialog.h"
#include "updater.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QHash>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

Q_DECLARE_METATYPE(UpdateCheckResult)

using namespace std::chrono_literals;

namespace {

// Loopback HTTP: canned answers by path, else 404; "/hang" never answers, "/trickle" never ends.
class FeedServer : public QObject {
public:
    FeedServer()
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        });
    }

    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }

    void serve(const QString& path, const QByteArray& response) { m_routes.insert(path, response); }

    static QByteArray ok(const QByteArray& body)
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
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
        if (path == u"/hang")
            return;
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

    QTcpServer m_server;
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

UpdateCheckResult checkOnce(Updater& updater)
{
    QSignalSpy finished(&updater, &Updater::checkFinished);
    updater.checkForUpdates();
    if (!finished.wait(5000))
        return {};
    return finished.first().first().value<UpdateCheckResult>();
}

QStringList accessibleNames(QAccessibleInterface* node)
{
    QStringList names;
    if (!node)
        return names;
    if (!node->text(QAccessible::Name).isEmpty())
        names << node->text(QAccessible::Name);
    for (int i = 0; i < node->childCount(); ++i)
        names << accessibleNames(node->child(i));
    return names;
}

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<UpdateCheckResult>(); }

    void comparesVersionsAsFeedsMeanThem()
    {
        const struct {
            const char *a, *b;
            int order;
        } rows[] = {{"1.10", "1.9", 1},                    // numbers, not text
                    {"2.0", "2.0b1", 1},                   // a release beats its beta
                    {"2.0b2", "2.0rc1", -1},               // beta before release candidate
                    {"2.0b10", "2.0b9", 1},                // later beta
                    {"1.02", "1.2", 0},                    // leading zeros
                    {"2.0 beta 1", "2.0", -1},             // spaced beta
                    {"123456789012345678901234", "99", 1}, // beyond 64 bits
                    {"1.0.1", "1.01", -1}};                // a number beats a period
        for (const auto& [a, b, order] : rows) {
            QCOMPARE(compareVersions(a, b), order);
            QCOMPARE(compareVersions(b, a), -order);
        }
    }

    void readsAppcasts()
    {
        const QByteArray bytes = feed(enclosureItem("1.9", "1.9 Final") +
                                      R"(<item><title>Elements</title>
                <sparkle:version>1.10</sparkle:version>
                <sparkle:shortVersionString>1.10</sparkle:shortVersionString>
                <link>https://quorvel.example.org/download</link>
                <enclosure url="https://downloads.example.org/q.tar.gz" length="1"/></item>
            <item><title>No version</title><enclosure url="https://x.example.org/a"/></item>
            <item><title>Nothing to download</title><sparkle:version>9</sparkle:version>
                <link>javascript:alert(1)</link></item>)");
        const AppcastParse parsed = parseAppcast(bytes);
        QVERIFY(std::holds_alternative<QList<AppcastItem>>(parsed));
        const auto& items = std::get<QList<AppcastItem>>(parsed);
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0].displayVersion(), QStringLiteral("1.9 Final"));
        QCOMPARE(items[0].downloadPage, QUrl("https://downloads.example.org/quorvel-1.9.tar.gz"));
        QCOMPARE(items[0].releaseNotes, QStringLiteral("<p>Faster <b>export</b>.</p>"));
        const AppcastItem* newest = newestItem(items);
        QVERIFY(newest);
        QCOMPARE(newest->title, QStringLiteral("Elements"));
        QCOMPARE(newest->downloadPage, QUrl("https://quorvel.example.org/download"));
    }

    void refusesWhatIsNoAppcast()
    {
        QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a0 \"lol\">";
        for (int i = 1; i < 10; ++i)
            laughs += "<!ENTITY a" + QByteArray::number(i) + " \"" +
                      ("&a" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
        laughs += "]><rss><channel><item><title>&a9;</title></item></channel></rss>";
        const QList<std::pair<QByteArray, QString>> cases{
            {"<html><body>Sign in</body></html>", "not an RSS"},
            {"<rss version=\"2.0\"/>", "not an RSS"}, // no channel
            {laughs, "well-formed"},                  // entity expansion bomb
            {"<rss><channel>" + QByteArray("<a>").repeated(200000), "well-formed"}};
        for (const auto& [bytes, reason] : cases) {
            const AppcastParse parsed = parseAppcast(bytes);
            QVERIFY(std::holds_alternative<QString>(parsed));
            QVERIFY2(std::get<QString>(parsed).contains(reason),
                     qPrintable(std::get<QString>(parsed)));
        }
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
        row("malformed", FeedServer::ok(feed(enclosureItem("2.0")).chopped(20)), O::failed,
            "well-formed");
        row("404", {}, O::failed, "404", "/missing");
        row("time-out", {}, O::failed, "did not answer", "/hang");
        row("time-out, while trickling", {}, O::failed, "did not answer", "/trickle");
        row("oversized, said up front", FeedServer::ok(QByteArray(1024 * 1024 + 1, ' ')), O::failed,
            "larger than 1 MB");
        row("oversized, no length",
            "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + QByteArray(3 * 1024 * 1024, ' '),
            O::failed, "larger than 1 MB");
        row("redirect to plain HTTP",
            "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/feed.xml\r\n"
            "Content-Length: 0\r\nConnection: close\r\n\r\n",
            O::failed, "not HTTPS");
    }
    void checksTheFeed()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, response);
        QFETCH(int, outcome);
        QFETCH(QString, detail);

        FeedServer server;
        if (!response.isEmpty())
            server.serve(path, response);
        Updater updater({.feedUrl = server.url(path), .timeout = 400ms}, QStringLiteral("1.9.0"));
        updater.start();
        QSignalSpy finished(&updater, &Updater::checkFinished);
        QVERIFY(finished.wait(5000)); // the check at start
        QCOMPARE(finished.first().at(1).toBool(), false);

        QSignalSpy canCheck(&updater, &Updater::canCheckForUpdatesChanged);
        UpdateCheckResult result;
        const QByteArray printed = test_support::stdoutOf([&] { result = checkOnce(updater); });
        QCOMPARE(int(result.outcome), outcome);
        QVERIFY(server.requests >= 2); // Qt may retry a connection cut short
        QCOMPARE(canCheck.size(), 2);  // closed while the check ran, then open again
        QCOMPARE(canCheck.at(0).first().toBool(), false);
        QVERIFY(updater.canCheckForUpdates());

        if (result.outcome == UpdateCheckResult::Outcome::updateAvailable) {
            QCOMPARE(result.item.displayVersion(), detail);
            QCOMPARE(result.item.downloadPage,
                     QUrl("https://downloads.example.org/quorvel-1.10.0.tar.gz"));
        } else if (result.outcome == UpdateCheckResult::Outcome::failed) {
            QVERIFY2(result.reason.contains(detail), qPrintable(result.reason));
            QCOMPARE(printed, "Update check failed: " + result.reason.toUtf8() + "\n");
        }
    }

    void oneCheckAtATime()
    {
        FeedServer server;
        Updater updater({.feedUrl = server.url("/hang"), .timeout = 300ms}, QStringLiteral("1.0"));
        CheckForUpdatesViewModel model(updater);
        QAction* action = model.createAction(&model);
        QVERIFY(!model.canCheckForUpdates() && !action->isEnabled()); // not started yet

        updater.start(); // the scheduled check starts from the event loop
        QVERIFY(model.canCheckForUpdates());
        QTRY_COMPARE(server.requests, 1);
        QVERIFY(!model.canCheckForUpdates() && !action->isEnabled());
        action->trigger();
        updater.checkForUpdates();
        QTRY_VERIFY(model.canCheckForUpdates());
        QCOMPARE(server.requests, 1);

        QSignalSpy finished(&updater, &Updater::checkFinished);
        action->trigger();
        QVERIFY(!action->isEnabled());
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.first().at(1).toBool(), true);
        QCOMPARE(server.requests, 2);
        QVERIFY(action->isEnabled());
    }

    void checksAgainOnSchedule()
    {
        FeedServer server;
        server.serve(QStringLiteral("/feed"), FeedServer::ok(feed(enclosureItem("1.0"))));
        Updater updater({.feedUrl = server.url("/feed"), .interval = 200ms}, QStringLiteral("1.0"));
        QSignalSpy finished(&updater, &Updater::checkFinished);
        QTest::qWait(300);
        QCOMPARE(server.requests, 0); // nothing before start()
        updater.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 3, 5000);
        for (const auto& call : finished)
            QCOMPARE(call.at(1).toBool(), false);
    }

    void withoutFeedNeverTouchesTheNetwork_data()
    {
        QTest::addColumn<QUrl>("feedUrl");
        QTest::addColumn<int>("outcome");
        QTest::newRow("no feed") << QUrl() << int(UpdateCheckResult::Outcome::notConfigured);
        QTest::newRow("plain HTTP elsewhere") << QUrl("http://updates.example.org/appcast.xml")
                                              << int(UpdateCheckResult::Outcome::failed);
    }
    void withoutFeedNeverTouchesTheNetwork()
    {
        QFETCH(QUrl, feedUrl);
        QFETCH(int, outcome);
        Updater updater({.feedUrl = feedUrl}, QStringLiteral("1.0"));
        UpdateDialog::showForUserChecks(updater);
        QSignalSpy finished(&updater, &Updater::checkFinished);
        updater.start();
        QTest::qWait(100);
        QCOMPARE(finished.size(), feedUrl.isEmpty() ? 0 : 1); // a bad address is reported once
        QVERIFY(!findDialog());                               // but only user checks show it
        QVERIFY(updater.canCheckForUpdates());
        QCOMPARE(int(checkOnce(updater).outcome), outcome);
        QTRY_VERIFY(findDialog());
        QPointer<UpdateDialog> first = findDialog();
        checkOnce(updater);
        QTRY_VERIFY(!first); // replaced, not stacked
        QVERIFY(findDialog());
        findDialog()->close();
        QVERIFY(!updater.findChild<QNetworkAccessManager*>());
    }

    void readsTheSettingsFile()
    {
        QTemporaryDir dir;
        QCOMPARE(readUpdaterSettings(dir.filePath("none.conf")).feedUrl, QUrl());
        const QUrl quoted("https://q.example.org/a.xml"), comma("https://q.example.org/a,b.xml");
        const QList<std::pair<QByteArray, QUrl>> cases{
            {"[Updates]\nFeedURL=\"\"\n", QUrl()}, // as shipped
            {"[Updates]\nFeedURL=\"" + quoted.toEncoded() + "\"\n", quoted},
            {"[Updates]\nFeedURL=" + comma.toEncoded() + "\n", comma}}; // a comma, unquoted
        for (const auto& [contents, feedUrl] : cases) {
            const QString path = dir.filePath(QString::number(qHash(contents)) + ".conf");
            test_support::fileBytes(path, contents);
            QCOMPARE(readUpdaterSettings(path).feedUrl, feedUrl);
        }
    }

    void dialogSaysWhatTheCheckFound_data()
    {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("texts"); // the check's findings, then the buttons, by '|'
        using O = UpdateCheckResult::Outcome;
        QTest::newRow("up to date")
            << int(O::upToDate) << "Quorvel 1.9 is currently the newest version available.|OK";
        QTest::newRow("newer") << int(O::updateAvailable)
                               << "Quorvel 1.10 is now available—you have 1.9.|Remind Me Later|"
                                  "Open Download Page";
        QTest::newRow("failed") << int(O::failed)
                                << "Quorvel could not check for updates: the server answered 404 "
                                   "Not Found.|OK";
        QTest::newRow("no feed") << int(O::notConfigured) << "Updates are not set up|OK";
    }
    void dialogSaysWhatTheCheckFound()
    {
        QFETCH(int, outcome);
        QFETCH(QString, texts);
        UpdateCheckResult result;
        result.outcome = UpdateCheckResult::Outcome(outcome);
        result.currentVersion = QStringLiteral("1.9");
        result.reason = QStringLiteral("the server answered 404 Not Found");
        result.item.version = QStringLiteral("110");
        result.item.shortVersionString = QStringLiteral("1.10");
        result.item.releaseNotes = QStringLiteral("<ul><li>Faster export</li></ul>");
        result.item.downloadPage = QUrl("https://quorvel.example.org/download");

        QList<QUrl> opened;
        QPointer<UpdateDialog> dialog = new UpdateDialog(result, [&](const QUrl& url) {
            opened << url;
            return true;
        });
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        const QStringList names = accessibleNames(QAccessible::queryAccessibleInterface(dialog));
        for (const QString& text : texts.split('|'))
            QVERIFY2(names.contains(text), qPrintable(text + " not in " + names.join(" | ")));

        // Every button takes Tab; one is pressed through the accessibility tree.
        const auto buttons = dialog->findChildren<QPushButton*>();
        for (QPushButton* button : buttons)
            QVERIFY(button->focusPolicy() & Qt::TabFocus);
        QPushButton* press = buttons.last();
        for (QPushButton* button : buttons)
            if (button->text() == UpdateDialog::downloadTitle())
                press = button;
        QAccessibleInterface* pressed = QAccessible::queryAccessibleInterface(press);
        pressed->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_VERIFY(!dialog);
        if (result.outcome == UpdateCheckResult::Outcome::updateAvailable)
            QCOMPARE(opened, QList<QUrl>{result.item.downloadPage});
        else
            QVERIFY(opened.isEmpty());
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
