#include "pipewire_frame_source.h"

#include "pipewire_buffer_reader.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/utils/result.h>

extern "C" {
#include <libavutil/time.h>
}

#include <QString>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unistd.h>

namespace {

// Long enough for a compositor to send its first picture of a still screen.
constexpr auto kFirstPictureTimeout = std::chrono::seconds(5);
// The largest cursor bitmap we make room for in each buffer's metadata.
constexpr int kCursorSide = 256;

constexpr size_t cursorMetaSize(int side)
{
    return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + size_t(side) * side * 4;
}

void initPipeWire()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

} // namespace

struct PipeWireFrameSource::Private {
    Stream stream;
    std::function<void()> release;
    FrameSink sink;
    PipeWireBufferReader reader;

    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* pwStream = nullptr;
    pw_registry* registry = nullptr;
    spa_hook coreListener{};
    spa_hook streamListener{};
    spa_hook registryListener{};

    // What start() waits for; set on the loop's thread.
    std::mutex mutex;
    std::condition_variable changed;
    bool pictured = false;
    QString failure;
    bool failed = false;
    bool delivering = false; // frames go to the sink between start() and stop()
    bool started = false;    // start() succeeded: a failure from now on is the sink's to hear
    QSize frameSize;

    // Says why the stream ended, once; on the loop's thread.
    void fail(const QString& reason)
    {
        std::function<void(const QString&)> tell;
        {
            std::lock_guard lock(mutex);
            if (failed)
                return;
            failed = true;
            failure = reason;
            if (started && delivering)
                tell = sink.failed;
        }
        changed.notify_all();
        if (tell)
            tell(reason);
    }

    static void onCoreError(void* data, uint32_t id, int, int res, const char*)
    {
        auto* self = static_cast<Private*>(data);
        // The portal closing the session closes the connection it gave us.
        if (id == PW_ID_CORE)
            self->fail(res == -EPIPE ? QStringLiteral("the desktop stopped sharing the screen")
                                     : QStringLiteral("the connection to PipeWire failed: ") +
                                           QString::fromUtf8(spa_strerror(res)));
    }

    static void onGlobalRemove(void* data, uint32_t id)
    {
        auto* self = static_cast<Private*>(data);
        if (id == self->stream.node)
            self->fail(QStringLiteral("the desktop stopped sharing the screen"));
    }

    static void onStateChanged(void* data, pw_stream_state, pw_stream_state state,
                               const char* error)
    {
        auto* self = static_cast<Private*>(data);
        if (state == PW_STREAM_STATE_ERROR)
            self->fail(QStringLiteral("the screen's stream failed: ") +
                       QString::fromUtf8(error ? error : "no reason given"));
        else if (state == PW_STREAM_STATE_UNCONNECTED)
            self->fail(QStringLiteral("the desktop stopped sharing the screen"));
    }

    static void onParamChanged(void* data, uint32_t id, const spa_pod* param)
    {
        auto* self = static_cast<Private*>(data);
        if (!param || id != SPA_PARAM_Format)
            return;
        uint32_t mediaType = 0, mediaSubtype = 0;
        spa_video_info_raw info{};
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
            mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw ||
            spa_format_video_raw_parse(param, &info) < 0 ||
            !self->reader.setFormat(info.format,
                                    QSize(int(info.size.width), int(info.size.height)))) {
            self->fail(QStringLiteral("the desktop shares the screen in a format Quorvel "
                                      "cannot read"));
            return;
        }
        // Shared memory only (DMA-BUF would need a GPU to read), and the
        // metadata the reader understands.
        uint8_t buffer[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const spa_pod* params[4];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
        params[1] = static_cast<const spa_pod*>(
            spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                       SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
                                       SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
        params[2] = static_cast<const spa_pod*>(
            spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                       SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoCrop),
                                       SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
        params[3] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
            SPA_POD_CHOICE_RANGE_Int(int(cursorMetaSize(64)), int(cursorMetaSize(1)),
                                     int(cursorMetaSize(kCursorSide)))));
        pw_stream_update_params(self->pwStream, params, self->stream.drawCursor ? 4 : 3);
    }

    static void onProcess(void* data)
    {
        auto* self = static_cast<Private*>(data);
        // Only the newest picture matters; older ones go straight back.
        pw_buffer* newest = nullptr;
        while (pw_buffer* next = pw_stream_dequeue_buffer(self->pwStream)) {
            if (newest)
                self->deliver(newest);
            newest = next;
        }
        if (newest)
            self->deliver(newest);
    }

    void deliver(pw_buffer* buffer)
    {
        if (const ScreenFrame* frame = reader.read(*buffer->buffer, av_gettime_relative())) {
            std::function<void(const ScreenFrame&)> take;
            {
                std::lock_guard lock(mutex);
                if (!pictured) {
                    pictured = true;
                    frameSize = frame->size;
                    changed.notify_all();
                }
                if (delivering)
                    take = sink.frame;
            }
            if (take)
                take(*frame);
        }
        pw_stream_queue_buffer(pwStream, buffer);
    }

    void tearDown()
    {
        if (loop)
            pw_thread_loop_lock(loop);
        if (pwStream) {
            spa_hook_remove(&streamListener);
            pw_stream_destroy(pwStream);
            pwStream = nullptr;
        }
        if (registry) {
            spa_hook_remove(&registryListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
            registry = nullptr;
        }
        if (core) {
            spa_hook_remove(&coreListener);
            pw_core_disconnect(core);
            core = nullptr;
        }
        if (loop) {
            pw_thread_loop_unlock(loop);
            pw_thread_loop_stop(loop);
        }
        if (context) {
            pw_context_destroy(context);
            context = nullptr;
        }
        if (loop) {
            pw_thread_loop_destroy(loop);
            loop = nullptr;
        }
        if (stream.fd >= 0) {
            ::close(stream.fd);
            stream.fd = -1;
        }
    }
};

