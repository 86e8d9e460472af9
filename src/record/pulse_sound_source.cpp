#include "pulse_sound_source.h"

#include "sound_timeline.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

extern "C" {
#include <libavutil/time.h>
}

#include <functional>
#include <vector>

namespace {

// How long the server may take over any one answer before we give up on it.
constexpr pa_usec_t kAnswerTimeout = 5 * PA_USEC_PER_SEC;
// The chunk size asked of the server: short chunks keep its latency, and the
// error in our measurement of it, small.
constexpr pa_usec_t kFragment = 10 * PA_USEC_PER_MSEC;
constexpr size_t kFrameBytes = SoundSource::channels * sizeof(int16_t);
// When the output recorded goes, the desktop takes a moment to name another
// default: asked this often, this many times.
constexpr pa_usec_t kFollowInterval = 200 * PA_USEC_PER_MSEC;
constexpr int kFollowAttempts = 15;

int64_t framesToUs(int64_t frames)
{
    return frames * 1000000 / SoundSource::sampleRate;
}

QString errorText(int error)
{
    return QString::fromUtf8(pa_strerror(error));
}

QString connectionFailure(int error)
{
    switch (error) {
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_INVALIDSERVER:
        return QStringLiteral("no sound server is running");
    case PA_ERR_TIMEOUT:
        return QStringLiteral("the sound server does not answer");
    default:
        return QStringLiteral("cannot connect to the sound server: ") + errorText(error);
    }
}

bool settled(pa_context_state_t state)
{
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
}

bool settled(pa_stream_state_t state)
{
    return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
}

} // namespace

struct PulseSoundSource::Private {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    QString monitor;

    // Below: touched only with the loop's lock held.
    SoundSink sink;
    bool running = false;
    bool failed = false;      // the sink was told, once
    bool timedOut = false;
    int followAttempts = 0; // since the output went

    SoundTimeline timeline;
    std::vector<int16_t> silence; // stands in for a hole in the stream

    // With the lock held: waits, at most kAnswerTimeout, until `done`.
    bool waitFor(const std::function<bool()>& done)
    {
        timedOut = false;
        pa_time_event* timer =
            pa_context_rttime_new(context, pa_rtclock_now() + kAnswerTimeout, onTimeout, this);
        while (!done() && !timedOut)
            pa_threaded_mainloop_wait(loop);
        if (timer)
            pa_threaded_mainloop_get_api(loop)->time_free(timer);
        return done();
    }

