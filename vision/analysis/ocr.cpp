#include "analysis/ocr.h"

#include <cstdlib>
#include <iterator>
#include <optional>

#include "analysis/ocr_prep.h"
#include "analysis/ocr_words.h"
#include "analysis/text_height.h"

namespace tessival {
namespace {

bool insideBox(const PixelArea& b, double x, double y) {
    return x >= static_cast<double>(b.x) && y >= static_cast<double>(b.y) &&
           x < static_cast<double>(b.x + b.width) && y < static_cast<double>(b.y + b.height);
}

std::vector<TextObservation> observations(std::vector<RecognizedLine> lines) {
    std::vector<TextObservation> out;
    out.reserve(lines.size());
    for (RecognizedLine& line : lines) {
        out.push_back(TextObservation{std::move(line.text), line.confidence, line.box});
    }
    return out;
}

}  // namespace

std::vector<RecognizedLine> readRegion(TextRecognizer& recognizer, const GreyImage& grey, const PixelArea& core) {
    const PixelArea part = atLeast(core, MIN_PART_SIDE, grey.width, grey.height);
    const GreyImage crop = cropGrey(grey, part);
    if (crop.pixels.empty()) return {};
    const double w = static_cast<double>(grey.width);
    const double h = static_cast<double>(grey.height);
    std::vector<RecognizedLine> lines;
    for (std::vector<OcrWord>& words : recognizer.read(crop)) {
        std::erase_if(words, [&](OcrWord& word) {
            word.box.x += static_cast<double>(part.x);
            word.box.y += static_cast<double>(part.y);
            return !insideBox(core, word.box.midX(), word.box.midY());
        });
        std::optional<RecognizedLine> line = assembleLine(words, w, h);
        if (line) lines.push_back(std::move(*line));
    }
    return lines;
}

namespace {

// The lines of every text region of `grey`, each from `lookup` when it knows the region, else
// read; `seen` is told every region and what it read.
template <typename Lookup, typename Seen>
std::vector<TextObservation> readRegions(TextRecognizer& recognizer, const GreyImage& grey, Lookup lookup, Seen seen) {
    // Only the parts that look like text are read: the engine's layout pass over camera
    // pictures was most of the time, and a label read alone is read better.
    std::vector<RecognizedLine> lines;
    for (const PixelArea& core : textRegions(grey)) {
        GreyImage pixels = cropGrey(grey, core);
        std::vector<RecognizedLine> read;
        if (const std::vector<RecognizedLine>* known = lookup(core, pixels)) {
            read = *known;
        } else {
            read = readRegion(recognizer, grey, core);
        }
        lines.insert(lines.end(), read.begin(), read.end());
        seen(core, std::move(pixels), std::move(read));
    }
    return observations(joinSplitLines(std::move(lines), static_cast<double>(grey.width),
                                       static_cast<double>(grey.height)));
}

}  // namespace

std::vector<TextObservation> ocr(TextRecognizer& recognizer, const Image& img) {
    const GreyImage grey = atReadingSize(toOcrGrey(img));
    if (grey.width < 3 || grey.height < 3) return {};
    return readRegions(
        recognizer, grey, [](const PixelArea&, const GreyImage&) -> const std::vector<RecognizedLine>* { return nullptr; },
        [](const PixelArea&, GreyImage&&, std::vector<RecognizedLine>&&) {});
}

std::vector<TextObservation> ocr(TextRecognizer& recognizer, const Image& img, RegionCache& cache, uint64_t source) {
    const GreyImage grey = atReadingSize(toOcrGrey(img));
    if (grey.width < 3 || grey.height < 3) return {};
    std::vector<RegionCache::Region> regions;
    std::vector<TextObservation> out = readRegions(
        recognizer, grey,
        [&](const PixelArea& core, const GreyImage& pixels) {
            return cache.find(source, grey.width, grey.height, core, pixels);
        },
        [&](const PixelArea& core, GreyImage&& pixels, std::vector<RecognizedLine>&& lines) {
            regions.push_back(RegionCache::Region{core, std::move(pixels), std::move(lines)});
        });
    cache.keep(source, grey.width, grey.height, std::move(regions));
    return out;
}

bool samePixels(const GreyImage& a, const GreyImage& b) {
    if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) return false;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        if (std::abs(int{a.pixels[i]} - int{b.pixels[i]}) > REGION_PIXEL_TOLERANCE) return false;
    }
    return true;
}

const std::vector<RecognizedLine>* RegionCache::find(uint64_t source, int64_t width, int64_t height,
                                                     const PixelArea& core, const GreyImage& pixels) const {
    for (const Capture& c : captures_) {
        if (c.source != source || c.width != width || c.height != height) continue;
        for (const Region& r : c.regions) {
            if (r.core == core && samePixels(r.pixels, pixels)) return &r.lines;
        }
        return nullptr;
    }
    return nullptr;
}

size_t RegionCache::bytes() const {
    size_t n = 0;
    for (const Capture& c : captures_) {
        for (const Region& r : c.regions) n += r.pixels.pixels.size();
    }
    return n;
}

void RegionCache::keep(uint64_t source, int64_t width, int64_t height, std::vector<Region> regions) {
    std::erase_if(captures_, [&](const Capture& c) { return c.source == source; });
    // A capture's regions do not overlap, so they hold at most one grey picture's worth; what
    // does not fit the budget is simply read again next time.
    size_t room = maxBytes_;
    std::erase_if(regions, [&](const Region& r) {
        if (r.pixels.pixels.size() > room) return true;
        room -= r.pixels.pixels.size();
        return false;
    });
    captures_.push_back(Capture{source, width, height, std::move(regions)});
    while (captures_.size() > maxSources_ || (captures_.size() > 1 && bytes() > maxBytes_)) {
        captures_.erase(captures_.begin());
    }
}

std::vector<TextObservation> RegionTextReader::read(const Image& img, uint64_t source) {
    return ocr(recognizer_, img, cache_, source);
}

}  // namespace tessival
