#include "sound_timeline.h"

#include "sound_source.h"

namespace {

// Further past the count than this, a measurement means lost sound.
constexpr int64_t kGapUs = 30000;
// The share of the difference taken each chunk: at about 100 chunks a second
// jitter averages out within a second, while a clock 0.1% apart leaves the
// times less than a millisecond off.
constexpr int64_t kPull = 16;

int64_t framesToUs(int64_t frames)
{
    return frames * 1000000 / SoundSource::sampleRate;
}

} // namespace

int64_t SoundTimeline::place(int64_t measured, int frames)
{
    const int64_t counted = m_origin + framesToUs(m_counted);
    if (!m_started || measured - counted > kGapUs) {
        m_started = true;
        m_origin = measured;
        m_counted = 0;
    } else {
        m_origin += (measured - counted) / kPull;
    }
    const int64_t time = m_origin + framesToUs(m_counted);
    m_counted += frames;
    return time;
}