    // Waits for a query; false (and the query dropped) when the server does
    // not answer in time.
    bool finish(pa_operation* operation)
    {
        if (!operation)
            return false;
        const bool done = waitFor(
            [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
        if (!done)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return done;
    }

    void fail(const QString& reason)
    {
        if (!running || failed)
            return;
        failed = true;
        if (sink.failed)
            sink.failed(reason);
    }

    // When the first of `frames` frames was played, as the server reckons
    // it. The latency is taken as of the server's last report, reckoned from
    // that report's time, rather than interpolated to now: the library's
    // interpolation guesses the server's clock rate from the first reports,
    // which come unevenly, and runs milliseconds a second apart for a while.
    // For a monitor the latency is negative while the output still has the
    // samples to play.
    int64_t measure(int frames)
    {
        pa_usec_t latency = 0;
        int negative = 0;
        const pa_timing_info* timing = pa_stream_get_timing_info(stream);
        if (!timing || pa_stream_get_latency(stream, &latency, &negative) != 0)
            return av_gettime_relative() - framesToUs(frames); // no report yet: as if just played
        // The report's time is on the wall clock; ours is monotonic.
        const int64_t reported = int64_t(timing->timestamp.tv_sec) * 1000000 +
                                 timing->timestamp.tv_usec - (av_gettime() - av_gettime_relative());
        return negative ? reported + int64_t(latency) : reported - int64_t(latency);
    }

    void read()
    {
        while (running && pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0) {
                fail(QStringLiteral("cannot read from the sound server: ") +
                     errorText(pa_context_errno(context)));
                return;
            }
            if (bytes == 0)
                return;
            const int frames = int(bytes / kFrameBytes);
            if (frames > 0) {
                const int16_t* samples = static_cast<const int16_t*>(data);
                if (!samples) { // a hole: what was lost is silence, so the times go on
                    silence.assign(size_t(frames) * SoundSource::channels, 0);
                    samples = silence.data();
                }
                const SoundChunk chunk{samples, frames, timeline.place(measure(frames), frames)};
                if (sink.chunk)
                    sink.chunk(chunk);
            }
            if (!running) // stopped from the sink: the stream is gone
                return;
            pa_stream_drop(stream);
        }
    }

    static void onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
    {
        auto* d = static_cast<Private*>(self);
        d->timedOut = true;
        pa_threaded_mainloop_signal(d->loop, 0);
    }

    static void onContextState(pa_context* context, void* self)
    {
        auto* d = static_cast<Private*>(self);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            d->fail(QStringLiteral("the sound server went away"));
        pa_threaded_mainloop_signal(d->loop, 0);
    }

    static void onStreamState(pa_stream* stream, void* self)
    {
        auto* d = static_cast<Private*>(self);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY)
            d->followAttempts = 0;
        if (!PA_STREAM_IS_GOOD(state)) {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(d->context)))
                d->fail(QStringLiteral("the sound server went away"));
            else if (d->running)
                d->followDefaultOutput();
        }
        pa_threaded_mainloop_signal(d->loop, 0);
    }

    // The output recorded went (a headset unplugged): the sound goes on from
    // the output the desktop plays to now, as the person hears it. Only with
    // none left in a few seconds is the sink told.
    void followDefaultOutput()
    {
        dropStream();
        if (++followAttempts > kFollowAttempts) {
            fail(QStringLiteral("the sound output being recorded went away"));
            return;
        }
        pa_operation* asked = pa_context_get_server_info(context, onDefaultOutput, this);
        if (!asked)
            fail(QStringLiteral("the sound output being recorded went away"));
        else
            pa_operation_unref(asked);
    }

    static void onDefaultOutput(pa_context* context, const pa_server_info* info, void* self)
    {
        auto* d = static_cast<Private*>(self);
        if (!d->running || d->stream)
            return;
        pa_operation* asked =
            info && info->default_sink_name
                ? pa_context_get_sink_info_by_name(context, info->default_sink_name, onOutput, d)
                : nullptr;
        if (asked)
            pa_operation_unref(asked);
        else
            d->followLater();
    }

    static void onOutput(pa_context*, const pa_sink_info* info, int last, void* self)
    {
        auto* d = static_cast<Private*>(self);
        if (last > 0 || !d->running || d->stream)
            return; // the end of the list, after the answer
        if (!info || !info->monitor_source_name) {
            d->followLater(); // not named yet, or gone again
            return;
        }
        d->monitor = QString::fromUtf8(info->monitor_source_name);
        d->timeline = {}; // another output's clock
        if (!d->connectStream())
            d->followLater();
    }

    void followLater()
    {
        pa_context_rttime_new(
            context, pa_rtclock_now() + kFollowInterval,
            [](pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* self) {
                api->time_free(event);
                auto* d = static_cast<Private*>(self);
                if (d->running && !d->stream)
                    d->followDefaultOutput();
            },
            this);
    }

    // A stream recording `monitor`, asked for; its state comes to onStreamState.
    bool connectStream()
    {
        const pa_sample_spec format{PA_SAMPLE_S16LE, uint32_t(sampleRate), uint8_t(channels)};
        pa_channel_map map;
        pa_channel_map_init_stereo(&map);
        stream = pa_stream_new(context, "Screen recording", &format, &map);
        if (!stream)
            return false;
        pa_stream_set_state_callback(stream, onStreamState, this);
        pa_stream_set_read_callback(stream, onReadable, this);
        pa_buffer_attr buffer;
        buffer.maxlength = uint32_t(-1);
        buffer.tlength = buffer.prebuf = buffer.minreq = uint32_t(-1);
        buffer.fragsize = uint32_t(pa_usec_to_bytes(kFragment, &format));
        // DONT_MOVE: should the output go, we choose where to go on from (the
        // new default output), never the server (a microphone, say).
        const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY |
                                             PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_DONT_MOVE);
        const QByteArray name = monitor.toUtf8();
        if (pa_stream_connect_record(stream, name.constData(), &buffer, flags) < 0) {
            dropStream();
            return false;
        }
        return true;
    }

    static void onReadable(pa_stream*, size_t, void* self) { static_cast<Private*>(self)->read(); }

    // With the lock held.
    void closeStream()
    {
        running = false;
        dropStream();
    }

    void dropStream()
    {
        if (!stream)
            return;
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }
};

PulseSoundSource::PulseSoundSource() : d(std::make_unique<Private>()) {}

PulseSoundSource::~PulseSoundSource()
{
    if (!d->loop)
        return;
    pa_threaded_mainloop_lock(d->loop);
    d->closeStream();
    if (d->context) {
        pa_context_set_state_callback(d->context, nullptr, nullptr);
        pa_context_disconnect(d->context);
        pa_context_unref(d->context);
        d->context = nullptr;
    }
    pa_threaded_mainloop_unlock(d->loop);
    pa_threaded_mainloop_stop(d->loop);
    pa_threaded_mainloop_free(d->loop);
}