PipeWireFrameSource::PipeWireFrameSource(Stream stream, std::function<void()> release)
    : d(std::make_unique<Private>())
{
    d->stream = stream;
    d->release = std::move(release);
    d->frameSize = stream.size;
    d->reader.setDrawCursor(stream.drawCursor);
}

PipeWireFrameSource::~PipeWireFrameSource()
{
    stop();
}

QSize PipeWireFrameSource::frameSize() const
{
    std::lock_guard lock(d->mutex);
    return d->frameSize;
}

bool PipeWireFrameSource::start(FrameSink sink, QString* error)
{
    auto failWith = [&](const QString& reason) {
        d->tearDown();
        if (error)
            *error = reason;
        return false;
    };
    if (d->loop || d->stream.fd < 0)
        return failWith(QStringLiteral("the screen's stream can be started only once"));
    initPipeWire();
    d->sink = std::move(sink);
    d->delivering = true;

    static const pw_core_events coreEvents = [] {
        pw_core_events events{};
        events.version = PW_VERSION_CORE_EVENTS;
        events.error = &Private::onCoreError;
        return events;
    }();
    static const pw_registry_events registryEvents = [] {
        pw_registry_events events{};
        events.version = PW_VERSION_REGISTRY_EVENTS;
        events.global_remove = &Private::onGlobalRemove;
        return events;
    }();
    static const pw_stream_events streamEvents = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = &Private::onStateChanged;
        events.param_changed = &Private::onParamChanged;
        events.process = &Private::onProcess;
        return events;
    }();

    d->loop = pw_thread_loop_new("quorvel-screen", nullptr);
    if (!d->loop)
        return failWith(QStringLiteral("could not start reading the screen's stream"));
    d->context = pw_context_new(pw_thread_loop_get_loop(d->loop), nullptr, 0);
    if (!d->context || pw_thread_loop_start(d->loop) < 0)
        return failWith(QStringLiteral("could not start reading the screen's stream"));

    pw_thread_loop_lock(d->loop);
    // The connection is PipeWire's from here, whatever happens.
    d->core = pw_context_connect_fd(d->context, d->stream.fd, nullptr, 0);
    d->stream.fd = -1;
    if (!d->core) {
        pw_thread_loop_unlock(d->loop);
        return failWith(QStringLiteral("could not reach PipeWire through the portal's connection"));
    }
    pw_core_add_listener(d->core, &d->coreListener, &coreEvents, d.get());
    d->registry = pw_core_get_registry(d->core, PW_VERSION_REGISTRY, 0);
    if (d->registry)
        pw_registry_add_listener(d->registry, &d->registryListener, &registryEvents, d.get());

    d->pwStream = pw_stream_new(d->core, "Quorvel",
                                pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                  "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!d->pwStream) {
        pw_thread_loop_unlock(d->loop);
        return failWith(QStringLiteral("could not open the screen's stream"));
    }
    pw_stream_add_listener(d->pwStream, &d->streamListener, &streamEvents, d.get());

    const QSize size = d->stream.size.isEmpty() ? QSize(1920, 1080) : d->stream.size;
    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_rectangle defaultSize =
        SPA_RECTANGLE(uint32_t(size.width()), uint32_t(size.height()));
    const spa_rectangle minSize = SPA_RECTANGLE(1, 1);
    const spa_rectangle maxSize = SPA_RECTANGLE(16384, 16384);
    const spa_fraction defaultRate = SPA_FRACTION(30, 1);
    const spa_fraction minRate = SPA_FRACTION(0, 1);
    const spa_fraction maxRate = SPA_FRACTION(240, 1);
    // The movie is made at 30 pictures a second at most: a 60 Hz desktop is
    // asked to send no more, so half its pictures are neither copied nor
    // compared. The desktop holds back a late change rather than losing it.
    const spa_fraction mostRate = SPA_FRACTION(30, 1);
    const spa_fraction leastRate = SPA_FRACTION(0, 1);
    const spa_pod* format = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate),
        SPA_FORMAT_VIDEO_maxFramerate,
        SPA_POD_CHOICE_RANGE_Fraction(&mostRate, &leastRate, &mostRate)));
    const int connected =
        pw_stream_connect(d->pwStream, PW_DIRECTION_INPUT, d->stream.node,
                          pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                          PW_STREAM_FLAG_DONT_RECONNECT),
                          &format, 1);
    pw_thread_loop_unlock(d->loop);
    if (connected < 0)
        return failWith(QStringLiteral("could not open the screen's stream: ") +
                        QString::fromUtf8(spa_strerror(connected)));

    // Nothing reaches the sink before we know the stream shows something.
    {
        std::unique_lock lock(d->mutex);
        d->changed.wait_for(lock, kFirstPictureTimeout, [&] { return d->pictured || d->failed; });
        if (d->pictured && !d->failed) {
            d->started = true;
            return true;
        }
    }
    const QString reason = d->failed ? d->failure
                                     : QStringLiteral("the desktop shared the screen but sent no "
                                                      "picture of it");
    stop();
    if (error)
        *error = reason;
    return false;
}

void PipeWireFrameSource::stop()
{
    {
        std::lock_guard lock(d->mutex);
        d->delivering = false;
    }
    d->tearDown();
    if (d->release) {
        auto release = std::move(d->release);
        d->release = nullptr;
        release();
    }
}
