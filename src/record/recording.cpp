#include "recording.h"

#include "movie_writer.h"
#include "recording_writer.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

#include <QFile>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

// How much memory pictures waiting for the encoder may take: half a second
// of 1080p at 30 frames a second, and never fewer than three pictures.
constexpr size_t queueBytes = size_t(128) << 20;
constexpr size_t minimumPictures = 3;
constexpr size_t maximumPictures = 16;
// Sound waiting for the encoder: seconds of it (a picture takes far longer to
// encode than any sound, so this is only reached when the encoder is stuck).
constexpr size_t queuedSoundLimit = size_t(SoundSource::sampleRate) * 5;
// How often what was encoded goes to disk, and how long a still screen may
// go without a picture in the file.
constexpr auto flushInterval = std::chrono::milliseconds(1000);

// A copy of one picture, ours to keep while the encoder works on it.
struct Slot {
    std::vector<uint8_t> pixels;
    int stride = 0;
    QSize size;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int64_t time = 0;
    bool busy = false; // queued or being encoded
};

struct Item {
    enum Kind { Picture, Sound, SoundLost, Failed };
    explicit Item(Kind what) : kind(what) {}
    Kind kind;
    Slot* slot = nullptr;
    std::vector<int16_t> samples;
    int64_t time = 0;
    QString reason;
};

bool samePicture(const ScreenFrame& frame, const Slot& slot)
{
    if (frame.size != slot.size || frame.format != slot.format)
        return false;
    const size_t row = size_t(frame.size.width()) * 4;
    for (int y = 0; y < frame.size.height(); ++y) {
        if (std::memcmp(frame.pixels + size_t(y) * size_t(frame.stride),
                        slot.pixels.data() + size_t(y) * size_t(slot.stride), row) != 0)
            return false;
    }
    return true;
}

bool supported(AVPixelFormat format)
{
    return format == AV_PIX_FMT_BGR0 || format == AV_PIX_FMT_BGRA || format == AV_PIX_FMT_RGB0 ||
           format == AV_PIX_FMT_RGBA;
}

// News told once (why the recording stopped, why its sound did): to the
// listener when it comes, on that thread, or at once to a listener who comes
// later. Both with the recording's lock held; the call they return is made
// without it.
struct News {
    std::function<void(const QString&)> listener;
    QString what; // null until it came
    bool told = false;

    std::function<void()> happen(const QString& why)
    {
        what = why;
        return tell();
    }
    std::function<void()> listen(std::function<void(const QString&)> handler)
    {
        listener = std::move(handler);
        return what.isNull() || told ? nullptr : tell();
    }

private:
    std::function<void()> tell()
    {
        if (!listener)
            return nullptr;
        told = true;
        return [heard = std::exchange(listener, nullptr), why = what] { heard(why); };
    }
};

} // namespace

struct Recording::Private {
    QString destination;
    QString intermediate;
    std::unique_ptr<FrameSource> frames;
    std::unique_ptr<SoundSource> sound;
    std::unique_ptr<RecordingWriter> writer;
    std::thread encoder;

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<Item> queue;
    std::vector<std::unique_ptr<Slot>> pool; // grown by the source's thread only
    size_t poolLimit = 0;
    size_t queuedSound = 0;
    bool ending = false;
    int64_t endTime = 0;
    News stopped;          // why it stopped by itself
    News soundStopped;     // why its sound stopped
    QString sourceFailure; // the first failure a source reported
    Result<void> written; // what the encoder thread ended with

    // The source's thread only: the last picture queued, to compare the next with.
    Slot* last = nullptr;

    std::atomic<bool> halted{false}; // stopped by itself: sources are no longer heard
    // The encoder thread's: when it halted, and whether the file itself
    // failed (a full disk) or only a source did (a window closed), in which
    // case the file still ends properly where the source went.
    int64_t haltedAt = 0;
    bool fileFailed = false;
    bool soundGone = false; // the encoder thread's: the track is padded with silence from here
    std::atomic<bool> soundLost{false}; // the sound source gave up; its chunks are not taken
    std::atomic<int64_t> delivered{0};
    std::atomic<int64_t> encoded{0};
    std::atomic<int64_t> dropped{0};
    bool sourcesStopped = false;
    bool done = false;

