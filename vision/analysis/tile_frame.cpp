#include "analysis/tile_frame.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace tessival {
namespace {

// Samples within this many levels of the frame colour in every channel are the frame
// (antialiasing and JPEG noise).
constexpr int FRAME_TOL = 28;
// The frame colour and the background differ by more than this in some channel.
constexpr int FRAME_BACKGROUND_GAP = 32;
// At most this share of the tile's inside may carry the frame colour.
constexpr double FRAME_INSIDE_MAX = 0.08;
// Lines are looked for this far either side of the found edge: a share of the picture's
// longer side (a tile edge is found to a scan cell), at least a few pixels.
constexpr double EDGE_SEARCH_FRAC = 0.006;
constexpr int64_t EDGE_SEARCH_MIN = 3;
// A frame's colour stands out: saturation (percent) and value, or this much lighter or
// darker than the background.
constexpr int FRAME_MIN_SATURATION_PCT = 35;
constexpr int FRAME_MIN_VALUE = 120;
constexpr int FRAME_MIN_CONTRAST = 110;
// A frame is the first thing met coming in from the gutter: only this many lines past the
// background are looked at (deeper ones are the picture, whose flat wall or shirt would
// outscore a one-pixel frame softened by compression).
constexpr int FRAME_FIRST_LINES = 3;
// Corners are skipped: rounded corners bend the frame away from a straight line.
constexpr double CORNER_SKIP = 0.12;

uint32_t pixelAt(const Bitmap& bm, int64_t x, int64_t y) {
    const int64_t o = y * bm.bpr + x * bm.bpp;
    if (x < 0 || y < 0 || x >= bm.w || y >= bm.h || o < 0 || o + 2 >= bm.len) return 0xff000000u;
    const uint8_t* p = bm.ptr + o;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
}

int distance(uint32_t a, uint32_t b) {
    int d = 0;
    for (int s = 0; s < 24; s += 8) d = std::max(d, std::abs(int((a >> s) & 0xff) - int((b >> s) & 0xff)));
    return d;
}

struct Line {
    double share = 0;
    uint32_t colour = 0;
};

// The commonest colour of a line of samples and the share of samples near it.
Line dominant(const std::vector<uint32_t>& samples) {
    if (samples.empty()) return {};
    // Modes over 4-bit bins, then the share within the tolerance of the winning bin's mean.
    std::array<uint16_t, 4096> bins{};
    uint32_t bestBin = 0;
    for (const uint32_t c : samples) {
        if (c >> 24) continue;
        const uint32_t b = (c >> 4 & 15) | (c >> 12 & 15) << 4 | (c >> 20 & 15) << 8;
        if (++bins[b] > bins[bestBin]) bestBin = b;
    }
    uint64_t sum[3] = {0, 0, 0};
    uint64_t n = 0;
    for (const uint32_t c : samples) {
        if (c >> 24 || ((c >> 4 & 15) | (c >> 12 & 15) << 4 | (c >> 20 & 15) << 8) != bestBin) continue;
        for (int k = 0; k < 3; ++k) sum[k] += c >> (8 * k) & 0xff;
        ++n;
    }
    if (n == 0) return {};
    uint32_t mean = 0;
    for (int k = 0; k < 3; ++k) mean |= uint32_t(sum[k] / n) << (8 * k);
    size_t near = 0;
    for (const uint32_t c : samples) near += !(c >> 24) && distance(c, mean) <= FRAME_TOL;
    return Line{double(near) / double(samples.size()), mean};
}

// A highlight is drawn to be seen: a saturated colour, or one far lighter or darker than
// the background (white on a dark window); a grey hairline round a panel is neither.
bool standsOut(uint32_t colour, uint32_t background) {
    const int r = colour & 0xff, g = colour >> 8 & 0xff, b = colour >> 16 & 0xff;
    const int mx = std::max({r, g, b}), mn = std::min({r, g, b});
    if (mx >= FRAME_MIN_VALUE && (mx - mn) * 100 >= FRAME_MIN_SATURATION_PCT * mx) return true;
    auto luma = [](uint32_t c) { return (299 * int(c & 0xff) + 587 * int(c >> 8 & 0xff) + 114 * int(c >> 16 & 0xff)) / 1000; };
    return std::abs(luma(colour) - luma(background)) >= FRAME_MIN_CONTRAST;
}

}  // namespace

bool sameFrameColour(uint32_t a, uint32_t b) { return distance(a, b) <= FRAME_TOL * 2; }

