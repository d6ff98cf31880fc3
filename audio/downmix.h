#pragma once

#include <vector>

#include "sample_buffer.h"

namespace sondrel {

enum class DownmixOutcome {
    ok,
    emptyList,               // no buffer, or the first buffer has no data
    interleavedNoFrames,     // interleaved data shorter than one frame
    nonInterleavedNoFrames,  // first channel buffer shorter than one sample
    monoNoFrames,            // single buffer shorter than one sample
};

// Down-mixes one buffer list to mono into `out` (resized to the frame count; left empty
// unless the outcome is ok). Layout: one buffer with two or more channels and the
// non-interleaved flag clear is interleaved (average over the channels); two or more
// buffers are one channel each (average over min(buffers, channels), a null buffer adds
// nothing but still counts, a short buffer adds nothing past its end); anything else is
// mono and copied. The frame count is set by the first buffer.
DownmixOutcome downmixToMono(const AudioFormat& format, const std::vector<ChannelBuffer>& buffers,
                             std::vector<float>& out);

}  // namespace sondrel