    void takeFrame(const ScreenFrame& frame);
    void takeSound(const SoundChunk& chunk);
    void sourceFailed(const QString& reason);
    void soundFailed(const QString& reason);
    void push(Item item);
    void run();
    void handle(Item& item);
    void stop(const QString& reason);
    void stopSources();
    void endEncoder(int64_t end);
};

void Recording::Private::takeFrame(const ScreenFrame& frame)
{
    ++delivered;
    if (halted)
        return;
    if (!frame.pixels || frame.size.isEmpty() || !supported(frame.format) ||
        frame.stride < frame.size.width() * 4) {
        const char* name = av_get_pix_fmt_name(frame.format);
        Item item(Item::Failed);
        item.reason = QStringLiteral("the screen's pictures cannot be read (%1, %2 × %3)")
                          .arg(QLatin1String(name ? name : "no format"))
                          .arg(frame.size.width())
                          .arg(frame.size.height());
        push(std::move(item));
        return;
    }
    // A still screen costs a comparison: the last picture's copy stays ours
    // until a different one is queued.
    if (last && samePicture(frame, *last))
        return;
    const size_t row = size_t(frame.size.width()) * 4;
    const size_t bytes = row * size_t(frame.size.height());
    Slot* slot = nullptr;
    {
        std::lock_guard lock(mutex);
        if (poolLimit == 0)
            poolLimit = std::clamp(queueBytes / bytes, minimumPictures, maximumPictures);
        for (auto& candidate : pool) {
            if (!candidate->busy && candidate.get() != last) {
                slot = candidate.get();
                break;
            }
        }
        if (!slot && pool.size() < poolLimit) {
            pool.push_back(std::make_unique<Slot>());
            slot = pool.back().get();
        }
        if (!slot) {
            // The encoder is behind: this picture is lost, the source never waits.
            ++dropped;
            return;
        }
        slot->busy = true;
    }
    slot->pixels.resize(bytes);
    slot->stride = int(row);
    slot->size = frame.size;
    slot->format = frame.format;
    slot->time = frame.time;
    for (int y = 0; y < frame.size.height(); ++y)
        std::memcpy(slot->pixels.data() + size_t(y) * row,
                    frame.pixels + size_t(y) * size_t(frame.stride), row);
    last = slot;
    Item item(Item::Picture);
    item.slot = slot;
    push(std::move(item));
}

void Recording::Private::takeSound(const SoundChunk& chunk)
{
    if (halted || soundLost || !chunk.samples || chunk.frames <= 0)
        return;
    Item item(Item::Sound);
    item.samples.assign(chunk.samples, chunk.samples + size_t(chunk.frames) * 2);
    item.time = chunk.time;
    {
        std::lock_guard lock(mutex);
        if (queuedSound + size_t(chunk.frames) > queuedSoundLimit)
            return;
        queuedSound += size_t(chunk.frames);
    }
    push(std::move(item));
}

void Recording::Private::sourceFailed(const QString& reason)
{
    {
        std::lock_guard lock(mutex);
        if (sourceFailure.isNull())
            sourceFailure = reason.isEmpty() ? QStringLiteral("the recording stopped") : reason;
    }
    Item item(Item::Failed);
    item.reason = reason;
    push(std::move(item));
}

// Sound is worth less than the picture: losing it (a headset unplugged) leaves
// silence, and the recording goes on.
void Recording::Private::soundFailed(const QString& reason)
{
    if (soundLost.exchange(true))
        return;
    Item item(Item::SoundLost);
    item.reason = reason.isEmpty() ? QStringLiteral("the sound stopped") : reason;
    push(std::move(item));
}

void Recording::Private::push(Item item)
{
    {
        std::lock_guard lock(mutex);
        queue.push_back(std::move(item));
    }
    wake.notify_one();
}

