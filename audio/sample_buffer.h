#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "media_time.h"

namespace sondrel {

// Format flag bits of `AudioFormat::formatFlags`.
inline constexpr std::uint32_t FORMAT_FLAG_FLOAT = 1u << 0;
inline constexpr std::uint32_t FORMAT_FLAG_NON_INTERLEAVED = 1u << 5;

// The stream description of an audio buffer.
struct AudioFormat {
    double sampleRate = 0;  // frames per second
    std::uint32_t formatFlags = 0;
    std::uint32_t bytesPerFrame = 0;
    std::uint32_t channelsPerFrame = 0;
    std::uint32_t bitsPerChannel = 0;
};

// One buffer of a buffer list: `dataByteSize` bytes of native 32-bit floats at `data`
// (which may be null), holding `numberChannels` interleaved channels.
struct ChannelBuffer {
    std::uint32_t numberChannels = 0;
    std::uint32_t dataByteSize = 0;
    const void* data = nullptr;
};

enum class OutputType { screen = 0, audio = 1 };

// What a capture stream hands its output for one delivery. The data the channel buffers
// point at stays valid for the duration of the callback only.
struct SampleBuffer {
    OutputType type = OutputType::audio;
    std::optional<AudioFormat> format;  // absent: the buffer carries no stream description
    MediaTime presentationTime;         // capture time of the first frame, host clock
    // Non-zero when the platform could not produce the buffer list.
    std::int32_t bufferListStatus = 0;
    std::vector<ChannelBuffer> buffers;
};

}  // namespace sondrel
