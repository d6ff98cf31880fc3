#include "analysis/border_score.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "base/pixel.h"
#include "testing/canvas.h"

namespace tessival {
namespace {

constexpr Rgba BG{40, 40, 40, 40};
constexpr Rgba GREEN{53, 194, 107, 255};

TEST(BorderScore, OutlinedTileScoresHighPlainTileZero) {
    Canvas c(200, 200, BG);
    c.outline({20, 20, 120, 120}, 4, Rgba{30, 220, 60, 255});
    EXPECT_GT(borderScore(c.bitmap(), Rect{0.1, 0.1, 0.5, 0.5}), 0.3);
    EXPECT_NEAR(borderScore(c.bitmap(), Rect{0.1, 0.1, 0.5, 0.5}), 0.69, 0.02);
    EXPECT_EQ(borderScore(c.bitmap(), Rect{0.62, 0.62, 0.3, 0.3}), 0.0);
}

TEST(BorderScore, RingTileAboveThresholdStrayPixelsBelow) {
    for (const PixelOrder order : {PixelOrder::RedFirst, PixelOrder::BlueFirst}) {
        Canvas c(200, 200, BG, order);
        c.outline({20, 20, 120, 120}, 4, GREEN);
        c.set(150, 150, GREEN);
        c.set(152, 151, GREEN);
        EXPECT_GE(borderScore(c.bitmap(), Rect{0.1, 0.1, 0.5, 0.5}), HIGHLIGHT_SCORE_THRESH);
        EXPECT_LT(borderScore(c.bitmap(), Rect{0.62, 0.62, 0.3, 0.3}), HIGHLIGHT_SCORE_THRESH);
    }
}

TEST(BorderScore, BlueFirstCopyScoresTheSame) {
    for (const Rgba colour : {GREEN, Rgba{91, 95, 199, 255}, Rgba{220, 120, 30, 255}}) {
        Canvas red(200, 200, BG, PixelOrder::RedFirst);
        Canvas blue(200, 200, BG, PixelOrder::BlueFirst);
        for (Canvas* c : {&red, &blue}) {
            c->outline({20, 20, 120, 120}, 4, colour);
            c->fill({20, 20, 120, 30}, Rgba{200, 40, 40, 255});
        }
        const Rect tile{0.1, 0.1, 0.5, 0.5};
        EXPECT_NEAR(borderScore(red.bitmap(), tile), borderScore(blue.bitmap(), tile), 1e-12)
            << int(colour.r) << "," << int(colour.g) << "," << int(colour.b);
    }
}

TEST(BorderScore, OneRingEdgeAloneCountsOnlyAsColour) {
    // A green top edge scores exactly like an orange one (saturated, not a ring colour):
    // a single ring-coloured edge adds nothing beyond its colour share.
    const Rect tile{0.1, 0.1, 0.5, 0.5};
    Canvas green(200, 200, BG), orange(200, 200, BG);
    green.fill({20, 20, 119, 24}, GREEN);
    orange.fill({20, 20, 119, 24}, Rgba{230, 120, 20, 255});
    const double score = borderScore(green.bitmap(), tile);
    EXPECT_GT(score, 0.0);
    EXPECT_NEAR(score, borderScore(orange.bitmap(), tile), 1e-9);
    // A second green edge lifts it to the ring score.
    green.fill({20, 115, 119, 119}, GREEN);
    EXPECT_GT(borderScore(green.bitmap(), tile), 0.9);
}

TEST(BorderScore, ScatteredHuesHaveLowCoherence) {
    // Yellow, cyan and magenta (hues 60, 180, 300; none a ring colour) in turn.
    Canvas c(200, 200, BG);
    const Rgba hues[] = {{255, 255, 0, 255}, {0, 255, 255, 255}, {255, 0, 255, 255}};
    for (int64_t y = 0; y < 200; ++y)
        for (int64_t x = 0; x < 200; ++x) c.set(x, y, hues[(x / 2 + y / 2) % 3]);
    EXPECT_LT(borderScore(c.bitmap(), Rect{0.1, 0.1, 0.5, 0.5}), 0.1);
    Canvas plain(200, 200, hues[0]);
    EXPECT_GT(borderScore(plain.bitmap(), Rect{0.1, 0.1, 0.5, 0.5}), 0.99);
}

TEST(BorderScore, UniformBorderStaysWithinOne) {
    // One saturated colour all round: every sample coloured, one hue; rounding in the hue
    // sums must not lift the score above 1.
    for (const Rgba c : {Rgba{230, 120, 20, 255}, Rgba{53, 194, 107, 255}, Rgba{91, 95, 199, 255}}) {
        Canvas canvas(400, 300, c);
        const double s = borderScore(canvas.bitmap(), Rect{0.1, 0.1, 0.7, 0.7});
        EXPECT_LE(s, 1.0);
        EXPECT_GT(s, 0.99);
    }
}

TEST(BorderScore, DegenerateTilesScoreZero) {
    Canvas c(200, 200, GREEN);
    const Rect tiles[] = {
        {0.1, 0.1, 3.9 / 200, 0.5},     // 3.9 pixels wide
        {0.1, 0.1, 0.5, 3.9 / 200},     // 3.9 pixels high
        {1.5, 1.5, 0.3, 0.3},           // wholly outside
        {-2.0, -2.0, 0.5, 0.5},         // wholly outside, negative
        {0.1, 0.1, 1e300, 0.5},         // absurd size
        {std::nan(""), 0.1, 0.5, 0.5},  // not a number
    };
    for (const Rect& t : tiles) {
        EXPECT_EQ(borderScore(c.bitmap(), t), 0.0) << t.x << " " << t.y << " " << t.width;
    }
    EXPECT_GT(borderScore(c.bitmap(), Rect{0.1, 0.1, 4.0 / 200, 0.5}), 0.9);
}

// The plain way of scoring a border, one sample at a time through Bitmap::rgb and the
// floating-point predicates; borderScore must give the same double.
namespace plain {

struct Counts {
    int64_t samples = 0;
    int64_t ring = 0;
};
struct Totals {
    int64_t samples = 0, coloured = 0, hues = 0;
    double sumCos = 0, sumSin = 0;
};

void sampleStrip(const Bitmap& bm, double x0d, double x1d, double y0d, double y1d, Counts& strip,
                 Totals& tot) {
    const int64_t x0 = static_cast<int64_t>(x0d), x1 = static_cast<int64_t>(x1d);
    const int64_t y0 = static_cast<int64_t>(y0d), y1 = static_cast<int64_t>(y1d);
    for (int64_t y = y0; y < y1; y += 2) {
        for (int64_t x = x0; x < x1; x += 2) {
            const auto px = bm.rgb(x, y);
            if (!px) continue;
            const double r = (*px)[0], g = (*px)[1], b = (*px)[2];
            const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
            const double s = mx <= 1 ? 0.0 : (mx - mn) / mx;
            const double v = mx / 255.0;
            ++strip.samples;
            ++tot.samples;
            if (mx > 1 && isRingPixel(r, g, b)) ++strip.ring;
            if (s > SAT_THRESH && v > VAL_THRESH) {
                ++tot.coloured;
                const double h = hueDeg(r, g, b);
                if (h >= 0) {
                    ++tot.hues;
                    tot.sumCos += std::cos(h * 3.141592653589793 / 180.0);
                    tot.sumSin += std::sin(h * 3.141592653589793 / 180.0);
                }
            }
        }
    }
}

// Tiles within a few bitmap sizes of the origin only (the loops above walk every position).
double borderScore(const Bitmap& bm, const Rect& tile) {
    const double W = double(bm.w), H = double(bm.h);
    const double tx = tile.x * W, ty = tile.y * H, tw = tile.width * W, th = tile.height * H;
    if (tw < 4 || th < 4) return 0;
    const double t = std::max(std::min(tw, th) * 0.05, 2.0);
    std::array<Counts, 4> strips{};
    Totals tot;
    sampleStrip(bm, tx, tx + tw, ty, ty + t, strips[0], tot);
    sampleStrip(bm, tx, tx + tw, ty + th - t, ty + th, strips[1], tot);
    sampleStrip(bm, tx, tx + t, ty + t, ty + th - t, strips[2], tot);
    sampleStrip(bm, tx + tw - t, tx + tw, ty + t, ty + th - t, strips[3], tot);
    if (tot.samples == 0) return 0;
    const double coherence =
        tot.hues == 0
            ? 0.0
            : std::min(1.0, std::sqrt(tot.sumSin * tot.sumSin + tot.sumCos * tot.sumCos) /
                                    double(tot.hues));
    const double colourScore = double(tot.coloured) / double(tot.samples) * coherence;
    std::vector<double> fractions;
    for (const Counts& s : strips)
        if (s.samples >= 1) fractions.push_back(double(s.ring) / double(s.samples));
    std::sort(fractions.begin(), fractions.end(), std::greater<>());
    const double second = fractions.size() >= 2 ? fractions[1] : 0.0;
    const double ringScore = second < 0.25 ? 0.0 : second;
    return colourScore > ringScore ? colourScore : ringScore;
}

}  // namespace plain

// Colours near every threshold of the tests: ring colours, saturated ones of all hues,
// skin and room tones, greys, and some wholly random.
Rgba randomColour(std::mt19937& rng) {
    static const Rgba palette[] = {GREEN,
                                   {91, 95, 199, 255},
                                   {200, 60, 60, 255},
                                   {60, 80, 120, 255},
                                   {71, 60, 90, 255},
                                   {115, 80, 69, 255},
                                   {102, 56, 40, 255},
                                   {103, 56, 46, 255},
                                   {150, 200, 0, 255},
                                   {141, 85, 60, 255},
                                   {224, 172, 140, 255},
                                   {150, 140, 125, 255},
                                   {30, 30, 30, 255},
                                   {255, 255, 0, 255},
                                   {0, 255, 255, 255}};
    std::uniform_int_distribution<int> byte(0, 255), pick(0, 2 * int(std::size(palette)) - 1);
    const int i = pick(rng);
    if (i >= int(std::size(palette)))
        return Rgba{uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng))};
    Rgba c = palette[i];
    // A little video noise on half of them.
    if (byte(rng) < 128) {
        auto jitter = [&](uint8_t v) {
            return uint8_t(std::clamp(int(v) + byte(rng) % 9 - 4, 0, 255));
        };
        c = Rgba{jitter(c.r), jitter(c.g), jitter(c.b), c.a};
    }
    return c;
}