void Recording::Private::run()
{
    using Clock = std::chrono::steady_clock;
    auto nextFlush = Clock::now() + flushInterval;
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait_until(lock, nextFlush, [this] { return !queue.empty() || ending; });
        if (!queue.empty()) {
            Item item = std::move(queue.front());
            queue.pop_front();
            if (item.kind == Item::Sound)
                queuedSound -= item.samples.size() / 2;
            lock.unlock();
            handle(item);
            lock.lock();
            if (item.slot)
                item.slot->busy = false;
        } else if (ending) {
            break;
        }
        if (Clock::now() < nextFlush)
            continue;
        const bool idle = queue.empty();
        lock.unlock();
        if (!halted && writer->started()) {
            // On a still screen the file still grows with the clock, so a
            // recording cut off keeps its length. Not while pictures wait:
            // they are older than now.
            const int64_t now = av_gettime_relative();
            Result<void> step;
            if (idle && now - writer->lastPictureTime() >= 900000)
                step = writer->repeatPicture(now);
            if (step.ok() && soundGone)
                step = writer->padSound(now);
            if (step.ok())
                step = writer->flush();
            if (!step.ok()) {
                fileFailed = true;
                stop(step.error());
            }
        }
        nextFlush = Clock::now() + flushInterval;
        lock.lock();
    }
    const int64_t end = endTime;
    lock.unlock();
    Result<void> finished;
    if (!halted) {
        if (soundGone) // the silence runs to the end, as the picture does
            finished = writer->padSound(end);
        if (finished.ok())
            finished = writer->finish(end);
    } else if (!fileFailed && writer->started()) {
        (void)writer->finish(haltedAt); // what stopped it stays the reason
    }

    // The file is closed here, whatever happened, so it can be read back.
    writer.reset();
    lock.lock();
    if (!halted)
        written = finished;
}

void Recording::Private::handle(Item& item)
{
    if (halted)
        return;
    Result<void> step;
    switch (item.kind) {
    case Item::Picture: {
        const Slot& slot = *item.slot;
        ScreenFrame frame;
        frame.pixels = slot.pixels.data();
        frame.stride = slot.stride;
        frame.size = slot.size;
        frame.format = slot.format;
        frame.time = slot.time;
        step = writer->writePicture(frame);
        if (step.ok())
            ++encoded;
        break;
    }
    case Item::Sound:
        step = writer->writeSound(item.samples.data(), int(item.samples.size() / 2), item.time);
        break;
    case Item::SoundLost: {
        soundGone = true;
        std::function<void()> tell;
        {
            std::lock_guard lock(mutex);
            tell = soundStopped.happen(item.reason);
        }
        if (tell)
            tell();
        step = writer->padSound(av_gettime_relative());
        break;
    }
    case Item::Failed:
        stop(item.reason);
        return;
    }
    if (!step.ok()) {
        fileFailed = true;
        stop(step.error());
    }
}

void Recording::Private::stop(const QString& reason)
{
    if (halted.exchange(true))
        return;
    haltedAt = av_gettime_relative();
    std::function<void()> tell;
    {
        std::lock_guard lock(mutex);
        const QString why = reason.isEmpty() ? QStringLiteral("the recording stopped") : reason;
        written = Result<void>::failure(why);
        tell = stopped.happen(why);
    }
    if (tell)
        tell();
}

void Recording::Private::stopSources()
{
    if (sourcesStopped)
        return;
    sourcesStopped = true;
    frames->stop();
    if (sound)
        sound->stop();
}

void Recording::Private::endEncoder(int64_t end)
{
    if (!encoder.joinable())
        return;
    {
        std::lock_guard lock(mutex);
        ending = true;
        endTime = end;
    }
    wake.notify_one();
    encoder.join();
}

Recording::Recording() : d(std::make_unique<Private>()) {}

Recording::~Recording()
{
    if (!d->done) {
        d->stopSources();
        d->endEncoder(av_gettime_relative());
    }
}

