#include "analysis/text_height.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace tessival {
namespace {

// A letter's stroke changes brightness sharply; anti-aliased small letters a little less so
// than the large ones the region finder looks for.
constexpr int EDGE_STEP = 40;
// A row belongs to a line's main band when it has at least this share of the line's
// busiest row's strokes: ascenders and descenders alone fall below it.
constexpr double CORE_SHARE = 0.5;

}  // namespace

namespace {

// The height that half of the weight lies at or below; nothing for no heights.
std::optional<double> weightedQuantile(std::vector<std::pair<double, double>> heights, double q) {
    if (heights.empty()) return std::nullopt;
    std::sort(heights.begin(), heights.end());
    double total = 0;
    for (const auto& h : heights) total += h.second;
    double seen = 0;
    for (const auto& [height, weight] : heights) {
        seen += weight;
        if (seen >= q * total) return height;
    }
    return heights.back().first;
}

// The height under which the share `q` of `lines`' width lies.
std::optional<double> lineHeightQuantile(const std::vector<MeasuredLine>& lines, double q) {
    std::vector<std::pair<double, double>> heights;
    for (const MeasuredLine& l : lines) heights.emplace_back(l.height, l.width);
    return weightedQuantile(std::move(heights), q);
}

}  // namespace

std::optional<double> textHeight(const GreyImage& part, int* lineCount) {
    if (part.width < 3 || part.height < 2 ||
        static_cast<int64_t>(part.pixels.size()) < part.width * part.height)
        return std::nullopt;
    std::vector<int> edges(static_cast<size_t>(part.height), 0);
    for (int64_t y = 0; y < part.height; ++y) {
        const uint8_t* row = part.pixels.data() + y * part.width;
        int n = 0;
        for (int64_t x = 1; x + 1 < part.width; ++x) n += std::abs(int(row[x + 1]) - int(row[x - 1])) >= EDGE_STEP;
        edges[static_cast<size_t>(y)] = n;
    }
    // Lines: runs of rows with strokes, a one-row break allowed (the gap under a letter's bar).
    std::vector<std::pair<double, double>> heights;  // main-band height, weight
    int64_t y = 0;
    while (y < part.height) {
        if (edges[static_cast<size_t>(y)] < 2) {
            ++y;
            continue;
        }
        int64_t end = y;
        for (int64_t k = y; k < part.height; ++k) {
            if (edges[static_cast<size_t>(k)] >= 2) {
                end = k;
            } else if (k - end > 1) {
                break;
            }
        }
        int peak = 0;
        double weight = 0;
        for (int64_t k = y; k <= end; ++k) {
            peak = std::max(peak, edges[static_cast<size_t>(k)]);
            weight += edges[static_cast<size_t>(k)];
        }
        int64_t top = -1, bottom = -1;
        for (int64_t k = y; k <= end; ++k) {
            if (edges[static_cast<size_t>(k)] >= CORE_SHARE * peak) {
                if (top < 0) top = k;
                bottom = k;
            }
        }
        // A line's main band is at least two rows and has strokes of two letters at least.
        if (bottom > top && peak >= 4) heights.emplace_back(static_cast<double>(bottom - top + 1), weight);
        y = end + 1;
    }
    if (lineCount) *lineCount = static_cast<int>(heights.size());
    return weightedQuantile(std::move(heights), 0.5);
}

std::vector<MeasuredLine> measuredLines(const GreyImage& g, const std::vector<PixelArea>& regions) {
    std::vector<MeasuredLine> out;
    for (const PixelArea& r : regions) {
        if (r.width * 2 < r.height * 5) continue;
        int lines = 0;
        const std::optional<double> h = textHeight(cropGrey(g, r), &lines);
        if (h && lines == 1) out.push_back(MeasuredLine{*h, static_cast<double>(r.width)});
    }
    return out;
}

std::optional<double> pictureTextHeight(const GreyImage& g, const std::vector<PixelArea>& regions) {
    return lineHeightQuantile(measuredLines(g, regions), 0.5);
}

double readingScale(std::optional<double> height) {
    if (!height || *height <= 0) return 1.0;
    const double scale = std::min(BEST_TEXT_HEIGHT / *height, MAX_READING_SCALE);
    return scale >= MIN_READING_SCALE ? scale : 1.0;
}

double readingScale(const std::vector<MeasuredLine>& lines) {
    const double enlarge = readingScale(lineHeightQuantile(lines, 0.5));
    if (enlarge != 1.0 || lines.size() < SHRINK_MIN_LINES) return enlarge;
    const std::optional<double> small = lineHeightQuantile(lines, SHRINK_QUANTILE);
    if (!small || *small < BEST_TEXT_HEIGHT * MIN_READING_SCALE) return 1.0;
    const auto smaller = std::count_if(lines.begin(), lines.end(), [&](const MeasuredLine& l) {
        return l.height < SMALLER_TEXT_SHARE * *small;
    });
    if (smaller > SMALLER_TEXT_MAX_LINES) return 1.0;
    return std::max(BEST_TEXT_HEIGHT / *small, MIN_SHRINK_SCALE);
}

double pictureReadingScale(const GreyImage& native) {
    // A busy gallery's labels join the camera pictures round them into large regions: where
    // the regions hold too few lines, the lines are measured among the groups of text cells.
    const std::vector<PixelArea> components = textComponents(native);
    std::vector<MeasuredLine> lines = measuredLines(native, mergedRegions(components));
    if (lines.size() < MEASURED_MIN_LINES) lines = measuredLines(native, components);
    return readingScale(lines);
}

