#include "analysis/border_score.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>

#include "base/pixel.h"

namespace tessival {

namespace {

constexpr double PI = 3.141592653589793;
// Tiles beyond this many pixels from the origin are nonsense; refusing them keeps every
// bound within the range an integer conversion is defined for.
constexpr double MAX_COORD = 1e12;
// How many sampled rows ahead a side strip's rows are fetched.
constexpr int64_t PREFETCH_ROWS = 6;

struct Counts {
    int64_t samples = 0;
    int64_t ring = 0;
};

// Hue vectors of the colours seen so far in one call, keyed by the hue itself. Borders
// repeat a handful of hues, and a cosine and sine cost far more than the lookup.
class HueVectors {
  public:
    HueVectors() { std::fill(std::begin(keys_), std::end(keys_), EMPTY); }

    // cos and sin of `hue` degrees, exactly as computed directly.
    void get(double hue, double& c, double& s) {
        uint64_t bits;
        std::memcpy(&bits, &hue, sizeof bits);
        const size_t slot = static_cast<size_t>((bits * 0x9e3779b97f4a7c15u) >> (64 - SLOT_BITS));
        if (keys_[slot] != bits) {
            keys_[slot] = bits;
            cos_[slot] = std::cos(hue * PI / 180.0);
            sin_[slot] = std::sin(hue * PI / 180.0);
        }
        c = cos_[slot];
        s = sin_[slot];
    }

