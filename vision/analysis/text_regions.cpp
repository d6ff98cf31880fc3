#include "analysis/text_regions.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace tessival {
namespace {

constexpr int64_t CELL = 8;
// A letter stroke on screen changes brightness by far more than a camera's grain does.
constexpr int EDGE_STEP = 56;
// Sharp changes a cell needs to count as text: a stroke's two sides over a few rows.
constexpr int CELL_MIN_EDGES = 8;
// Cells joined along a row: the gap between two words of a label at twice the size.
constexpr int64_t JOIN_CELLS = 3;

bool overlaps(const PixelArea& a, const PixelArea& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

PixelArea unite(const PixelArea& a, const PixelArea& b) {
    const int64_t x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const int64_t x1 = std::max(a.x + a.width, b.x + b.width);
    const int64_t y1 = std::max(a.y + a.height, b.y + b.height);
    return PixelArea{x0, y0, x1 - x0, y1 - y0};
}

// Merges boxes until no two overlap.
void mergeOverlapping(std::vector<PixelArea>& boxes) {
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t i = 0; i < boxes.size(); ++i) {
            for (size_t j = i + 1; j < boxes.size();) {
                if (overlaps(boxes[i], boxes[j])) {
                    boxes[i] = unite(boxes[i], boxes[j]);
                    boxes[j] = boxes.back();
                    boxes.pop_back();
                    changed = true;
                } else {
                    ++j;
                }
            }
        }
    }
}

// `lo`..`hi` widened about its middle to at least `side`, kept within 0..`limit`.
std::pair<int64_t, int64_t> widen(int64_t lo, int64_t hi, int64_t side, int64_t limit) {
    if (hi - lo >= side) return {lo, hi};
    if (side >= limit) return {0, limit};
    lo = std::clamp<int64_t>(lo - (side - (hi - lo)) / 2, 0, limit - side);
    return {lo, lo + side};
}

}  // namespace

std::vector<PixelArea> textComponents(const GreyImage& g) {
    if (g.width < 3 || g.height < 1 || static_cast<int64_t>(g.pixels.size()) < g.width * g.height) return {};
    const int64_t cw = (g.width + CELL - 1) / CELL;
    const int64_t ch = (g.height + CELL - 1) / CELL;
    std::vector<uint16_t> edges(static_cast<size_t>(cw * ch), 0);
    for (int64_t y = 0; y < g.height; ++y) {
        const uint8_t* row = g.pixels.data() + y * g.width;
        uint16_t* cellEdges = edges.data() + (y / CELL) * cw;
        for (int64_t x = 1; x + 1 < g.width; ++x) {
            if (std::abs(int(row[x + 1]) - int(row[x - 1])) >= EDGE_STEP) ++cellEdges[x / CELL];
        }
    }
    // 1: a text cell; 2: a gap between words of one line.
    std::vector<uint8_t> on(edges.size(), 0);
    for (size_t i = 0; i < edges.size(); ++i) on[i] = edges[i] >= CELL_MIN_EDGES;
    for (int64_t cy = 0; cy < ch; ++cy) {
        uint8_t* row = on.data() + cy * cw;
        int64_t last = -1;
        for (int64_t cx = 0; cx < cw; ++cx) {
            if (!row[cx]) continue;
            if (last >= 0 && cx - last - 1 <= JOIN_CELLS) std::fill(row + last + 1, row + cx, uint8_t{2});
            last = cx;
        }
    }
    // Connected groups of cells, four-neighbour, each as its bounding box padded by a cell.
    std::vector<PixelArea> boxes;
    std::vector<int64_t> stack;
    for (int64_t start = 0; start < cw * ch; ++start) {
        if (!on[static_cast<size_t>(start)]) continue;
        int64_t x0 = start % cw, x1 = x0, y0 = start / cw, y1 = y0;
        stack.assign(1, start);
        while (!stack.empty()) {
            const int64_t c = stack.back();
            stack.pop_back();
            if (!on[static_cast<size_t>(c)]) continue;
            const int64_t cx = c % cw, cy = c / cw;
            on[static_cast<size_t>(c)] = 0;
            x0 = std::min(x0, cx), x1 = std::max(x1, cx), y0 = std::min(y0, cy), y1 = std::max(y1, cy);
            if (cx > 0) stack.push_back(c - 1);
            if (cx + 1 < cw) stack.push_back(c + 1);
            if (cy > 0) stack.push_back(c - cw);
            if (cy + 1 < ch) stack.push_back(c + cw);
        }
        const int64_t px0 = std::max<int64_t>(0, (x0 - 1) * CELL);
        const int64_t py0 = std::max<int64_t>(0, (y0 - 1) * CELL);
        const int64_t px1 = std::min(g.width, (x1 + 2) * CELL);
        const int64_t py1 = std::min(g.height, (y1 + 2) * CELL);
        boxes.push_back(PixelArea{px0, py0, px1 - px0, py1 - py0});
    }
    return boxes;
}

std::vector<PixelArea> textRegions(const GreyImage& g) { return mergedRegions(textComponents(g)); }

std::vector<PixelArea> mergedRegions(std::vector<PixelArea> boxes) {
    mergeOverlapping(boxes);
    std::sort(boxes.begin(), boxes.end(),
              [](const PixelArea& a, const PixelArea& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    return boxes;
}

PixelArea atLeast(const PixelArea& box, int64_t minSide, int64_t width, int64_t height) {
    const auto [x0, x1] = widen(box.x, box.x + box.width, minSide, width);
    const auto [y0, y1] = widen(box.y, box.y + box.height, minSide, height);
    return PixelArea{x0, y0, x1 - x0, y1 - y0};
}

GreyImage cropGrey(const GreyImage& g, const PixelArea& box) {
    GreyImage out;
    const int64_t x0 = std::clamp<int64_t>(box.x, 0, g.width), x1 = std::clamp<int64_t>(box.x + box.width, 0, g.width);
    const int64_t y0 = std::clamp<int64_t>(box.y, 0, g.height), y1 = std::clamp<int64_t>(box.y + box.height, 0, g.height);
    if (x1 <= x0 || y1 <= y0 || static_cast<int64_t>(g.pixels.size()) < g.width * g.height) return out;
    out.width = x1 - x0;
    out.height = y1 - y0;
    out.inverted = g.inverted;
    out.pixels.resize(static_cast<size_t>(out.width * out.height));
    for (int64_t y = 0; y < out.height; ++y) {
        const uint8_t* src = g.pixels.data() + (y0 + y) * g.width + x0;
        uint8_t* dst = out.pixels.data() + y * out.width;
        std::copy_n(src, out.width, dst);
    }
    return out;
}

}  // namespace tessival
