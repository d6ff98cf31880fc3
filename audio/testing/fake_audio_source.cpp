#include "fake_audio_source.h"

#include <string>

namespace sondrel::testing {
namespace {

class FakeStream final : public CaptureStream {
  public:
    FakeStream(FakeAudioSource& source, StreamId id) : source_(source), id_(id) {}
    StreamId id() const override { return id_; }
    std::string description() const override {
        return "sink fake" + std::to_string(id_) + " (source fake" + std::to_string(id_) +
               ".monitor)";
    }
    void stop() override {
        source_.stoppedIds.push_back(id_);
        if (source_.stopOutcomes.empty()) return;
        const std::string error = source_.stopOutcomes.front();
        source_.stopOutcomes.pop_front();
        if (!error.empty()) throw SourceError(error);
    }

  private:
    FakeAudioSource& source_;
    StreamId id_;
};

}  // namespace

std::unique_ptr<CaptureStream> FakeAudioSource::makeStream(StreamSink& target) {
    sink = &target;
    const StreamId id = nextId_++;
    madeIds.push_back(id);
    if (whileMaking) whileMaking(target, id);
    if (!makeOutcomes.empty()) {
        const std::string error = makeOutcomes.front();
        makeOutcomes.pop_front();
        if (!error.empty()) throw SourceError(error);
    }
    return std::make_unique<FakeStream>(*this, id);
}

}  // namespace sondrel::testing