QString Recording::intermediateFor(const QString& destination)
{
    return destination + QStringLiteral(".recording.mkv");
}

Result<std::unique_ptr<Recording>> Recording::start(Setup setup)
{
    using Started = std::unique_ptr<Recording>;
    if (!setup.frames)
        return Result<Started>::failure(QStringLiteral("nothing to record"));
    if (const QSize size = setup.frames->frameSize(); !size.isEmpty()) {
        if (auto fits = MovieWriter::checkFrameSize(QSizeF(size)); !fits.ok())
            return Result<Started>::failure(fits.error());
    }
    std::unique_ptr<Recording> recording(new Recording);
    Private& d = *recording->d;
    d.destination = setup.destination;
    d.intermediate = intermediateFor(setup.destination);
    auto writer = RecordingWriter::create(d.intermediate, setup.sound != nullptr);
    if (!writer.ok())
        return Result<Started>::failure(writer.error());
    d.writer = std::move(writer).value();
    d.frames = std::move(setup.frames);
    d.sound = std::move(setup.sound);
    d.encoder = std::thread([&d] { d.run(); });

    QString error;
    const bool framesStarted = d.frames->start(
        FrameSink{[&d](const ScreenFrame& frame) { d.takeFrame(frame); },
                  [&d](const QString& reason) { d.sourceFailed(reason); }},
        &error);
    const bool soundStarted =
        framesStarted && d.sound &&
        d.sound->start(SoundSink{[&d](const SoundChunk& chunk) { d.takeSound(chunk); },
                                 [&d](const QString& reason) { d.soundFailed(reason); }},
                       &error);
    bool started = framesStarted && (soundStarted || !d.sound);
    if (started) {
        // A source that gave up while starting did not start.
        std::lock_guard lock(d.mutex);
        if (!d.sourceFailure.isNull()) {
            started = false;
            error = d.sourceFailure;
        }
    }
    if (!started) {
        if (framesStarted)
            d.frames->stop();
        if (soundStarted)
            d.sound->stop();
        d.sourcesStopped = true;
        d.endEncoder(av_gettime_relative());
        d.done = true;
        QFile::remove(d.intermediate);
        return Result<Started>::failure(error.isEmpty() ? QStringLiteral("the screen cannot be recorded")
                                                        : error);
    }
    return Started(std::move(recording));
}

void Recording::setStoppedHandler(std::function<void(const QString& reason)> handler)
{
    std::unique_lock lock(d->mutex);
    // It may have stopped before anyone listened (a source failing as it started).
    const std::function<void()> tell = d->stopped.listen(std::move(handler));
    lock.unlock();
    if (tell)
        tell();
}

void Recording::setSoundLostHandler(std::function<void(const QString& reason)> handler)
{
    std::unique_lock lock(d->mutex);
    const std::function<void()> tell = d->soundStopped.listen(std::move(handler));
    lock.unlock();
    if (tell)
        tell();
}

QString Recording::intermediatePath() const
{
    return d->intermediate;
}

Recording::Counts Recording::counts() const
{
    return {d->delivered.load(), d->encoded.load(), d->dropped.load()};
}

Result<QString> Recording::finish()
{
    if (d->done)
        return Result<QString>::failure(QStringLiteral("the recording is finished already"));
    const int64_t end = av_gettime_relative();
    d->stopSources();
    d->endEncoder(end);
    d->done = true;
    const Result<void> written = d->written;
    if (d->encoded == 0) {
        // Nothing came: the file holds not even a header.
        QFile::remove(d->intermediate);
        return Result<QString>::failure(
            written.ok() ? QStringLiteral("no picture of the screen came to record") : written.error());
    }
    // Whatever made the recording stop, what reached the disk is made into
    // the movie; when that fails too the intermediate stays for the user.
    auto made = RecordingWriter::remux(d->intermediate, QFile::encodeName(d->destination));
    if (!made.ok())
        return Result<QString>::failure(made.error());
    QFile::remove(d->intermediate);
    return d->destination;
}
