#include "screen_cast_portal.h"

#include "pipewire_frame_source.h"
#include "portal_request.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QPointer>
#include <fcntl.h>

namespace {

const QString kService = QString::fromLatin1(portal::kService);
const QString kPath = QString::fromLatin1(portal::kPath);
const QString kInterface = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// The portal's values: source types and cursor modes are bit masks.
constexpr uint kMonitor = 1;
constexpr uint kWindow = 2;
constexpr uint kCursorHidden = 1;
constexpr uint kCursorEmbedded = 2;
constexpr uint kCursorMetadata = 4;

const portal::Wording kWords{QStringLiteral("screen-sharing portal"),
                             QStringLiteral("screen sharing"), QStringLiteral("record the screen")};

QString describe(const QDBusError& error)
{
    return portal::describe(error, kWords);
}

// The best cursor the portal offers: drawn by the compositor, else sent
// beside the picture for us to draw; 0 leaves it to the portal's default.
uint cursorModeFor(uint offered, bool showCursor)
{
    if (!showCursor)
        return (offered & kCursorHidden) ? kCursorHidden : 0;
    if (offered & kCursorEmbedded)
        return kCursorEmbedded;
    if (offered & kCursorMetadata)
        return kCursorMetadata;
    return (offered & kCursorHidden) ? kCursorHidden : 0;
}

// The streams Start answers with, a(ua{sv}): the last one's node and size.
// KDE's portal has been seen to list stale streams before the chosen one.
bool lastStream(const QVariant& streams, uint32_t* node, QSize* size)
{
    if (!streams.canConvert<QDBusArgument>())
        return false;
    const QDBusArgument argument = streams.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a(ua{sv})"))
        return false;
    bool found = false;
    argument.beginArray();
    while (!argument.atEnd()) {
        uint id = 0;
        QVariantMap properties;
        argument.beginStructure();
        argument >> id >> properties;
        argument.endStructure();
        *node = id;
        *size = QSize();
        found = true;
        const QVariant sizeValue = properties.value(QStringLiteral("size"));
        if (sizeValue.canConvert<QDBusArgument>()) {
            const QDBusArgument pair = sizeValue.value<QDBusArgument>();
            if (pair.currentSignature() == QLatin1String("(ii)")) {
                int width = 0, height = 0;
                pair.beginStructure();
                pair >> width >> height;
                pair.endStructure();
                *size = QSize(width, height);
            }
        }
    }
    argument.endArray();
    return found;
}

} // namespace

ScreenCastPortal::ScreenCastPortal(QObject* parent)
    : ScreenCastPortal(QDBusConnection::sessionBus(), parent)
{
}

ScreenCastPortal::ScreenCastPortal(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus),
      m_portalWatcher(new QDBusServiceWatcher(kService, m_bus,
                                              QDBusServiceWatcher::WatchForUnregistration, this))
{
    // A portal that crashes mid-request never answers; without this the
    // person would wait for a chooser that is gone.
    connect(m_portalWatcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        fail(QStringLiteral("the desktop's screen-sharing portal went away before answering"));
    });
}

ScreenCastPortal::~ScreenCastPortal()
{
    if (m_step == Step::idle)
        return;
    // Nobody waits for an answer any more, but the chooser must not stay.
    if (m_asked)
        m_asked->close();
    closeSession();
}

void ScreenCastPortal::request(ScreenCastKind kind, bool showCursor, Done done)
{
    m_kind = kind;
    m_showCursor = showCursor;
    m_done = std::move(done);
    m_step = Step::creating;
    const quint64 request = ++m_request;
    portal::readProperties(m_bus, kInterface, this,
                           [this, request](const QDBusPendingReply<QVariantMap>& reply) {
                               if (request != m_request || m_step != Step::creating)
                                   return;
                               if (reply.isError())
                                   fail(describe(reply.error()));
                               else
                                   createSession(reply.value());
                           });
}

