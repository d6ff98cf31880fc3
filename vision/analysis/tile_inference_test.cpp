#include "analysis/tile_inference.h"

#include <gtest/gtest.h>

namespace tessival {
namespace {

constexpr double EPS = 1e-9;

TEST(InferTiles, TwoByTwoGridFromLabelSpacing) {
    const std::vector<Rect> boxes = {
        {0.2, 0.45, 0.1, 0.04}, {0.7, 0.45, 0.1, 0.04}, {0.2, 0.95, 0.1, 0.04}, {0.7, 0.95, 0.1, 0.04}};
    const auto tiles = inferTiles(boxes);
    ASSERT_EQ(tiles.size(), 4u);
    EXPECT_NEAR(tiles[0].width, 0.5, EPS);
    EXPECT_NEAR(tiles[0].height, 0.5, EPS);
    // Centred on the label, clamped inside the image.
    EXPECT_NEAR(tiles[0].x, 0.0, EPS);
    EXPECT_NEAR(tiles[1].x, 0.5, EPS);
    EXPECT_NEAR(tiles[3].y, 0.5, EPS);
}

TEST(InferTiles, ChipsHangFromTheCentreLabelsFromNearTheBottom) {
    const std::vector<Rect> boxes = {{0.22, 0.47, 0.06, 0.06}, {0.72, 0.47, 0.06, 0.06}};
    const auto chips = inferTiles(boxes, {"VG", "JB"});
    const auto labels = inferTiles(boxes, {"Ana Silva", "J. Okafor"});
    ASSERT_EQ(chips.size(), 2u);
    ASSERT_EQ(labels.size(), 2u);
    const double h = 0.5 * 9 / 16;
    EXPECT_NEAR(chips[0].width, 0.5, EPS);
    EXPECT_NEAR(chips[0].height, h, EPS);
    EXPECT_NEAR(chips[0].y, 0.5 - h * 0.5, EPS);
    EXPECT_NEAR(labels[0].y, 0.5 - h * 0.85, EPS);
    EXPECT_GT(chips[0].y, labels[0].y);
}

TEST(InferTiles, MissingTextsCountAsLabels) {
    const std::vector<Rect> boxes = {{0.22, 0.47, 0.06, 0.06}, {0.72, 0.47, 0.06, 0.06}};
    const auto tiles = inferTiles(boxes, {"VG"});
    const double h = 0.5 * 9 / 16;
    EXPECT_NEAR(tiles[0].y, 0.5 - h * 0.5, EPS);
    EXPECT_NEAR(tiles[1].y, 0.5 - h * 0.85, EPS);
}

TEST(InferTiles, SingleLabelUsesDefaultSizeAndClampsToTheImage) {
    struct Case {
        Rect box;
        double x, y;
    };
    const Case cases[] = {
        {{0.9, 0.95, 0.08, 0.03}, 0.5, 1 - 0.28125},  // bottom-right: x + w = 1
        {{0.1, 0.01, 0.1, 0.03}, 0.0, 0.0},           // near the top: y = 0
    };
    for (const Case& c : cases) {
        const auto tiles = inferTiles({c.box});
        ASSERT_EQ(tiles.size(), 1u);
        EXPECT_NEAR(tiles[0].width, 0.5, EPS);
        EXPECT_NEAR(tiles[0].height, 0.28125, EPS);
        EXPECT_NEAR(tiles[0].x, c.x, EPS);
        EXPECT_NEAR(tiles[0].y, c.y, EPS);
        EXPECT_LE(tiles[0].maxX(), 1 + EPS);
        EXPECT_LE(tiles[0].maxY(), 1 + EPS);
    }
}

TEST(InferTiles, PitchIsTheUpperMedianOfNeighbourGaps) {
    // Centres 0.1, 0.4, 0.8 in one row: gaps 0.3, 0.3, 0.4.
    const std::vector<Rect> boxes = {{0.05, 0.5, 0.1, 0.02}, {0.35, 0.5, 0.1, 0.02}, {0.75, 0.5, 0.1, 0.02}};
    EXPECT_NEAR(inferTiles(boxes)[0].width, 0.3, EPS);
    // Labels 0.01 apart are no neighbours: falls back to the default width.
    const std::vector<Rect> close = {{0.40, 0.5, 0.1, 0.02}, {0.41, 0.5, 0.1, 0.02}};
    EXPECT_NEAR(inferTiles(close)[0].width, 0.5, EPS);
}

TEST(InferTiles, VerticalPitchAloneDerivesWidthAndSizesAreClamped) {
    // One column, centres 0.2 apart: tileH 0.2, tileW 0.2 * 16 / 9.
    const std::vector<Rect> column = {{0.45, 0.19, 0.1, 0.02}, {0.45, 0.39, 0.1, 0.02}};
    const auto tiles = inferTiles(column);
    EXPECT_NEAR(tiles[0].height, 0.2, EPS);
    EXPECT_NEAR(tiles[0].width, 0.2 * 16 / 9, EPS);
    // Gaps under 0.1 are raised to the 0.1 floor.
    const std::vector<Rect> dense = {{0.10, 0.5, 0.02, 0.02}, {0.15, 0.5, 0.02, 0.02}};
    EXPECT_NEAR(inferTiles(dense)[0].width, 0.1, EPS);
    EXPECT_TRUE(inferTiles({}).empty());
}

}  // namespace
}  // namespace tessival
