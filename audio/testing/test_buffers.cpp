#include "test_buffers.h"

namespace sondrel::testing {

SampleBuffer TestBuffer::view() const {
    SampleBuffer b;
    b.type = type;
    b.format = format;
    b.presentationTime = presentationTime;
    b.bufferListStatus = bufferListStatus;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        ChannelBuffer c;
        c.numberChannels = channels.size() == 1 ? format.channelsPerFrame : 1;
        c.dataByteSize = i < byteSizes.size()
                             ? byteSizes[i]
                             : static_cast<std::uint32_t>(channels[i].size() * sizeof(float));
        const bool isNull = i < nullChannels.size() && nullChannels[i];
        c.data = isNull ? nullptr : channels[i].data();
        b.buffers.push_back(c);
    }
    return b;
}

AudioFormat interleavedFormat(std::uint32_t channels) {
    return {48000.0, FORMAT_FLAG_FLOAT, 4 * channels, channels, 32};
}

AudioFormat nonInterleavedFormat(std::uint32_t channels) {
    return {48000.0, FORMAT_FLAG_FLOAT | FORMAT_FLAG_NON_INTERLEAVED, 4, channels, 32};
}

TestBuffer stereoInterleaved(std::size_t frames, float left, float right, MediaTime pts) {
    TestBuffer t;
    t.format = interleavedFormat(2);
    t.presentationTime = pts;
    t.channels.emplace_back();
    for (std::size_t f = 0; f < frames; ++f) {
        t.channels[0].push_back(left);
        t.channels[0].push_back(right);
    }
    return t;
}

TestBuffer monoBuffer(std::size_t frames, float value, MediaTime pts) {
    TestBuffer t;
    t.format = interleavedFormat(1);
    t.presentationTime = pts;
    t.channels.emplace_back(frames, value);
    return t;
}

}  // namespace sondrel::testing
