#pragma once

#include "result.h"
#include "sound_source.h"

#include <memory>

// What the default output plays, recorded from its monitor through the
// PulseAudio client library, which PulseAudio and PipeWire's Pulse server both
// answer. The server converts to S16 stereo at 48 kHz for us, and a thread of
// the library's own (a threaded main loop) delivers the chunks.
//
// A chunk's time is when its first frame was played: the time it reached us
// less the server's latency, smoothed by a SoundTimeline.
//
// Should the output recorded go (a headset unplugged), the recording goes on
// from the output the desktop names its default then, as the person hears
// it; the server never moves it anywhere itself (to a microphone, say). With
// no output left within a few seconds, the sink is told so.
class PulseSoundSource final : public SoundSource {
public:
    ~PulseSoundSource() override;

    // Connects to the sound server and finds the default output's monitor;
    // fails with one line, e.g. "no sound server is running". Blocks for at
    // most a few seconds; not for the GUI thread.
    static Result<std::unique_ptr<PulseSoundSource>> openDefaultOutputMonitor();

    // The monitor being recorded, e.g. "alsa_output.pci-0000_00_1f.3.analog-stereo.monitor".
    // Not from the sink's calls, which run on the library's thread with its lock held.
    QString monitorName() const;

    bool start(SoundSink sink, QString* error) override;
    void stop() override;

private:
    PulseSoundSource();
    struct Private;
    std::unique_ptr<Private> d;
};

// The default output's monitor as a plain SoundSource, for Recording::Setup.
Result<std::unique_ptr<SoundSource>> openDefaultOutputMonitor();
