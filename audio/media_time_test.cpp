#include "media_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace sondrel {
namespace {

TEST(MediaTime, ArithmeticAcrossTimescales) {
    struct Case {
        MediaTime a, b;
        MediaTime sum, difference;
    };
    const Case cases[] = {
        {{48000, 48000}, {1024, 48000}, {49024, 48000}, {46976, 48000}},
        // Nanoseconds and 48 kHz frames have no common timescale that fits: nanoseconds.
        {{1'000'000'000, 1'000'000'000},
         {1, 48000},
         {1'000'020'833, 1'000'000'000},
         {999'979'167, 1'000'000'000}},
        {{3, 1000}, {1, 48000}, {145, 48000}, {143, 48000}},
    };
    for (const Case& c : cases) {
        const MediaTime sum = mediaTimeAdd(c.a, c.b);
        const MediaTime difference = mediaTimeSubtract(c.a, c.b);
        EXPECT_EQ(sum.value, c.sum.value) << c.a.value << "/" << c.a.timescale;
        EXPECT_EQ(sum.timescale, c.sum.timescale);
        EXPECT_EQ(difference.value, c.difference.value) << c.a.value << "/" << c.a.timescale;
        EXPECT_EQ(difference.timescale, c.difference.timescale);
    }
}

TEST(MediaTime, InvalidOperandsAndOverflowGiveInvalid) {
    EXPECT_FALSE(mediaTimeAdd(MediaTime{}, MediaTime{1, 48000}).valid());
    EXPECT_FALSE(
        mediaTimeAdd({std::numeric_limits<std::int64_t>::max(), 48000}, {1, 48000}).valid());
    EXPECT_TRUE(std::isnan(mediaTimeSeconds(MediaTime{})));
    EXPECT_DOUBLE_EQ(mediaTimeSeconds({-12000, 48000}), -0.25);
}

TEST(MediaTime, InUnitsIsExactAndTruncatesTowardZero) {
    struct Case {
        MediaTime t;
        std::int64_t unitsPerSecond;
        std::int64_t expected;
    };
    const Case cases[] = {
        {{27, 48000}, 48000, 27},  // 27 / 48000 * 48000 in doubles is 26.999…
        {{48048, 48000}, 1000, 1001},
        {{-12001, 48000}, 1000, -250},
        {{1'000'000'000'123'456'789, 1'000'000'000}, 1'000'000, 1'000'000'000'123'456},
        {{45'000'000, 1'000'000'000}, 1000, 45},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mediaTimeInUnits(c.t, c.unitsPerSecond), c.expected)
            << c.t.value << "/" << c.t.timescale << " in 1/" << c.unitsPerSecond;
    }
    EXPECT_FALSE(mediaTimeInUnits(MediaTime{}, 1000).has_value());
    EXPECT_FALSE(mediaTimeInUnits({std::numeric_limits<std::int64_t>::max(), 1}, 1000).has_value());
}

}  // namespace
}  // namespace sondrel
