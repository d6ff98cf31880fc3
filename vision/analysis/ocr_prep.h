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

}  // namespace tessival