void ScreenCastPortal::createSession(const QVariantMap& properties)
{
    // Without a version the interface is not there at all (GetAll of an
    // unknown interface answers an empty map on some portals).
    if (!properties.contains(QStringLiteral("version"))) {
        fail(QStringLiteral("the desktop's portal offers no screen sharing"));
        return;
    }
    const uint available = properties.value(QStringLiteral("AvailableSourceTypes")).toUInt();
    const uint wanted = m_kind == ScreenCastKind::window ? kWindow : kMonitor;
    // A portal that cannot share our kind still lets the person share what it can.
    m_sourceTypes = (available & wanted) || !available ? wanted : available;
    m_cursorMode = cursorModeFor(properties.value(QStringLiteral("AvailableCursorModes")).toUInt(),
                                 m_showCursor);
    m_version = properties.value(QStringLiteral("version")).toUInt();

    ask(QStringLiteral("CreateSession"), {},
        {{QStringLiteral("session_handle_token"), portal::newHandleToken()}});
}

void ScreenCastPortal::selectSources()
{
    m_step = Step::selecting;
    QVariantMap options{{QStringLiteral("types"), QVariant::fromValue(m_sourceTypes)},
                        {QStringLiteral("multiple"), false}};
    if (m_cursorMode)
        options.insert(QStringLiteral("cursor_mode"), QVariant::fromValue(m_cursorMode));
    // Nothing is kept between runs: the portal asks each time.
    if (m_version >= 4)
        options.insert(QStringLiteral("persist_mode"), QVariant::fromValue(0u));
    ask(QStringLiteral("SelectSources"), {QVariant::fromValue(QDBusObjectPath(m_sessionPath))},
        options);
}

void ScreenCastPortal::startCast()
{
    m_step = Step::starting;
    ask(QStringLiteral("Start"), {QVariant::fromValue(QDBusObjectPath(m_sessionPath)), QString()},
        {});
}

void ScreenCastPortal::ask(const QString& method, const QList<QVariant>& arguments,
                           const QVariantMap& options)
{
    dropAsked();
    m_asked = new PortalRequest(m_bus, kWords, this);
    connect(m_asked, &PortalRequest::answered, this, &ScreenCastPortal::handleResponse);
    connect(m_asked, &PortalRequest::failed, this, &ScreenCastPortal::fail);
    m_asked->ask(kInterface, method, arguments, options);
}

void ScreenCastPortal::dropAsked()
{
    if (!m_asked)
        return;
    // Not deleted here: this may be inside one of its signals.
    m_asked->disconnect(this);
    std::exchange(m_asked, nullptr)->deleteLater();
}

void ScreenCastPortal::handleResponse(uint response, const QVariantMap& results)
{
    if (m_step == Step::idle || m_step == Step::opening)
        return;
    dropAsked();
    if (response == 1) {
        finish(Result<std::unique_ptr<FrameSource>>::failure(
                   QStringLiteral("the screen was not shared")),
               true);
        return;
    }
    switch (m_step) {
    case Step::creating: {
        if (response != 0) {
            fail(QStringLiteral("the desktop's screen-sharing portal would not start a session"));
            return;
        }
        // A string in older portals, an object path in newer ones.
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        m_sessionPath = handle.userType() == qMetaTypeId<QDBusObjectPath>()
                            ? handle.value<QDBusObjectPath>().path()
                            : handle.toString();
        if (m_sessionPath.isEmpty()) {
            fail(QStringLiteral("the desktop's screen-sharing portal gave no session"));
            return;
        }
        selectSources();
        return;
    }
    case Step::selecting:
        if (response != 0) {
            fail(QStringLiteral("the desktop's screen-sharing portal would not share that kind of "
                                "source"));
            return;
        }
        startCast();
        return;
    case Step::starting: {
        // After the chooser, "other" is how some backends say the person
        // closed it without choosing.
        if (response != 0) {
            finish(Result<std::unique_ptr<FrameSource>>::failure(
                       QStringLiteral("the screen was not shared")),
                   true);
            return;
        }
        uint32_t node = 0;
        QSize size;
        if (!lastStream(results.value(QStringLiteral("streams")), &node, &size)) {
            fail(QStringLiteral("the desktop's screen-sharing portal shared no stream"));
            return;
        }
        openRemote(node, size);
        return;
    }
    case Step::idle:
    case Step::opening:
        return;
    }
}

