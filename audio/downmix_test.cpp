#include "downmix.h"

#include <gtest/gtest.h>

#include <cmath>

#include "testing/test_buffers.h"

namespace sondrel {
namespace {

using testing::TestBuffer;

std::vector<float> ramp(std::size_t n, float start, float step) {
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = start + step * static_cast<float>(i);
    return v;
}

TEST(Downmix, StereoNonInterleavedAveragesTheTwoBuffers) {
    TestBuffer t;
    t.format = testing::nonInterleavedFormat(2);
    t.channels = {ramp(1024, 0.0f, 0.001f), ramp(1024, -0.5f, 0.0005f)};
    std::vector<float> out;
    ASSERT_EQ(downmixToMono(t.format, t.view().buffers, out), DownmixOutcome::ok);
    ASSERT_EQ(out.size(), 1024u);
    for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_FLOAT_EQ(out[i], (t.channels[0][i] + t.channels[1][i]) * 0.5f) << i;
    }
}

TEST(Downmix, StereoInterleavedAveragesEachFrame) {
    TestBuffer t;
    t.format = testing::interleavedFormat(2);
    t.channels = {ramp(2048, -1.0f, 0.001f)};  // 8192 bytes
    std::vector<float> out;
    ASSERT_EQ(downmixToMono(t.format, t.view().buffers, out), DownmixOutcome::ok);
    ASSERT_EQ(out.size(), 1024u);
    for (std::size_t f = 0; f < out.size(); ++f) {
        EXPECT_FLOAT_EQ(out[f], (t.channels[0][2 * f] + t.channels[0][2 * f + 1]) * 0.5f) << f;
    }
}

TEST(Downmix, ThreeInterleavedChannelsAverageAllThree) {
    TestBuffer t;
    t.format = testing::interleavedFormat(3);
    t.channels = {{0.3f, 0.6f, 0.9f, -0.3f, 0.0f, 0.3f, 1.0f}};  // trailing partial frame
    std::vector<float> out;
    ASSERT_EQ(downmixToMono(t.format, t.view().buffers, out), DownmixOutcome::ok);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_NEAR(out[0], 0.6f, 1e-6);
    EXPECT_NEAR(out[1], 0.0f, 1e-6);
}

TEST(Downmix, SingleBufferWithNonInterleavedFlagIsCopiedUnchanged) {
    TestBuffer t;
    t.format = testing::nonInterleavedFormat(2);
    t.channels = {ramp(512, 0.25f, -0.001f)};  // 2048 bytes
    std::vector<float> out;
    ASSERT_EQ(downmixToMono(t.format, t.view().buffers, out), DownmixOutcome::ok);
    EXPECT_EQ(out, t.channels[0]);
}

TEST(Downmix, NullSecondChannelHalvesTheFirst) {
    TestBuffer t;
    t.format = testing::nonInterleavedFormat(2);
    t.channels = {ramp(256, 0.5f, 0.001f), std::vector<float>(256, 9.0f)};
    t.nullChannels = {false, true};
    std::vector<float> out;
    ASSERT_EQ(downmixToMono(t.format, t.view().buffers, out), DownmixOutcome::ok);
    ASSERT_EQ(out.size(), 256u);
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_FLOAT_EQ(out[i], t.channels[0][i] * 0.5f);
}

TEST(Downmix, ShortSecondChannelIsNotReadPastItsEnd) {
    // The second vector is exactly as long as its byte size says; a read past its end
    // would be caught by the sanitizer build and would add garbage here.
    TestBuffer t;
    t.format = testing::nonInterleavedFormat(2);
    t.channels = {std::vector<float>(100, 0.4f), std::vector<float>(60, 0.2f)};
    std::vector<float> out;
    ASSERT_EQ(downmixToMono(t.format, t.view().buffers, out), DownmixOutcome::ok);
    ASSERT_EQ(out.size(), 100u);
    EXPECT_FLOAT_EQ(out[59], 0.3f);
    EXPECT_FLOAT_EQ(out[60], 0.2f);
    EXPECT_FLOAT_EQ(out[99], 0.2f);
}

TEST(Downmix, MoreBuffersThanChannelsUsesOnlyTheChannelCount) {
    TestBuffer t;
    t.format = testing::nonInterleavedFormat(2);
    t.channels = {std::vector<float>(8, 0.2f), std::vector<float>(8, 0.4f),
                  std::vector<float>(8, 5.0f)};
    std::vector<float> out;
    ASSERT_EQ(downmixToMono(t.format, t.view().buffers, out), DownmixOutcome::ok);
    for (float s : out) EXPECT_FLOAT_EQ(s, 0.3f);
}

TEST(Downmix, BuffersTooShortForOneFrameAreRejected) {
    struct Case {
        const char* name;
        AudioFormat format;
        std::vector<std::vector<float>> channels;
        std::vector<bool> nullChannels;
        DownmixOutcome expected;
        std::vector<std::uint32_t> byteSizes = {};
    };
    const std::vector<Case> cases = {
        {"interleaved 4 bytes, 2 channels",
         testing::interleavedFormat(2),
         {{0.5f}},
         {},
         DownmixOutcome::interleavedNoFrames},
        {"non-interleaved 2-byte first",
         testing::nonInterleavedFormat(2),
         {{0.5f}, {0.5f}},
         {},
         DownmixOutcome::nonInterleavedNoFrames,
         {2, 4}},
        {"mono 2 bytes",
         testing::interleavedFormat(1),
         {{0.5f}},
         {},
         DownmixOutcome::monoNoFrames,
         {2}},
        {"no buffers", testing::interleavedFormat(2), {}, {}, DownmixOutcome::emptyList},
        {"null first buffer",
         testing::nonInterleavedFormat(2),
         {{0.1f}, {0.1f}},
         {true, false},
         DownmixOutcome::emptyList},
    };
    for (const Case& c : cases) {
        TestBuffer t;
        t.format = c.format;
        t.channels = c.channels;
        t.nullChannels = c.nullChannels;
        t.byteSizes = c.byteSizes;
        std::vector<float> out{1.0f};
        EXPECT_EQ(downmixToMono(t.format, t.view().buffers, out), c.expected) << c.name;
        EXPECT_TRUE(out.empty()) << c.name;
    }
}

}  // namespace
}  // namespace sondrel