Result<std::unique_ptr<PulseSoundSource>> PulseSoundSource::openDefaultOutputMonitor()
{
    using Opened = Result<std::unique_ptr<PulseSoundSource>>;
    std::unique_ptr<PulseSoundSource> source(new PulseSoundSource);
    Private& p = *source->d;
    p.loop = pa_threaded_mainloop_new();
    if (!p.loop)
        return Opened::failure(QStringLiteral("cannot start the sound client"));
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Quorvel");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, QUORVEL_APP_ID);
    p.context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(p.loop), "Quorvel",
                                             properties);
    pa_proplist_free(properties);
    if (!p.context || pa_threaded_mainloop_start(p.loop) < 0)
        return Opened::failure(QStringLiteral("cannot start the sound client"));

    pa_threaded_mainloop_lock(p.loop);
    const auto failure = [&p](const QString& reason) {
        pa_threaded_mainloop_unlock(p.loop);
        return Opened::failure(reason);
    };
    pa_context_set_state_callback(p.context, Private::onContextState, &p);
    // Never start a server of our own: recording what nobody plays is pointless.
    if (pa_context_connect(p.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return failure(connectionFailure(pa_context_errno(p.context)));
    if (!p.waitFor([&p] { return settled(pa_context_get_state(p.context)); }))
        return failure(connectionFailure(PA_ERR_TIMEOUT));
    if (pa_context_get_state(p.context) != PA_CONTEXT_READY)
        return failure(connectionFailure(pa_context_errno(p.context)));

    // The default output by name, then its monitor: asked of the server
    // rather than made up, as not every server names monitors "<sink>.monitor".
    struct Answer {
        Private* p;
        QByteArray name;
    } answer{&p, {}};
    const bool answered = p.finish(pa_context_get_server_info(
        p.context,
        [](pa_context*, const pa_server_info* info, void* self) {
            auto* a = static_cast<Answer*>(self);
            if (info && info->default_sink_name)
                a->name = info->default_sink_name;
            pa_threaded_mainloop_signal(a->p->loop, 0);
        },
        &answer));
    if (!answered)
        return failure(connectionFailure(PA_ERR_TIMEOUT));
    const QByteArray output = answer.name;
    answer.name.clear();
    if (!output.isEmpty() &&
        !p.finish(pa_context_get_sink_info_by_name(
            p.context, output.constData(),
            [](pa_context*, const pa_sink_info* info, int, void* self) {
                auto* a = static_cast<Answer*>(self);
                if (info && info->monitor_source_name)
                    a->name = info->monitor_source_name;
                pa_threaded_mainloop_signal(a->p->loop, 0);
            },
            &answer)))
        return failure(connectionFailure(PA_ERR_TIMEOUT));
    if (answer.name.isEmpty())
        return failure(QStringLiteral("the sound server has no output to record"));
    p.monitor = QString::fromUtf8(answer.name);
    pa_threaded_mainloop_unlock(p.loop);
    return Opened(std::move(source));
}

QString PulseSoundSource::monitorName() const
{
    // The loop's thread changes it when the output recorded goes.
    pa_threaded_mainloop_lock(d->loop);
    const QString name = d->monitor;
    pa_threaded_mainloop_unlock(d->loop);
    return name;
}

bool PulseSoundSource::start(SoundSink sink, QString* error)
{
    const auto failure = [this, error](const QString& reason) {
        d->closeStream();
        pa_threaded_mainloop_unlock(d->loop);
        if (error)
            *error = reason;
        return false;
    };
    pa_threaded_mainloop_lock(d->loop);
    if (d->stream)
        return failure(QStringLiteral("the sound is being recorded already"));
    if (pa_context_get_state(d->context) != PA_CONTEXT_READY)
        return failure(QStringLiteral("the sound server went away"));

    if (!d->connectStream())
        return failure(QStringLiteral("cannot record the sound output: ") +
                       errorText(pa_context_errno(d->context)));
    d->sink = std::move(sink);
    d->failed = false;
    d->followAttempts = 0;
    d->timeline = {};
    if (!d->waitFor([this] { return settled(pa_stream_get_state(d->stream)); }))
        return failure(connectionFailure(PA_ERR_TIMEOUT));
    if (pa_stream_get_state(d->stream) != PA_STREAM_READY)
        return failure(QStringLiteral("cannot record the sound output: ") +
                       errorText(pa_context_errno(d->context)));
    d->running = true;
    pa_threaded_mainloop_unlock(d->loop);
    return true;
}

void PulseSoundSource::stop()
{
    // From the sink itself, on the loop's thread, the lock is held already.
    const bool fromSink = pa_threaded_mainloop_in_thread(d->loop);
    if (!fromSink)
        pa_threaded_mainloop_lock(d->loop);
    d->closeStream();
    if (!fromSink)
        pa_threaded_mainloop_unlock(d->loop);
}

Result<std::unique_ptr<SoundSource>> openDefaultOutputMonitor()
{
    auto opened = PulseSoundSource::openDefaultOutputMonitor();
    if (!opened.ok())
        return Result<std::unique_ptr<SoundSource>>::failure(opened.error());
    return Result<std::unique_ptr<SoundSource>>(std::move(opened).value());
}
