#pragma once

#include <cstddef>
#include <cstdint>

#include "media_time.h"

namespace sondrel {

// One delivery of a capture stream: `frames` interleaved float32 frames of `channels`
// channels at `data`, valid for the duration of the callback only. We ask the server for
// float32 stereo at 48 kHz, and it converts whatever it plays to that; the rate and channel
// count are still those the stream reports.
struct AudioBlock {
    std::uint32_t rate = 0;  // frames per second
    std::uint32_t channels = 0;
    MediaTime presentationTime;  // capture time of the first frame, host clock
    const void* data = nullptr;
    std::size_t frames = 0;
};

}  // namespace sondrel
