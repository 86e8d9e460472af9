#include "x11_frame_source.h"

#include <QMargins>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <optional>
#include <vector>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

extern "C" {
#include <libavutil/time.h>
}

namespace {

// xcb replies are malloc'ed.
template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* raw)
{
    return Reply<T>(raw, &std::free);
}

// The picture of every frame time n since the start, in µs; exact over hours,
// where adding a rounded period would drift.
int64_t tickTime(int64_t start, int64_t n)
{
    return start + n * 1000000 / X11FrameSource::framesPerSecond;
}

void sleepUntil(int64_t microseconds)
{
    timespec until{time_t(microseconds / 1000000), long(microseconds % 1000000) * 1000};
    // av_gettime_relative() is CLOCK_MONOTONIC; EINTR just means look again.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

// Pointer images are premultiplied ARGB; the screen is BGRx in memory.
void drawCursor(uint8_t* pixels, int stride, QSize size, QPoint at, int width, int height,
                const uint32_t* image)
{
    const QRect drawn = QRect(at, QSize(width, height)) & QRect(QPoint(0, 0), size);
    for (int y = drawn.top(); y <= drawn.bottom(); ++y) {
        uint8_t* row = pixels + ptrdiff_t(y) * stride;
        const uint32_t* source = image + ptrdiff_t(y - at.y()) * width;
        for (int x = drawn.left(); x <= drawn.right(); ++x) {
            const uint32_t argb = source[x - at.x()];
            const uint32_t alpha = argb >> 24;
            if (alpha == 0)
                continue;
            uint8_t* p = row + x * 4;
            const uint32_t keep = 255 - alpha;
            p[0] = uint8_t((argb & 0xff) + (p[0] * keep + 127) / 255);
            p[1] = uint8_t((argb >> 8 & 0xff) + (p[1] * keep + 127) / 255);
            p[2] = uint8_t((argb >> 16 & 0xff) + (p[2] * keep + 127) / 255);
        }
    }
}

} // namespace

struct X11FrameSource::Private {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    QRect screen;
    Target target;
    QSize size;           // every frame's
    QMargins insideFrame; // from the followed window's frame to the recorded rectangle
    xcb_shm_seg_t segment = 0;
    uint8_t* shared = nullptr;
    std::vector<uint8_t> composed; // a frame only partly on the screen, black around

    ~Private()
    {
        if (connection) {
            if (segment)
                xcb_shm_detach(connection, segment);
            xcb_disconnect(connection);
        }
        if (shared)
            shmdt(shared);
    }

    // The followed window's recorded rectangle now; empty when it is gone.
    std::optional<QRect> windowRect(xcb_get_geometry_cookie_t cookie) const
    {
        auto geometry = reply(xcb_get_geometry_reply(connection, cookie, nullptr));
        if (!geometry)
            return std::nullopt;
        const int border = geometry->border_width;
        const QRect frame(geometry->x, geometry->y, geometry->width + 2 * border,
                          geometry->height + 2 * border);
        return frame.marginsRemoved(insideFrame);
    }
};

Result<std::unique_ptr<X11FrameSource>> X11FrameSource::open(const Target& target)
{
    using Failure = Result<std::unique_ptr<X11FrameSource>>;
    auto d = std::make_unique<Private>();
    d->target = target;
    int screenNumber = 0;
    d->connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(d->connection))
        return Failure::failure(QStringLiteral("cannot connect to the X display"));
    xcb_connection_t* c = d->connection;
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return Failure::failure(QStringLiteral("the X display has no such screen"));
    const xcb_screen_t* screen = screens.data;
    d->root = screen->root;
    d->screen = QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels);

    // We hand the pixels on as BGRx: 32 bits a pixel, least significant byte first.
    int bitsPerPixel = 0;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
        if (f.data->depth == screen->root_depth)
            bitsPerPixel = f.data->bits_per_pixel;
    if ((screen->root_depth != 24 && screen->root_depth != 32) || bitsPerPixel != 32 ||
        setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return Failure::failure(
            QStringLiteral("the X screen's pixels (depth %1) cannot be recorded; use 24 bits")
                .arg(screen->root_depth));

    auto shm = reply(xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
    if (!shm)
        return Failure::failure(
            QStringLiteral("the X server does not share its pictures (no MIT-SHM); "
                           "recording needs a local X server"));
    if (target.cursor) {
        auto fixes = reply(xcb_xfixes_query_version_reply(
            c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
            nullptr));
        if (!fixes)
            return Failure::failure(QStringLiteral(
                "the X server cannot show the pointer (no XFixes); try --no-cursor"));
    }

    QRect recorded = target.area;
    if (target.window) {
        auto geometry =
            reply(xcb_get_geometry_reply(c, xcb_get_geometry(c, target.window), nullptr));
        if (!geometry)
            return Failure::failure(QStringLiteral("the window is gone"));
        const int border = geometry->border_width;
        const QRect frame(geometry->x, geometry->y, geometry->width + 2 * border,
                          geometry->height + 2 * border);
        if (!frame.contains(recorded))
            recorded = frame;
        d->insideFrame = QMargins(recorded.left() - frame.left(), recorded.top() - frame.top(),
                                  frame.right() - recorded.right(),
                                  frame.bottom() - recorded.bottom());
    }
    recorded &= d->screen;
    // H.264 in 4:2:0 takes whole pairs of pixels; the odd last one is left out.
    d->size = QSize(recorded.width() & ~1, recorded.height() & ~1);
    if (d->size.isEmpty())
        return Failure::failure(QStringLiteral("nothing of it is on the screen"));
    if (!target.window)
        d->target.area = QRect(recorded.topLeft(), d->size);

    const size_t bytes = size_t(d->size.width()) * d->size.height() * 4;
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0)
        return Failure::systemFailure(errno);
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        const int error = errno;
        shmctl(id, IPC_RMID, nullptr);
        return Failure::systemFailure(error);
    }
    d->shared = static_cast<uint8_t*>(address);
    d->segment = xcb_generate_id(c);
    auto attached = xcb_request_check(c, xcb_shm_attach_checked(c, d->segment, uint32_t(id), 0));
    // Marked for removal at once: it goes when the server and we let go, even
    // should we be killed.
    shmctl(id, IPC_RMID, nullptr);
    if (attached) {
        std::free(attached);
        d->segment = 0;
        return Failure::failure(
            QStringLiteral("the X server cannot share memory with us; recording needs a local "
                           "X server"));
    }
    if (target.window)
        d->composed.resize(bytes);
    return std::unique_ptr<X11FrameSource>(new X11FrameSource(std::move(d)));
}

