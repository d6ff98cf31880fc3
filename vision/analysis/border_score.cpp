#include "analysis/border_score.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "analysis/pixel.h"

namespace tessival {

namespace {

constexpr double PI = 3.141592653589793;
// Tiles beyond this many pixels from the origin are nonsense; refusing them keeps every
// bound within the range an integer conversion is defined for.
constexpr double MAX_COORD = 1e12;

struct Counts {
    int64_t samples = 0;
    int64_t ring = 0;
};

struct Totals {
    int64_t samples = 0;
    int64_t coloured = 0;
    int64_t hues = 0;
    double sumCos = 0;
    double sumSin = 0;
    // The last coloured sample and its hue vector.
    double lastR = -1, lastG = -1, lastB = -1;
    double lastHue = -1, lastCos = 0, lastSin = 0;
};

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
    for (int64_t y = ys; y < ye; y += 2) {
        for (int64_t x = xs; x < xe; x += 2) {
            const auto px = bm.rgb(x, y);
            if (!px) continue;
            const double r = (*px)[0], g = (*px)[1], b = (*px)[2];
            const double mx = std::max({r, g, b});
            const double mn = std::min({r, g, b});
            const double s = mx <= 1 ? 0.0 : (mx - mn) / mx;
            const double v = mx / 255.0;
            ++strip.samples;
            ++tot.samples;
            if (mx > 1 && isRingPixel(r, g, b)) ++strip.ring;
            if (s > SAT_THRESH && v > VAL_THRESH) {
                ++tot.coloured;
                // Border pixels mostly repeat their neighbour's colour; reuse its hue vector.
                if (r != tot.lastR || g != tot.lastG || b != tot.lastB) {
                    tot.lastR = r, tot.lastG = g, tot.lastB = b;
                    tot.lastHue = hueDeg(r, g, b);
                    tot.lastCos = std::cos(tot.lastHue * PI / 180.0);
                    tot.lastSin = std::sin(tot.lastHue * PI / 180.0);
                }
                if (tot.lastHue >= 0) {
                    ++tot.hues;
                    tot.sumCos += tot.lastCos;
                    tot.sumSin += tot.lastSin;
                }
            }
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

    const double coherence =
        tot.hues == 0 ? 0.0
                      : std::sqrt(tot.sumSin * tot.sumSin + tot.sumCos * tot.sumCos) /
                            double(tot.hues);
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
