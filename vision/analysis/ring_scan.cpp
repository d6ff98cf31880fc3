#include "analysis/ring_scan.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/pixel.h"

namespace tessival {

namespace {

struct Box {
    int64_t minX, maxX, minY, maxY;
};

// Number of `cells` (flat indices into a grid `gw` wide) inside columns x0..x1 and rows
// y0..y1, all inclusive.
int64_t countInside(const std::vector<int64_t>& cells, int64_t gw, int64_t x0, int64_t x1,
                    int64_t y0, int64_t y1) {
    int64_t n = 0;
    for (const int64_t c : cells) {
        const int64_t x = c % gw;
        const int64_t y = c / gw;
        if (x >= x0 && x <= x1 && y >= y0 && y <= y1) ++n;
    }
    return n;
}

// An exact integer pre-test of isRingPixel for byte inputs: both ring colours need a value of
// at least 0.45 (largest byte 115 or more) and a saturation of at least 0.3. Most pixels of
// a capture fail it, which spares them the floating-point predicates.
inline bool mayBeRingPixel(uint8_t r, uint8_t g, uint8_t b) {
    const int mx = std::max({r, g, b});
    const int mn = std::min({r, g, b});
    return mx >= 115 && 10 * (mx - mn) >= 3 * mx;
}

}  // namespace

RingScan scanForGreenRing(const Bitmap& bm) {
    RingScan scan;
    const int64_t W = bm.w;
    const int64_t H = bm.h;
    const int64_t step = std::max((std::max(W, H) + RING_SCAN_MAX_SIDE - 1) / RING_SCAN_MAX_SIDE,
                                  int64_t{1});
    const int64_t gw = (W + step - 1) / step;
    const int64_t gh = (H + step - 1) / step;
    if (gw < 8 || gh < 8 || bm.ptr == nullptr) return scan;

    // Classify one sample per cell: its top-left pixel.
    std::vector<uint8_t> mask(static_cast<size_t>(gw * gh), 0);
    bool any = false;
    for (int64_t gy = 0; gy < gh; ++gy) {
        const int64_t py = gy * step;
        if (py >= H) continue;
        for (int64_t gx = 0; gx < gw; ++gx) {
            const int64_t px = gx * step;
            if (px >= W) continue;
            const int64_t o = py * bm.bpr + px * bm.bpp;
            if (o < 0 || o + 2 >= bm.len) continue;
            const uint8_t* p = bm.ptr + o;
            if (!mayBeRingPixel(p[0], p[1], p[2])) continue;
            if (isRingPixel(p[0], p[1], p[2])) {
                mask[static_cast<size_t>(gy * gw + gx)] = 1;
                any = true;
            }
        }
    }
    if (!any) return scan;

    // Grow every set cell by one on each side so one-cell gaps in an outline close.
    std::vector<uint8_t> dil(mask.size(), 0);
    for (int64_t gy = 0; gy < gh; ++gy) {
        for (int64_t gx = 0; gx < gw; ++gx) {
            if (!mask[static_cast<size_t>(gy * gw + gx)]) continue;
            const int64_t y0 = std::max(gy - 1, int64_t{0}), y1 = std::min(gy + 1, gh - 1);
            const int64_t x0 = std::max(gx - 1, int64_t{0}), x1 = std::min(gx + 1, gw - 1);
            for (int64_t y = y0; y <= y1; ++y)
                for (int64_t x = x0; x <= x1; ++x) dil[static_cast<size_t>(y * gw + x)] = 1;
        }
    }
    mask.clear();
    mask.shrink_to_fit();

    const int64_t minSide =
        std::max(static_cast<int64_t>(std::round(RING_MIN_SIDE_FRAC * double(gw))), int64_t{4});

    std::vector<uint8_t> visited(dil.size(), 0);
    std::vector<int64_t> stack;
    std::vector<int64_t> cells;
    for (int64_t seed = 0; seed < gw * gh; ++seed) {
        if (!dil[static_cast<size_t>(seed)] || visited[static_cast<size_t>(seed)]) continue;
        ++scan.blobs;
        cells.clear();
        Box box{seed % gw, seed % gw, seed / gw, seed / gw};
        visited[static_cast<size_t>(seed)] = 1;
        stack.push_back(seed);
        while (!stack.empty()) {
            const int64_t c = stack.back();
            stack.pop_back();
            cells.push_back(c);
            const int64_t x = c % gw;
            const int64_t y = c / gw;
            box.minX = std::min(box.minX, x);
            box.maxX = std::max(box.maxX, x);
            box.minY = std::min(box.minY, y);
            box.maxY = std::max(box.maxY, y);
            auto visit = [&](int64_t n) {
                if (dil[static_cast<size_t>(n)] && !visited[static_cast<size_t>(n)]) {
                    visited[static_cast<size_t>(n)] = 1;
                    stack.push_back(n);
                }
            };
            if (x >= 1) visit(c - 1);
            if (x + 1 < gw) visit(c + 1);
            if (y >= 1) visit(c - gw);
            if (y + 1 < gh) visit(c + gw);
        }

        const int64_t bw = box.maxX - box.minX + 1;
        const int64_t bh = box.maxY - box.minY + 1;
        if (bw < minSide || bh < minSide) {
            ++scan.rejSize;
            continue;
        }
        const double aspect = double(bw) / double(bh);
        if (aspect < RING_ASPECT_MIN || aspect > RING_ASPECT_MAX) {
            ++scan.rejAspect;
            continue;
        }
        const int64_t band = std::min(
            std::max(static_cast<int64_t>(std::round(double(std::min(bw, bh)) * 0.06)),
                     int64_t{3}),
            int64_t{12});
        if (!(bw > 2 * band && bh > 2 * band)) {
            ++scan.rejThin;
            continue;
        }
        const int64_t inner = countInside(cells, gw, box.minX + band, box.maxX - band,
                                          box.minY + band, box.maxY - band);
        const int64_t perimCount = static_cast<int64_t>(cells.size()) - inner;
        const int64_t perimArea = bw * bh - (bw - 2 * band) * (bh - 2 * band);
        const double perim = perimArea < 1 ? 0.0 : double(perimCount) / double(perimArea);
        if (perim < RING_PERIM_GREEN_THRESH) {
            ++scan.rejPerim;
            continue;
        }
        const int64_t qx = bw / 4;
        const int64_t qy = bh / 4;
        const int64_t centreArea = (bw - 2 * qx) * (bh - 2 * qy);
        const int64_t centre =
            countInside(cells, gw, box.minX + qx, box.maxX - qx, box.minY + qy, box.maxY - qy);
        const double fill = centreArea > 0 ? double(centre) / double(centreArea) : 1.0;
        if (fill > RING_INTERIOR_FILL_MAX) {
            ++scan.rejFill;
            continue;
        }
        // Strictly greater: on a tie the blob seeded first keeps its place.
        if (!scan.best || perim > scan.best->score) {
            RingBlobDetection det;
            det.rect = Rect{double(box.minX * step) / double(W), double(box.minY * step) / double(H),
                            double((bw - 1) * step + 1) / double(W),
                            double((bh - 1) * step + 1) / double(H)};
            det.score = perim;
            det.scanX = box.minX;
            det.scanY = box.minY;
            det.scanW = bw;
            det.scanH = bh;
            scan.best = det;
        }
    }
    return scan;
}

}  // namespace tessival
