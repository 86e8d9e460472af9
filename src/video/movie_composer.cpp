#include "movie_composer.h"

#include "frame_placer.h"
#include "movie_background.h"
#include "movie_source.h"
#include "movie_writer.h"
#include "upright_converter.h"

#include <QFile>
#include <cmath>
#include <limits>

namespace {

using Outcome = MovieCompositionOutcome;

Outcome failed(Outcome::Stage stage, const QString& reason)
{
    return {Outcome::Kind::failed, stage, reason};
}

// H.264 in 4:2:0 needs even sizes; a fractional padding rounds the frame up.
int evenCeiling(double length)
{
    return 2 * int(std::ceil(length / 2 - 1e-9));
}

// Where the picture sits in the frame: 2·padding on every side, or as near as
// whole pixels allow when rounding made the margin odd.
struct Layout {
    QSize frame;
    QPoint origin; // picture's top-left pixel
};

Layout layoutFor(QSize picture, double padding)
{
    padding = std::max(padding, 0.0);
    Layout layout;
    layout.frame = {evenCeiling(picture.width() + 4 * padding),
                    evenCeiling(picture.height() + 4 * padding)};
    const int left = (layout.frame.width() - picture.width()) / 2;
    const int bottom = (layout.frame.height() - picture.height()) / 2;
    layout.origin = {left, layout.frame.height() - picture.height() - bottom};
    return layout;
}

// The run itself: one decoded picture at a time, each output instant showing
// the source picture on screen at that instant.
class Composition {
public:
    Composition(MovieSource& source, MovieWriter& writer, const FramePlacer& placer,
                UprightConverter& converter, const AVFrame& background, AVFrame& out,
                const MovieComposer::Callbacks& callbacks, const std::atomic<bool>* cancel)
        : m_source(source), m_writer(writer), m_placer(placer), m_converter(converter),
          m_background(background), m_out(out), m_callbacks(callbacks), m_cancel(cancel)
    {
    }

    Outcome run()
    {
        const double duration = m_source.duration();
        m_total = duration > 0
                      ? std::max<int64_t>(1, std::llround(duration * MovieWriter::framesPerSecond))
                      : std::numeric_limits<int64_t>::max();
        double end = 0;
        for (;;) {
            if (cancelled())
                return {Outcome::Kind::cancelled, Outcome::Stage::encoding, {}};
            auto next = m_source.next();
            if (!next.ok())
                return failed(Outcome::Stage::source, next.error());
            MovieSource::Item item = std::move(next).value();
            if (item.kind == MovieSource::Item::Kind::end)
                break;
            if (item.kind == MovieSource::Item::Kind::audio) {
                if (auto written = m_writer.writeAudio(*item.packet); !written.ok())
                    return failed(m_writer.soundFailed() ? Outcome::Stage::source
                                                         : Outcome::Stage::encoding,
                                  written.error());
                continue;
            }
            end = item.end;
            if (m_hasPicture) {
                // Every instant before this picture shows the one before it.
                while (m_emitted < m_total &&
                       double(m_emitted) / MovieWriter::framesPerSecond < item.time - 1e-6) {
                    if (auto outcome = emit(); outcome.kind != Outcome::Kind::completed)
                        return outcome;
                }
            }
            m_current = std::move(item.picture);
            m_hasPicture = true;
            m_placed = false;
        }
        if (!m_hasPicture)
            return failed(Outcome::Stage::source, libav::errorText(AVERROR_INVALIDDATA));
        if (m_total == std::numeric_limits<int64_t>::max())
            m_total = std::max<int64_t>(1, std::llround(end * MovieWriter::framesPerSecond));
        while (m_emitted < m_total) {
            if (auto outcome = emit(); outcome.kind != Outcome::Kind::completed)
                return outcome;
        }
        if (auto finished = m_writer.finish(); !finished.ok())
            return failed(m_writer.soundFailed() ? Outcome::Stage::source
                                                 : Outcome::Stage::encoding,
                          finished.error());
        if (m_callbacks.progress)
            m_callbacks.progress(1.0);
        Outcome done;
        done.skippedPackets = m_source.skippedPackets();
        return done;
    }

private:
    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }

    Outcome emit()
    {
        if (cancelled())
            return {Outcome::Kind::cancelled, Outcome::Stage::encoding, {}};
        // The encoder may still hold the last frame; then this copies it first.
        if (const int code = av_frame_make_writable(&m_out); code < 0)
            return failed(Outcome::Stage::encoding, libav::errorText(code));
        if (!m_placed) {
            auto upright = m_converter.convert(*m_current);
            if (!upright.ok())
                return failed(Outcome::Stage::source, upright.error());
            m_placer.place(m_background, *upright.value(), m_out);
            m_placed = true;
        }
        if (auto written = m_writer.writePicture(m_out); !written.ok())
            return failed(Outcome::Stage::encoding, written.error());
        ++m_emitted;
        reportProgress();
        return {};
    }

    void reportProgress()
    {
        constexpr int64_t steps = 200;
        if (!m_callbacks.progress || m_total == std::numeric_limits<int64_t>::max())
            return;
        const int64_t step = m_emitted * steps / m_total;
        if (step > m_reportedStep && m_emitted < m_total) {
            m_reportedStep = step;
            m_callbacks.progress(double(m_emitted) / double(m_total));
        }
    }

    MovieSource& m_source;
    MovieWriter& m_writer;
    const FramePlacer& m_placer;
    UprightConverter& m_converter;
    const AVFrame& m_background;
    AVFrame& m_out;
    const MovieComposer::Callbacks& m_callbacks;
    const std::atomic<bool>* m_cancel;
    libav::FramePtr m_current;
    bool m_hasPicture = false;
    bool m_placed = false;
    int64_t m_total = 0;
    int64_t m_emitted = 0;
    int64_t m_reportedStep = 0;
};

} // namespace

MovieCompositionOutcome MovieComposer::compose(const QString& source, const QString& destination,
                                               const MovieCompositionSettings& settings,
                                               const Callbacks& callbacks,
                                               const std::atomic<bool>* cancel)
{
    return compose(source, QFile::encodeName(destination), settings, callbacks, cancel);
}

MovieCompositionOutcome MovieComposer::compose(const QString& source, const QByteArray& destination,
                                               const MovieCompositionSettings& settings,
                                               const Callbacks& callbacks,
                                               const std::atomic<bool>* cancel)
{
    using Stage = Outcome::Stage;
    auto opened = MovieSource::open(source);
    if (!opened.ok())
        return failed(Stage::source, opened.error());
    MovieSource& input = *opened.value();
    if (!input.hasVideo())
        return {Outcome::Kind::noVideo, Stage::source, {}};
    if (!MovieWriter::hasEncoder())
        return failed(Stage::source, QStringLiteral("no H.264 encoder (libx264) is available"));

    const QSize picture = input.size();
    // Before any file exists or a background of that size is painted, and
    // before sizes too large for an int are laid out.
    const double margin = 4 * std::max(settings.padding, 0.0);
    if (auto fits =
            MovieWriter::checkFrameSize({picture.width() + margin, picture.height() + margin});
        !fits.ok())
        return failed(Stage::source, fits.error());
    const Layout layout = layoutFor(picture, settings.padding);
    libav::FramePtr background =
        movie_background::toFrame(movie_background::paint(settings.style, layout.frame));
    libav::FramePtr out =
        libav::allocateFrame(AV_PIX_FMT_YUV420P, layout.frame.width(), layout.frame.height());
    if (!background || !out)
        return failed(Stage::encoding, libav::errorText(AVERROR(ENOMEM)));
    const FramePlacer placer(picture, layout.frame, layout.origin, settings.cornerRadius);
    UprightConverter converter(picture, input.quarterTurns(), input.colours());

    auto writer = MovieWriter::open(destination, {layout.frame, input.audio(), input.origin()});
    if (!writer.ok())
        return failed(Stage::encoding, writer.error());
    if (callbacks.encodingStarts)
        callbacks.encodingStarts({input.duration(), layout.frame, MovieWriter::framesPerSecond});
    Composition composition(input, *writer.value(), placer, converter, *background, *out, callbacks,
                            cancel);
    return composition.run();
}