  private:
    static constexpr int SLOT_BITS = 9;
    static constexpr size_t SLOTS = size_t{1} << SLOT_BITS;
    // A NaN's bits; no hue has them.
    static constexpr uint64_t EMPTY = ~uint64_t{0};
    uint64_t keys_[SLOTS];
    double cos_[SLOTS];
    double sin_[SLOTS];
};

struct Totals {
    int64_t samples = 0;
    int64_t coloured = 0;
    int64_t hues = 0;
    double sumCos = 0;
    double sumSin = 0;
    HueVectors vectors;
    // The answers for the last colour tested (none yet: no colour has a fourth byte).
    uint32_t lastColour = ~uint32_t{0};
    bool lastRing = false, lastColoured = false;
    double lastHue = -1, lastCos = 0, lastSin = 0;
};

// One sample that passed the saturation pre-test: the ring and colour tests. The sums are
// taken in sampling order, so they come out the same to the last bit whatever is skipped.
inline void samplePixel(const uint8_t* p, Counts& strip, Totals& tot) {
    const uint8_t r = p[0], g = p[1], b = p[2];
    // A highlight is one flat colour: most samples repeat the previous one's answers.
    const uint32_t colour = uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16;
    if (colour != tot.lastColour) {
        tot.lastColour = colour;
        tot.lastRing = isRingPixelBytes(r, g, b);
        tot.lastColoured = isColouredBytes(r, g, b);
        tot.lastHue = tot.lastColoured ? hueDeg(r, g, b) : -1;
        if (tot.lastHue >= 0) tot.vectors.get(tot.lastHue, tot.lastCos, tot.lastSin);
    }
    if (tot.lastRing) ++strip.ring;
    if (!tot.lastColoured) return;
    ++tot.coloured;
    if (tot.lastHue >= 0) {
        ++tot.hues;
        tot.sumCos += tot.lastCos;
        tot.sumSin += tot.lastSin;
    }
}

#if defined(__SSE2__)
// Pixels 0, 2, 4 and 6 of the eight starting at `p`, four bytes each.
inline __m128i evenPixels(const uint8_t* p) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    return _mm_castps_si128(
        _mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
}
#endif

// Samples every second pixel of the strip [x0, x1) x [y0, y1) (bounds truncated toward zero,
// sampling anchored at the truncated lower bounds), skipping pixels outside the bitmap.
void sampleStrip(const Bitmap& bm, double x0d, double x1d, double y0d, double y1d, Counts& strip,
                 Totals& tot) {
    const int64_t x0 = static_cast<int64_t>(x0d), x1 = static_cast<int64_t>(x1d);
    const int64_t y0 = static_cast<int64_t>(y0d), y1 = static_cast<int64_t>(y1d);
    // Skip ahead to the first in-bitmap sample with the same parity as the lower bound.
    auto firstInside = [](int64_t lo) { return lo >= 0 ? lo : lo + ((-lo + 1) / 2) * 2; };
    const int64_t xs = firstInside(x0), xe = std::min(x1, bm.w);
    const int64_t ys = firstInside(y0), ye = std::min(y1, bm.h);
    if (xs >= xe || ys >= ye) return;
    const int64_t n = (xe - xs + 1) / 2;  // samples per row
    const int64_t xStride = 2 * bm.bpp;
    for (int64_t y = ys; y < ye; y += 2) {
        const int64_t first = y * bm.bpr + xs * bm.bpp;
        const int64_t last = first + (n - 1) * xStride;
        // Readable offsets form one interval: with both ends readable, so is every sample.
        if (std::min(first, last) < 0 || std::max(first, last) + 2 >= bm.len) {
            for (int64_t i = 0; i < n; ++i) {
                const int64_t o = first + i * xStride;
                if (o < 0 || o + 2 >= bm.len) continue;
                ++strip.samples;
                ++tot.samples;
                const uint8_t* p = bm.ptr + o;
                if (mayBeSaturated(p[0], p[1], p[2], 103)) samplePixel(p, strip, tot);
            }
            continue;
        }
        strip.samples += n;
        tot.samples += n;
        const uint8_t* p = bm.ptr + first;
        // A side strip reads a few cache lines per row, rows far apart, which the hardware
        // does not see coming: ask for the lines some rows ahead.
        if (xStride > 0 && n * xStride <= 256) {
            const int64_t ahead = first + PREFETCH_ROWS * 2 * bm.bpr;
            if (ahead >= 0 && ahead + n * xStride <= bm.len) {
                for (int64_t k = 0; k < n * xStride; k += 64)
                    __builtin_prefetch(bm.ptr + ahead + k);
                __builtin_prefetch(bm.ptr + ahead + n * xStride - 1);
            }
        }
        int64_t i = 0;
#if defined(__SSE2__)
        // Packed four-byte pixels, eight samples at a time through the saturation pre-test,
        // which nearly all fail. Eight samples span 64 bytes, which must all be readable.
        // Past the strip's end a group reads on into the row and masks the extra lanes off.
        if (bm.bpp == 4) {
            for (; i < n && first + (i + 8) * xStride <= bm.len; i += 8) {
                const uint8_t* q = p + i * xStride;
                unsigned lanes = mayBeSaturated8(evenPixels(q), evenPixels(q + 32), 103);
                if (n - i < 8) lanes &= (1u << (n - i)) - 1;
                for (; lanes != 0; lanes &= lanes - 1)
                    samplePixel(q + std::countr_zero(lanes) * xStride, strip, tot);
            }
        }
#endif
        for (; i < n; ++i) {
            const uint8_t* q = p + i * xStride;
            if (mayBeSaturated(q[0], q[1], q[2], 103)) samplePixel(q, strip, tot);
        }
    }
}

}  // namespace

double borderScore(const Bitmap& bm, const Rect& tile) {
    const double W = double(bm.w), H = double(bm.h);
    const double tx = tile.x * W, ty = tile.y * H, tw = tile.width * W, th = tile.height * H;
    for (const double v : {tx, ty, tw, th}) {
        if (!std::isfinite(v) || std::abs(v) > MAX_COORD) return 0;
    }
    if (tw < 4 || th < 4) return 0;
    const double t = std::max(std::min(tw, th) * 0.05, 2.0);

    std::array<Counts, 4> strips{};  // top, bottom, left, right
    Totals tot;
    sampleStrip(bm, tx, tx + tw, ty, ty + t, strips[0], tot);
    sampleStrip(bm, tx, tx + tw, ty + th - t, ty + th, strips[1], tot);
    sampleStrip(bm, tx, tx + t, ty + t, ty + th - t, strips[2], tot);
    sampleStrip(bm, tx + tw - t, tx + tw, ty + t, ty + th - t, strips[3], tot);
    if (tot.samples == 0) return 0;

    // Rounding can take the length of a sum of unit vectors a hair past its count.
    const double coherence =
        tot.hues == 0
            ? 0.0
            : std::min(1.0, std::sqrt(tot.sumSin * tot.sumSin + tot.sumCos * tot.sumCos) /
                                    double(tot.hues));
    const double colourScore = double(tot.coloured) / double(tot.samples) * coherence;

    // The second-largest edge fraction among strips that got samples.
    double first = -1, second = -1;
    for (const Counts& s : strips) {
        if (s.samples < 1) continue;
        const double f = double(s.ring) / double(s.samples);
        if (f > first) {
            second = first;
            first = f;
        } else if (f > second) {
            second = f;
        }
    }
    second = std::max(second, 0.0);
    // One ring-coloured edge alone is not a highlight.
    const double ringScore = second < 0.25 ? 0.0 : second;
    return colourScore > ringScore ? colourScore : ringScore;
}

}  // namespace tessival
