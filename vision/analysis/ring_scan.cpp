#include "analysis/ring_scan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "analysis/pixel.h"

namespace tessival {

namespace {

// Grid cells are addressed by packed coordinates (y << 16 | x) on a grid with a one-cell
// empty border, so a neighbour is one addition away and needs no bounds test. Grids are
// at most 640 cells a side, which leaves room to spare in 16 bits.
constexpr uint32_t ROW = uint32_t{1} << 16;

uint32_t packCell(int64_t x, int64_t y) { return static_cast<uint32_t>(y) << 16 | uint32_t(x); }
int64_t cellX(uint32_t c) { return c & (ROW - 1); }
int64_t cellY(uint32_t c) { return c >> 16; }

// Cell states on the dilated grid.
constexpr uint8_t SET = 1;
constexpr uint8_t VISITED = 2;

// Number of `cells` (padded packed coordinates) inside columns x0..x1 and rows y0..y1 of
// the padded grid, all inclusive.
int64_t countInside(const uint32_t* cells, int64_t n, int64_t x0, int64_t x1, int64_t y0,
                    int64_t y1) {
    int64_t count = 0;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t x = cellX(cells[i]), y = cellY(cells[i]);
        count += (x >= x0 && x <= x1 && y >= y0 && y <= y1) ? 1 : 0;
    }
    return count;
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
                for (; lanes != 0; lanes &= lanes - 1) out[gx + __builtin_ctz(lanes)] = 1;
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

// Reads and writes eight grid cells at once; grid rows are padded to allow it.
uint64_t load8(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
void store8(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

}  // namespace

RingScan scanForGreenRing(const Bitmap& bm) {
    RingScan scan;
    const int64_t W = bm.w;
    const int64_t H = bm.h;
    const int64_t step =
        std::max((std::max(W, H) + RING_SCAN_MAX_SIDE - 1) / RING_SCAN_MAX_SIDE, int64_t{1});
    const int64_t gw = (W + step - 1) / step;
    const int64_t gh = (H + step - 1) / step;
    if (gw < 8 || gh < 8 || bm.ptr == nullptr) return scan;

    // One allocation: the mask and its dilation as padded byte grids, a row of horizontal
    // dilation, and the cell list of the component being filled (at most every cell).
    // Rows hold a left border cell, gw cells and enough right border for whole 8-cell words.
    const int64_t words = (gw + 7) / 8;
    const int64_t stride = 8 * words + 8;
    const size_t gridBytes = static_cast<size_t>(stride * (gh + 2));
    const size_t cellCap = static_cast<size_t>(gw * gh);
    std::unique_ptr<uint32_t[]> buffer(
        new uint32_t[cellCap + (2 * gridBytes + static_cast<size_t>(stride) + 3) / 4]);
    uint32_t* cells = buffer.get();
    uint8_t* mask = reinterpret_cast<uint8_t*>(cells + cellCap);
    uint8_t* dil = mask + gridBytes;
    uint8_t* across = dil + gridBytes;
    auto maskRow = [&](int64_t y) { return mask + (y + 1) * stride + 1; };
    auto dilRow = [&](int64_t y) { return dil + (y + 1) * stride + 1; };

    // Mask: one sample per cell, its top-left pixel. Every cell of the bitmap's grid lies
    // inside the bitmap, so only the byte offset can make a sample unreadable.
    std::memset(mask, 0, static_cast<size_t>(stride));
    std::memset(mask + (gh + 1) * stride, 0, static_cast<size_t>(stride));
    bool any = false;
    bool rowAny[RING_SCAN_MAX_SIDE];
    for (int64_t gy = 0; gy < gh; ++gy) {
        uint8_t* row = maskRow(gy);
        row[-1] = 0;
        std::memset(row + gw, 0, static_cast<size_t>(stride - 1 - gw));
        rowAny[gy] = classifyRow(bm, gy * step, step, gw, row);
        any |= rowAny[gy];
    }
    if (!any) return scan;

    // Dilation by 3 x 3: across each row, then down the columns. The empty border clips it
    // to the grid.
    std::memset(dil, 0, gridBytes);
    for (int64_t gy = 0; gy < gh; ++gy) {
        if (!rowAny[gy]) continue;
        const uint8_t* m = maskRow(gy);
        for (int64_t x = 0; x < 8 * words; x += 8)
            store8(across + x, load8(m + x - 1) | load8(m + x) | load8(m + x + 1));
        // The last word reaches past the grid's right edge; nothing may spill there.
        std::memset(across + gw, 0, static_cast<size_t>(8 * words - gw));
        for (int64_t y = std::max(gy - 1, int64_t{0}); y <= std::min(gy + 1, gh - 1); ++y) {
            uint8_t* out = dilRow(y);
            for (int64_t x = 0; x < 8 * words; x += 8)
                store8(out + x, load8(out + x) | load8(across + x));
        }
    }

    const int64_t minSide =
        std::max(static_cast<int64_t>(std::round(RING_MIN_SIDE_FRAC * double(gw))), int64_t{4});

    // Components in row-major seed order. Which order a component's cells are collected in
    // changes nothing measured, so the cell list doubles as the work queue.
    const uint32_t neighbours[4] = {uint32_t(-1), 1, uint32_t(-int64_t(ROW)), ROW};
    constexpr uint64_t ANY_SET = 0x0101010101010101u * SET;
    for (int64_t gy = 0; gy < gh; ++gy) {
        uint8_t* row = dilRow(gy);
        for (int64_t gx = 0; gx < gw; ++gx) {
            // Whole words of empty or already visited cells are passed over at once.
            if ((gx & 7) == 0 && (load8(row + gx) & ANY_SET) == 0) {
                gx += 7;
                continue;
            }
            if (row[gx] != SET) continue;
            ++scan.blobs;
            row[gx] = VISITED;
            // Padded coordinates from here on: the grid cell (x, y) is (x + 1, y + 1).
            cells[0] = packCell(gx + 1, gy + 1);
            int64_t n = 1;
            int64_t minX = gx + 1, maxX = gx + 1, minY = gy + 1, maxY = gy + 1;
            for (int64_t head = 0; head < n; ++head) {
                const uint32_t c = cells[head];
                const int64_t x = cellX(c), y = cellY(c);
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
                for (const uint32_t delta : neighbours) {
                    const uint32_t nc = c + delta;
                    uint8_t& state = dil[cellY(nc) * stride + cellX(nc)];
                    if (state == SET) {
                        state = VISITED;
                        cells[n++] = nc;
                    }
                }
            }

            const int64_t bw = maxX - minX + 1;
            const int64_t bh = maxY - minY + 1;
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
                std::min(std::max(static_cast<int64_t>(std::round(double(std::min(bw, bh)) * 0.06)),
                                  int64_t{3}),
                         int64_t{12});
            if (!(bw > 2 * band && bh > 2 * band)) {
                ++scan.rejThin;
                continue;
            }
            const int64_t inner =
                countInside(cells, n, minX + band, maxX - band, minY + band, maxY - band);
            const int64_t perimCount = n - inner;
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
                countInside(cells, n, minX + qx, maxX - qx, minY + qy, maxY - qy);
            const double fill = centreArea > 0 ? double(centre) / double(centreArea) : 1.0;
            if (fill > RING_INTERIOR_FILL_MAX) {
                ++scan.rejFill;
                continue;
            }
            // Strictly greater: on a tie the blob seeded first keeps its place.
            if (!scan.best || perim > scan.best->score) {
                const int64_t bx = minX - 1, by = minY - 1;
                RingBlobDetection det;
                det.rect = Rect{double(bx * step) / double(W), double(by * step) / double(H),
                                double((bw - 1) * step + 1) / double(W),
                                double((bh - 1) * step + 1) / double(H)};
                det.score = perim;
                det.scanX = bx;
                det.scanY = by;
                det.scanW = bw;
                det.scanH = bh;
                scan.best = det;
            }
        }
    }
    return scan;
}

}  // namespace tessival