void ScreenCastPortal::openRemote(uint32_t node, QSize size)
{
    m_step = Step::opening;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("OpenPipeWireRemote"));
    call << QVariant::fromValue(QDBusObjectPath(m_sessionPath)) << QVariantMap();
    auto* watcher = new QDBusPendingCallWatcher(portal::call(m_bus, call), this);
    const quint64 request = m_request;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request, node, size](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (request != m_request || m_step != Step::opening)
                    return;
                const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
                if (reply.isError()) {
                    fail(describe(reply.error()));
                    return;
                }
                // The reply's descriptor closes with it; the source keeps its own.
                const int fd = reply.value().isValid()
                                   ? fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 3)
                                   : -1;
                if (fd < 0) {
                    fail(QStringLiteral("the desktop's screen-sharing portal gave no connection "
                                        "to PipeWire"));
                    return;
                }
                PipeWireFrameSource::Stream stream;
                stream.fd = fd;
                stream.node = node;
                stream.size = size;
                stream.drawCursor = m_cursorMode == kCursorMetadata;
                // The session stays open while the source reads; it closes it when done.
                QDBusConnection bus = m_bus;
                const QString session = std::exchange(m_sessionPath, QString());
                auto source =
                    std::make_unique<PipeWireFrameSource>(stream, [bus, session]() mutable {
                        bus.send(QDBusMessage::createMethodCall(
                            kService, session, kSessionInterface, QStringLiteral("Close")));
                    });
                finish(std::unique_ptr<FrameSource>(std::move(source)), false);
            });
}

bool ScreenCastPortal::cancel()
{
    if (m_step == Step::idle)
        return false;
    PortalRequest* asked = std::exchange(m_asked, nullptr);
    closeSession();
    ++m_request; // what is still on its way belongs to no request now
    m_step = Step::idle;
    auto cancelled = [this] {
        if (!m_done)
            return;
        Done done = std::exchange(m_done, nullptr);
        done(Result<std::unique_ptr<FrameSource>>::failure(
                 QStringLiteral("the screen was not shared")),
             true);
    };
    if (!asked) {
        QMetaObject::invokeMethod(this, cancelled, Qt::QueuedConnection);
        return true;
    }
    // Whatever the portal says, the request is over for us.
    asked->disconnect(this);
    asked->close(this, cancelled);
    asked->deleteLater();
    return true;
}

void ScreenCastPortal::closeSession()
{
    if (m_sessionPath.isEmpty())
        return;
    m_bus.send(QDBusMessage::createMethodCall(kService, std::exchange(m_sessionPath, QString()),
                                              kSessionInterface, QStringLiteral("Close")));
}

void ScreenCastPortal::finish(Result<std::unique_ptr<FrameSource>> result, bool cancelled)
{
    if (m_step == Step::idle || !m_done)
        return;
    m_step = Step::idle;
    ++m_request;
    dropAsked();
    if (!result.ok())
        closeSession();
    Done done = std::exchange(m_done, nullptr);
    done(std::move(result), cancelled);
}

ScreenCastPortal* requestScreenCast(ScreenCastKind kind, bool showCursor, QObject* context,
                                    ScreenCastPortal::Done done)
{
    auto* portal = new ScreenCastPortal(context);
    QPointer<ScreenCastPortal> guard(portal);
    portal->request(kind, showCursor,
                    [guard, done = std::move(done)](Result<std::unique_ptr<FrameSource>> result,
                                                    bool cancelled) {
                        if (guard)
                            guard->deleteLater();
                        done(std::move(result), cancelled);
                    });
    return portal;
}
