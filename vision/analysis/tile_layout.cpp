#include "analysis/tile_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace tessival {
namespace {

// A cell within this many levels of the background colour in every channel is background
// (room for JPEG noise and palette dithering, not for a tile's dark video).
constexpr int BG_TOL = 12;
// Neighbouring cells this close count as one flat colour when looking for the background.
constexpr int FLAT_TOL = 3;
// At most this share of a row or column of a block may be foreground for it to be a
// gutter: a label chip or an icon may reach across one.
constexpr double GUTTER_MAX_FILL = 0.06;
// A tile is mostly foreground (rounded corners and round avatars still pass).
constexpr double TILE_MIN_FILL = 0.72;
// Larger blocks are the window itself on a picture with a margin round it.
constexpr double TILE_MAX_AREA = 0.92;
// A tile's width over its height: a phone's portrait picture to a wide stage (the drawn tiles
// of real calls measure 0.5 to 2.6). A browser's active tab, a block of another colour over
// its window's background, is wider.
constexpr double TILE_ASPECT_MIN = 0.3;
constexpr double TILE_ASPECT_MAX = 3.0;
// Background colours tried, most common flat colour first.
constexpr int BACKGROUND_CANDIDATES = 4;
constexpr int MAX_CUT_DEPTH = 16;
// A block covering this share of its region (a window inside a screenshot's margin) is
// looked into for tiles of its own, which
// replace it when two or more of them have one size and they cover this share of it (a
// camera-off tile's avatar, or a self view floating on a speaker's tile, do not).
constexpr double NESTED_MIN_SHARE = 0.6;
constexpr double NESTED_MIN_COVER = 0.05;
// One block alone replaces it when it covers this share and most of the rest is the inner
// background: the stage of a single-tile call inside the window's chrome and side panel
// (not a flat part of a camera's picture).
constexpr double NESTED_STAGE_COVER = 0.4;
constexpr double NESTED_STAGE_SURROUND = 0.8;
constexpr double SAME_SIZE = 0.15;
// Tiles of one size covering this share of a region are its layout; no other background
// colour is tried.
constexpr double SETTLED_COVER = 0.4;
// A gap in a grid taken as a tile is at least this share its neighbours' gutter colour.
constexpr double GAP_MIN_BACKGROUND = 0.6;
// Tiles drawn edge to edge: neighbouring cells differ by more than this in some channel
// along at least this share of the straight line between them.
constexpr int EDGE_STEP = 40;
constexpr double EDGE_MIN_SHARE = 0.85;
// Tiles edge to edge divide their block evenly, into at most this many, to this share.
constexpr int EDGE_MAX_DIVISIONS = 8;
constexpr double EDGE_DIVISION_SLACK = 0.015;
// A block more than this share in one colour is empty space.
constexpr double EMPTY_TILE_SHARE = 0.995;
constexpr int MAX_NESTING = 2;
// Pictures floating on a large tile (a self view, a strip of thumbnails over the speaker's
// picture): rectangles whose four sides are straight colour edges along this share of their
// length (or the host's own edge), lying along one side of a host of at least this share of
// the picture, within this share of its side, and at most this share of its area.
constexpr double FLOAT_HOST_MIN_AREA = 0.2;
constexpr double FLOAT_SIDE_REACH = 0.08;
constexpr double FLOAT_MAX_AREA = 0.35;
constexpr double FLOAT_ASPECT_MIN = 0.5;
constexpr double FLOAT_ASPECT_MAX = 2.5;
// Missed edge cells a side's run may skip over (compression, a chip across the edge).
constexpr int64_t FLOAT_RUN_GAP = 2;
// Tiles of one row: tops level to this share of a tile's height, sizes alike to this share.
// One found taller than its row-mates by over the first share and up to the second ran into
// a bar under the gallery.
constexpr double ROW_TOP_SLACK = 0.02;
constexpr double ROW_SIZE_SLACK = 0.034;
constexpr double ROW_OVERRUN_MIN = 1.05;
constexpr double ROW_OVERRUN_MAX = 1.25;

struct Grid {
    int64_t w = 0, h = 0, step = 1;
    std::vector<uint32_t> cells;  // one sample per cell: byte 0 | byte 1 << 8 | byte 2 << 16
    uint32_t at(int64_t x, int64_t y) const { return cells[static_cast<size_t>(y * w + x)]; }
};

int channelDistance(uint32_t a, uint32_t b) {
    int d = 0;
    for (int s = 0; s < 24; s += 8) d = std::max(d, std::abs(int((a >> s) & 0xff) - int((b >> s) & 0xff)));
    return d;
}

// One sample from the middle of every step x step cell.
Grid sampleGrid(const Bitmap& bm) {
    Grid g;
    const int64_t side = std::max(bm.w, bm.h);
    g.step = std::max<int64_t>(1, (side + TILE_SCAN_MAX_SIDE - 1) / TILE_SCAN_MAX_SIDE);
    g.w = bm.w / g.step;
    g.h = bm.h / g.step;
    if (g.w < 8 || g.h < 8) return Grid{};
    g.cells.assign(static_cast<size_t>(g.w * g.h), 0);
    const int64_t half = g.step / 2;
    for (int64_t y = 0; y < g.h; ++y) {
        const int64_t row = (y * g.step + half) * bm.bpr;
        for (int64_t x = 0; x < g.w; ++x) {
            const int64_t o = row + (x * g.step + half) * bm.bpp;
            if (o < 0 || o + 2 >= bm.len) continue;
            const uint8_t* p = bm.ptr + o;
            g.cells[static_cast<size_t>(y * g.w + x)] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
        }
    }
    return g;
}

// The most common colours of flat stretches (a cell like its right or lower neighbour),
// each the mean of its 5-bit bin, and no two alike.
std::vector<uint32_t> backgroundCandidates(const Grid& g) {
    auto bin = [](uint32_t c) { return (c >> 3 & 31) | (c >> 11 & 31) << 5 | (c >> 19 & 31) << 10; };
    std::vector<uint32_t> count(32768, 0);
    std::vector<uint64_t> sum(32768 * 3, 0);
    for (int64_t y = 0; y + 1 < g.h; ++y) {
        for (int64_t x = 0; x + 1 < g.w; ++x) {
            const uint32_t c = g.at(x, y);
            if (channelDistance(c, g.at(x + 1, y)) > FLAT_TOL && channelDistance(c, g.at(x, y + 1)) > FLAT_TOL)
                continue;
            const uint32_t b = bin(c);
            ++count[b];
            for (int k = 0; k < 3; ++k) sum[b * 3 + k] += c >> (8 * k) & 0xff;
        }
    }
    std::vector<uint32_t> order(count.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::partial_sort(order.begin(), order.begin() + 64, order.end(),
                      [&](uint32_t a, uint32_t b) { return count[a] > count[b]; });
    std::vector<uint32_t> out;
    for (int i = 0; i < 64 && static_cast<int>(out.size()) < BACKGROUND_CANDIDATES; ++i) {
        const uint32_t b = order[static_cast<size_t>(i)];
        if (count[b] == 0) break;
        uint32_t mean = 0;
        for (int k = 0; k < 3; ++k) mean |= uint32_t(sum[b * 3 + k] / count[b]) << (8 * k);
        const bool alike = std::any_of(out.begin(), out.end(),
                                       [&](uint32_t c) { return channelDistance(c, mean) <= BG_TOL / 2; });
        if (!alike) out.push_back(mean);
    }
    return out;
}

struct Block {
    int64_t x0, y0, x1, y1;  // cells, half-open
    int64_t w() const { return x1 - x0; }
    int64_t h() const { return y1 - y0; }
};

// One component's cells over its bounding box, with a summed-area table to count them.
class ComponentMask {
  public:
    ComponentMask(const std::vector<int32_t>& labels, int64_t gridW, int32_t id, const Block& box)
        : box_(box), w_(box.w()), h_(box.h()), sums_(static_cast<size_t>((w_ + 1) * (h_ + 1)), 0) {
        for (int64_t y = 0; y < h_; ++y) {
            int32_t rowSum = 0;
            for (int64_t x = 0; x < w_; ++x) {
                rowSum += labels[static_cast<size_t>((box.y0 + y) * gridW + box.x0 + x)] == id;
                sums_[idx(x + 1, y + 1)] = sums_[idx(x + 1, y)] + rowSum;
            }
        }
    }
    // Component cells in the block (grid coordinates, inside the box).
    int64_t count(const Block& b) const {
        const int64_t x0 = b.x0 - box_.x0, x1 = b.x1 - box_.x0, y0 = b.y0 - box_.y0, y1 = b.y1 - box_.y0;
        return sums_[idx(x1, y1)] - sums_[idx(x0, y1)] - sums_[idx(x1, y0)] + sums_[idx(x0, y0)];
    }

  private:
    size_t idx(int64_t x, int64_t y) const { return static_cast<size_t>(y * (w_ + 1) + x); }
    Block box_;
    int64_t w_, h_;
    std::vector<int32_t> sums_;
};

bool isGutterRow(const ComponentMask& m, const Block& b, int64_t y) {
    return double(m.count({b.x0, y, b.x1, y + 1})) <= GUTTER_MAX_FILL * double(b.w());
}
bool isGutterColumn(const ComponentMask& m, const Block& b, int64_t x) {
    return double(m.count({x, b.y0, x + 1, b.y1})) <= GUTTER_MAX_FILL * double(b.h());
}

// Recursive cuts along gutters that cross the whole block; the blocks no gutter crosses.
void cutBlock(const ComponentMask& m, Block b, int depth, std::vector<Block>& leaves) {
    while (b.h() > 0 && isGutterRow(m, b, b.y0)) ++b.y0;
    while (b.h() > 0 && isGutterRow(m, b, b.y1 - 1)) --b.y1;
    while (b.w() > 0 && isGutterColumn(m, b, b.x0)) ++b.x0;
    while (b.w() > 0 && isGutterColumn(m, b, b.x1 - 1)) --b.x1;
    if (b.w() <= 0 || b.h() <= 0) return;
    if (depth >= MAX_CUT_DEPTH) {
        leaves.push_back(b);
        return;
    }
    // Rows first, then columns: a gallery splits into rows, each row into its tiles.
    for (const bool rows : {true, false}) {
        std::vector<Block> pieces;
        const int64_t lo = rows ? b.y0 : b.x0, hi = rows ? b.y1 : b.x1;
        int64_t start = lo;
        for (int64_t i = lo; i < hi; ++i) {
            const bool gutter = rows ? isGutterRow(m, b, i) : isGutterColumn(m, b, i);
            if (!gutter) continue;
            if (i > start) pieces.push_back(rows ? Block{b.x0, start, b.x1, i} : Block{start, b.y0, i, b.y1});
            start = i + 1;
        }
        if (pieces.empty()) continue;
        if (start < hi) pieces.push_back(rows ? Block{b.x0, start, b.x1, hi} : Block{start, b.y0, hi, b.y1});
        for (const Block& p : pieces) cutBlock(m, p, depth + 1, leaves);
        return;
    }
    leaves.push_back(b);
}

// Labels the 4-connected foreground components; their bounding boxes by label.
std::vector<Block> labelComponents(const std::vector<uint8_t>& fg, int64_t w, int64_t h,
                                   std::vector<int32_t>& labels) {
    labels.assign(fg.size(), -1);
    std::vector<Block> boxes;
    std::vector<std::pair<int32_t, int32_t>> stack;
    for (int64_t sy = 0; sy < h; ++sy) {
        for (int64_t sx = 0; sx < w; ++sx) {
            const size_t start = static_cast<size_t>(sy * w + sx);
            if (!fg[start] || labels[start] >= 0) continue;
            const int32_t id = static_cast<int32_t>(boxes.size());
            Block box{sx, sy, sx + 1, sy + 1};
            labels[start] = id;
            stack.emplace_back(static_cast<int32_t>(sx), static_cast<int32_t>(sy));
            while (!stack.empty()) {
                const auto [x, y] = stack.back();
                stack.pop_back();
                box.x0 = std::min<int64_t>(box.x0, x);
                box.x1 = std::max<int64_t>(box.x1, x + 1);
                box.y0 = std::min<int64_t>(box.y0, y);
                box.y1 = std::max<int64_t>(box.y1, y + 1);
                auto visit = [&](int32_t nx, int32_t ny) {
                    const size_t n = static_cast<size_t>(int64_t(ny) * w + nx);
                    if (!fg[n] || labels[n] >= 0) return;
                    labels[n] = id;
                    stack.emplace_back(nx, ny);
                };
                if (x > 0) visit(x - 1, y);
                if (x + 1 < w) visit(x + 1, y);
                if (y > 0) visit(x, y - 1);
                if (y + 1 < h) visit(x, y + 1);
            }
            boxes.push_back(box);
        }
    }
    return boxes;
}

struct Candidate {
    std::vector<Block> tiles;
    std::vector<uint32_t> backgrounds;  // one per tile
    double area = 0;                    // share of the region the tiles cover
    double score() const { return area * std::sqrt(double(tiles.size())); }
};

// The share of the cells of `b` within BG_TOL of `colour`.
double shareNear(const Grid& g, const Block& b, uint32_t colour) {
    int64_t n = 0;
    for (int64_t y = b.y0; y < b.y1; ++y)
        for (int64_t x = b.x0; x < b.x1; ++x) n += channelDistance(g.at(x, y), colour) <= BG_TOL;
    return b.w() > 0 && b.h() > 0 ? double(n) / (double(b.w()) * double(b.h())) : 0.0;
}

// The cells of `b` as a grid of their own.
Grid cropGrid(const Grid& g, const Block& b) {
    Grid out;
    out.w = b.w();
    out.h = b.h();
    out.step = g.step;
    out.cells.reserve(static_cast<size_t>(out.w * out.h));
    for (int64_t y = b.y0; y < b.y1; ++y)
        for (int64_t x = b.x0; x < b.x1; ++x) out.cells.push_back(g.at(x, y));
    return out;
}

// The foreground cells whose four neighbours are foreground too: a line one or two cells
// wide goes, such as a highlight frame drawn over the gutter, which would join the tiles
// either side of it.
std::vector<uint8_t> erode(const std::vector<uint8_t>& fg, int64_t w, int64_t h) {
    std::vector<uint8_t> out(fg.size(), 0);
    for (int64_t y = 1; y + 1 < h; ++y)
        for (int64_t x = 1; x + 1 < w; ++x) {
            const size_t i = static_cast<size_t>(y * w + x);
            out[i] = fg[i] && fg[i - 1] && fg[i + 1] && fg[i - static_cast<size_t>(w)] && fg[i + static_cast<size_t>(w)];
        }
    return out;
}

double overlapOfFirst(const Block& a, const Block& b) {
    const int64_t w = std::min(a.x1, b.x1) - std::max(a.x0, b.x0);
    const int64_t h = std::min(a.y1, b.y1) - std::max(a.y0, b.y0);
    if (w <= 0 || h <= 0) return 0;
    return double(w) * double(h) / (double(a.w()) * double(a.h()));
}

// True when a cut at `share` of a block's side divides it into equal tiles (a half, a
// third, two fifths...): tiles edge to edge are a grid of one size, while a video's own
// straight edges (a letterbox, a wall) fall anywhere.
bool dividesEvenly(double share) {
    for (int n = 2; n <= EDGE_MAX_DIVISIONS; ++n)
        for (int j = 1; j < n; ++j)
            if (std::abs(share - double(j) / double(n)) <= EDGE_DIVISION_SLACK) return true;
    return false;
}

// Splits a block along straight colour edges that cross it whole: tiles drawn edge to edge
// without a gutter. Both parts stay at least minW x minH cells.
void splitAtEdges(const Grid& g, const Block& b, double minW, double minH, int depth, std::vector<Block>& out) {
    if (depth < MAX_CUT_DEPTH) {
        for (const bool columns : {true, false}) {
            const int64_t lo = columns ? b.x0 : b.y0, hi = columns ? b.x1 : b.y1;
            const int64_t across = columns ? b.h() : b.w();
            const int64_t margin = static_cast<int64_t>(std::ceil(columns ? minW : minH));
            int64_t bestAt = -1, bestCount = 0;
            for (int64_t i = lo + margin; i <= hi - margin; ++i) {
                int64_t count = 0;
                for (int64_t k = 0; k < across; ++k) {
                    const uint32_t a = columns ? g.at(i - 1, b.y0 + k) : g.at(b.x0 + k, i - 1);
                    const uint32_t c = columns ? g.at(i, b.y0 + k) : g.at(b.x0 + k, i);
                    count += channelDistance(a, c) > EDGE_STEP;
                }
                if (count > bestCount) {
                    bestCount = count;
                    bestAt = i;
                }
            }
            if (bestAt >= 0 && double(bestCount) >= EDGE_MIN_SHARE * double(across) &&
                dividesEvenly(double(bestAt - lo) / double(hi - lo))) {
                const Block first = columns ? Block{b.x0, b.y0, bestAt, b.y1} : Block{b.x0, b.y0, b.x1, bestAt};
                const Block second = columns ? Block{bestAt, b.y0, b.x1, b.y1} : Block{b.x0, bestAt, b.x1, b.y1};
                splitAtEdges(g, first, minW, minH, depth + 1, out);
                splitAtEdges(g, second, minW, minH, depth + 1, out);
                return;
            }
        }
    }
    out.push_back(b);
}

// A bar along a block's top or bottom (an app's header or toolbar touching the tiles under
// it) is a run of rows of cells in one flat colour across the block, but for this share (its
// icons, title), that ends where the colour does: under it, at most half a row is in its
// colour (a flat backdrop inside a tile goes on).
constexpr double BAR_MIN_SHARE = 0.85;
constexpr double BAR_END_MAX_SHARE = 0.5;

// `b` without the bars along its top and bottom (see BAR_MIN_SHARE).
Block peelBars(const Grid& g, Block b) {
    for (const bool top : {true, false}) {
        const uint32_t colour = g.at((b.x0 + b.x1) / 2, top ? b.y0 : b.y1 - 1);
        auto share = [&](int64_t d) {
            const int64_t y = top ? b.y0 + d : b.y1 - 1 - d;
            return shareNear(g, Block{b.x0, y, b.x1, y + 1}, colour);
        };
        int64_t run = 0;
        while (run < b.h() - 1 && share(run) >= BAR_MIN_SHARE) ++run;
        if (run == 0 || run >= b.h() - 1 || share(run) > BAR_END_MAX_SHARE) continue;
        (top ? b.y0 : b.y1) += top ? run : -run;
    }
    return b;
}

// The blocks of the components of `fg` that pass as tiles, each at least minW x minH cells.
std::vector<Block> tileBlocks(const std::vector<uint8_t>& fg, const Grid& g, double minW, double minH,
                              bool edges) {
    std::vector<int32_t> labels;
    const std::vector<Block> boxes = labelComponents(fg, g.w, g.h, labels);
    const double gridArea = double(g.w) * double(g.h);
    std::vector<Block> out;
    for (size_t id = 0; id < boxes.size(); ++id) {
        const Block& box = boxes[id];
        if (double(box.w()) < minW || double(box.h()) < minH) continue;
        const ComponentMask mask(labels, g.w, static_cast<int32_t>(id), box);
        // A block is filled like a tile before it is split at edges (a row of tiles edge to
        // edge has no tile's shape yet); each part must then be a tile.
        auto filled = [&](const Block& b) {
            const double w = double(b.w()), h = double(b.h());
            return w >= minW && h >= minH && double(mask.count(b)) >= TILE_MIN_FILL * w * h;
        };
        auto passes = [&](const Block& b) {
            const double w = double(b.w()), h = double(b.h());
            return filled(b) && w * h <= TILE_MAX_AREA * gridArea && w / h >= TILE_ASPECT_MIN &&
                   w / h <= TILE_ASPECT_MAX;
        };
        std::vector<Block> cut;
        cutBlock(mask, box, 0, cut);
        // A block that is no tile's shape may be tiles under a bar that touches them: without
        // the bar, the tiles' own gutters cut it.
        for (size_t k = 0, n = cut.size(); k < n; ++k) {
            if (filled(cut[k])) continue;
            const Block peeled = peelBars(g, cut[k]);
            if (peeled.w() == cut[k].w() && peeled.h() == cut[k].h()) continue;
            std::vector<Block> under;
            cutBlock(mask, peeled, 0, under);
            for (const Block& u : under)
                if (filled(u)) cut.push_back(u);
        }
        for (const Block& b : cut) {
            // The whole picture in one block is no grid: the background was wrong.
            if (!filled(b) || double(b.w()) * double(b.h()) > TILE_MAX_AREA * gridArea) continue;
            // Edge to edge tiles are all tiles; a split leaving a part that is none (a strip
            // of margin under a tile) was no grid.
            std::vector<Block> parts;
            if (edges)
                splitAtEdges(g, b, minW, minH, 0, parts);
            else
                parts.push_back(b);
            if (std::all_of(parts.begin(), parts.end(), passes))
                out.insert(out.end(), parts.begin(), parts.end());
            else if (passes(b))
                out.push_back(b);
        }
    }
    return out;
}

// True when the block is all one colour, the colour of its middle: the space a frame
// encloses, not a tile (a camera-off tile still shows an avatar or a name).
bool empty(const Grid& g, const Block& b) {
    return shareNear(g, b, g.at((b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2)) > EMPTY_TILE_SHARE;
}

// Tiles on `background`, each at least minW x minH cells, none of them empty. The foreground is read as it is
// and thinned (a highlight frame over a gutter joins the tiles either side of it, and a
// dark video thins to nothing): a block that holds two or more thinned tiles is those
// tiles, and a thinned tile where nothing else is found is kept.
Candidate tilesOnBackground(const Grid& g, uint32_t background, double minW, double minH, bool edges) {
    std::vector<uint8_t> fg(g.cells.size());
    for (size_t i = 0; i < fg.size(); ++i) fg[i] = channelDistance(g.cells[i], background) > BG_TOL;
    const std::vector<Block> whole = tileBlocks(fg, g, minW, minH, edges);
    std::vector<Block> thinned;
    for (const Block& b : tileBlocks(erode(fg, g.w, g.h), g, minW - 2, minH - 2, edges)) {
        // One cell back on every side, as the erosion took it.
        thinned.push_back(Block{std::max<int64_t>(b.x0 - 1, 0), std::max<int64_t>(b.y0 - 1, 0),
                                std::min(b.x1 + 1, g.w), std::min(b.y1 + 1, g.h)});
    }
    std::vector<Block> tiles;
    for (const Block& a : whole) {
        std::vector<Block> inside;
        for (const Block& b : thinned)
            if (overlapOfFirst(b, a) >= 0.8) inside.push_back(b);
        if (inside.size() >= 2)
            tiles.insert(tiles.end(), inside.begin(), inside.end());
        else
            tiles.push_back(a);
    }
    for (const Block& b : thinned) {
        const bool alone = std::none_of(whole.begin(), whole.end(),
                                        [&](const Block& a) { return overlapOfFirst(b, a) >= 0.2; });
        if (alone) tiles.push_back(b);
    }
    Candidate c;
    const double gridArea = double(g.w) * double(g.h);
    for (const Block& b : tiles) {
        if (empty(g, b)) continue;
        c.tiles.push_back(b);
        c.backgrounds.push_back(background);
        c.area += double(b.w()) * double(b.h()) / gridArea;
    }
    return c;
}

// The share of the cells of `g` outside `inner` within BG_TOL of `background`.
double backgroundRound(const Grid& g, const Block& inner, uint32_t background) {
    const double all = double(g.w) * double(g.h), in = double(inner.w()) * double(inner.h());
    if (all <= in) return 0.0;
    const double near = shareNear(g, Block{0, 0, g.w, g.h}, background) * all - shareNear(g, inner, background) * in;
    return near / (all - in);
}

// True when two of the tiles have one size: tiles of a layout, not things inside a tile.
bool repeatsATileSize(const std::vector<Block>& tiles) {
    for (size_t i = 0; i < tiles.size(); ++i)
        for (size_t k = i + 1; k < tiles.size(); ++k) {
            const Block& a = tiles[i];
            const Block& b = tiles[k];
            if (std::abs(a.w() - b.w()) <= SAME_SIZE * double(std::max(a.w(), b.w())) &&
                std::abs(a.h() - b.h()) <= SAME_SIZE * double(std::max(a.h(), b.h())))
                return true;
        }
    return false;
}

// The best tiling of `g`: over the commonest flat colours as background, the one whose
// tiles cover most, more tiles counting for more. A large block is looked into again: a
// window inside a screenshot's margin, or a call inside a browser, has its own gutters.
Candidate bestLayout(const Grid& g, double minW, double minH, int depth) {
    Candidate best;
    const std::vector<uint32_t> backgrounds = backgroundCandidates(g);
    for (const uint32_t background : backgrounds) {
        Candidate c = tilesOnBackground(g, background, minW, minH, true);
        if (c.score() > best.score()) best = std::move(c);
        // A gallery covering much of the region settles it: the other colours cost time.
        if (best.area >= SETTLED_COVER && repeatsATileSize(best.tiles)) break;
    }
    if (depth >= MAX_NESTING) return best;
    Candidate out;
    const double gridArea = double(g.w) * double(g.h);
    for (size_t i = 0; i < best.tiles.size(); ++i) {
        const Block& t = best.tiles[i];
        const double share = double(t.w()) * double(t.h()) / gridArea;
        if (share >= NESTED_MIN_SHARE) {
            const Grid within = cropGrid(g, t);
            const Candidate inner = bestLayout(within, minW, minH, depth + 1);
            const bool stage = inner.tiles.size() == 1 && inner.area >= NESTED_STAGE_COVER &&
                               backgroundRound(within, inner.tiles[0], inner.backgrounds[0]) >= NESTED_STAGE_SURROUND;
            if ((inner.area >= NESTED_MIN_COVER && repeatsATileSize(inner.tiles)) || stage) {
                for (size_t k = 0; k < inner.tiles.size(); ++k) {
                    const Block& b = inner.tiles[k];
                    out.tiles.push_back(Block{b.x0 + t.x0, b.y0 + t.y0, b.x1 + t.x0, b.y1 + t.y0});
                    out.backgrounds.push_back(inner.backgrounds[k]);
                }
                out.area += inner.area * share;
                continue;
            }
        }
        out.tiles.push_back(t);
        out.backgrounds.push_back(best.backgrounds[i]);
        out.area += share;
    }
    return out;
}

// Straight colour edges of a grid: between each cell and the one above (rows) and the one to
// its left (columns), summed along rows and along columns to count them over a stretch.
class EdgeMap {
  public:
    explicit EdgeMap(const Grid& g)
        : w_(g.w),
          h_(g.h),
          rows_(static_cast<size_t>((g.w + 1) * g.h), 0),
          cols_(static_cast<size_t>((g.h + 1) * g.w), 0) {
        for (int64_t y = 0; y < h_; ++y)
            for (int64_t x = 0; x < w_; ++x) {
                const bool above = y > 0 && channelDistance(g.at(x, y - 1), g.at(x, y)) > EDGE_STEP;
                const bool left = x > 0 && channelDistance(g.at(x - 1, y), g.at(x, y)) > EDGE_STEP;
                rows_[idxRow(x + 1, y)] = rows_[idxRow(x, y)] + above;
                cols_[idxCol(x, y + 1)] = cols_[idxCol(x, y)] + left;
            }
    }
    bool above(int64_t x, int64_t y) const { return rows_[idxRow(x + 1, y)] != rows_[idxRow(x, y)]; }
    // Edge cells on the line above row y over columns [x0, x1), and left of column x over rows [y0, y1).
    int64_t alongRow(int64_t y, int64_t x0, int64_t x1) const { return rows_[idxRow(x1, y)] - rows_[idxRow(x0, y)]; }
    int64_t alongColumn(int64_t x, int64_t y0, int64_t y1) const { return cols_[idxCol(x, y1)] - cols_[idxCol(x, y0)]; }

  private:
    size_t idxRow(int64_t x, int64_t y) const { return static_cast<size_t>(y * (w_ + 1) + x); }
    size_t idxCol(int64_t x, int64_t y) const { return static_cast<size_t>(x * (h_ + 1) + y); }
    int64_t w_, h_;
    std::vector<int32_t> rows_, cols_;
};

// The pictures floating on `host` (see FLOAT_HOST_MIN_AREA), each at least minW x minH cells.
std::vector<Block> floatingTiles(const Grid& g, const EdgeMap& edges, const Block& host, double minW, double minH) {
    // A side holds when its line is an edge along most of it, or is the host's own edge.
    auto rowHolds = [&](int64_t y, int64_t x0, int64_t x1) {
        return y == host.y0 || y == host.y1 || double(edges.alongRow(y, x0, x1)) >= EDGE_MIN_SHARE * double(x1 - x0);
    };
    auto columnHolds = [&](int64_t x, int64_t y0, int64_t y1) {
        return x == host.x0 || x == host.x1 || double(edges.alongColumn(x, y0, y1)) >= EDGE_MIN_SHARE * double(y1 - y0);
    };
    // Spans of columns from runs of horizontal edges long enough for a tile's top or bottom.
    std::vector<std::pair<int64_t, int64_t>> spans;
    for (int64_t y = host.y0 + 1; y < host.y1; ++y) {
        int64_t start = -1, last = -1;
        for (int64_t x = host.x0; x <= host.x1; ++x) {
            const bool on = x < host.x1 && edges.above(x, y);
            if (on) {
                if (start < 0 || x - last > FLOAT_RUN_GAP + 1) {
                    if (start >= 0 && double(last + 1 - start) >= minW) spans.emplace_back(start, last + 1);
                    start = x;
                }
                last = x;
            } else if (x == host.x1 && start >= 0 && double(last + 1 - start) >= minW) {
                spans.emplace_back(start, last + 1);
            }
        }
    }
    std::sort(spans.begin(), spans.end());
    spans.erase(std::unique(spans.begin(), spans.end()), spans.end());
    const double hostArea = double(host.w()) * double(host.h());
    std::vector<Block> out;
    for (const auto& [x0, x1] : spans) {
        std::vector<int64_t> lines;
        for (int64_t y = host.y0; y <= host.y1; ++y)
            if (rowHolds(y, x0, x1)) lines.push_back(y);
        // Between two neighbouring edge lines: a tile's picture, with its name bar (a line
        // of its own) just under it.
        for (size_t k = 0; k + 1 < lines.size(); ++k) {
            const Block b{x0, lines[k], x1, lines[k + 1]};
            const double w = double(b.w()), h = double(b.h());
            if (h < minH || w / h < FLOAT_ASPECT_MIN || w / h > FLOAT_ASPECT_MAX || w * h > FLOAT_MAX_AREA * hostArea)
                continue;
            if (!columnHolds(b.x0, b.y0, b.y1) || !columnHolds(b.x1, b.y0, b.y1)) continue;
            // At most two of its sides are the host's: one lying across the host is a band of it.
            const int onHost = (b.x0 == host.x0) + (b.x1 == host.x1) + (b.y0 == host.y0) + (b.y1 == host.y1);
            if (onHost > 2) continue;
            const bool alongSide = double(b.x0 - host.x0) <= FLOAT_SIDE_REACH * double(host.w()) ||
                                   double(host.x1 - b.x1) <= FLOAT_SIDE_REACH * double(host.w()) ||
                                   double(b.y0 - host.y0) <= FLOAT_SIDE_REACH * double(host.h()) ||
                                   double(host.y1 - b.y1) <= FLOAT_SIDE_REACH * double(host.h());
            if (!alongSide || empty(g, b)) continue;
            const bool known = std::any_of(out.begin(), out.end(), [&](const Block& o) {
                return overlapOfFirst(b, o) > 0.5 || overlapOfFirst(o, b) > 0.5;
            });
            if (!known) out.push_back(b);
        }
    }
    return out;
}

// Trims a tile that reaches a little below the others of its row: tiles of one row of a
// gallery are one size, and one found taller ran into what lies under the gallery (a status
// bar, a toolbar in a colour near the tile's), which puts its label band below its label.
void evenRows(Candidate& c) {
    std::vector<Block>& tiles = c.tiles;
    const auto near = [](int64_t a, int64_t b, double share) { return double(std::abs(a - b)) <= share * double(b); };
    for (size_t i = 0; i < tiles.size(); ++i) {
        std::vector<int64_t> heights;
        for (size_t k = 0; k < tiles.size(); ++k) {
            const bool level = double(std::abs(tiles[k].y0 - tiles[i].y0)) <= ROW_TOP_SLACK * double(tiles[i].h());
            const bool rowMate = k != i && level && near(tiles[k].w(), tiles[i].w(), ROW_SIZE_SLACK);
            if (rowMate) heights.push_back(tiles[k].h());
        }
        if (heights.empty()) continue;
        const auto [lo, hi] = std::minmax_element(heights.begin(), heights.end());
        // Taller by a bar's height, not by a tile's: a panel beside the gallery may share
        // its top and a tile's width.
        const double over = double(tiles[i].h()) / double(*hi);
        if (!near(*lo, *hi, ROW_SIZE_SLACK) || over <= ROW_OVERRUN_MIN || over > ROW_OVERRUN_MAX) continue;
        tiles[i].y1 = tiles[i].y0 + *hi;
    }
}

// Adds the pictures floating on the large tiles of `c` (see floatingTiles).
void addFloatingTiles(const Grid& g, double minW, double minH, Candidate& c) {
    const double gridArea = double(g.w) * double(g.h);
    std::optional<EdgeMap> edges;
    const size_t found = c.tiles.size();
    for (size_t i = 0; i < found; ++i) {
        const Block host = c.tiles[i];
        if (double(host.w()) * double(host.h()) < FLOAT_HOST_MIN_AREA * gridArea) continue;
        if (!edges) edges.emplace(g);
        for (const Block& b : floatingTiles(g, *edges, host, minW, minH)) {
            c.tiles.push_back(b);
            c.backgrounds.push_back(c.backgrounds[i]);
        }
    }
}

bool sameSize(const Block& a, const Block& b) {
    return std::abs(a.w() - b.w()) <= SAME_SIZE * double(std::max(a.w(), b.w())) &&
           std::abs(a.h() - b.h()) <= SAME_SIZE * double(std::max(a.h(), b.h()));
}

// Adds the gaps of a grid: a camera-off tile filled with the window's own background shows
// no edge, but sits where a row of tiles meets a column of them, or in a slot of a row
// between two tiles. A gap is mostly its neighbours' gutter colour and overlaps no tile.
void completeGrid(const Grid& g, Candidate& c) {
    const std::vector<Block> found = c.tiles;
    const std::vector<uint32_t> backgrounds = c.backgrounds;
    auto free = [&](const Block& s) {
        if (s.x0 < 0 || s.y0 < 0 || s.x1 > g.w || s.y1 > g.h) return false;
        for (const Block& t : c.tiles)
            if (overlapOfFirst(s, t) > 0.1) return false;
        return true;
    };
    // A picture where a row and a column of tiles cross is a tile too, though something drawn
    // over its edges (an overlay, a chip) hid them.
    auto consider = [&](const Block& s, uint32_t background, bool corner) {
        if (!free(s)) return;
        const double gutter = shareNear(g, s, background);
        if (gutter >= GAP_MIN_BACKGROUND || (corner && 1.0 - gutter >= TILE_MIN_FILL)) {
            c.tiles.push_back(s);
            c.backgrounds.push_back(background);
        }
    };
    for (size_t i = 0; i < found.size(); ++i) {
        const Block& a = found[i];
        for (size_t k = 0; k < found.size(); ++k) {
            const Block& b = found[k];
            if (k == i || !sameSize(a, b)) continue;
            // The corner of the rectangle a row and a column span.
            consider(Block{b.x0, a.y0, b.x0 + a.w(), a.y1}, backgrounds[i], true);
            // Slots between two tiles of one row.
            const int64_t gap = b.x0 - a.x1;
            if (std::abs(b.y0 - a.y0) * 4 <= a.h() && gap >= a.w()) {
                int64_t gutter = gap;
                for (const Block& t : found)
                    if (std::abs(t.y0 - a.y0) * 4 <= a.h() && t.x0 > a.x1) gutter = std::min(gutter, t.x0 - a.x1);
                for (int64_t x = a.x1 + gutter; x + a.w() <= b.x0; x += a.w() + gutter)
                    consider(Block{x, a.y0, x + a.w(), a.y1}, backgrounds[i], false);
            }
        }
    }
}

// Tiles of one gallery have one size to this share of a side; one found short keeps at least
// this share of their height.
constexpr double GALLERY_SIZE_SLACK = 0.1;
constexpr double SHORT_TILE_MIN_SHARE = 0.5;

// Each tile as wide as two or more of one size but shorter given their height: a camera-off
// tile whose lower part shades into the window's colour is found short, and its label lies
// under what was found. Not where the taller tile would run into another or out of the picture.
void lengthenShortTiles(std::vector<Rect>& tiles) {
    const auto near = [](double a, double b) { return std::abs(a - b) <= GALLERY_SIZE_SLACK * std::max(a, b); };
    const std::vector<Rect> found = tiles;
    for (size_t i = 0; i < found.size(); ++i) {
        const Rect& t = found[i];
        std::vector<Rect> taller;
        for (const Rect& u : found)
            if (near(u.width, t.width) && u.height > t.height * (1 + GALLERY_SIZE_SLACK)) taller.push_back(u);
        const bool oneSize = std::all_of(taller.begin(), taller.end(), [&](const Rect& u) {
            return near(u.width, taller.front().width) && near(u.height, taller.front().height);
        });
        if (taller.size() < 2 || !oneSize) continue;
        const Rect longer{t.x, t.y, t.width, taller.front().height};
        const bool free = std::none_of(found.begin(), found.end(), [&](const Rect& o) {
            return &o != &t && o.intersection(longer).area() > 0;
        });
        if (free && t.height >= SHORT_TILE_MIN_SHARE * longer.height && longer.maxY() <= 1) tiles[i] = longer;
    }
}

}  // namespace

std::optional<TileLayout> findTiles(const Bitmap& bm) {
    if (bm.ptr == nullptr || bm.bpp < 3) return std::nullopt;
    const Grid g = sampleGrid(bm);
    if (g.cells.empty()) return std::nullopt;
    Candidate best = bestLayout(g, TILE_MIN_WIDTH_FRAC * double(g.w), TILE_MIN_HEIGHT_FRAC * double(g.h), 0);
    if (best.tiles.empty()) return std::nullopt;
    completeGrid(g, best);
    evenRows(best);
    addFloatingTiles(g, TILE_MIN_WIDTH_FRAC * double(g.w), TILE_MIN_HEIGHT_FRAC * double(g.h), best);
    // Reading order: a tile whose top lies within half a tile of the top of its row's first
    // tile joins that row.
    std::vector<size_t> byTop(best.tiles.size());
    for (size_t i = 0; i < byTop.size(); ++i) byTop[i] = i;
    std::stable_sort(byTop.begin(), byTop.end(),
                     [&](size_t a, size_t b) { return best.tiles[a].y0 < best.tiles[b].y0; });
    std::vector<std::pair<size_t, size_t>> ordered;  // (row, tile)
    size_t row = 0, rowStart = byTop.empty() ? 0 : byTop[0];
    for (const size_t i : byTop) {
        const Block& t = best.tiles[i];
        const Block& first = best.tiles[rowStart];
        if ((t.y0 - first.y0) * 2 > std::min(t.h(), first.h())) {
            ++row;
            rowStart = i;
        }
        ordered.emplace_back(row, i);
    }
    std::stable_sort(ordered.begin(), ordered.end(), [&](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : best.tiles[a.second].x0 < best.tiles[b.second].x0;
    });
    TileLayout layout;
    const double W = double(bm.w), H = double(bm.h), s = double(g.step);
    for (const auto& [unused, i] : ordered) {
        const Block& b = best.tiles[i];
        // Back to pixels: a block of cells covers its cells' whole spans.
        const double x0 = double(b.x0) * s, y0 = double(b.y0) * s;
        const double x1 = std::min(double(b.x1) * s, W), y1 = std::min(double(b.y1) * s, H);
        layout.tiles.push_back(Rect{x0 / W, y0 / H, (x1 - x0) / W, (y1 - y0) / H});
        layout.backgrounds.push_back(best.backgrounds[i]);
    }
    lengthenShortTiles(layout.tiles);
    return layout;
}

int tileHolding(const std::vector<Rect>& tiles, const Rect& box) {
    int best = -1;
    for (size_t i = 0; i < tiles.size(); ++i) {
        if (!tiles[i].contains(box.midX(), box.midY())) continue;
        if (best < 0 || tiles[i].area() < tiles[static_cast<size_t>(best)].area()) best = static_cast<int>(i);
    }
    return best;
}

std::optional<TileLayout> findTiles(const Image& img) {
    const std::optional<Bitmap> bm = makeBitmap(img);
    return bm ? findTiles(*bm) : std::nullopt;
}

}  // namespace tessival