X11FrameSource::X11FrameSource(std::unique_ptr<Private> p) : d(std::move(p)) {}

X11FrameSource::~X11FrameSource()
{
    stop();
}

QSize X11FrameSource::frameSize() const
{
    return d->size;
}

bool X11FrameSource::start(FrameSink sink, QString* error)
{
    if (m_thread.joinable()) {
        if (error)
            *error = QStringLiteral("the screen is already being recorded");
        return false;
    }
    m_stopping = false;
    m_thread = std::thread([this, sink = std::move(sink)] { run(sink); });
    return true;
}

void X11FrameSource::stop()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
}

void X11FrameSource::run(FrameSink sink)
{
    xcb_connection_t* c = d->connection;
    const int stride = d->size.width() * 4;
    const int64_t start = av_gettime_relative();
    for (int64_t n = 0; !m_stopping;) {
        const int64_t due = tickTime(start, n);
        sleepUntil(due);
        if (m_stopping)
            break;

        // Every question goes out before the first answer is awaited: one
        // round trip a frame, two for a window.
        xcb_get_geometry_cookie_t geometry{};
        if (d->target.window)
            geometry = xcb_get_geometry(c, d->target.window);
        xcb_xfixes_get_cursor_image_cookie_t cursor{};
        if (d->target.cursor)
            cursor = xcb_xfixes_get_cursor_image(c);
        QRect wanted = d->target.area; // where the frame's top-left is, and its size
        if (d->target.window) {
            const std::optional<QRect> now = d->windowRect(geometry);
            if (!now) {
                if (d->target.cursor)
                    xcb_discard_reply(c, cursor.sequence);
                sink.failed(QStringLiteral("the recorded window was closed"));
                return;
            }
            wanted = QRect(now->topLeft(), now->size().boundedTo(d->size));
        }
        const QRect visible = wanted & d->screen;
        const bool whole = visible.size() == d->size;
        if (!visible.isEmpty()) {
            auto image = reply(xcb_shm_get_image_reply(
                c,
                xcb_shm_get_image(c, d->root, int16_t(visible.x()), int16_t(visible.y()),
                                  uint16_t(visible.width()), uint16_t(visible.height()),
                                  ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, d->segment, 0),
                nullptr));
            if (!image) {
                if (d->target.cursor)
                    xcb_discard_reply(c, cursor.sequence);
                sink.failed(xcb_connection_has_error(c)
                                ? QStringLiteral("the X display went away")
                                : QStringLiteral("the X server would not give the screen's picture"));
                return;
            }
        }
        uint8_t* pixels = d->shared;
        if (!whole) {
            // Part of the window is off the screen or it became smaller: what
            // is not of it is black.
            pixels = d->composed.data();
            std::fill(d->composed.begin(), d->composed.end(), uint8_t(0));
            const QPoint offset = visible.topLeft() - wanted.topLeft();
            for (int y = 0; y < visible.height(); ++y)
                std::memcpy(pixels + ptrdiff_t(y + offset.y()) * stride + offset.x() * 4,
                            d->shared + ptrdiff_t(y) * visible.width() * 4,
                            size_t(visible.width()) * 4);
        }
        if (d->target.cursor) {
            auto image = reply(xcb_xfixes_get_cursor_image_reply(c, cursor, nullptr));
            if (image)
                drawCursor(pixels, stride, d->size,
                           QPoint(image->x - image->xhot, image->y - image->yhot) -
                               wanted.topLeft(),
                           image->width, image->height,
                           xcb_xfixes_get_cursor_image_cursor_image(image.get()));
        }

        ScreenFrame frame;
        frame.pixels = pixels;
        frame.stride = stride;
        frame.size = d->size;
        frame.format = AV_PIX_FMT_BGR0;
        frame.time = due;
        sink.frame(frame);

        // A grab (or the sink) that took longer than a frame costs the frame
        // times it overran; the next picture is of now, never of the past.
        const int64_t now = av_gettime_relative();
        ++n;
        while (tickTime(start, n + 1) <= now) {
            ++n;
            ++m_missed;
        }
    }
}
