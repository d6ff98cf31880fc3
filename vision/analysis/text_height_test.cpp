#include "analysis/text_height.h"

#include <gtest/gtest.h>

namespace tessival {
namespace {

GreyImage flat(int64_t w, int64_t h, uint8_t level) {
    GreyImage g;
    g.width = w;
    g.height = h;
    g.pixels.assign(static_cast<size_t>(w * h), level);
    return g;
}

void fill(GreyImage& g, int64_t x, int64_t y, int64_t w, int64_t h, uint8_t level) {
    for (int64_t yy = y; yy < std::min(g.height, y + h); ++yy) {
        for (int64_t xx = x; xx < std::min(g.width, x + w); ++xx) g.pixels[static_cast<size_t>(yy * g.width + xx)] = level;
    }
}

// A line of `letters` letter-like shapes whose main strokes are `height` px high, with an
// ascender on every third letter, scaled with the stroke width as a font is.
void line(GreyImage& g, int64_t x, int64_t y, int64_t letters, int64_t height) {
    const int64_t stroke = std::max<int64_t>(1, height / 5), pitch = height;
    for (int64_t i = 0; i < letters; ++i) {
        const int64_t lx = x + i * pitch;
        fill(g, lx, y, stroke, height, 20);
        fill(g, lx + pitch / 2, y, stroke, height, 20);
        if (i % 3 == 0) fill(g, lx, y - height / 2, stroke, height / 2, 20);
    }
}

TEST(TextHeight, MeasuresTheMainStrokesAtAnySize) {
    for (int64_t h : {5, 6, 8, 12, 16, 24, 40}) {
        GreyImage g = flat(20 * h + 20, 3 * h, 230);
        line(g, 10, h, 12, h);
        const std::optional<double> got = textHeight(g);
        ASSERT_TRUE(got.has_value()) << h;
        EXPECT_NEAR(*got, static_cast<double>(h), std::max(1.0, 0.15 * static_cast<double>(h))) << h;
    }
}

TEST(TextHeight, SeveralLinesGiveTheHeightOfMostInkAndTheirCount) {
    GreyImage g = flat(400, 120, 230);
    line(g, 10, 10, 30, 8);
    line(g, 10, 40, 30, 8);
    line(g, 10, 80, 4, 20);  // a short large line
    int count = 0;
    const std::optional<double> got = textHeight(g, &count);
    ASSERT_TRUE(got.has_value());
    EXPECT_NEAR(*got, 8.0, 1.0);
    EXPECT_EQ(count, 3);
}

TEST(TextHeight, NoLineInFlatPicturesOrStraightEdges) {
    EXPECT_FALSE(textHeight(flat(64, 32, 100)).has_value());
    GreyImage edge = flat(64, 32, 30);
    fill(edge, 32, 0, 32, 32, 220);  // one vertical edge: two changes a row at most
    EXPECT_FALSE(textHeight(edge).has_value());
    EXPECT_FALSE(textHeight(GreyImage{}).has_value());
}

TEST(ReadingScale, EnlargesSmallTextOnlyAndWithinLimits) {
    struct Case {
        std::optional<double> height;
        double want;
    };
    const Case cases[] = {
        {std::nullopt, 1.0}, {0.0, 1.0}, {BEST_TEXT_HEIGHT, 1.0}, {2 * BEST_TEXT_HEIGHT, 1.0},
        {BEST_TEXT_HEIGHT / 1.4, 1.0},  // a 2x capture's labels: not worth it
        {BEST_TEXT_HEIGHT / 2, 2.0}, {1.0, MAX_READING_SCALE},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(readingScale(c.height), c.want) << c.height.value_or(-1);
}

TEST(ReadingScale, ShrinksOnlyPicturesWhoseTextIsAllLarge) {
    const auto lines = [](std::initializer_list<std::pair<int, MeasuredLine>> groups) {
        std::vector<MeasuredLine> out;
        for (const auto& [n, line] : groups) out.insert(out.end(), static_cast<size_t>(n), line);
        return out;
    };
    struct Case {
        const char* name;
        std::vector<MeasuredLine> lines;
        double want;
    };
    const Case cases[] = {
        {"a 2x capture", lines({{10, {2 * BEST_TEXT_HEIGHT, 200}}}), 0.5},
        {"a 1.6x capture with a stray mark", lines({{9, {26, 200}}, {1, {6, 60}}}), BEST_TEXT_HEIGHT / 26},
        {"a few big titles", lines({{4, {40, 600}}}), 1.0},
        {"a big slide beside small labels and captions", lines({{8, {40, 900}}, {3, {12, 120}}}), 1.0},
        {"huge text shrinks no more than half", lines({{8, {80, 900}}}), MIN_SHRINK_SCALE},
        {"small labels are enlarged", lines({{8, {BEST_TEXT_HEIGHT / 2, 100}}}), 2.0},
        {"no lines", {}, 1.0},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(readingScale(c.lines), c.want) << c.name;
}

TEST(PictureTextHeight, LabelShapedRegionsOnly) {
    GreyImage g = flat(600, 200, 230);
    line(g, 10, 20, 12, 7);    // two labels
    line(g, 300, 20, 10, 7);
    fill(g, 100, 100, 3, 80, 20);  // a tall shape of a camera picture
    fill(g, 110, 100, 3, 80, 20);
    fill(g, 120, 100, 3, 80, 20);
    const std::vector<PixelArea> regions = textRegions(g);
    const std::optional<double> got = pictureTextHeight(g, regions);
    ASSERT_TRUE(got.has_value());
    EXPECT_NEAR(*got, 7.0, 1.0);
    EXPECT_FALSE(pictureTextHeight(g, {}).has_value());
}

TEST(ReadingSize, LabelsJoinedIntoALargeRegionStillSetTheScale) {
    // An L of camera-picture stripes whose box holds the labels: one region, no line in it.
    GreyImage g = flat(600, 400, 230);
    for (int64_t x = 100; x < 500; x += 7) fill(g, x, 50, 2, 30, 20);
    for (int64_t x = 100; x < 130; x += 7) fill(g, x, 50, 2, 250, 20);
    line(g, 200, 250, 12, 7);
    line(g, 200, 200, 10, 7);
    ASSERT_EQ(textRegions(g).size(), 1u);
    EXPECT_NEAR(double(atReadingSize(g).width), 600.0 * BEST_TEXT_HEIGHT / 7.0, 600.0 * 0.15);
}

TEST(ScaleGrey, KeepsLevelsAndSizeFollowsTheFactor) {
    GreyImage g = flat(10, 6, 40);
    fill(g, 5, 0, 5, 6, 200);
    g.inverted = true;
    const GreyImage big = scaleGrey(g, 2.5);
    EXPECT_EQ(big.width, 25);
    EXPECT_EQ(big.height, 15);
    EXPECT_TRUE(big.inverted);
    EXPECT_EQ(big.pixels[0], 40);
    EXPECT_EQ(big.pixels[static_cast<size_t>(big.width - 1)], 200);
    // Shrunk, one-pixel strokes average into grey instead of vanishing or doubling.
    GreyImage stripes = flat(8, 4, 0);
    for (int64_t x = 0; x < 8; x += 2) fill(stripes, x, 0, 1, 4, 255);
    const GreyImage half = scaleGrey(stripes, 0.5);
    ASSERT_EQ(half.width, 4);
    for (const uint8_t p : half.pixels) EXPECT_NEAR(p, 128, 1);
    const GreyImage same = scaleGrey(g, 1.0);
    EXPECT_EQ(same.pixels, g.pixels);
    EXPECT_EQ(scaleGrey(GreyImage{}, 2.0).width, 0);
}

TEST(TextHeight, AScaledLineMeasuresScaled) {
    GreyImage g = flat(240, 30, 230);
    line(g, 10, 10, 12, 6);
    const GreyImage big = scaleGrey(g, readingScale(textHeight(g)));
    const std::optional<double> got = textHeight(big);
    ASSERT_TRUE(got.has_value());
    EXPECT_NEAR(*got, BEST_TEXT_HEIGHT, 0.2 * BEST_TEXT_HEIGHT);
}

}  // namespace
}  // namespace tessival
