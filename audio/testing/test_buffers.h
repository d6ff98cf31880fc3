#pragma once

#include <cstdint>
#include <vector>

#include "sample_buffer.h"

namespace sondrel::testing {

// An audio buffer that owns its samples. `channels` holds one vector per channel buffer
// (a single vector for interleaved or mono data); `nullChannels` marks channel buffers
// whose data pointer is null.
class TestBuffer {
  public:
    AudioFormat format;
    MediaTime presentationTime{0, 48000};
    std::vector<std::vector<float>> channels;
    std::vector<bool> nullChannels;
    std::vector<std::uint32_t> byteSizes;  // overrides a channel's byte size when set
    std::int32_t bufferListStatus = 0;
    OutputType type = OutputType::audio;

    // A view of this buffer; valid while it lives and is not changed.
    SampleBuffer view() const;
};

// 48 kHz float formats.
AudioFormat interleavedFormat(std::uint32_t channels);
AudioFormat nonInterleavedFormat(std::uint32_t channels);

// `frames` frames of 2-channel interleaved data, left = `left`, right = `right`, at `pts`.
TestBuffer stereoInterleaved(std::size_t frames, float left, float right, MediaTime pts);
// `frames` frames of mono data of value `value`, at `pts`.
TestBuffer monoBuffer(std::size_t frames, float value, MediaTime pts);

}  // namespace sondrel::testing
