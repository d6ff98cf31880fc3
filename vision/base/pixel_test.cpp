#include "base/pixel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
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
        {53, 194, 107, true, false},  // the green ring
        {30, 220, 60, true, false},   // a saturated green
        {91, 95, 199, false, true},   // purple accents, hues about 236 to 238
        {98, 100, 167, false, true},
        {123, 131, 235, false, true},
        {10, 132, 255, false, false},   // system blue: hue about 210 / 30
        {0, 0, 0, false, false},        // black
        {1, 0, 1, false, false},        // largest byte 1
        {128, 128, 128, false, false},  // grey
        {40, 40, 40, false, false},
        {200, 60, 60, false, true},    // red: blue in the other byte order
        {60, 100, 60, false, false},   // dull green: value under 0.45
        {194, 194, 53, false, false},  // yellow: hues 60 and 180
        {91, 199, 95, true, false},    // middle byte largest: green, never purple
        {120, 120, 200, false, true},  // purple-blue at hue 240
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

// The byte predicates stand in for the floating-point ones in the scans, so they are held
// to them over every one of the 2^24 byte triples.
template <typename F>
void forEveryByteTriple(F f) {
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) f(uint8_t(r), uint8_t(g), uint8_t(b));
}

TEST(RingPixelBytes, AgreesWithRingPixelOnEveryByteTriple) {
    int64_t mismatches = 0, rings = 0;
    forEveryByteTriple([&](uint8_t r, uint8_t g, uint8_t b) {
        const bool want = isRingPixel(r, g, b);
        rings += want ? 1 : 0;
        if (isRingPixelBytes(r, g, b) != want && ++mismatches <= 5)
            ADD_FAILURE() << "(" << int(r) << ", " << int(g) << ", " << int(b) << ") want " << want;
    });
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(rings, 0);
}

TEST(RingPixelBytes, ColouredAndPreTestsAgreeOnEveryByteTriple) {
    int64_t mismatches = 0, missed = 0;
    forEveryByteTriple([&](uint8_t r, uint8_t g, uint8_t b) {
        const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
        const double s = mx <= 1 ? 0.0 : (mx - mn) / mx;
        const bool coloured = s > SAT_THRESH && mx / 255.0 > VAL_THRESH;
        if (isColouredBytes(r, g, b) != coloured && ++mismatches <= 5)
            ADD_FAILURE() << "(" << int(r) << ", " << int(g) << ", " << int(b) << ") coloured "
                          << coloured;
        // The pre-tests may let anything through, but never hold back a pixel that counts.
        if (coloured && !mayBeSaturated(r, g, b, 103)) ++missed;
        if (isRingPixel(r, g, b) && !mayBeSaturated(r, g, b, 115)) ++missed;
    });
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(missed, 0);
}

TEST(RingPixelBytes, BandEdgesAndTies) {
    // Hue exactly 220 and 262 (one byte order), saturation exactly 0.3 and 0.4, value
    // 115 / 255 and just under: the cases where rounding could have decided.
    const uint8_t cases[][3] = {{60, 80, 120}, {71, 60, 90},  {200, 140, 200}, {115, 80, 69},
                                {114, 80, 69}, {69, 115, 80}, {102, 60, 40},   {103, 56, 40},
                                {150, 200, 0}, {151, 200, 0}, {0, 200, 150},   {120, 84, 120}};
    for (const auto& c : cases) {
        for (const bool swap : {false, true}) {
            const uint8_t r = swap ? c[2] : c[0], g = c[1], b = swap ? c[0] : c[2];
            EXPECT_EQ(isRingPixelBytes(r, g, b), isRingPixel(r, g, b))
                << int(r) << "," << int(g) << "," << int(b);
        }
    }
}

#if defined(__SSE2__)
TEST(RingPixelBytes, EightAtOnceAgreesOnEveryByteTriple) {
    // Eight consecutive triples per call; the fourth byte of each word is noise.
    int64_t mismatches = 0;
    uint32_t words[8];
    int filled = 0;
    forEveryByteTriple([&](uint8_t r, uint8_t g, uint8_t b) {
        words[filled++] =
            uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16 | uint32_t(r ^ g ^ 0x5a) << 24;
        if (filled < 8) return;
        filled = 0;
        const __m128i lo =
            _mm_setr_epi32(int(words[0]), int(words[1]), int(words[2]), int(words[3]));
        const __m128i hi =
            _mm_setr_epi32(int(words[4]), int(words[5]), int(words[6]), int(words[7]));
        const unsigned ring = isRingPixel8(lo, hi);
        const unsigned pre103 = mayBeSaturated8(lo, hi, 103);
        const unsigned pre115 = mayBeSaturated8(lo, hi, 115);
        for (int i = 0; i < 8; ++i) {
            const uint8_t pr = uint8_t(words[i]), pg = uint8_t(words[i] >> 8),
                          pb = uint8_t(words[i] >> 16);
            const bool ok = ((ring >> i) & 1) == unsigned(isRingPixelBytes(pr, pg, pb)) &&
                            ((pre103 >> i) & 1) == unsigned(mayBeSaturated(pr, pg, pb, 103)) &&
                            ((pre115 >> i) & 1) == unsigned(mayBeSaturated(pr, pg, pb, 115));
            if (!ok && ++mismatches <= 5)
                ADD_FAILURE() << "(" << int(pr) << ", " << int(pg) << ", " << int(pb) << ")";
        }
    });
    EXPECT_EQ(mismatches, 0);
}
#endif

}  // namespace
}  // namespace tessival
