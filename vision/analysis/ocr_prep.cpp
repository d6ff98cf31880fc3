#include "analysis/ocr_prep.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>
#include <vector>

namespace tessival {
namespace {

constexpr std::pair<int64_t, int64_t> STEPS[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};

// Whether a pixel (stored channels) is of a strong colour, as a speaker's ring or a tile's
// frame is: far from grey and not dark.
bool strongColour(const uint8_t* px) {
    const int hi = std::max({px[0], px[1], px[2]}), lo = std::min({px[0], px[1], px[2]});
    return hi >= COLOUR_LINE_MIN_LIGHT && hi - lo >= COLOUR_LINE_MIN_CHROMA;
}

// How many of `part`'s pixels (indices in rows `w` long) lie in an unbroken row or column of
// at least `minRun` of them.
size_t straightPixels(std::vector<int64_t> part, int64_t w, int64_t minRun) {
    std::vector<int64_t> straight;
    for (const bool rows : {true, false}) {
        const auto key = [&](int64_t i) { return rows ? i : (i % w) * (int64_t{1} << 32) + i / w; };
        std::sort(part.begin(), part.end(), [&](int64_t a, int64_t b) { return key(a) < key(b); });
        size_t first = 0;
        for (size_t n = 1; n <= part.size(); ++n) {
            const bool continues = n < part.size() && (rows ? part[n] == part[n - 1] + 1 && part[n] % w != 0
                                                            : part[n] == part[n - 1] + w);
            if (continues) continue;
            if (static_cast<int64_t>(n - first) >= minRun) straight.insert(straight.end(), part.begin() + first, part.begin() + n);
            first = n;
        }
    }
    std::sort(straight.begin(), straight.end());
    return static_cast<size_t>(std::unique(straight.begin(), straight.end()) - straight.begin());
}

}  // namespace

bool eraseColourLines(const Image& img, GreyImage& g) {
    const int64_t w = img.width, h = img.height;
    if (img.empty() || img.bytesPerPixel < 3 || g.width != w || g.height != h ||
        static_cast<int64_t>(g.pixels.size()) < w * h)
        return false;
    enum : uint8_t { PLAIN, COLOUR, SEEN, ERASED };
    std::vector<uint8_t> mark(static_cast<size_t>(w * h), PLAIN);
    for (int64_t y = 0; y < h; ++y) {
        const int64_t rowStart = y * img.bytesPerRow;
        if (rowStart + w * img.bytesPerPixel > static_cast<int64_t>(img.bytes.size())) break;
        const uint8_t* src = img.bytes.data() + rowStart;
        for (int64_t x = 0; x < w; ++x, src += img.bytesPerPixel)
            if (strongColour(src)) mark[static_cast<size_t>(y * w + x)] = COLOUR;
    }
    std::vector<int64_t> part, stack;
    std::vector<int64_t> erased;
    for (int64_t start = 0; start < w * h; ++start) {
        if (mark[static_cast<size_t>(start)] != COLOUR) continue;
        part.clear();
        stack.assign(1, start);
        mark[static_cast<size_t>(start)] = SEEN;
        int64_t x0 = w, y0 = h, x1 = -1, y1 = -1;
        while (!stack.empty()) {
            const int64_t i = stack.back();
            stack.pop_back();
            part.push_back(i);
            const int64_t x = i % w, y = i / w;
            x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
            for (const auto& [dx, dy] : STEPS) {
                const int64_t nx = x + dx, ny = y + dy;
                if (nx < 0 || ny < 0 || nx >= w || ny >= h || mark[static_cast<size_t>(ny * w + nx)] != COLOUR) continue;
                mark[static_cast<size_t>(ny * w + nx)] = SEEN;
                stack.push_back(ny * w + nx);
            }
        }
        // A line, a frame or a ring: no more pixels than its outline drawn thin, and most of
        // them in straight runs (not a coloured word, nor a frame run into a coloured shirt).
        const int64_t bw = x1 - x0 + 1, bh = y1 - y0 + 1;
        if (std::max(bw, bh) < COLOUR_LINE_MIN_LENGTH ||
            static_cast<int64_t>(part.size()) > 2 * COLOUR_LINE_MAX_THICKNESS * (bw + bh))
            continue;
        if (static_cast<double>(straightPixels(part, w, COLOUR_LINE_MIN_LENGTH / 2)) <
            COLOUR_LINE_STRAIGHT_SHARE * static_cast<double>(part.size()))
            continue;
        erased.insert(erased.end(), part.begin(), part.end());
    }
    // The edge round each line is erased too: its blend of line and background is no text.
    const size_t lineCount = erased.size();
    for (const int64_t i : erased) mark[static_cast<size_t>(i)] = ERASED;
    for (size_t n = 0; n < lineCount; ++n) {
        const int64_t x = erased[n] % w, y = erased[n] / w;
        for (const auto& [dx, dy] : STEPS) {
            const int64_t nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= w || ny >= h || mark[static_cast<size_t>(ny * w + nx)] == ERASED) continue;
            mark[static_cast<size_t>(ny * w + nx)] = ERASED;
            erased.push_back(ny * w + nx);
        }
    }
    std::vector<std::pair<int64_t, uint8_t>> fills;
    fills.reserve(erased.size());
    for (const int64_t i : erased) {
        const int64_t x = i % w, y = i / w;
        int best = -1;
        int64_t nearest = COLOUR_LINE_MAX_THICKNESS + 3;
        for (const auto& [dx, dy] : STEPS) {
            for (int64_t step = 1; step < nearest; ++step) {
                const int64_t nx = x + dx * step, ny = y + dy * step;
                if (nx < 0 || ny < 0 || nx >= w || ny >= h) break;
                if (mark[static_cast<size_t>(ny * w + nx)] != ERASED) {
                    nearest = step;
                    best = g.pixels[static_cast<size_t>(ny * w + nx)];
                    break;
                }
            }
        }
        if (best >= 0) fills.emplace_back(i, static_cast<uint8_t>(best));
    }
    for (const auto& [index, grey] : fills) g.pixels[static_cast<size_t>(index)] = grey;
    return !fills.empty();
}

