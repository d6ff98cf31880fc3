#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio_source.h"

namespace sondrel::testing {

// Streams that deliver nothing on their own; tests push buffers into the sink directly.
// `makeOutcomes` scripts makeStream: each entry, taken in order, is the failure's text, or
// empty for success (success once the list is used up).
class FakeAudioSource final : public AudioSource {
  public:
    std::deque<std::string> makeOutcomes;
    std::deque<std::string> stopOutcomes;  // same for stop(): error text, or empty
    // Runs inside makeStream once the new stream's id is fixed, before it returns or throws
    // (a stream that delivers, or stops, while it is still being built).
    std::function<void(StreamSink&, StreamId)> whileMaking;

    std::vector<StreamId> madeIds;     // every id handed out, failed attempts included
    std::vector<StreamId> stoppedIds;  // every stop() call, in order
    StreamSink* sink = nullptr;

    Result<std::unique_ptr<CaptureStream>> makeStream(StreamSink& sink) override;

  private:
    StreamId nextId_ = 1;
};

}  // namespace sondrel::testing
