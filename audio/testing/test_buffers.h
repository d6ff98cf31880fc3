#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio_block.h"

namespace sondrel::testing {

// An audio block at 48 kHz that owns its interleaved samples.
struct TestBlock {
    std::vector<float> samples;
    std::uint32_t channels = 1;
    MediaTime presentationTime{0, 48000};

    // A view of this block; valid while it lives and is not changed.
    AudioBlock view() const {
        return {48000, channels, presentationTime, samples.data(), samples.size() / channels};
    }
};

inline TestBlock stereoBlock(std::size_t frames, float left, float right, MediaTime pts) {
    TestBlock t{{}, 2, pts};
    for (std::size_t f = 0; f < frames; ++f) t.samples.insert(t.samples.end(), {left, right});
    return t;
}

inline TestBlock monoBlock(std::size_t frames, float value, MediaTime pts) {
    return {std::vector<float>(frames, value), 1, pts};
}

}  // namespace sondrel::testing
