#include "wayland_outputs.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHash>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The Wayland wire protocol, spoken directly: a handful of requests and the
// events they bring are all we need, which does not justify linking
// libwayland and generating protocol code.
namespace {

constexpr quint32 kDisplay = 1;
constexpr quint32 kRegistry = 2;
// Requests' opcodes.
constexpr quint16 kSync = 0;         // wl_display
constexpr quint16 kGetRegistry = 1;  // wl_display
constexpr quint16 kBind = 0;         // wl_registry
constexpr quint16 kGetXdgOutput = 1; // zxdg_output_manager_v1
// Events' opcodes.
constexpr quint16 kError = 0;       // wl_display
constexpr quint16 kGlobal = 0;      // wl_registry
constexpr quint16 kDone = 0;        // wl_callback
constexpr quint16 kGeometry = 0;    // wl_output
constexpr quint16 kMode = 1;        // wl_output
constexpr quint16 kOutputName = 4;  // wl_output, version 4
constexpr quint16 kLogicalSize = 1; // zxdg_output_v1
constexpr quint16 kXdgName = 3;     // zxdg_output_v1, version 2
constexpr quint32 kCurrentMode = 1;
// Far more than any desktop's outputs take to describe; a peer that sends
// more is not a compositor we understand.
constexpr qsizetype kMostBytes = 1 << 20;

// One request, in the host's byte order as the protocol has it.
class Request {
public:
    Request(quint32 object, quint16 opcode) : m_opcode(opcode)
    {
        put(object);
        put(quint32(0)); // its size and opcode, which bytes() writes
    }
    Request& put(quint32 value)
    {
        m_bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
        return *this;
    }
    Request& put(const QByteArray& text)
    {
        put(quint32(text.size() + 1));
        m_bytes.append(text).append('\0');
        while (m_bytes.size() % 4)
            m_bytes.append('\0');
        return *this;
    }
    QByteArray bytes() const
    {
        QByteArray whole = m_bytes;
        const quint32 second = quint32(whole.size()) << 16 | m_opcode;
        std::memcpy(whole.data() + 4, &second, 4);
        return whole;
    }

private:
    quint16 m_opcode;
    QByteArray m_bytes;
};

// An event's arguments, read in order; a short event reads as zeros.
class Arguments {
public:
    explicit Arguments(QByteArrayView bytes) : m_bytes(bytes) {}
    quint32 word()
    {
        quint32 value = 0;
        if (m_at + 4 <= m_bytes.size())
            std::memcpy(&value, m_bytes.data() + m_at, 4);
        m_at += 4;
        return value;
    }
    qint32 number() { return qint32(word()); }
    QByteArray text()
    {
        const qsizetype length = word();
        const qsizetype padded = (length + 3) / 4 * 4;
        QByteArray value;
        if (length > 0 && m_at + padded <= m_bytes.size())
            value = QByteArray(m_bytes.data() + m_at, length - 1);
        m_at += padded;
        return value;
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
};

class Connection {
public:
    ~Connection()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    Result<void> open()
    {
        QByteArray path = qgetenv("WAYLAND_DISPLAY");
        if (path.isEmpty())
            path = "wayland-0";
        if (!path.startsWith('/')) {
            const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
            if (runtime.isEmpty())
                return Result<void>::failure(QStringLiteral("XDG_RUNTIME_DIR is not set"));
            path = runtime + '/' + path;
        }
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (size_t(path.size()) >= sizeof address.sun_path)
            return Result<void>::failure(
                QStringLiteral("the compositor's socket path is too long"));
        std::memcpy(address.sun_path, path.constData(), path.size());
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return Result<void>::systemFailure(errno);
        return Result<void>();
    }

    quint32 newId() { return m_nextId++; }

    void send(const Request& request) { m_out += request.bytes(); }

    // Sends what is queued with a sync, and hands every event to `event`
    // until the compositor has answered the sync.
    Result<void> roundTrip(const QDeadlineTimer& deadline,
                           const std::function<void(quint32, quint16, Arguments)>& event)
    {
        const quint32 callback = newId();
        send(Request(kDisplay, kSync).put(callback));
        for (qsizetype sent = 0; sent < m_out.size();) {
            const ssize_t n =
                ::send(m_fd, m_out.constData() + sent, m_out.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno != EINTR)
                return Result<void>::systemFailure(errno);
            sent += std::max<ssize_t>(n, 0);
        }
        m_out.clear();
        for (bool done = false; !done;) {
            while (m_in.size() < 8 || m_in.size() < qsizetype(header(1) >> 16)) {
                if (const Result<void> read = readMore(deadline); !read.ok())
                    return read;
            }
            const quint32 object = header(0);
            const quint16 opcode = header(1) & 0xffff;
            const qsizetype size = header(1) >> 16;
            if (size < 8)
                return Result<void>::failure(
                    QStringLiteral("the compositor sent a broken message"));
            Arguments arguments(QByteArrayView(m_in).sliced(8, size - 8));
            if (object == kDisplay && opcode == kError) {
                arguments.word();
                arguments.word();
                return Result<void>::failure(QStringLiteral("the compositor refused a request: ") +
                                             QString::fromUtf8(arguments.text()));
            }
            if (object == callback && opcode == kDone)
                done = true;
            else
                event(object, opcode, arguments);
            m_in.remove(0, size);
        }
        return Result<void>();
    }

private:
    quint32 header(int word) const
    {
        quint32 value;
        std::memcpy(&value, m_in.constData() + 4 * word, 4);
        return value;
    }

