#pragma once

#include <memory>

#include "audio_source.h"

namespace sondrel {

// Captures the default sink's monitor through the PulseAudio client API (also served by
// PipeWire): 48000 Hz, 2 channels, float32, 20 ms fragments, on a threaded main loop. One
// server connection is kept and re-made when it has failed. Presentation times are on
// CLOCK_MONOTONIC: each stream's first frame is anchored once, later frames are counted.
// Streams it made must be destroyed before it.
class PulseAudioSource final : public AudioSource {
  public:
    // Starts the client's main loop; fails when it cannot.
    static Result<std::unique_ptr<PulseAudioSource>> start();
    ~PulseAudioSource() override;
    PulseAudioSource(const PulseAudioSource&) = delete;
    PulseAudioSource& operator=(const PulseAudioSource&) = delete;

    Result<std::unique_ptr<CaptureStream>> makeStream(StreamSink& sink) override;

    struct Impl;

  private:
    PulseAudioSource();
    std::unique_ptr<Impl> impl_;
};

}  // namespace sondrel
