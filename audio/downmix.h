#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sondrel {

// Down-mixes `frames` interleaved float32 frames of `channels` channels at `data` (no
// alignment promised) to mono in `out`: the average of the channels, or a copy for one.
void downmixToMono(const void* data, std::size_t frames, std::uint32_t channels,
                   std::vector<float>& out);

}  // namespace sondrel
