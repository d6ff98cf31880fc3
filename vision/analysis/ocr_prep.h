#pragma once

#include <cstdint>
#include <vector>

#include "base/image.h"

namespace tessival {

// An 8-bit grey raster, rows packed, the form the recogniser reads fastest.
struct GreyImage {
    int64_t width = 0;
    int64_t height = 0;
    std::vector<uint8_t> pixels;
    bool inverted = false;
};

// `img` as luminance in one pass, inverted when the picture is mostly dark so that text
// ends up dark on light (screen UIs are often light text on dark, which recognises slower
// and worse). Empty for an empty image.
GreyImage toOcrGrey(const Image& img);

// Labels are drawn in white (or near it) over the picture; a pixel at least this light in
// every channel may be a label's. Below it: a light shirt or wall (about 210) still counts,
// which costs some junk words round a name but keeps the anti-aliased edges of its letters.
inline constexpr uint8_t LABEL_LIGHT_MIN = 200;

// The part `area` (pixels of `img`, clipped) with only its label-light pixels, as dark
// strokes on white: a white label straight over a light or busy picture, which has too little
// contrast for a reading of its brightness, stands alone. Empty when the part is empty.
GreyImage lightStrokes(const Image& img, int64_t x, int64_t y, int64_t width, int64_t height);

}  // namespace tessival
