#pragma once

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusPendingReply>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

// What every call to the desktop's portal (screenshots, screen casts) shares.
namespace portal {
inline constexpr char kService[] = "org.freedesktop.portal.Desktop";
inline constexpr char kPath[] = "/org/freedesktop/portal/desktop";
inline constexpr char kScreenshotInterface[] = "org.freedesktop.portal.Screenshot";

// A handle token no other request of this process has used.
QString newHandleToken();

// The portal names a request's object after the caller and the token, so we
// can listen there before asking and cannot miss a quick answer.
QString predictedRequestPath(const QDBusConnection& bus, const QString& token);

// How a failure reads for one portal: "the desktop's <name> is not running",
// "the desktop's portal offers no <offers>", "the desktop does not allow
// Quorvel to <allowsTo>".
struct Wording {
    QString name;
    QString offers;
    QString allowsTo;
};

// `message` sent on `bus`. Unlike QDBusConnection::asyncCall, a bus that is
// not connected gives a call that has finished with a Disconnected error, so
// a watcher still hears of it (after the event loop turns).
QDBusPendingCall call(const QDBusConnection& bus, const QDBusMessage& message, int timeoutMs = -1);

// Reads the properties of the portal's `interface` (which starts the portal
// if it is not running yet) and hands the reply to `read` on `context`'s
// thread, never before this returns. Without a session bus the reply is an
// error of type Disconnected.
void readProperties(const QDBusConnection& bus, const QString& interface, QObject* context,
                    std::function<void(const QDBusPendingReply<QVariantMap>&)> read);

// A portal's error text is written for developers ("No such interface … on
// object at path …"); the person gets what it means, in our words.
QString describe(const QDBusError& error, const Wording& words);
} // namespace portal

// One call to the portal whose answer comes later, on a Request object. We
// listen where the answer will come before asking, so a quick answer is never
// missed, and follow an older portal to the path it picks itself. The answer
// comes once, as answered() or failed() (in the product's words); once the
// request is destroyed nothing more comes, so dropping it drops a stale answer.
class PortalRequest : public QObject {
    Q_OBJECT

public:
    PortalRequest(const QDBusConnection& bus, portal::Wording words, QObject* parent = nullptr);
    ~PortalRequest() override;

    // Calls `method` of `interface` with `arguments` and then `options`, to
    // which the request's handle token is added.
    void ask(const QString& interface, const QString& method, const QList<QVariant>& arguments,
             QVariantMap options);

    // Asks the portal to end the request (its dialog goes) and hears no
    // answer. With `closed`, calls it on `context`'s thread once the portal
    // has taken that, whatever it said, or at once, queued, when nothing was
    // asked; this request may be destroyed meanwhile.
    void close(QObject* context = nullptr, std::function<void()> closed = {});

Q_SIGNALS:
    void answered(uint response, const QVariantMap& results);
    void failed(const QString& reason);

private Q_SLOTS:
    void handleResponse(uint response, const QVariantMap& results);

private:
    bool listenOn(const QString& path);
    void stopListening();
    void failLater(const QString& reason);

    QDBusConnection m_bus;
    portal::Wording m_words;
    QString m_path; // where the answer comes; empty before ask()
    bool m_listening = false;
    bool m_over = false; // answered, failed or closed: nothing more is said
};
