#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/text_recognizer.h"
#include "analysis/text_regions.h"
#include "base/image.h"
#include "base/rect.h"

namespace tessival {

// One recognised line: text exactly as read, confidence 0..1, box normalised with the
// origin at the top-left.
struct TextObservation {
    std::string text;
    float conf = 0;
    Rect box;
};

// Every line read in `img`, in the reading order of its text regions: the parts that look
// like text are found and each is read on its own through `recognizer` (readRegion), then
// lines the engine split within one label are joined. Throws what the recogniser throws; the
// caller decides what a failed recognition means.
std::vector<TextObservation> ocr(TextRecognizer& recognizer, const Image& img);

// The engine's local threshold measures a window of a third of an inch round each pixel (48
// pixels at the 144 dpi of a 2x capture) and gives up on a smaller picture: each part read is
// at least this big.
inline constexpr int64_t MIN_PART_SIDE = 64;

// One text region `core` of the grey capture `grey`, read on its own: the part round it grown
// to MIN_PART_SIDE, and the cleaned lines of the words whose middles fall inside the core
// (a grown part shows some of its neighbours), boxes normalised to the whole capture. Read as
// `layout`, else as lines anywhere. With `fitLetters`, a part whose letters are well under
// BEST_TEXT_HEIGHT is enlarged to it first; with `twoTone`, the part is binarise()d.
// Throws what the recogniser throws.
std::vector<RecognizedLine> readRegion(TextRecognizer& recognizer, const GreyImage& grey, const PixelArea& core,
                                       std::optional<TextLayout> layout = std::nullopt, bool fitLetters = false,
                                       bool twoTone = false);

// Where the name label of a participant tile (normalised) sits: a strip along its bottom
// edge, as wide as the tile.
Rect labelBand(const Rect& tile);

// A whole capture's text as the capture commands ask for it; `source` names the window the
// picture came from, `tiles` the participant tiles found in its pixels (normalised; may be
// empty): a tile whose label band no text region reached has the band read too.
// Throws as ocr() does.
class TextReader {
public:
    virtual ~TextReader() = default;
    virtual std::vector<TextObservation> read(const Image& img, uint64_t source, const std::vector<Rect>& tiles) = 0;
};

// What the regions of the last capture of each window read, kept so that a parent polling
// the same window reads only what changed: a region is taken from here when the capture has
// the same size, the region the same place and its pixels are the same within
// REGION_PIXEL_TOLERANCE. Nothing crosses windows. Holds at most `maxSources` windows (the
// least recently read is forgotten first) and `maxBytes` of region pixels in all.
class RegionCache {
public:
    struct Region {
        PixelArea core;
        GreyImage pixels;  // the core's pixels as read
        std::vector<RecognizedLine> lines;
    };

    explicit RegionCache(size_t maxSources = 4, size_t maxBytes = size_t{16} << 20)
        : maxSources_(maxSources), maxBytes_(maxBytes) {}

    // What `core` read in the last capture of `source` when that capture was `width` x
    // `height` and the core's pixels are now `pixels` (within the tolerance); else nothing.
    const std::vector<RecognizedLine>* find(uint64_t source, int64_t width, int64_t height, const PixelArea& core,
                                            const GreyImage& pixels) const;

    // The regions of the latest capture of `source` replace what was kept of it.
    void keep(uint64_t source, int64_t width, int64_t height, std::vector<Region> regions);

    size_t bytes() const;

private:
    struct Capture {
        uint64_t source = 0;
        int64_t width = 0;
        int64_t height = 0;
        std::vector<Region> regions;
    };
    size_t maxSources_;
    size_t maxBytes_;
    std::vector<Capture> captures_;  // most recently read last
};

// A label chip is a translucent box over the camera picture: from one frame to the next the
// picture's noise and light shine through it at a fraction of their size (a third through a
// chip of 62% opacity), while a changed letter turns pixels from ink to chip or back, a
// difference of the text's contrast, well over 100 grey levels for any label the engine reads
// (and any region it reads: the region finder wants sharp strokes). Pixels within this many
// grey levels of what was read are the same text.
inline constexpr int REGION_PIXEL_TOLERANCE = 32;

// Whether two pictures of one region are alike within REGION_PIXEL_TOLERANCE at every pixel.
bool samePixels(const GreyImage& a, const GreyImage& b);

// ocr() that also reads the label band of each of `tiles` that no line reached, takes each
// region from `cache` when it is unchanged since the last capture of `source`, reads the
// others and keeps the new capture's regions in the cache.
std::vector<TextObservation> ocr(TextRecognizer& recognizer, const Image& img, RegionCache& cache, uint64_t source,
                                 const std::vector<Rect>& tiles = {});

// The reader of a live sidecar: ocr() through one recogniser, with a region cache.
class RegionTextReader final : public TextReader {
public:
    explicit RegionTextReader(TextRecognizer& recognizer) : recognizer_(recognizer) {}
    std::vector<TextObservation> read(const Image& img, uint64_t source, const std::vector<Rect>& tiles) override;

private:
    TextRecognizer& recognizer_;
    RegionCache cache_;
};

}  // namespace tessival
