#include "analysis/text_regions.h"

#include <gtest/gtest.h>

#include <random>

namespace tessival {
namespace {

// A grey picture of one level.
GreyImage flat(int64_t w, int64_t h, uint8_t level) {
    GreyImage g;
    g.width = w;
    g.height = h;
    g.pixels.assign(static_cast<size_t>(w * h), level);
    return g;
}

void fill(GreyImage& g, int64_t x, int64_t y, int64_t w, int64_t h, uint8_t level) {
    for (int64_t yy = std::max<int64_t>(0, y); yy < std::min(g.height, y + h); ++yy) {
        for (int64_t xx = std::max<int64_t>(0, x); xx < std::min(g.width, x + w); ++xx) {
            g.pixels[static_cast<size_t>(yy * g.width + xx)] = level;
        }
    }
}

// Letter-like strokes: 3-pixel stems every 7 pixels, `height` tall, as a label's word at
// twice its size.
void word(GreyImage& g, int64_t x, int64_t y, int64_t letters, int64_t height, uint8_t ink) {
    for (int64_t i = 0; i < letters * 2; ++i) fill(g, x + i * 7, y, 3, height, ink);
    fill(g, x, y, letters * 14 - 4, 3, ink);  // a bar, as e, t or f have
}

bool covers(const PixelArea& outer, int64_t x, int64_t y, int64_t w, int64_t h) {
    return outer.x <= x && outer.y <= y && x + w <= outer.x + outer.width && y + h <= outer.y + outer.height;
}

bool anyOverlap(const std::vector<PixelArea>& boxes) {
    for (size_t i = 0; i < boxes.size(); ++i) {
        for (size_t j = i + 1; j < boxes.size(); ++j) {
            const PixelArea& a = boxes[i];
            const PixelArea& b = boxes[j];
            if (a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height) return true;
        }
    }
    return false;
}

TEST(TextRegions, NothingToReadGivesNoRegions) {
    GreyImage gradient = flat(640, 360, 0);
    for (int64_t y = 0; y < gradient.height; ++y) {
        for (int64_t x = 0; x < gradient.width; ++x) gradient.pixels[static_cast<size_t>(y * 640 + x)] = uint8_t(x * 255 / 640);
    }
    GreyImage grain = flat(640, 360, 120);  // a camera picture's noise, +-16 levels
    std::mt19937 rng(3);
    for (uint8_t& p : grain.pixels) p = static_cast<uint8_t>(120 + int(rng() % 33) - 16);
    GreyImage rules = flat(640, 360, 30);  // tiles' horizontal edges and a divider
    fill(rules, 0, 100, 640, 2, 200);
    fill(rules, 0, 101, 640, 40, 90);
    const struct {
        const char* name;
        GreyImage image;
    } cases[] = {{"flat", flat(640, 360, 40)}, {"gradient", gradient}, {"grain", grain}, {"rules", rules},
                 {"empty", GreyImage{}}, {"too narrow", flat(2, 50, 0)}};
    for (const auto& c : cases) EXPECT_TRUE(textRegions(c.image).empty()) << c.name;
}

TEST(TextRegions, CoverEachLabelWithItsWordsTogether) {
    GreyImage g = flat(1280, 720, 35);
    // Two labels of two words on video-like grain, far apart, and one at the picture's edge.
    std::mt19937 rng(5);
    for (uint8_t& p : g.pixels) p = static_cast<uint8_t>(35 + int(rng() % 17) - 8);
    word(g, 100, 600, 4, 24, 235);
    word(g, 100 + 4 * 14 + 10, 600, 6, 24, 235);  // a word gap of 14 pixels
    word(g, 800, 300, 5, 24, 235);
    word(g, 1280 - 5 * 14, 720 - 26, 5, 24, 235);
    const std::vector<PixelArea> boxes = textRegions(g);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_FALSE(anyOverlap(boxes));
    // Sorted top to bottom; each covers its whole label with room round it.
    EXPECT_TRUE(covers(boxes[0], 800, 300, 5 * 14 - 4, 24));
    EXPECT_TRUE(covers(boxes[1], 100, 600, 4 * 14 + 10 + 6 * 14 - 4, 24));
    EXPECT_LE(boxes[1].x, 100 - 4);
    EXPECT_TRUE(covers(boxes[2], 1280 - 5 * 14, 720 - 26, 5 * 14 - 4, 24));
    for (const PixelArea& b : boxes) {
        EXPECT_GE(b.x, 0);
        EXPECT_GE(b.y, 0);
        EXPECT_LE(b.x + b.width, g.width);
        EXPECT_LE(b.y + b.height, g.height);
        EXPECT_LT(b.height, 60) << "a label's region is a line, not the picture";
    }
}

TEST(TextRegions, DarkTextOnLightAndParagraphsAreFoundToo) {
    GreyImage g = flat(1000, 600, 250);
    for (int line = 0; line < 4; ++line) word(g, 80, 100 + line * 40, 20, 26, 20);
    const std::vector<PixelArea> boxes = textRegions(g);
    ASSERT_EQ(boxes.size(), 1u) << "the lines of a paragraph touch through their padding";
    EXPECT_TRUE(covers(boxes[0], 80, 100, 20 * 14 - 4, 3 * 40 + 26));
}

TEST(TextRegions, BoxesTouchingThroughTheirPaddingMerge) {
    GreyImage g = flat(800, 400, 250);
    word(g, 100, 100, 3, 24, 10);
    word(g, 150, 140, 3, 24, 10);  // below and to the right: padded boxes overlap
    word(g, 600, 300, 3, 24, 10);
    const std::vector<PixelArea> boxes = textRegions(g);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(anyOverlap(boxes));
    EXPECT_TRUE(covers(boxes[0], 100, 100, 150 + 3 * 14 - 4 - 100, 140 + 24 - 100));
}

TEST(AtLeast, GrowsAboutTheMiddleWithinThePicture) {
    const struct {
        PixelArea in;
        int64_t minSide, w, h;
        PixelArea want;
    } cases[] = {
        {{100, 100, 40, 20}, 64, 1000, 500, {88, 78, 64, 64}},
        {{0, 0, 40, 20}, 64, 1000, 500, {0, 0, 64, 64}},            // kept inside at the origin
        {{980, 490, 20, 10}, 64, 1000, 500, {936, 436, 64, 64}},    // and at the far corner
        {{10, 10, 200, 100}, 64, 1000, 500, {10, 10, 200, 100}},    // big enough already
        {{5, 5, 10, 10}, 64, 50, 30, {0, 0, 50, 30}},               // picture smaller than the side
    };
    for (const auto& c : cases) {
        EXPECT_EQ(atLeast(c.in, c.minSide, c.w, c.h), c.want) << c.in.x << "," << c.in.y;
    }
}

TEST(CropGrey, CopiesTheClippedPart) {
    GreyImage g = flat(10, 6, 0);
    for (size_t i = 0; i < g.pixels.size(); ++i) g.pixels[i] = static_cast<uint8_t>(i);
    g.inverted = true;
    const GreyImage c = cropGrey(g, PixelArea{8, 4, 5, 5});
    ASSERT_EQ(c.width, 2);
    ASSERT_EQ(c.height, 2);
    EXPECT_EQ(c.pixels, (std::vector<uint8_t>{48, 49, 58, 59}));
    EXPECT_TRUE(c.inverted);
    EXPECT_TRUE(cropGrey(g, PixelArea{20, 0, 5, 5}).pixels.empty());
    EXPECT_TRUE(cropGrey(g, PixelArea{-5, 0, 5, 5}).pixels.empty());
}

}  // namespace
}  // namespace tessival
