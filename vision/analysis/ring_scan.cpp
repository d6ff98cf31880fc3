#include "analysis/ring_scan.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>

#include "base/pixel.h"

namespace tessival {

namespace {

// A horizontal run of set cells of the dilated grid, columns x0 to x1 - 1 of row y, and
// its union-find parent among the runs (runs are numbered in row-major order).
struct Run {
    int32_t x0, x1, y, parent;
};

// What is gathered about a component, under the index of its first run.
struct Blob {
    int32_t minX, maxX, minY, maxY, cells;
    // The outline band's width, its inner rectangle and the central region, then the
    // component's cells inside each.
    int32_t band, bandX0, bandX1, bandY0, bandY1, midX0, midX1, midY0, midY1;
    int32_t inner, centre;
};

// The root of run `i`, halving the path on the way.
int32_t rootOf(Run* runs, int32_t i) {
    while (runs[i].parent != i) {
        runs[i].parent = runs[runs[i].parent].parent;
        i = runs[i].parent;
    }
    return i;
}

// Joins the components of runs a and b under the lower root, which is thus always the
// component's first run.
void join(Run* runs, int32_t a, int32_t b) {
    const int32_t ra = rootOf(runs, a), rb = rootOf(runs, b);
    if (ra < rb)
        runs[rb].parent = ra;
    else if (rb < ra)
        runs[ra].parent = rb;
}

// Cells of a run inside columns x0..x1 and rows y0..y1, all inclusive.
int32_t runInside(const Run& r, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    if (r.y < y0 || r.y > y1) return 0;
    return std::max(std::min(r.x1 - 1, x1) - std::max(r.x0, x0) + 1, 0);
}

// Classifies the samples of one grid row into `out` (gw bytes, 0 or 1); true when any is set.
bool classifyRow(const Bitmap& bm, int64_t py, int64_t step, int64_t gw, uint8_t* out) {
    const int64_t rowStart = py * bm.bpr;
    const int64_t xStride = step * bm.bpp;
    const int64_t lowest = std::min(rowStart, rowStart + (gw - 1) * xStride);
    const int64_t highest = std::max(rowStart, rowStart + (gw - 1) * xStride);
    // The readable offsets form one interval and the samples' offsets are evenly spaced,
    // so two readable ends mean every sample between them is readable too.
    uint8_t any = 0;
    if (lowest >= 0 && highest + 2 < bm.len) {
        const uint8_t* p = bm.ptr + rowStart;
        int64_t gx = 0;
#if defined(__SSE2__)
        // Eight samples at a time, each read as a whole 32-bit word, so the fourth byte of
        // every sample must be readable too.
        if (highest + 3 < bm.len) {
            auto word = [](const uint8_t* q) {
                uint32_t w;
                std::memcpy(&w, q, sizeof w);
                return static_cast<int>(w);
            };
            for (; gx + 8 <= gw; gx += 8) {
                const uint8_t* q = p + gx * xStride;
                const __m128i lo = _mm_setr_epi32(word(q), word(q + xStride), word(q + 2 * xStride),
                                                  word(q + 3 * xStride));
                const __m128i hi = _mm_setr_epi32(word(q + 4 * xStride), word(q + 5 * xStride),
                                                  word(q + 6 * xStride), word(q + 7 * xStride));
                unsigned lanes = isRingPixel8(lo, hi);
                std::memset(out + gx, 0, 8);
                any |= lanes != 0;
                for (; lanes != 0; lanes &= lanes - 1) out[gx + std::countr_zero(lanes)] = 1;
            }
        }
#endif
        for (; gx < gw; ++gx) {
            const uint8_t* s = p + gx * xStride;
            const uint8_t v = isRingPixelBytes(s[0], s[1], s[2]) ? 1 : 0;
            out[gx] = v;
            any |= v;
        }
        return any != 0;
    }
    for (int64_t gx = 0; gx < gw; ++gx) {
        const int64_t o = rowStart + gx * xStride;
        uint8_t v = 0;
        if (o >= 0 && o + 2 < bm.len) {
            const uint8_t* s = bm.ptr + o;
            v = isRingPixelBytes(s[0], s[1], s[2]) ? 1 : 0;
        }
        out[gx] = v;
        any |= v;
    }
    return any != 0;
}

// Eight cells (bytes 0 or 1) as eight bits, cell i as bit i: each byte's multiplier puts it
// alone in the top byte, at its own bit.
uint64_t cellBits(uint64_t eight) { return (eight * 0x0102040810204080u) >> 56; }

// The first position at or after `from` whose bit differs from `flip`'s (0: the next set
// bit, all ones: the next clear one), or words x 64 when there is none.
int64_t nextBit(const uint64_t* bits, int64_t words, int64_t from, uint64_t flip) {
    int64_t w = from / 64;
    if (w >= words) return words * 64;
    uint64_t m = (bits[w] ^ flip) & (~uint64_t{0} << (from % 64));
    while (m == 0) {
        if (++w == words) return words * 64;
        m = bits[w] ^ flip;
    }
    return w * 64 + std::countr_zero(m);
}

// Reads and writes eight grid cells at once; grid rows are padded to allow it.
uint64_t load8(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
void store8(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

// The scan's working memory in one allocation: the mask and its dilation as padded byte
// grids, a row of horizontal dilation, and the runs of the dilated grid with what is
// gathered per component. Rows hold a left border cell, gw cells and enough right border for
// whole 8-cell words. A dilated run is at least two cells long with a gap after it, so a row
// holds at most gw / 3 + 1 of them.
struct ScanGrids {
    int64_t gw, gh, words, stride;
    size_t gridBytes;
    std::unique_ptr<Blob[]> buffer;
    Blob* blobs;
    Run* runs;
    uint8_t* mask;
    uint8_t* dil;
    uint8_t* across;
    int32_t nRuns = 0;

    ScanGrids(int64_t gridW, int64_t gridH) : gw(gridW), gh(gridH) {
        words = (gw + 7) / 8;
        stride = 8 * words + 8;
        gridBytes = static_cast<size_t>(stride * (gh + 2));
        const size_t runCap = static_cast<size_t>(gh * (gw / 3 + 1));
        const size_t bytes =
            runCap * (sizeof(Run) + sizeof(Blob)) + 2 * gridBytes + static_cast<size_t>(stride);
        buffer.reset(new Blob[(bytes + sizeof(Blob) - 1) / sizeof(Blob)]);
        blobs = buffer.get();
        runs = reinterpret_cast<Run*>(blobs + runCap);
        mask = reinterpret_cast<uint8_t*>(runs + runCap);
        dil = mask + gridBytes;
        across = dil + gridBytes;
    }
    uint8_t* maskRow(int64_t y) const { return mask + (y + 1) * stride + 1; }
    uint8_t* dilRow(int64_t y) const { return dil + (y + 1) * stride + 1; }
};

// Mask: one sample per cell, its top-left pixel. Every cell of the bitmap's grid lies inside
// the bitmap, so only the byte offset can make a sample unreadable. False when no cell is set.
bool sampleMask(const Bitmap& bm, int64_t step, ScanGrids& g, bool* rowAny) {
    std::memset(g.mask, 0, static_cast<size_t>(g.stride));
    std::memset(g.mask + (g.gh + 1) * g.stride, 0, static_cast<size_t>(g.stride));
    bool any = false;
    for (int64_t gy = 0; gy < g.gh; ++gy) {
        uint8_t* row = g.maskRow(gy);
        row[-1] = 0;
        std::memset(row + g.gw, 0, static_cast<size_t>(g.stride - 1 - g.gw));
        rowAny[gy] = classifyRow(bm, gy * step, step, g.gw, row);
        any |= rowAny[gy];
    }
    return any;
}

// Dilation by 3 x 3: across each row, then down the columns. The empty border clips it to
// the grid.
void dilate(ScanGrids& g, const bool* rowAny) {
    std::memset(g.dil, 0, g.gridBytes);
    for (int64_t gy = 0; gy < g.gh; ++gy) {
        if (!rowAny[gy]) continue;
        const uint8_t* m = g.maskRow(gy);
        for (int64_t x = 0; x < 8 * g.words; x += 8)
            store8(g.across + x, load8(m + x - 1) | load8(m + x) | load8(m + x + 1));
        // The last word reaches past the grid's right edge; nothing may spill there.
        std::memset(g.across + g.gw, 0, static_cast<size_t>(8 * g.words - g.gw));
        for (int64_t y = std::max(gy - 1, int64_t{0}); y <= std::min(gy + 1, g.gh - 1); ++y) {
            uint8_t* out = g.dilRow(y);
            for (int64_t x = 0; x < 8 * g.words; x += 8)
                store8(out + x, load8(out + x) | load8(g.across + x));
        }
    }
}

// Components (4-connected) from the runs of each row of the dilated grid: a run joins every
// run of the row above that shares a column with it.
void findComponents(ScanGrids& g) {
    Run* runs = g.runs;
    int32_t nRuns = 0, prevStart = 0, prevEnd = 0;
    const int64_t bitWords = (g.gw + 63) / 64;
    for (int64_t gy = 0; gy < g.gh; ++gy) {
        const uint8_t* row = g.dilRow(gy);
        const int32_t rowStart = nRuns;
        // The row as a bit set, then its runs from the first set and first clear bits.
        uint64_t bits[(RING_SCAN_MAX_SIDE + 63) / 64] = {};
        for (int64_t x = 0; x < 8 * g.words; x += 8)
            bits[x / 64] |= cellBits(load8(row + x)) << (x % 64);
        int64_t x = 0;
        while (true) {
            x = nextBit(bits, bitWords, x, 0);
            if (x >= g.gw) break;
            const int64_t end = std::min(nextBit(bits, bitWords, x, ~uint64_t{0}), g.gw);
            runs[nRuns] = Run{int32_t(x), int32_t(end), int32_t(gy), nRuns};
            ++nRuns;
            x = end;
        }
        int32_t above = prevStart;
        for (int32_t j = rowStart; j < nRuns; ++j) {
            while (above < prevEnd && runs[above].x1 <= runs[j].x0) ++above;
            for (int32_t k = above; k < prevEnd && runs[k].x0 < runs[j].x1; ++k) join(runs, k, j);
        }
        prevStart = rowStart;
        prevEnd = nRuns;
    }
    g.nRuns = nRuns;
}

// Boxes and cell counts, then the two rectangles each test counts in, then the counts.
void measureComponents(ScanGrids& g) {
    Run* runs = g.runs;
    for (int32_t i = 0; i < g.nRuns; ++i) {
        const Run& r = runs[i];
        const int32_t root = rootOf(runs, i);
        Blob& b = g.blobs[root];
        if (root == i) {
            b.minX = r.x0, b.maxX = r.x1 - 1, b.minY = r.y, b.maxY = r.y;
            b.cells = r.x1 - r.x0;
        } else {
            b.minX = std::min(b.minX, r.x0);
            b.maxX = std::max(b.maxX, r.x1 - 1);
            b.maxY = r.y;
            b.cells += r.x1 - r.x0;
        }
    }
    for (int32_t i = 0; i < g.nRuns; ++i) {
        if (runs[i].parent != i) continue;
        Blob& b = g.blobs[i];
        const int64_t bw = b.maxX - b.minX + 1, bh = b.maxY - b.minY + 1;
        const int64_t band = std::min(
            std::max(static_cast<int64_t>(std::round(double(std::min(bw, bh)) * 0.06)), int64_t{3}),
            int64_t{12});
        b.band = int32_t(band);
        b.bandX0 = int32_t(b.minX + band), b.bandX1 = int32_t(b.maxX - band);
        b.bandY0 = int32_t(b.minY + band), b.bandY1 = int32_t(b.maxY - band);
        b.midX0 = int32_t(b.minX + bw / 4), b.midX1 = int32_t(b.maxX - bw / 4);
        b.midY0 = int32_t(b.minY + bh / 4), b.midY1 = int32_t(b.maxY - bh / 4);
        b.inner = 0;
        b.centre = 0;
    }
    for (int32_t i = 0; i < g.nRuns; ++i) {
        const Run& r = runs[i];
        Blob& b = g.blobs[rootOf(runs, i)];
        b.inner += runInside(r, b.bandX0, b.bandX1, b.bandY0, b.bandY1);
        b.centre += runInside(r, b.midX0, b.midX1, b.midY0, b.midY1);
    }
}

// The share of the outline band a component fills, or nothing with the rejection counted.
std::optional<double> ringShare(const Blob& b, int64_t minSide, RingScan& scan) {
    const int64_t bw = b.maxX - b.minX + 1;
    const int64_t bh = b.maxY - b.minY + 1;
    if (bw < minSide || bh < minSide) {
        ++scan.rejSize;
        return std::nullopt;
    }
    const double aspect = double(bw) / double(bh);
    if (aspect < RING_ASPECT_MIN || aspect > RING_ASPECT_MAX) {
        ++scan.rejAspect;
        return std::nullopt;
    }
    const int64_t band = b.band;
    if (!(bw > 2 * band && bh > 2 * band)) {
        ++scan.rejThin;
        return std::nullopt;
    }
    const int64_t perimCount = b.cells - b.inner;
    const int64_t perimArea = bw * bh - (bw - 2 * band) * (bh - 2 * band);
    const double perim = perimArea < 1 ? 0.0 : double(perimCount) / double(perimArea);
    if (perim < RING_PERIM_GREEN_THRESH) {
        ++scan.rejPerim;
        return std::nullopt;
    }
    const int64_t qx = bw / 4;
    const int64_t qy = bh / 4;
    const int64_t centreArea = (bw - 2 * qx) * (bh - 2 * qy);
    const double fill = centreArea > 0 ? double(b.centre) / double(centreArea) : 1.0;
    if (fill > RING_INTERIOR_FILL_MAX) {
        ++scan.rejFill;
        return std::nullopt;
    }
    return perim;
}

// The tests, component by component in the order of their first cells; keeps the best.
void judgeComponents(const ScanGrids& g, const Bitmap& bm, int64_t step, RingScan& scan) {
    const int64_t minSide =
        std::max(static_cast<int64_t>(std::round(RING_MIN_SIDE_FRAC * double(g.gw))), int64_t{4});
    for (int32_t i = 0; i < g.nRuns; ++i) {
        if (g.runs[i].parent != i) continue;
        const Blob& b = g.blobs[i];
        ++scan.blobs;
        const std::optional<double> perim = ringShare(b, minSide, scan);
        // Strictly greater: on a tie the blob seeded first keeps its place.
        if (!perim || (scan.best && *perim <= scan.best->score)) continue;
        const int64_t bw = b.maxX - b.minX + 1;
        const int64_t bh = b.maxY - b.minY + 1;
        RingBlobDetection det;
        det.rect = Rect{double(b.minX * step) / double(bm.w), double(b.minY * step) / double(bm.h),
                        double((bw - 1) * step + 1) / double(bm.w),
                        double((bh - 1) * step + 1) / double(bm.h)};
        det.score = *perim;
        det.scanX = b.minX;
        det.scanY = b.minY;
        det.scanW = bw;
        det.scanH = bh;
        scan.best = det;
    }
}

}  // namespace

RingScan scanForGreenRing(const Bitmap& bm) {
    RingScan scan;
    const int64_t step =
        std::max((std::max(bm.w, bm.h) + RING_SCAN_MAX_SIDE - 1) / RING_SCAN_MAX_SIDE, int64_t{1});
    const int64_t gw = (bm.w + step - 1) / step;
    const int64_t gh = (bm.h + step - 1) / step;
    if (gw < 8 || gh < 8 || bm.ptr == nullptr) return scan;

    ScanGrids grids(gw, gh);
    bool rowAny[RING_SCAN_MAX_SIDE];
    if (!sampleMask(bm, step, grids, rowAny)) return scan;
    dilate(grids, rowAny);
    findComponents(grids);
    measureComponents(grids);
    judgeComponents(grids, bm, step, scan);
    return scan;
}

}  // namespace tessival
