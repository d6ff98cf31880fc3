#pragma once

#include <cstdint>
#include <vector>

#include "analysis/ocr_prep.h"

namespace tessival {

// A rectangle of whole pixels given by its corner and size, top-left origin.
struct PixelArea {
    int64_t x = 0;
    int64_t y = 0;
    int64_t width = 0;
    int64_t height = 0;
    bool operator==(const PixelArea&) const = default;
};

// The parts of a grey picture that may hold text, as boxes that do not overlap: cells of
// 8 x 8 pixels crossed by many sharp left-right changes of brightness (the strokes of
// letters), joined along a row over word gaps and padded by one cell. Flat areas, smooth
// gradients, horizontal rules and the grain of a camera picture fall outside; a picture with
// no such cell gives none.
std::vector<PixelArea> textRegions(const GreyImage& g);

// The groups of text cells that textRegions() merges where their boxes overlap, each on its
// own: a line of a region that a picture's edges grew to page size.
std::vector<PixelArea> textComponents(const GreyImage& g);

// textRegions() of the groups textComponents() found, for a caller that needs both.
std::vector<PixelArea> mergedRegions(std::vector<PixelArea> components);

// `box` grown to at least `minSide` each way about its middle, within an image of
// `width` x `height`.
PixelArea atLeast(const PixelArea& box, int64_t minSide, int64_t width, int64_t height);

// The pixels of `g` inside `box` (clipped to the picture) as a picture of their own.
GreyImage cropGrey(const GreyImage& g, const PixelArea& box);

}  // namespace tessival