GreyImage atReadingSize(GreyImage native) {
    const double scale = pictureReadingScale(native);
    return scale != 1.0 ? scaleGrey(native, scale) : native;
}

namespace {

// For each of `outSize` output cells of a row `inSize` long shrunk by `factor`, the source
// cells it covers and how much of each (in 1/65536 of the output cell).
struct Span {
    int64_t first = 0;
    std::vector<uint32_t> weights;
};

std::vector<Span> areaSpans(int64_t inSize, int64_t outSize) {
    std::vector<Span> spans(static_cast<size_t>(outSize));
    const double step = static_cast<double>(inSize) / static_cast<double>(outSize);
    for (int64_t o = 0; o < outSize; ++o) {
        const double a = static_cast<double>(o) * step, b = std::min(a + step, static_cast<double>(inSize));
        Span& s = spans[static_cast<size_t>(o)];
        s.first = static_cast<int64_t>(a);
        for (int64_t i = s.first; static_cast<double>(i) < b; ++i) {
            const double cover = std::min(b, static_cast<double>(i + 1)) - std::max(a, static_cast<double>(i));
            s.weights.push_back(static_cast<uint32_t>(std::lround(cover / step * 65536.0)));
        }
    }
    return spans;
}

// `g` shrunk to `w` x `h` by averaging the source pixels each output pixel covers: a shrunk
// label keeps its strokes instead of whichever pixels a sparse sample happens to hit.
GreyImage shrinkGrey(const GreyImage& g, int64_t w, int64_t h) {
    const std::vector<Span> xs = areaSpans(g.width, w), ys = areaSpans(g.height, h);
    std::vector<uint32_t> rows(static_cast<size_t>(w * g.height));
    for (int64_t y = 0; y < g.height; ++y) {
        const uint8_t* src = g.pixels.data() + y * g.width;
        for (int64_t x = 0; x < w; ++x) {
            const Span& s = xs[static_cast<size_t>(x)];
            uint64_t sum = 0;
            for (size_t k = 0; k < s.weights.size(); ++k) sum += uint64_t{s.weights[k]} * src[s.first + static_cast<int64_t>(k)];
            rows[static_cast<size_t>(y * w + x)] = static_cast<uint32_t>(sum >> 8);  // value x 256
        }
    }
    GreyImage out;
    out.width = w;
    out.height = h;
    out.inverted = g.inverted;
    out.pixels.resize(static_cast<size_t>(w * h));
    for (int64_t y = 0; y < h; ++y) {
        const Span& s = ys[static_cast<size_t>(y)];
        for (int64_t x = 0; x < w; ++x) {
            uint64_t sum = 0;
            for (size_t k = 0; k < s.weights.size(); ++k)
                sum += uint64_t{s.weights[k]} * rows[static_cast<size_t>((s.first + static_cast<int64_t>(k)) * w + x)];
            out.pixels[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(std::min<uint64_t>((sum + (1u << 23)) >> 24, 255));
        }
    }
    return out;
}

}  // namespace

GreyImage scaleGrey(const GreyImage& g, double factor) {
    const int64_t w = std::llround(static_cast<double>(g.width) * factor);
    const int64_t h = std::llround(static_cast<double>(g.height) * factor);
    if (factor == 1.0 || w < 1 || h < 1 || g.width < 1 || g.height < 1 ||
        static_cast<int64_t>(g.pixels.size()) < g.width * g.height)
        return g;
    if (factor < 1.0) return shrinkGrey(g, w, h);
    GreyImage out;
    out.width = w;
    out.height = h;
    out.inverted = g.inverted;
    out.pixels.resize(static_cast<size_t>(w * h));
    // Source positions of pixel centres in 1/256 steps; the two source columns per output
    // column are the same on every row.
    std::vector<int64_t> x0(static_cast<size_t>(w));
    std::vector<uint32_t> fx(static_cast<size_t>(w));
    const double inv = 1.0 / factor;
    for (int64_t x = 0; x < w; ++x) {
        const double sx = std::clamp((static_cast<double>(x) + 0.5) * inv - 0.5, 0.0, static_cast<double>(g.width - 1));
        x0[static_cast<size_t>(x)] = static_cast<int64_t>(sx);
        fx[static_cast<size_t>(x)] = static_cast<uint32_t>((sx - std::floor(sx)) * 256.0);
    }
    for (int64_t y = 0; y < h; ++y) {
        const double sy = std::clamp((static_cast<double>(y) + 0.5) * inv - 0.5, 0.0, static_cast<double>(g.height - 1));
        const int64_t ya = static_cast<int64_t>(sy);
        const int64_t yb = std::min(ya + 1, g.height - 1);
        const uint32_t fy = static_cast<uint32_t>((sy - std::floor(sy)) * 256.0);
        const uint8_t* ra = g.pixels.data() + ya * g.width;
        const uint8_t* rb = g.pixels.data() + yb * g.width;
        uint8_t* dst = out.pixels.data() + y * w;
        for (int64_t x = 0; x < w; ++x) {
            const int64_t xa = x0[static_cast<size_t>(x)];
            const int64_t xb = std::min(xa + 1, g.width - 1);
            const uint32_t f = fx[static_cast<size_t>(x)];
            const uint32_t top = ra[xa] * (256 - f) + ra[xb] * f;
            const uint32_t bottom = rb[xa] * (256 - f) + rb[xb] * f;
            dst[x] = static_cast<uint8_t>((top * (256 - fy) + bottom * fy + (1u << 15)) >> 16);
        }
    }
    return out;
}

}  // namespace tessival
