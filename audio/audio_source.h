#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sample_buffer.h"

namespace sondrel {

// Identifies one capture stream for the life of the process; never reused. 0 is no stream.
using StreamId = std::uint64_t;
inline constexpr StreamId NO_STREAM = 0;

// What a capture stream reports to. Called on the audio thread; must not throw.
class StreamSink {
  public:
    virtual ~StreamSink() = default;
    // One delivery of stream `id`.
    virtual void streamDidOutput(StreamId id, const SampleBuffer& buffer) noexcept = 0;
    // Stream `id` stopped on its own (server gone, device lost); `description` says why.
    virtual void streamDidStop(StreamId id, std::string_view description) noexcept = 0;
};

// A failure of the audio platform; what() is a complete sentence for the log.
class SourceError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A started capture stream. Destroying it without stop() drops it silently.
class CaptureStream {
  public:
    virtual ~CaptureStream() = default;
    virtual StreamId id() const = 0;
    // What is being recorded, for the log: "sink <name> (source <monitor>)".
    virtual std::string description() const = 0;
    // Stops capturing; no delivery reaches the sink once this returns. Throws SourceError.
    virtual void stop() = 0;
};

// Builds capture streams of the computer's mixed output: always a sink's monitor, never a
// microphone.
class AudioSource {
  public:
    virtual ~AudioSource() = default;
    // Builds and starts a stream whose audio and stop reports reach `sink`. The stream's
    // id is fixed before it can deliver. Throws SourceError (nothing to monitor, server
    // refused, time-out, the server connected it to a source that is not a monitor).
    virtual std::unique_ptr<CaptureStream> makeStream(StreamSink& sink) = 0;
};

}  // namespace sondrel
