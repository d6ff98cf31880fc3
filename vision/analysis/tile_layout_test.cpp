#include "analysis/tile_layout.h"

#include <gtest/gtest.h>

#include <vector>

#include "analysis/tile_frame.h"
#include "testing/canvas.h"

namespace tessival {
namespace {

constexpr Rgba BG{24, 26, 30, 255};

// A tile as a video picture would be: a backdrop, a person (a disc) in the middle and a
// dark name chip in the bottom-left corner.
void drawTile(Canvas& c, const PixelBox& b, int seed) {
    const Rgba backdrop{uint8_t(90 + 37 * seed % 120), uint8_t(140 + 23 * seed % 90), uint8_t(60 + 51 * seed % 150), 255};
    c.fill(b, backdrop);
    const double r = double(std::min(b.x1 - b.x0, b.y1 - b.y0)) * 0.3;
    c.ring(double(b.x0 + b.x1) / 2, double(b.y0 + b.y1) / 2, 0, r, Rgba{200, 150, 120, 255});
    c.fill({b.x0 + 4, b.y1 - 14, b.x0 + 4 + (b.x1 - b.x0) / 3, b.y1 - 4}, Rgba{10, 10, 10, 255});
}

std::vector<PixelBox> grid(int cols, int rows, int64_t x0, int64_t y0, int64_t w, int64_t h, int64_t gap) {
    std::vector<PixelBox> out;
    for (int r = 0; r < rows; ++r)
        for (int k = 0; k < cols; ++k) {
            const int64_t x = x0 + k * (w + gap), y = y0 + r * (h + gap);
            out.push_back({x, y, x + w - 1, y + h - 1});
        }
    return out;
}

double iou(const Rect& a, const Rect& b) {
    const double i = a.intersection(b).area();
    return i / (a.area() + b.area() - i);
}

struct LayoutCase {
    const char* name;
    int64_t w, h;
    std::vector<PixelBox> tiles;
    std::vector<PixelBox> clutter;  // toolbar buttons and chips: not tiles
};

TEST(FindTiles, FindsTheTilesOfEachLayoutFamily) {
    std::vector<PixelBox> speaker = {{40, 30, 919, 449}};
    for (const PixelBox& b : grid(4, 1, 40, 466, 208, 117, 16)) speaker.push_back(b);
    std::vector<PixelBox> share = grid(1, 4, 16, 30, 200, 112, 12);
    share.push_back({236, 30, 943, 520});
    const std::vector<PixelBox> buttons = {{380, 560, 440, 584}, {460, 560, 520, 584}, {540, 560, 600, 584}};
    // A strip of thumbnails along the speaker's picture's side and a self view in its corner,
    // drawn over it.
    const std::vector<PixelBox> floating = {
        {40, 30, 919, 529}, {720, 60, 899, 159}, {720, 175, 899, 274}, {760, 440, 919, 529}};
    const PixelBox room{40, 30, 919, 529};
    const LayoutCase cases[] = {
        {"grid 3x3", 960, 600, grid(3, 3, 30, 20, 290, 170, 10), buttons},
        {"dense grid 7x7 at 1x", 640, 400, grid(7, 7, 26, 32, 82, 46, 2), {}},
        {"speaker with a strip", 960, 600, speaker, {}},
        {"filmstrip beside content", 960, 600, share, buttons},
        {"single tile", 960, 600, {{60, 40, 899, 529}}, buttons},
        {"thumbnails floating on the speaker's picture", 960, 600, floating, buttons},
        {"grid under a browser's tab", 960, 600, grid(2, 2, 60, 100, 420, 230, 10),
         {{8, 8, 200, 66}, {40, 30, 180, 42}}},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(c.w, c.h, BG);
        for (size_t i = 0; i < c.tiles.size(); ++i) {
            drawTile(canvas, c.tiles[i], static_cast<int>(i));
            // A camera's picture is no flat colour: light falls across the speaker's room.
            if (i == 0 && c.tiles.size() == floating.size() && c.tiles[0].x0 == room.x0)
                for (int64_t y = room.y0; y <= room.y1; ++y)
                    canvas.fill({room.x0, y, room.x1, y}, Rgba{uint8_t(60 + y / 4), uint8_t(90 + y / 5), 110, 255});
        }
        // Clutter in two shades: the text and icons of a tab on the tab itself.
        for (size_t i = 0; i < c.clutter.size(); ++i)
            canvas.fill(c.clutter[i], i % 2 ? Rgba{200, 200, 200, 255} : Rgba{70, 70, 80, 255});
        const std::optional<TileLayout> found = findTiles(canvas.bitmap());
        ASSERT_TRUE(found.has_value());
        ASSERT_EQ(found->tiles.size(), c.tiles.size());
        for (const PixelBox& b : c.tiles) {
            const Rect want{double(b.x0) / double(c.w), double(b.y0) / double(c.h),
                            double(b.x1 - b.x0 + 1) / double(c.w), double(b.y1 - b.y0 + 1) / double(c.h)};
            double best = 0;
            for (const Rect& t : found->tiles) best = std::max(best, iou(t, want));
            EXPECT_GT(best, 0.9) << "want " << b.x0 << "," << b.y0 << "," << b.x1 << "," << b.y1 << " found "
                                 << found->tiles[0].x * double(c.w) << "," << found->tiles[0].y * double(c.h) << " " << found->tiles[0].width * double(c.w) << "," << found->tiles[0].height * double(c.h);
        }
    }
}

TEST(FindTiles, ATileWhoseLowerPartShadesIntoTheWindowTakesItsGallerysHeight) {
    Canvas c(960, 600, BG);
    const std::vector<PixelBox> tiles = grid(3, 1, 30, 100, 290, 170, 10);
    for (size_t i = 0; i < tiles.size(); ++i) drawTile(c, tiles[i], static_cast<int>(i));
    // A camera-off tile: its lower part in the window's shade, with its name chip on it.
    const PixelBox& off = tiles[2];
    c.fill({off.x0, off.y0 + 110, off.x1, off.y1}, BG);
    c.fill({off.x0 + 4, off.y1 - 14, off.x0 + 100, off.y1 - 4}, Rgba{10, 10, 10, 255});
    const std::optional<TileLayout> found = findTiles(c.bitmap());
    ASSERT_TRUE(found.has_value());
    ASSERT_EQ(found->tiles.size(), 3u);
    EXPECT_NEAR(found->tiles[2].maxY() * 600, double(off.y1 + 1), 12);
}

TEST(FindTiles, NoTilesOnAPlainWindowOrOneWithOnlySmallThings) {
    Canvas plain(800, 500, BG);
    EXPECT_FALSE(findTiles(plain.bitmap()).has_value());
    Canvas chat(800, 500, Rgba{250, 250, 250, 255});
    for (int64_t y = 20; y < 480; y += 24) chat.fill({100, y, 100 + (y * 7) % 500, y + 10}, Rgba{30, 30, 30, 255});
    EXPECT_FALSE(findTiles(chat.bitmap()).has_value());
}

TEST(FindTiles, ASingleCallsStageInsideAWindowOnAMarginIsTheTile) {
    Canvas c(960, 600, BG);
    c.fill({20, 20, 939, 579}, Rgba{250, 250, 250, 255});  // the browser window
    for (int64_t x = 300; x < 500; x += 70) c.fill({x, 550, x + 50, 570}, Rgba{70, 70, 80, 255});  // buttons
    const PixelBox stage{40, 80, 700, 540};
    drawTile(c, stage, 3);
    const auto found = findTiles(c.bitmap());
    ASSERT_TRUE(found.has_value());
    ASSERT_EQ(found->tiles.size(), 1u);
    const Rect& t = found->tiles[0];
    EXPECT_GT(iou(t, Rect{40.0 / 960, 80.0 / 600, 661.0 / 960, 461.0 / 600}), 0.9)
        << t.x * 960 << "," << t.y * 600 << " " << t.width * 960 << "x" << t.height * 600;
}

TEST(FindTiles, ATileABubbleJoinsToThePageRoundTheCallIsFoundWhereItsRowAndColumnCross) {
    // A phone's call screen on a light page; a bubble drawn over the top right tile and the
    // phone's edge joins that tile to the page.
    Canvas c(960, 600, Rgba{200, 220, 240, 255});
    c.fill({200, 0, 760, 599}, BG);
    const auto boxes = grid(2, 3, 220, 20, 250, 180, 12);
    for (size_t i = 0; i < boxes.size(); ++i) drawTile(c, boxes[i], static_cast<int>(i));
    c.fill({640, 60, 820, 110}, Rgba{150, 90, 230, 255});
    const auto found = findTiles(c.bitmap());
    ASSERT_TRUE(found.has_value());
    ASSERT_EQ(found->tiles.size(), boxes.size());
    const Rect want{482.0 / 960, 20.0 / 600, 250.0 / 960, 180.0 / 600};
    EXPECT_TRUE(std::any_of(found->tiles.begin(), found->tiles.end(), [&](const Rect& t) { return iou(t, want) > 0.9; }));
}

TEST(FindTiles, TilesRightUnderAnAppsHeaderBarAreFoundWithoutIt) {
    Canvas c(960, 600, Rgba{250, 250, 250, 255});
    // A header of a grained colour, so it is no flat background itself.
    for (int64_t y = 0; y < 60; y += 2)
        for (int64_t x = 0; x < 960; x += 2)
            c.fill({x, y, x + 1, y + 1}, (x + y) % 4 == 0 ? Rgba{60, 80, 180, 255} : Rgba{66, 88, 188, 255});
    for (int64_t x = 20; x < 200; x += 50) c.fill({x, 20, x + 20, 40}, Rgba{250, 250, 250, 255});  // icons
    // A camera's picture and a shared screen's, of two sizes.
    const std::vector<PixelBox> boxes = {{240, 60, 539, 259}, {550, 60, 749, 259}};
    for (size_t i = 0; i < boxes.size(); ++i) drawTile(c, boxes[i], static_cast<int>(i));
    const auto found = findTiles(c.bitmap());
    ASSERT_TRUE(found.has_value());
    ASSERT_EQ(found->tiles.size(), 2u);
    EXPECT_GT(iou(found->tiles[0], Rect{240.0 / 960, 60.0 / 600, 300.0 / 960, 200.0 / 600}), 0.9);
}

TEST(FindTiles, ATileRunningIntoABarUnderItKeepsItsRowsHeight) {
    Canvas c(960, 600, BG);
    const auto boxes = grid(3, 2, 30, 20, 290, 250, 10);
    for (size_t i = 0; i < boxes.size(); ++i) drawTile(c, boxes[i], static_cast<int>(i));
    // A status bar in a colour near the tile's, right under the middle tile of the last row.
    c.fill({boxes[4].x0, boxes[4].y1 + 1, boxes[4].x1, boxes[4].y1 + 20}, Rgba{60, 64, 70, 255});
    const auto found = findTiles(c.bitmap());
    ASSERT_TRUE(found.has_value());
    ASSERT_EQ(found->tiles.size(), 6u);
    for (const Rect& t : found->tiles) EXPECT_NEAR(t.height * 600, 250, 4);
}

TEST(FindTiles, ReadingOrderIsRowsThenColumns) {
    Canvas c(960, 600, BG);
    const auto boxes = grid(3, 2, 30, 40, 290, 250, 10);
    for (size_t i = 0; i < boxes.size(); ++i) drawTile(c, boxes[i], static_cast<int>(i));
    const auto found = findTiles(c.bitmap());
    ASSERT_TRUE(found.has_value());
    ASSERT_EQ(found->tiles.size(), 6u);
    for (size_t i = 1; i < 6; ++i) {
        const Rect& a = found->tiles[i - 1];
        const Rect& b = found->tiles[i];
        EXPECT_TRUE(b.y > a.y + 0.1 || (std::abs(b.y - a.y) < 0.01 && b.x > a.x)) << i;
    }
}

TEST(TileFrame, AFrameInAColourTheTileDoesNotCarry) {
    struct Case {
        const char* name;
        Rgba frame;
        Rgba inside;
        bool framed;
        int width = 3;
        Rgba blend = {0, 0, 0, 0};  // a line compression smeared just outside a thin frame
    };
    const Case cases[] = {
        {"blue frame round a video", {60, 140, 255, 255}, {150, 120, 90, 255}, true},
        {"white frame", {250, 250, 250, 255}, {150, 120, 90, 255}, true},
        {"green frame", {40, 200, 80, 255}, {150, 120, 90, 255}, true},
        {"green video, no frame", {40, 200, 80, 255}, {40, 200, 80, 255}, false},
        {"frame in the background's colour", {24, 26, 30, 255}, {150, 120, 90, 255}, false},
        {"dull edge of a picture", {61, 72, 104, 255}, {150, 120, 90, 255}, false},
        {"softened one-pixel frame round a flat wall", {107, 150, 184, 255}, {175, 160, 150, 255}, true, 1,
         {52, 96, 143, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(600, 400, BG);
        canvas.fill({100, 80, 499, 319}, c.inside);
        canvas.outline({100, 80, 499, 319}, c.width, c.frame);
        if (c.blend.a != 0) canvas.outline({99, 79, 500, 320}, 1, c.blend);
        const TileFrame f = tileFrame(canvas.bitmap(), Rect{100 / 600.0, 80 / 400.0, 400 / 600.0, 240 / 400.0},
                                      0x1e1a18);
        EXPECT_EQ(f.score >= FRAME_MIN_SCORE, c.framed) << f.score;
    }
}

}  // namespace
}  // namespace tessival
