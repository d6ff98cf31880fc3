#include "downmix.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace sondrel {
namespace {

// Sample data carries no alignment promise; memcpy compiles to a plain load.
float sampleAt(const void* data, std::size_t index) {
    float value;
    std::memcpy(&value, static_cast<const unsigned char*>(data) + index * sizeof(float),
                sizeof(float));
    return value;
}

}  // namespace

DownmixOutcome downmixToMono(const AudioFormat& format, const std::vector<ChannelBuffer>& buffers,
                             std::vector<float>& out) {
    out.clear();
    if (buffers.empty() || buffers[0].data == nullptr) return DownmixOutcome::emptyList;
    const std::size_t channels = std::max<std::uint32_t>(format.channelsPerFrame, 1);
    const std::size_t size0 = buffers[0].dataByteSize;
    const bool nonInterleaved = (format.formatFlags & FORMAT_FLAG_NON_INTERLEAVED) != 0;

    if (!nonInterleaved && buffers.size() == 1 && format.channelsPerFrame >= 2) {
        const std::size_t stride = sizeof(float) * channels;
        if (size0 < stride) return DownmixOutcome::interleavedNoFrames;
        const std::size_t frames = size0 / stride;
        const float scale = 1.0f / static_cast<float>(channels);
        const void* data = buffers[0].data;
        out.resize(frames);
        for (std::size_t f = 0; f < frames; ++f) {
            float sum = 0.0f;
            for (std::size_t c = 0; c < channels; ++c) sum += sampleAt(data, f * channels + c);
            out[f] = scale * sum;
        }
        return DownmixOutcome::ok;
    }

    if (buffers.size() >= 2) {
        if (size0 < sizeof(float)) return DownmixOutcome::nonInterleavedNoFrames;
        const std::size_t frames = size0 / sizeof(float);
        const std::size_t used = std::min(buffers.size(), channels);
        out.assign(frames, 0.0f);
        for (std::size_t b = 0; b < used; ++b) {
            if (buffers[b].data == nullptr) continue;
            // A channel shorter than the first is silent past its own end.
            const std::size_t n = std::min(frames, buffers[b].dataByteSize / sizeof(float));
            for (std::size_t f = 0; f < n; ++f) out[f] += sampleAt(buffers[b].data, f);
        }
        const float scale = 1.0f / static_cast<float>(used);
        for (float& sample : out) sample *= scale;
        return DownmixOutcome::ok;
    }

    if (size0 < sizeof(float)) return DownmixOutcome::monoNoFrames;
    const std::size_t frames = size0 / sizeof(float);
    out.resize(frames);
    std::memcpy(out.data(), buffers[0].data, frames * sizeof(float));
    return DownmixOutcome::ok;
}

}  // namespace sondrel
