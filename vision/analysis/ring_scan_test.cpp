#include "analysis/ring_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "base/pixel.h"
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
        {"filled",
         [](Canvas& c) {
             c.fill({57, 41, 176, 114}, GREEN);
         },
         1, 0, 0, 0, 0, 1},
        {"speck",
         [](Canvas& c) {
             c.fill({300, 200, 301, 201}, GREEN);
         },
         1, 1, 0, 0, 0, 0},
        // 200 x 20 cells: wider than 4:1.
        {"bar",
         [](Canvas& c) {
             c.outline({50, 50, 249, 69}, 2, GREEN);
         },
         1, 0, 1, 0, 0, 0},
        {"two",
         [](Canvas& c) {
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

// The plain way of scanning: every cell through Bitmap's offset rule and the floating-point
// predicate, a stack-based fill over separate grids. scanForGreenRing must match it field
// for field.
RingScan plainScan(const Bitmap& bm) {
    RingScan scan;
    const int64_t W = bm.w, H = bm.h;
    const int64_t step =
        std::max((std::max(W, H) + RING_SCAN_MAX_SIDE - 1) / RING_SCAN_MAX_SIDE, int64_t{1});
    const int64_t gw = (W + step - 1) / step, gh = (H + step - 1) / step;
    if (gw < 8 || gh < 8 || bm.ptr == nullptr) return scan;
    std::vector<uint8_t> mask(size_t(gw * gh), 0);
    bool any = false;
    for (int64_t gy = 0; gy < gh; ++gy) {
        for (int64_t gx = 0; gx < gw; ++gx) {
            const int64_t o = gy * step * bm.bpr + gx * step * bm.bpp;
            if (o < 0 || o + 2 >= bm.len) continue;
            const uint8_t* p = bm.ptr + o;
            if (!isRingPixel(p[0], p[1], p[2])) continue;
            mask[size_t(gy * gw + gx)] = 1;
            any = true;
        }
    }
    if (!any) return scan;
    std::vector<uint8_t> dil(mask.size(), 0);
    for (int64_t gy = 0; gy < gh; ++gy)
        for (int64_t gx = 0; gx < gw; ++gx)
            if (mask[size_t(gy * gw + gx)])
                for (int64_t y = std::max<int64_t>(gy - 1, 0); y <= std::min(gy + 1, gh - 1); ++y)
                    for (int64_t x = std::max<int64_t>(gx - 1, 0); x <= std::min(gx + 1, gw - 1);
                         ++x)
                        dil[size_t(y * gw + x)] = 1;
    const int64_t minSide = std::max(std::llround(RING_MIN_SIDE_FRAC * double(gw)), 4LL);
    std::vector<uint8_t> visited(dil.size(), 0);
    for (int64_t seed = 0; seed < gw * gh; ++seed) {
        if (!dil[size_t(seed)] || visited[size_t(seed)]) continue;
        ++scan.blobs;
        std::vector<int64_t> stack{seed}, cells;
        visited[size_t(seed)] = 1;
        int64_t minX = seed % gw, maxX = minX, minY = seed / gw, maxY = minY;
        while (!stack.empty()) {
            const int64_t c = stack.back();
            stack.pop_back();
            cells.push_back(c);
            const int64_t x = c % gw, y = c / gw;
            minX = std::min(minX, x), maxX = std::max(maxX, x);
            minY = std::min(minY, y), maxY = std::max(maxY, y);
            for (const int64_t n : {x >= 1 ? c - 1 : -1, x + 1 < gw ? c + 1 : -1,
                                    y >= 1 ? c - gw : -1, y + 1 < gh ? c + gw : -1}) {
                if (n >= 0 && dil[size_t(n)] && !visited[size_t(n)]) {
                    visited[size_t(n)] = 1;
                    stack.push_back(n);
                }
            }
        }
        auto inside = [&](int64_t x0, int64_t x1, int64_t y0, int64_t y1) {
            return std::count_if(cells.begin(), cells.end(), [&](int64_t c) {
                return c % gw >= x0 && c % gw <= x1 && c / gw >= y0 && c / gw <= y1;
            });
        };
        const int64_t bw = maxX - minX + 1, bh = maxY - minY + 1;
        if (bw < minSide || bh < minSide) {
            ++scan.rejSize;
            continue;
        }
        const double aspect = double(bw) / double(bh);
        if (aspect < RING_ASPECT_MIN || aspect > RING_ASPECT_MAX) {
            ++scan.rejAspect;
            continue;
        }
        const int64_t band =
            std::min(std::max(std::llround(double(std::min(bw, bh)) * 0.06), 3LL), 12LL);
        if (!(bw > 2 * band && bh > 2 * band)) {
            ++scan.rejThin;
            continue;
        }
        const int64_t perimCount =
            int64_t(cells.size()) - inside(minX + band, maxX - band, minY + band, maxY - band);
        const int64_t perimArea = bw * bh - (bw - 2 * band) * (bh - 2 * band);
        const double perim = perimArea < 1 ? 0.0 : double(perimCount) / double(perimArea);
        if (perim < RING_PERIM_GREEN_THRESH) {
            ++scan.rejPerim;
            continue;
        }
        const int64_t qx = bw / 4, qy = bh / 4;
        const int64_t centreArea = (bw - 2 * qx) * (bh - 2 * qy);
        const double fill =
            centreArea > 0
                ? double(inside(minX + qx, maxX - qx, minY + qy, maxY - qy)) / double(centreArea)
                : 1.0;
        if (fill > RING_INTERIOR_FILL_MAX) {
            ++scan.rejFill;
            continue;
        }
        if (!scan.best || perim > scan.best->score) {
            scan.best = RingBlobDetection{
                Rect{double(minX * step) / double(W), double(minY * step) / double(H),
                     double((bw - 1) * step + 1) / double(W),
                     double((bh - 1) * step + 1) / double(H)},
                perim,
                minX,
                minY,
                bw,
                bh};
        }
    }
    return scan;
}

// Ring colours, colours near the thresholds, and video-like tones.
Rgba randomColour(std::mt19937& rng) {
    static const Rgba palette[] = {GREEN,
                                   PURPLE,
                                   {200, 60, 60, 255},
                                   {60, 80, 120, 255},
                                   {71, 60, 90, 255},
                                   {115, 80, 69, 255},
                                   {69, 115, 80, 255},
                                   {150, 200, 0, 255},
                                   {141, 85, 60, 255},
                                   {224, 172, 140, 255},
                                   {150, 140, 125, 255},
                                   BG};
    const Rgba c = palette[rng() % std::size(palette)];
    if (rng() % 4) return c;
    auto jitter = [&](uint8_t v) {
        return uint8_t(std::clamp(int(v) + int(rng() % 9) - 4, 0, 255));
    };
    return Rgba{jitter(c.r), jitter(c.g), jitter(c.b), c.a};
}

TEST(RingScan, SameResultAsThePlainScan) {
    std::mt19937 rng(1206);
    int64_t found = 0;
    for (int picture = 0; picture < 60; ++picture) {
        // Sizes for grid strides 1 to 3, some padded rows, either byte order.
        const int64_t w = 8 + int64_t(rng() % 1500), h = 8 + int64_t(rng() % 900);
        const int64_t padding = rng() % 3 == 0 ? int64_t(rng() % 40) : 0;
        Canvas c(w, h, rng() % 3 ? BG : randomColour(rng),
                 rng() % 2 ? PixelOrder::RedFirst : PixelOrder::BlueFirst,
                 padding == 0 ? 0 : w * 4 + padding);
        auto coordX = [&] { return int64_t(rng() % uint64_t(w + 20)) - 10; };
        auto coordY = [&] { return int64_t(rng() % uint64_t(h + 20)) - 10; };
        for (int k = int(rng() % 8); k > 0; --k) {
            const int64_t x0 = coordX(), y0 = coordY();
            const PixelBox box{x0, y0, x0 + int64_t(rng() % uint64_t(w / 2 + 1)),
                               y0 + int64_t(rng() % uint64_t(h / 2 + 1))};
            switch (rng() % 3) {
                case 0:
                    c.fill(box, randomColour(rng));
                    break;
                case 1:
                    c.outline(box, 1 + int64_t(rng() % 10), randomColour(rng));
                    break;
                default:
                    c.ring(double(x0), double(y0), 10, 10 + double(rng() % 30), randomColour(rng));
            }
        }
        for (int k = int(rng() % 3000); k > 0; --k)
            c.set(int64_t(rng() % uint64_t(w)), int64_t(rng() % uint64_t(h)), randomColour(rng));
        Bitmap bm = c.bitmap();
        if (rng() % 5 == 0) bm.len = int64_t(rng() % uint64_t(bm.len + 1));
        const RingScan want = plainScan(bm);
        const RingScan got = scanForGreenRing(bm);
        SCOPED_TRACE(testing::Message()
                     << "picture " << picture << " " << w << "x" << h << " len " << bm.len);
        EXPECT_EQ(got.blobs, want.blobs);
        EXPECT_EQ(got.rejSize, want.rejSize);
        EXPECT_EQ(got.rejAspect, want.rejAspect);
        EXPECT_EQ(got.rejThin, want.rejThin);
        EXPECT_EQ(got.rejPerim, want.rejPerim);
        EXPECT_EQ(got.rejFill, want.rejFill);
        ASSERT_EQ(got.best.has_value(), want.best.has_value());
        if (!want.best) continue;
        ++found;
        EXPECT_EQ(got.best->score, want.best->score);
        EXPECT_EQ(got.best->scanX, want.best->scanX);
        EXPECT_EQ(got.best->scanY, want.best->scanY);
        EXPECT_EQ(got.best->scanW, want.best->scanW);
        EXPECT_EQ(got.best->scanH, want.best->scanH);
        EXPECT_TRUE(got.best->rect == want.best->rect);
    }
    EXPECT_GT(found, 5);
}

}  // namespace
}  // namespace tessival