    Result<void> readMore(const QDeadlineTimer& deadline)
    {
        if (m_in.size() >= kMostBytes)
            return Result<void>::failure(QStringLiteral("the compositor says too much"));
        pollfd waiting{m_fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, int(deadline.remainingTime()));
        if (ready == 0)
            return Result<void>::failure(QStringLiteral("the compositor did not answer"));
        if (ready < 0)
            return errno == EINTR ? Result<void>() : Result<void>::systemFailure(errno);
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return Result<void>::failure(QStringLiteral("the compositor closed the connection"));
        if (n < 0)
            return errno == EINTR ? Result<void>() : Result<void>::systemFailure(errno);
        m_in.append(buffer, n);
        return Result<void>();
    }

    int m_fd = -1;
    quint32 m_nextId = kRegistry;
    QByteArray m_out;
    QByteArray m_in;
};

} // namespace

qreal WaylandOutputs::Output::scale() const
{
    if (pixels.isEmpty() || points.isEmpty())
        return 0;
    return std::round(qreal(pixels.width()) / points.width() * 120) / 120;
}

Result<QList<WaylandOutputs::Output>> WaylandOutputs::read(int timeoutMs)
{
    using Failure = Result<QList<Output>>;
    const QDeadlineTimer deadline(timeoutMs);
    Connection connection;
    if (const Result<void> opened = connection.open(); !opened.ok())
        return Failure::failure(opened.error());

    struct Global {
        quint32 name;
        QByteArray interface;
        quint32 version;
    };
    QList<Global> globals;
    connection.send(Request(kDisplay, kGetRegistry).put(connection.newId()));
    Result<void> answered =
        connection.roundTrip(deadline, [&](quint32 object, quint16 opcode, Arguments arguments) {
            if (object != kRegistry || opcode != kGlobal)
                return;
            Global global;
            global.name = arguments.word();
            global.interface = arguments.text();
            global.version = arguments.word();
            globals.append(global);
        });
    if (!answered.ok())
        return Failure::failure(answered.error());

    const auto bind = [&](const Global& global, quint32 most) {
        const quint32 id = connection.newId();
        connection.send(Request(kRegistry, kBind)
                            .put(global.name)
                            .put(global.interface)
                            .put(std::min(global.version, most))
                            .put(id));
        return id;
    };
    QList<Output> outputs;
    QHash<quint32, qsizetype> wlOutputs;  // object → index in outputs
    QHash<quint32, qsizetype> xdgOutputs; // the same
    QList<quint32> transforms;
    for (const Global& global : std::as_const(globals))
        if (global.interface == "wl_output") {
            wlOutputs.insert(bind(global, 4), outputs.size());
            outputs.append(Output());
            transforms.append(0);
        }
    for (const Global& global : std::as_const(globals))
        if (global.interface == "zxdg_output_manager_v1") {
            const quint32 manager = bind(global, 3);
            for (auto it = wlOutputs.cbegin(); it != wlOutputs.cend(); ++it) {
                const quint32 id = connection.newId();
                connection.send(Request(manager, kGetXdgOutput).put(id).put(it.key()));
                xdgOutputs.insert(id, it.value());
            }
            break;
        }
    answered =
        connection.roundTrip(deadline, [&](quint32 object, quint16 opcode, Arguments arguments) {
            if (const auto it = wlOutputs.constFind(object); it != wlOutputs.cend()) {
                Output& output = outputs[*it];
                if (opcode == kGeometry) {
                    for (int skipped = 0; skipped < 5; ++skipped)
                        arguments.word(); // position, physical size, subpixel
                    arguments.text();     // make
                    arguments.text();     // model
                    transforms[*it] = arguments.word();
                } else if (opcode == kMode) {
                    const quint32 flags = arguments.word();
                    const qint32 width = arguments.number();
                    const qint32 height = arguments.number();
                    if (flags & kCurrentMode)
                        output.pixels = QSize(width, height);
                } else if (opcode == kOutputName) {
                    output.name = QString::fromUtf8(arguments.text());
                }
            } else if (const auto xdg = xdgOutputs.constFind(object); xdg != xdgOutputs.cend()) {
                Output& output = outputs[*xdg];
                if (opcode == kLogicalSize) {
                    const qint32 width = arguments.number();
                    output.points = QSize(width, arguments.number());
                } else if (opcode == kXdgName) {
                    output.name = QString::fromUtf8(arguments.text());
                }
            }
        });
    if (!answered.ok())
        return Failure::failure(answered.error());
    // A turned output's mode is its unturned size; its points are as shown.
    for (qsizetype i = 0; i < outputs.size(); ++i)
        if (transforms[i] % 2)
            outputs[i].pixels.transpose();
    return outputs;
}

qreal WaylandOutputs::scaleOf(const QList<Output>& outputs, const QString& name)
{
    for (const Output& output : outputs)
        if (!name.isEmpty() && output.name == name)
            return output.scale();
    qreal agreed = 0;
    for (const Output& output : outputs) {
        if (output.scale() == 0 || (agreed != 0 && output.scale() != agreed))
            return 0;
        agreed = output.scale();
    }
    return agreed;
}