TileFrame tileFrame(const Bitmap& bm, const Rect& tile, uint32_t background) {
    if (bm.ptr == nullptr || bm.bpp < 3) return {};
    const double W = double(bm.w), H = double(bm.h);
    if (!(tile.width > 0) || !(tile.height > 0) || !std::isfinite(tile.x + tile.y + tile.width + tile.height))
        return {};
    const int64_t x0 = std::lround(std::clamp(tile.x, 0.0, 1.0) * W);
    const int64_t y0 = std::lround(std::clamp(tile.y, 0.0, 1.0) * H);
    const int64_t x1 = std::lround(std::clamp(tile.maxX(), 0.0, 1.0) * W) - 1;
    const int64_t y1 = std::lround(std::clamp(tile.maxY(), 0.0, 1.0) * H) - 1;
    if (x1 - x0 < 8 || y1 - y0 < 8) return {};
    const int64_t reach = std::max(EDGE_SEARCH_MIN, std::lround(EDGE_SEARCH_FRAC * std::max(W, H)));
    const int64_t skipX = std::lround(double(x1 - x0) * CORNER_SKIP);
    const int64_t skipY = std::lround(double(y1 - y0) * CORNER_SKIP);

    // Each side: of the first lines in from the gutter that are not the background, the one
    // that stands out most from it among those uniform enough to be a frame (compression
    // blends a thin frame into a darker line beside it).
    std::array<Line, 4> sides{};  // top, bottom, left, right
    std::vector<uint32_t> samples;
    for (int side = 0; side < 4; ++side) {
        const bool horizontal = side < 2;
        const int64_t edge = side == 0 ? y0 : side == 1 ? y1 : side == 2 ? x0 : x1;
        const int64_t inward = side == 0 || side == 2 ? 1 : -1;
        auto lineAt = [&](int64_t d) {
            const int64_t at = edge + d * inward;
            samples.clear();
            if (horizontal) {
                for (int64_t x = x0 + skipX; x <= x1 - skipX; ++x) samples.push_back(pixelAt(bm, x, at));
            } else {
                for (int64_t y = y0 + skipY; y <= y1 - skipY; ++y) samples.push_back(pixelAt(bm, at, y));
            }
            return dominant(samples);
        };
        // The gutter: the background line nearest the edge on its outer side (a narrow gutter
        // has the next tile beyond it).
        int64_t from = -reach;
        for (int64_t d = 0; d >= -reach; --d) {
            if (distance(lineAt(d).colour, background) <= FRAME_BACKGROUND_GAP) {
                from = d + 1;
                break;
            }
        }
        Line& chosen = sides[static_cast<size_t>(side)];
        int past = 0;
        for (int64_t d = from; d <= reach && past < FRAME_FIRST_LINES; ++d) {
            const Line l = lineAt(d);
            if (distance(l.colour, background) <= FRAME_BACKGROUND_GAP) continue;
            ++past;
            const bool uniform = l.share >= FRAME_MIN_SCORE;
            const bool chosenUniform = chosen.share >= FRAME_MIN_SCORE;
            if (uniform ? !chosenUniform || distance(l.colour, background) > distance(chosen.colour, background)
                        : !chosenUniform && l.share > chosen.share)
                chosen = l;
        }
    }
    // The frame colour is the best side's; at least three sides must carry it.
    const Line* best = &sides[0];
    for (const Line& s : sides)
        if (s.share > best->share) best = &s;
    double sum = 0;
    int agree = 0;
    for (const Line& s : sides) {
        if (s.share >= FRAME_MIN_SCORE && sameFrameColour(s.colour, best->colour)) {
            sum += s.share;
            ++agree;
        }
    }
    if (agree < 3 || !standsOut(best->colour, background)) return {};
    // The inside, on a sparse lattice, must not carry the colour.
    const int64_t insetX = std::max<int64_t>((x1 - x0) / 8, reach + 1);
    const int64_t insetY = std::max<int64_t>((y1 - y0) / 8, reach + 1);
    const int64_t stepX = std::max<int64_t>(1, (x1 - x0 - 2 * insetX) / 24);
    const int64_t stepY = std::max<int64_t>(1, (y1 - y0 - 2 * insetY) / 24);
    int64_t inside = 0, carrying = 0;
    for (int64_t y = y0 + insetY; y <= y1 - insetY; y += stepY) {
        for (int64_t x = x0 + insetX; x <= x1 - insetX; x += stepX) {
            ++inside;
            carrying += distance(pixelAt(bm, x, y), best->colour) <= FRAME_TOL;
        }
    }
    if (inside == 0 || double(carrying) > FRAME_INSIDE_MAX * double(inside)) return {};
    return TileFrame{sum / agree, best->colour};
}

}  // namespace tessival
