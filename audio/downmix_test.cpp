#include "downmix.h"

#include <gtest/gtest.h>

#include <cstring>

namespace sondrel {
namespace {

TEST(Downmix, AveragesTheChannelsOfEachFrame) {
    struct Case {
        const char* name;
        std::uint32_t channels;
        std::vector<float> interleaved;
        std::vector<float> mono;
    };
    const Case cases[] = {
        {"mono is copied", 1, {0.25f, -1.0f, 0.5f}, {0.25f, -1.0f, 0.5f}},
        {"stereo", 2, {0.5f, 0.25f, -1.0f, 1.0f, 0.9f, 0.9f}, {0.375f, 0.0f, 0.9f}},
        {"three channels", 3, {0.3f, 0.6f, 0.9f, -0.3f, 0.0f, 0.3f}, {0.6f, 0.0f}},
    };
    for (const Case& c : cases) {
        // Offset by one byte: the server's data carries no alignment promise.
        std::vector<unsigned char> bytes(1 + c.interleaved.size() * sizeof(float));
        std::memcpy(bytes.data() + 1, c.interleaved.data(), bytes.size() - 1);
        std::vector<float> out{7.0f};
        downmixToMono(bytes.data() + 1, c.mono.size(), c.channels, out);
        ASSERT_EQ(out.size(), c.mono.size()) << c.name;
        for (std::size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], c.mono[i], 1e-6) << c.name;
    }
}

}  // namespace
}  // namespace sondrel
