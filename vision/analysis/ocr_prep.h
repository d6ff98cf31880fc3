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

// `g` turned over, light for dark, and marked so.
void turnOver(GreyImage& g);

// A thin straight run of strong colour at least this long (pixels) is a drawn line, not a
// letter's stroke; at most this thick. Strong: its lightest channel at least the first, and
// that far from its darkest by the second.
inline constexpr int64_t COLOUR_LINE_MIN_LENGTH = 96;
inline constexpr int64_t COLOUR_LINE_MAX_THICKNESS = 6;
inline constexpr int COLOUR_LINE_MIN_LIGHT = 110;
inline constexpr int COLOUR_LINE_MIN_CHROMA = 90;
// At least this share of a drawn line's or frame's pixels lie in straight runs half its
// least length long; a rounded corner's do not.
inline constexpr double COLOUR_LINE_STRAIGHT_SHARE = 0.8;

// `img` as luminance in one pass, inverted when the picture is mostly dark so that text
// ends up dark on light (screen UIs are often light text on dark, which recognises slower
// and worse). Empty for an empty image.
GreyImage toOcrGrey(const Image& img);

// Thin lines of strong colour in `img` (a speaker's ring with its rounded corners, a tile's
// frame, a tab's marker, a link's underline) are no text, but one touching a label reads as
// strokes of its letters ("Leilari Kabale" over a ring). Their pixels in `g` (toOcrGrey(img))
// and the anti-aliased edge round them take the nearest grey beside them. Whether any were.
bool eraseColourLines(const Image& img, GreyImage& g);

// Labels are drawn in white (or near it) over the picture; a pixel at least this light in
// every channel may be a label's. Below it: a light shirt or wall (about 210) still counts,
// which costs some junk words round a name but keeps the anti-aliased edges of its letters.
inline constexpr uint8_t LABEL_LIGHT_MIN = 200;

// The part `area` (pixels of `img`, clipped) with only its label-light pixels, as dark
// strokes on white: a white label straight over a light or busy picture, which has too little
// contrast for a reading of its brightness, stands alone. Empty when the part is empty.
GreyImage lightStrokes(const Image& img, int64_t x, int64_t y, int64_t width, int64_t height);

// `g` in black and white, split at the grey level that best parts its pixels in two (Otsu's):
// the engine's own local threshold loses a light label on a dark name bar between icons.
void binarise(GreyImage& g);

}  // namespace tessival
