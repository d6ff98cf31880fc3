// Per-buffer cost of the audio path without the server: down-mix alone, and the writer
// (format, timeline, counters, down-mix) handing each buffer to an output that discards it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "audio_writer.h"
#include "downmix.h"
#include "sidecar_io.h"

namespace sondrel {
namespace {

// The server delivers 20 ms fragments: 960 stereo frames at 48 kHz.
constexpr std::size_t FRAMES = 960;

std::vector<float> stereoSignal(std::size_t frames) {
    std::vector<float> samples(2 * frames);
    for (std::size_t f = 0; f < frames; ++f) {
        samples[2 * f] = 0.5f * std::sin(0.01f * static_cast<float>(f));
        samples[2 * f + 1] = 0.25f * std::cos(0.02f * static_cast<float>(f));
    }
    return samples;
}

AudioBlock interleavedBlock(const std::vector<float>& samples, std::int64_t frame) {
    return {48000, 2, {frame, 48000}, samples.data(), samples.size() / 2};
}

class DiscardingIo final : public SidecarIo {
  public:
    Status writeOut(const void* data, std::size_t) override {
        benchmark::DoNotOptimize(data);
        return {};
    }
    void logErr(std::string_view line) override { benchmark::DoNotOptimize(line.data()); }
    std::string readInput() override { return {}; }
    MediaTime hostNow() override { return {0, 48000}; }
    WallTime wallNow() override { return {}; }
    void exitProcess(int) override {}
};

void BM_DownmixInterleavedStereo(benchmark::State& state) {
    const std::vector<float> samples = stereoSignal(FRAMES);
    std::vector<float> out;
    for (auto _ : state) {
        downmixToMono(samples.data(), FRAMES, 2, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(FRAMES));
}
BENCHMARK(BM_DownmixInterleavedStereo);

void BM_WriterPerFragment(benchmark::State& state) {
    const std::vector<float> samples = stereoSignal(FRAMES);
    DiscardingIo io;
    AudioWriter writer(io, WallTime{});
    writer.adoptStream(1);
    std::int64_t frame = 0;
    for (auto _ : state) {
        writer.streamDidOutput(1, interleavedBlock(samples, frame));
        frame += static_cast<std::int64_t>(FRAMES);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(FRAMES));
}
BENCHMARK(BM_WriterPerFragment);

}  // namespace
}  // namespace sondrel

BENCHMARK_MAIN();
