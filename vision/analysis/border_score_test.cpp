#include "analysis/border_score.h"

#include <gtest/gtest.h>

#include <cmath>

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

}  // namespace
}  // namespace tessival
