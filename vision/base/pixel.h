#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Hue and the colour predicates of the active-speaker highlights. Channels are byte
// values 0..255 as doubles; every hue test is made in both byte orders.
namespace tessival {

inline constexpr double SAT_THRESH = 0.45;
inline constexpr double VAL_THRESH = 0.4;

// HSV hue in degrees, 0 <= hue < 360, or -1 for a grey.
double hueDeg(double r, double g, double b);

// The green ring drawn round the speaking participant (Zoom-style).
bool isGreenRingPixel(double r, double g, double b);
// The purple/indigo ring (Teams-style).
bool isTeamsRingPixel(double r, double g, double b);
// Either ring colour, green tested first.
bool isRingPixel(double r, double g, double b);

// isRingPixel of three bytes, in integer arithmetic only: the same answer for every one of
// the 2^24 byte triples, cheap enough for every sample of a scan.
inline bool isRingPixelBytes(uint8_t r8, uint8_t g8, uint8_t b8) {
    const int r = r8, g = g8, b = b8;
    const int mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const int mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
    const int d = mx - mn;
    // Value at least 0.45 and saturation at least 0.3 are common to both colours; nearly
    // every pixel of a capture fails here.
    if (mx < 115 || 10 * d < 3 * mx) return false;
    // Green: middle byte largest, leading the smallest by more than 38.25, saturation at
    // least 0.4, and a hue of 75 to 165 in either byte order, which with the middle byte
    // largest means |b - r| <= 0.75 d.
    if (g == mx) {
        const int outer = r > b ? r - b : b - r;
        return d >= 39 && 5 * d >= 2 * mx && 4 * outer <= 3 * d;
    }
    // Purple: a spread above 30.6 and a hue of 220 to 262 in one byte order; that order
    // needs its third byte strictly largest and (first - middle) / d within [-1/3, 11/30].
    // At exactly those ratios the doubles come to 220 and 262, so both ends are in.
    if (d < 31) return false;
    const int first = b > r ? r : b;  // the first byte of the order whose third is largest
    if (r == b) return false;         // a tie puts the hue on the red branch, 300 or more
    const int k = first - g;
    return 3 * k >= -d && 30 * k <= 11 * d;
}

// Saturation above SAT_THRESH and value above VAL_THRESH, of three bytes, in integer
// arithmetic only: the same answer as comparing (mx - mn) / mx and mx / 255 in doubles
// (saturation 0 when mx <= 1), where the exact ties 9 / 20 and 102 / 255 round to the very
// constants and so stay out.
inline bool isColouredBytes(uint8_t r8, uint8_t g8, uint8_t b8) {
    const int r = r8, g = g8, b = b8;
    const int mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const int mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
    return mx >= 103 && 20 * (mx - mn) > 9 * mx;
}

// The test isRingPixelBytes starts with, as a standalone pre-test: largest byte at least
// `minLargest` and 10 x (largest - smallest) >= 3 x largest, that is a saturation of 0.3 or
// more. With `minLargest` 115 it lets through every ring pixel; with 103 also every pixel
// isColouredBytes accepts.
inline bool mayBeSaturated(uint8_t r8, uint8_t g8, uint8_t b8, int minLargest) {
    const int r = r8, g = g8, b = b8;
    const int mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const int mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
    return mx >= minLargest && 10 * (mx - mn) >= 3 * mx;
}

#if defined(__SSE2__)
// Eight pixels, one per 32-bit lane of `lo` (pixels 0 to 3) and `hi` (4 to 7), whose first
// three bytes are the channels, split into eight 16-bit lanes per channel.
struct Channels8 {
    __m128i r, g, b;
};
inline Channels8 channels8(__m128i lo, __m128i hi) {
    const __m128i byteMask = _mm_set1_epi32(0xff);
    auto channel = [&](int shift) {
        return _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(lo, shift), byteMask),
                               _mm_and_si128(_mm_srli_epi32(hi, shift), byteMask));
    };
    return {channel(0), channel(8), channel(16)};
}

// One bit per pixel from a vector of 16-bit lanes that are all ones or all zeros.
inline unsigned laneBits8(__m128i lanes) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(lanes, lanes))) & 0xffu;
}

// mayBeSaturated of eight pixels (see Channels8); bit i of the result is pixel i's.
inline unsigned mayBeSaturated8(__m128i lo, __m128i hi, int minLargest) {
    const Channels8 c = channels8(lo, hi);
    const __m128i mx = _mm_max_epi16(_mm_max_epi16(c.r, c.g), c.b);
    const __m128i mn = _mm_min_epi16(_mm_min_epi16(c.r, c.g), c.b);
    // 10 x spread and 3 x largest stay below 2^15.
    const __m128i spread10 = _mm_mullo_epi16(_mm_sub_epi16(mx, mn), _mm_set1_epi16(10));
    const __m128i largest3 = _mm_mullo_epi16(mx, _mm_set1_epi16(3));
    const __m128i bright = _mm_cmpgt_epi16(mx, _mm_set1_epi16(static_cast<short>(minLargest - 1)));
    const __m128i saturated = _mm_cmpgt_epi16(spread10, _mm_sub_epi16(largest3, _mm_set1_epi16(1)));
    return laneBits8(_mm_and_si128(bright, saturated));
}

// isRingPixelBytes of eight pixels (see Channels8), term for term; bit i is pixel i's.
inline unsigned isRingPixel8(__m128i lo, __m128i hi) {
    const Channels8 c = channels8(lo, hi);
    const __m128i mx = _mm_max_epi16(_mm_max_epi16(c.r, c.g), c.b);
    const __m128i mn = _mm_min_epi16(_mm_min_epi16(c.r, c.g), c.b);
    const __m128i d = _mm_sub_epi16(mx, mn);
    // Every product below stays within 16 bits: |30 k| <= 7650.
    auto times = [](__m128i v, short k) { return _mm_mullo_epi16(v, _mm_set1_epi16(k)); };
    auto atLeast = [](__m128i a, __m128i b) {  // a >= b
        return _mm_cmpgt_epi16(a, _mm_sub_epi16(b, _mm_set1_epi16(1)));
    };
    const __m128i common =
        _mm_and_si128(atLeast(mx, _mm_set1_epi16(115)), atLeast(times(d, 10), times(mx, 3)));
    const __m128i greenMax = _mm_cmpeq_epi16(c.g, mx);
    const __m128i outer = _mm_sub_epi16(_mm_max_epi16(c.r, c.b), _mm_min_epi16(c.r, c.b));
    const __m128i green = _mm_and_si128(
        _mm_and_si128(atLeast(d, _mm_set1_epi16(39)), atLeast(times(d, 5), times(mx, 2))),
        atLeast(times(d, 3), times(outer, 4)));
    // The first byte of the order whose third is largest is the smaller outer byte.
    const __m128i k = _mm_sub_epi16(_mm_min_epi16(c.r, c.b), c.g);
    const __m128i purple = _mm_andnot_si128(
        _mm_cmpeq_epi16(c.r, c.b),
        _mm_and_si128(_mm_and_si128(atLeast(d, _mm_set1_epi16(31)),
                                    atLeast(times(k, 3), _mm_sub_epi16(_mm_setzero_si128(), d))),
                      atLeast(times(d, 11), times(k, 30))));
    const __m128i either =
        _mm_or_si128(_mm_and_si128(greenMax, green), _mm_andnot_si128(greenMax, purple));
    return laneBits8(_mm_and_si128(common, either));
}
#endif

}  // namespace tessival
