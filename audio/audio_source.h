#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "audio_block.h"
#include "status.h"

namespace sondrel {

// Identifies one capture stream for the life of the process; never reused. 0 is no stream.
using StreamId = std::uint64_t;
inline constexpr StreamId NO_STREAM = 0;

// What a capture stream reports to. Called on the audio thread; must not throw.
class StreamSink {
  public:
    virtual ~StreamSink() = default;
    // One delivery of stream `id`.
    virtual void streamDidOutput(StreamId id, const AudioBlock& block) noexcept = 0;
    // Stream `id` stopped on its own (server gone, device lost); `description` says why.
    virtual void streamDidStop(StreamId id, std::string_view description) noexcept = 0;
};

// A started capture stream. Destroying it without stop() drops it silently.
class CaptureStream {
  public:
    virtual ~CaptureStream() = default;
    virtual StreamId id() const = 0;
    // What is being recorded, for the log: "sink <name> (source <monitor>)".
    virtual std::string description() const = 0;
    // Stops capturing; no delivery reaches the sink once this returns, failed or not.
    virtual Status stop() = 0;
};

// Builds capture streams of the computer's mixed output: always a sink's monitor, never a
// microphone.
class AudioSource {
  public:
    virtual ~AudioSource() = default;
    // Builds and starts a stream whose audio and stop reports reach `sink`. The stream's
    // id is fixed before it can deliver. Fails when there is nothing to monitor, the server
    // refuses or does not answer in time, or it connected the stream to a source that is
    // not a sink's monitor.
    virtual Result<std::unique_ptr<CaptureStream>> makeStream(StreamSink& sink) = 0;
};

}  // namespace sondrel
