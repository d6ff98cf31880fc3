#include "fake_audio_source.h"

#include <string>

namespace sondrel::testing {
namespace {

// The next scripted outcome: a failure's text, or empty for success.
std::string next(std::deque<std::string>& outcomes) {
    if (outcomes.empty()) return {};
    std::string outcome = std::move(outcomes.front());
    outcomes.pop_front();
    return outcome;
}

class FakeStream final : public CaptureStream {
  public:
    FakeStream(FakeAudioSource& source, StreamId id) : source_(source), id_(id) {}
    StreamId id() const override { return id_; }
    std::string description() const override {
        return "sink fake" + std::to_string(id_) + " (source fake" + std::to_string(id_) +
               ".monitor)";
    }
    Status stop() override {
        source_.stoppedIds.push_back(id_);
        const std::string error = next(source_.stopOutcomes);
        if (!error.empty()) return Failure{error};
        return {};
    }

  private:
    FakeAudioSource& source_;
    StreamId id_;
};

}  // namespace

Result<std::unique_ptr<CaptureStream>> FakeAudioSource::makeStream(StreamSink& target) {
    sink = &target;
    const StreamId id = nextId_++;
    madeIds.push_back(id);
    if (whileMaking) whileMaking(target, id);
    const std::string error = next(makeOutcomes);
    if (!error.empty()) return Failure{error};
    return std::unique_ptr<CaptureStream>(std::make_unique<FakeStream>(*this, id));
}

}  // namespace sondrel::testing
