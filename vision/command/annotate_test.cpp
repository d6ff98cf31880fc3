#include "command/annotate.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace tessival {
namespace {

using Px = std::array<int, 3>;

Px at(const Image& img, int64_t x, int64_t y) {
    const size_t o = static_cast<size_t>(y * img.bytesPerRow + x * img.bytesPerPixel);
    return {img.bytes[o], img.bytes[o + 1], img.bytes[o + 2]};
}

Image grey(int64_t w, int64_t h, PixelOrder order = PixelOrder::RedFirst) {
    Image img = Image::blank(w, h, order);
    for (size_t i = 0; i < img.bytes.size(); i += 4) {
        img.bytes[i] = 90;
        img.bytes[i + 1] = 100;
        img.bytes[i + 2] = 110;
        img.bytes[i + 3] = 255;
    }
    return img;
}

// Two tiles side by side on an 800 x 400 picture; the second is highlighted and ringed.
AnnotateInput twoTiles() {
    AnnotateInput in;
    const TextObservation ana{"Ana Lima", 0.9f, Rect{0.05, 0.8, 0.12, 0.05}};
    const TextObservation ben{"Ben Ode", 0.9f, Rect{0.55, 0.8, 0.12, 0.05}};
    const TextObservation mute{"Mute", 0.9f, Rect{0.45, 0.93, 0.05, 0.04}};
    in.lines = {ana, ben, mute};
    in.analysis.names = {ana, ben};
    in.analysis.tiles = {Rect{0.0, 0.0, 0.5, 0.9}, Rect{0.5, 0.0, 0.5, 0.9}};
    in.analysis.highlightScores = {0.02, 0.61};
    in.analysis.highlighted = 1;
    in.analysis.bestHighlight = 0.61;
    in.analysis.ring.blobs = 3;
    in.analysis.ring.best = RingBlobDetection{Rect{0.5, 0.0, 0.5, 0.9}, 0.83, 0, 0, 0, 0};
    in.cropRect = Rect{0.5, 0.0, 0.5, 0.9};
    in.cropScore = 0.83;
    in.cropLabel = "ring";
    return in;
}

LabelFont systemFont() {
    std::ifstream f("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
    return LabelFont{std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {})};
}

TEST(AnnotateImage, WithoutFontDrawsShapesOnlyAndKeepsTheSize) {
    const Image img = grey(800, 400);
    const Image out = annotateImage(img, twoTiles(), LabelFont{});
    ASSERT_EQ(out.width, 800);
    ASSERT_EQ(out.height, 400);
    // Left tile: plain orange outline on its left edge; untouched grey in its middle.
    EXPECT_EQ(at(out, 1, 100), (Px{255, 150, 0}));
    EXPECT_EQ(at(out, 200, 150), (Px{90, 100, 110}));
    // Right tile: the chosen highlight, a thick magenta outline.
    EXPECT_EQ(at(out, 797, 200), (Px{255, 0, 200}));
    EXPECT_EQ(at(out, 796, 200), (Px{255, 0, 200}));
    // The name boxes are cyan; the other line read is grey.
    EXPECT_EQ(at(out, 40, 319), (Px{0, 220, 255}));
    EXPECT_EQ(at(out, 380, 370), (Px{170, 170, 170}));
}

TEST(AnnotateImage, RingIsDashedInsideTheTileOutline) {
    const Image out = annotateImage(grey(800, 400), twoTiles(), LabelFont{});
    int green = 0, other = 0;
    for (int64_t y = 20; y < 340; ++y) {
        const Px p = at(out, 800 - 8, y);  // inset of the ring's stroke for a 400-pixel side
        (p == Px{40, 255, 80} ? green : other)++;
    }
    EXPECT_GT(green, 80);
    EXPECT_GT(other, 80);  // gaps between dashes
}

TEST(AnnotateImage, NoRingNoHighlightDrawsOnlyTilesAndLines) {
    AnnotateInput in = twoTiles();
    in.analysis.highlighted = -1;
    in.analysis.ring.best.reset();
    in.cropRect.reset();
    const Image out = annotateImage(grey(800, 400), in, LabelFont{});
    EXPECT_EQ(at(out, 798, 200), (Px{255, 150, 0}));
    for (int64_t x = 780; x < 798; ++x) {
        EXPECT_NE(at(out, x, 200), (Px{40, 255, 80})) << x;
        EXPECT_NE(at(out, x, 200), (Px{255, 0, 200})) << x;
    }
}

TEST(AnnotateImage, BlueFirstInputComesOutRedFirst) {
    Image img = grey(100, 80, PixelOrder::BlueFirst);
    const Image out = annotateImage(img, AnnotateInput{}, LabelFont{});
    EXPECT_EQ(out.order, PixelOrder::RedFirst);
    EXPECT_EQ(at(out, 50, 40), (Px{110, 100, 90}));
}

TEST(AnnotateImage, BytesThatAreNotAFontDrawWithoutText) {
    const Image out = annotateImage(grey(800, 400), twoTiles(), LabelFont{{1, 2, 3, 4, 5}});
    EXPECT_EQ(out.height, 400);
}

TEST(AnnotateImage, EmptyImageGivesEmptyImage) {
    EXPECT_TRUE(annotateImage(Image{}, twoTiles(), LabelFont{}).empty());
}

TEST(AnnotateImage, WithFontAddsLegendBandAndLabelsTiles) {
    const LabelFont font = systemFont();
    if (font.ttf.empty()) {
        if (std::getenv("CI") != nullptr) FAIL() << "DejaVuSans.ttf missing (fonts-dejavu-core)";
        GTEST_SKIP() << "DejaVuSans.ttf missing (fonts-dejavu-core)";
    }
    const Image img = grey(800, 400);
    const Image out = annotateImage(img, twoTiles(), font);
    ASSERT_EQ(out.width, 800);
    ASSERT_GT(out.height, 400 + 40);
    // Text in the band: some pixels much lighter than the band's dark background.
    int light = 0;
    for (int64_t y = 400; y < out.height; ++y) {
        for (int64_t x = 0; x < 800; ++x) light += at(out, x, y)[0] > 200;
    }
    EXPECT_GT(light, 500);
    // A label box (dark) with text sits at the top-left corner of each tile.
    int dark = 0, lit = 0;
    for (int64_t y = 8; y < 30; ++y) {
        for (int64_t x = 8; x < 120; ++x) {
            const Px p = at(out, x, y);
            dark += p[0] < 40;
            lit += p[0] > 180;
        }
    }
    EXPECT_GT(dark, 200);
    EXPECT_GT(lit, 50);
    // The shapes are the same as without a font.
    EXPECT_EQ(at(out, 1, 100), (Px{255, 150, 0}));
}

}  // namespace
}  // namespace tessival