GreyImage toOcrGrey(const Image& img) {
    GreyImage g;
    if (img.empty() || img.bytesPerPixel < 3) return g;
    g.width = img.width;
    g.height = img.height;
    g.pixels.resize(static_cast<size_t>(img.width * img.height));
    // Integer Rec. 601 luma; the channel weights follow the stored order.
    const bool blueFirst = img.order == PixelOrder::BlueFirst;
    const uint32_t w0 = blueFirst ? 29 : 77, w2 = blueFirst ? 77 : 29;
    uint64_t sum = 0;
    for (int64_t y = 0; y < img.height; ++y) {
        const int64_t rowStart = y * img.bytesPerRow;
        if (rowStart + img.width * img.bytesPerPixel > static_cast<int64_t>(img.bytes.size())) break;
        const uint8_t* src = img.bytes.data() + rowStart;
        uint8_t* dst = g.pixels.data() + y * img.width;
        for (int64_t x = 0; x < img.width; ++x, src += img.bytesPerPixel) {
            const uint32_t lum = (w0 * src[0] + 150u * src[1] + w2 * src[2]) >> 8;
            dst[x] = static_cast<uint8_t>(lum);
            sum += lum;
        }
    }
    const uint64_t count = static_cast<uint64_t>(img.width * img.height);
    if (sum < count * 128) turnOver(g);
    return g;
}

void turnOver(GreyImage& g) {
    for (uint8_t& p : g.pixels) p = static_cast<uint8_t>(255 - p);
    g.inverted = !g.inverted;
}

GreyImage lightStrokes(const Image& img, int64_t x, int64_t y, int64_t width, int64_t height) {
    GreyImage g;
    const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
    const int64_t x1 = std::min(x + width, img.width), y1 = std::min(y + height, img.height);
    if (img.empty() || img.bytesPerPixel < 3 || x1 <= x0 || y1 <= y0) return g;
    g.width = x1 - x0;
    g.height = y1 - y0;
    g.pixels.assign(static_cast<size_t>(g.width * g.height), 255);
    for (int64_t row = y0; row < y1; ++row) {
        const int64_t start = row * img.bytesPerRow + x0 * img.bytesPerPixel;
        if (start + (x1 - x0) * img.bytesPerPixel > static_cast<int64_t>(img.bytes.size())) break;
        const uint8_t* src = img.bytes.data() + start;
        uint8_t* dst = g.pixels.data() + (row - y0) * g.width;
        for (int64_t col = 0; col < g.width; ++col, src += img.bytesPerPixel)
            if (src[0] >= LABEL_LIGHT_MIN && src[1] >= LABEL_LIGHT_MIN && src[2] >= LABEL_LIGHT_MIN) dst[col] = 0;
    }
    return g;
}

void binarise(GreyImage& g) {
    std::array<uint64_t, 256> count{};
    for (const uint8_t p : g.pixels) ++count[p];
    const auto total = static_cast<double>(g.pixels.size());
    double sumAll = 0;
    for (int i = 0; i < 256; ++i) sumAll += i * static_cast<double>(count[static_cast<size_t>(i)]);
    double below = 0, sumBelow = 0, best = -1;
    int level = 128;
    for (int t = 0; t < 255; ++t) {
        below += static_cast<double>(count[static_cast<size_t>(t)]);
        sumBelow += t * static_cast<double>(count[static_cast<size_t>(t)]);
        const double above = total - below;
        if (below == 0 || above == 0) continue;
        const double gap = sumBelow / below - (sumAll - sumBelow) / above;
        const double spread = below * above * gap * gap;
        if (spread > best) best = spread, level = t;
    }
    for (uint8_t& p : g.pixels) p = p > level ? 255 : 0;
}

}  // namespace tessival