TEST(BorderScore, SameScoreAsSamplingPixelByPixel) {
    std::mt19937 rng(20261206);
    std::uniform_int_distribution<int> size(6, 260), coord(-40, 300), count(0, 12);
    std::uniform_real_distribution<double> frac(-0.3, 1.2), extent(0.0, 1.1);
    int64_t compared = 0, nonZero = 0;
    for (int picture = 0; picture < 120; ++picture) {
        const int64_t w = size(rng), h = size(rng);
        const int64_t padding = (rng() % 3 == 0) ? int64_t(rng() % 24) : 0;
        Canvas c(w, h, randomColour(rng), rng() % 2 ? PixelOrder::RedFirst : PixelOrder::BlueFirst,
                 padding == 0 ? 0 : w * 4 + padding);
        for (int k = count(rng); k > 0; --k) {
            const PixelBox box{coord(rng), coord(rng), coord(rng), coord(rng)};
            if (rng() % 2)
                c.fill(box, randomColour(rng));
            else
                c.outline(box, 1 + int64_t(rng() % 6), randomColour(rng));
        }
        // Speckle: single samples of any colour, as in camera noise.
        for (int k = int(rng() % 400); k > 0; --k)
            c.set(int64_t(rng() % uint64_t(w)), int64_t(rng() % uint64_t(h)), randomColour(rng));
        Bitmap bm = c.bitmap();
        // Sometimes a pixel width of 3, or a buffer that ends early.
        Image narrow;
        if (rng() % 4 == 0) {
            narrow = Image{w, h, w * 3, 3, PixelOrder::RedFirst, {}};
            narrow.bytes.resize(size_t(w * h * 3));
            for (int64_t i = 0; i < w * h; ++i)
                for (int64_t k = 0; k < 3; ++k)
                    narrow.bytes[size_t(i * 3 + k)] =
                        c.image().bytes[size_t((i / w) * c.image().bytesPerRow + (i % w) * 4 + k)];
            bm = *makeBitmap(narrow);
        }
        if (rng() % 4 == 0) bm.len = int64_t(rng() % uint64_t(bm.len + 1));
        for (int t = 0; t < 12; ++t) {
            const Rect tile{frac(rng), frac(rng), extent(rng), extent(rng)};
            const double want = plain::borderScore(bm, tile);
            EXPECT_EQ(borderScore(bm, tile), want)
                << "picture " << picture << " " << w << "x" << h << " bpp " << bm.bpp << " tile "
                << tile.x << " " << tile.y << " " << tile.width << " " << tile.height;
            ++compared;
            nonZero += want > 0 ? 1 : 0;
        }
    }
    EXPECT_GT(nonZero, compared / 4);
}

}  // namespace
}  // namespace tessival
