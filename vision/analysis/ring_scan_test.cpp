#include "analysis/ring_scan.h"

#include <gtest/gtest.h>

#include "testing/canvas.h"

namespace tessival {
namespace {

constexpr Rgba BG{30, 30, 30, 30};
constexpr Rgba GREEN{53, 194, 107, 255};
constexpr Rgba PURPLE{91, 95, 199, 255};

void expectRect(const Rect& got, const Rect& want) {
    EXPECT_DOUBLE_EQ(got.x, want.x);
    EXPECT_DOUBLE_EQ(got.y, want.y);
    EXPECT_DOUBLE_EQ(got.width, want.width);
    EXPECT_DOUBLE_EQ(got.height, want.height);
}

int64_t accountedFor(const RingScan& s) {
    return s.rejSize + s.rejAspect + s.rejThin + s.rejPerim + s.rejFill + (s.best ? 1 : 0);
}

TEST(RingScan, AcceptsHollowRingRejectsSpeck) {
    for (const PixelOrder order : {PixelOrder::RedFirst, PixelOrder::BlueFirst}) {
        Canvas c(500, 300, BG, order);
        c.outline({57, 41, 176, 114}, 3, GREEN);
        c.set(400, 250, GREEN);
        c.set(401, 250, GREEN);
        c.set(400, 251, GREEN);
        const RingScan s = scanForGreenRing(c.bitmap());
        EXPECT_EQ(s.blobs, 2);
        EXPECT_EQ(s.rejSize, 1);
        ASSERT_TRUE(s.best.has_value());
        EXPECT_EQ(s.best->score, 1.0);
        EXPECT_EQ(s.best->scanX, 56);
        EXPECT_EQ(s.best->scanY, 40);
        EXPECT_EQ(s.best->scanW, 122);
        EXPECT_EQ(s.best->scanH, 76);
        expectRect(s.best->rect, {0.112, 40.0 / 300, 0.244, 76.0 / 300});
    }
}

TEST(RingScan, StridedRingOnPaddedRows) {
    Canvas c(1400, 800, BG, PixelOrder::RedFirst, 5600);
    c.outline({300, 200, 800, 500}, 8, GREEN);
    const RingScan s = scanForGreenRing(c.bitmap());
    ASSERT_TRUE(s.best.has_value()) << "blobs=" << s.blobs;
    EXPECT_EQ(s.best->scanX, 99);
    EXPECT_EQ(s.best->scanY, 66);
    EXPECT_EQ(s.best->scanW, 169);
    EXPECT_EQ(s.best->scanH, 102);
    EXPECT_DOUBLE_EQ(s.best->score, 2358.0 / 3108.0);
    expectRect(s.best->rect, {297.0 / 1400, 198.0 / 800, 505.0 / 1400, 304.0 / 800});
}

TEST(RingScan, StrideSkipsPaddingBytesPastRowEnd) {
    // Green in the padding bytes after each row's last pixel must never be sampled.
    Canvas c(400, 300, BG, PixelOrder::RedFirst, 400 * 4 + 64);
    Image img = c.image();
    for (int64_t y = 0; y < img.height; ++y) {
        for (int64_t k = 400 * 4; k + 3 < img.bytesPerRow; k += 4) {
            uint8_t* p = img.bytes.data() + y * img.bytesPerRow + k;
            p[0] = 53, p[1] = 194, p[2] = 107;
        }
    }
    const RingScan s = scanForGreenRing(*makeBitmap(img));
    EXPECT_EQ(s.blobs, 0);
}

TEST(RingScan, RoundAndThinPurpleRings) {
    {
        Canvas c(500, 300, BG);
        c.ring(250, 150, 14, 16, PURPLE);
        const RingScan s = scanForGreenRing(c.bitmap());
        ASSERT_TRUE(s.best.has_value());
        EXPECT_DOUBLE_EQ(s.best->score, 0.34375);
        EXPECT_EQ(s.best->scanX, 233);
        EXPECT_EQ(s.best->scanY, 133);
        EXPECT_EQ(s.best->scanW, 35);
        EXPECT_EQ(s.best->scanH, 35);
    }
    {
        Canvas c(500, 300, BG);
        c.outline({100, 100, 114, 114}, 1, PURPLE);
        const RingScan s = scanForGreenRing(c.bitmap());
        ASSERT_TRUE(s.best.has_value());
        EXPECT_EQ(s.best->score, 1.0);
        EXPECT_EQ(s.best->scanX, 99);
        EXPECT_EQ(s.best->scanW, 17);
        EXPECT_EQ(s.best->scanH, 17);
    }
    {
        Canvas c(500, 300, BG, PixelOrder::BlueFirst);
        c.outline({57, 41, 176, 114}, 3, PURPLE);
        const RingScan s = scanForGreenRing(c.bitmap());
        ASSERT_TRUE(s.best.has_value());
        EXPECT_GE(s.best->score, 0.3);
    }
}

struct RejectCase {
    const char* name;
    void (*draw)(Canvas&);
    int64_t blobs, rejSize, rejAspect, rejThin, rejPerim, rejFill;
};

TEST(RingScan, CountsEveryRejectedComponent) {
    const RejectCase cases[] = {
        {"grey", [](Canvas&) {}, 0, 0, 0, 0, 0, 0},
        {"filled", [](Canvas& c) { c.fill({57, 41, 176, 114}, GREEN); }, 1, 0, 0, 0, 0, 1},
        {"speck", [](Canvas& c) { c.fill({300, 200, 301, 201}, GREEN); }, 1, 1, 0, 0, 0, 0},
        // 200 x 20 cells: wider than 4:1.
        {"bar", [](Canvas& c) { c.outline({50, 50, 249, 69}, 2, GREEN); }, 1, 0, 1, 0, 0, 0},
        {"two", [](Canvas& c) {
             c.outline({20, 20, 120, 120}, 2, GREEN);
             c.fill({300, 150, 301, 151}, GREEN);
         },
         2, 1, 0, 0, 0, 0},
    };
    for (const RejectCase& rc : cases) {
        Canvas c(500, 300, BG);
        rc.draw(c);
        const RingScan s = scanForGreenRing(c.bitmap());
        EXPECT_EQ(s.blobs, rc.blobs) << rc.name;
        EXPECT_EQ(s.rejSize, rc.rejSize) << rc.name;
        EXPECT_EQ(s.rejAspect, rc.rejAspect) << rc.name;
        EXPECT_EQ(s.rejThin, rc.rejThin) << rc.name;
        EXPECT_EQ(s.rejPerim, rc.rejPerim) << rc.name;
        EXPECT_EQ(s.rejFill, rc.rejFill) << rc.name;
        EXPECT_EQ(s.blobs, accountedFor(s)) << rc.name;
    }
}

TEST(RingScan, ThinAndSparseOutlinesAreRejected) {
    {
        // 8 x 8 grid: minSide 4, a 6 x 6 blob cannot hold a 3-cell band on each side.
        Canvas c(8, 8, BG);
        c.outline({0, 0, 4, 4}, 1, GREEN);  // dilated to 6 x 6 cells
        const RingScan s = scanForGreenRing(c.bitmap());
        EXPECT_EQ(s.blobs, 1);
        EXPECT_EQ(s.rejThin, 1);
    }
    {
        // A diagonal cross: a big box whose outline band is nearly empty.
        Canvas c(500, 300, BG);
        for (int64_t i = 0; i < 200; ++i) {
            c.set(100 + i, 50 + i, GREEN);
            c.set(299 - i, 50 + i, GREEN);
        }
        const RingScan s = scanForGreenRing(c.bitmap());
        EXPECT_EQ(s.blobs, 1);
        EXPECT_EQ(s.rejPerim, 1) << "fill=" << s.rejFill;
    }
}

TEST(RingScan, TooSmallBitmapIsEmpty) {
    for (const auto& [w, h] : {std::pair{7, 100}, std::pair{100, 7}}) {
        Canvas c(w, h, GREEN);
        const RingScan s = scanForGreenRing(c.bitmap());
        EXPECT_EQ(s.blobs, 0) << w << "x" << h;
        EXPECT_FALSE(s.best.has_value());
    }
}

TEST(RingScan, EqualScoresKeepTheFirstSeeded) {
    Canvas c(500, 300, BG);
    c.outline({300, 40, 400, 140}, 3, GREEN);
    c.outline({50, 60, 150, 160}, 3, GREEN);
    const RingScan s = scanForGreenRing(c.bitmap());
    EXPECT_EQ(s.blobs, 2);
    ASSERT_TRUE(s.best.has_value());
    EXPECT_EQ(s.best->scanX, 299);  // topmost first, though it is further right
}

TEST(RingScan, ShortBufferIsNeverReadPastItsEnd) {
    Canvas c(500, 300, BG);
    c.outline({57, 41, 176, 114}, 3, GREEN);
    Bitmap bm = c.bitmap();
    bm.len = 100 * bm.bpr;  // only the first 100 rows are readable
    const RingScan s = scanForGreenRing(bm);
    ASSERT_TRUE(s.best.has_value());
    EXPECT_EQ(s.best->scanH, 61);  // rows 40 to 100: the cut-off outline, open at the bottom
}

}  // namespace
}  // namespace tessival
