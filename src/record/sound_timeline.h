#pragma once

#include <cstdint>

// Places chunks of sound on the monotonic clock from rough measurements of
// when each was played.
//
// Measurements (the time a chunk reached us less the server's latency) jitter
// by a millisecond or so, and the output's own clock may run a little fast or
// slow against ours: counting frames alone drifts, measuring alone jitters.
// So the times follow a running count of frames, pulled a little towards
// each measurement: chunks follow each other without gaps or overlaps
// (beyond a few microseconds), and stay on our clock over any length of
// recording. A measurement far past the count means sound was lost on the
// way: the count starts again from it, and the times show the gap.
class SoundTimeline {
public:
    // The time of a chunk of `frames` frames whose first frame was measured
    // as played at `measured` (µs).
    int64_t place(int64_t measured, int frames);

private:
    bool m_started = false;
    int64_t m_origin = 0;  // µs of the first frame counted
    int64_t m_counted = 0; // frames since
};
