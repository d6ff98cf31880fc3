#include "downmix.h"

#include <cstring>

namespace sondrel {

void downmixToMono(const void* data, std::size_t frames, std::uint32_t channels,
                   std::vector<float>& out) {
    out.resize(frames);
    if (channels <= 1) {
        std::memcpy(out.data(), data, frames * sizeof(float));
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    const float scale = 1.0f / static_cast<float>(channels);
    for (std::size_t f = 0; f < frames; ++f) {
        float sum = 0.0f;
        for (std::size_t c = 0; c < channels; ++c) {
            // Sample data carries no alignment promise; memcpy compiles to a plain load.
            float value;
            std::memcpy(&value, bytes + (f * channels + c) * sizeof(float), sizeof(float));
            sum += value;
        }
        out[f] = scale * sum;
    }
}

}  // namespace sondrel
