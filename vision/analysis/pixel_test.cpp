#include "analysis/pixel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tessival {
namespace {

TEST(HueDeg, PrimariesAndGrey) {
    EXPECT_EQ(std::lround(hueDeg(255, 0, 0)), 0);
    EXPECT_NEAR(hueDeg(0, 255, 0), 120, 1e-9);
    EXPECT_NEAR(hueDeg(0, 0, 255), 240, 1e-9);
    EXPECT_EQ(hueDeg(128, 128, 128), -1);
    EXPECT_EQ(hueDeg(0, 0, 0), -1);
}

TEST(HueDeg, RedWinsTiesAndNegativeRemainderWraps) {
    EXPECT_NEAR(hueDeg(200, 200, 0), 60, 1e-9);   // r = g: the red branch
    EXPECT_NEAR(hueDeg(200, 0, 200), 300, 1e-9);  // r = b: -1 keeps its sign, wraps
    EXPECT_NEAR(hueDeg(0, 200, 200), 180, 1e-9);  // g = b: the green branch
    const double h = hueDeg(255, 0, 1);
    EXPECT_GE(h, 0);
    EXPECT_LT(h, 360);
}

struct PixelCase {
    double r, g, b;
    bool green;
    bool teams;
};

std::ostream& operator<<(std::ostream& os, const PixelCase& c) {
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// Each colour classifies the same with its first and third bytes swapped (a blue-first
// capture), so every row is checked in both orders.
TEST(RingPixel, ClassifiesPlatformColoursInBothByteOrders) {
    const std::vector<PixelCase> cases = {
        {53, 194, 107, true, false},    // the green ring
        {30, 220, 60, true, false},     // a saturated green
        {91, 95, 199, false, true},     // purple accents, hues about 236 to 238
        {98, 100, 167, false, true},
        {123, 131, 235, false, true},
        {10, 132, 255, false, false},   // system blue: hue about 210 / 30
        {0, 0, 0, false, false},        // black
        {1, 0, 1, false, false},        // largest byte 1
        {128, 128, 128, false, false},  // grey
        {40, 40, 40, false, false},
        {200, 60, 60, false, true},     // red: blue in the other byte order
        {60, 100, 60, false, false},    // dull green: value under 0.45
        {194, 194, 53, false, false},   // yellow: hues 60 and 180
        {91, 199, 95, true, false},     // middle byte largest: green, never purple
        {120, 120, 200, false, true},   // purple-blue at hue 240
        {100, 100, 255, false, true},
        {180, 180, 200, false, false},  // pale: saturation 0.1
    };
    for (const PixelCase& c : cases) {
        for (const bool swap : {false, true}) {
            const double r = swap ? c.b : c.r, b = swap ? c.r : c.b;
            EXPECT_EQ(isGreenRingPixel(r, c.g, b), c.green) << c << " swapped=" << swap;
            EXPECT_EQ(isTeamsRingPixel(r, c.g, b), c.teams) << c << " swapped=" << swap;
            EXPECT_EQ(isRingPixel(r, c.g, b), c.green || c.teams) << c << " swapped=" << swap;
        }
    }
}

TEST(RingPixel, GreenHueBandEdgesAreInclusive) {
    // (150, 200, 0) has hue exactly 75, and 165 with its outer bytes swapped.
    EXPECT_TRUE(isGreenRingPixel(150, 200, 0));
    EXPECT_TRUE(isGreenRingPixel(0, 200, 150));
    // One step further out: hues about 74.7 and 165.3.
    EXPECT_FALSE(isGreenRingPixel(151, 200, 0));
    EXPECT_FALSE(isGreenRingPixel(0, 200, 151));
}

}  // namespace
}  // namespace tessival
