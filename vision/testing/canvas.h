#pragma once

#include <cstdint>

#include "base/image.h"

// Synthetic pictures for tests: a background with filled boxes, outlines, round rings and
// single pixels, stored red-first or blue-first.
namespace tessival {

struct Rgba {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 255;
};

// A pixel rectangle given by its corners; both corners belong to it.
struct PixelBox {
    int64_t x0 = 0;
    int64_t y0 = 0;
    int64_t x1 = 0;
    int64_t y1 = 0;
};

class Canvas {
public:
    // A w x h picture, 4 bytes per pixel, every pixel `background`. `bytesPerRow` 0 packs
    // the rows; a larger value leaves padding bytes (filled with the background's alpha).
    Canvas(int64_t w, int64_t h, Rgba background, PixelOrder order = PixelOrder::RedFirst,
           int64_t bytesPerRow = 0);

    // Pixels outside the picture are ignored by every drawing call.
    void set(int64_t x, int64_t y, Rgba c);
    void fill(const PixelBox& box, Rgba c);
    // A frame `thickness` pixels wide along the inside of `box`.
    void outline(const PixelBox& box, int64_t thickness, Rgba c);
    // Every pixel whose distance from (cx, cy) lies in [rMin, rMax].
    void ring(double cx, double cy, double rMin, double rMax, Rgba c);

    const Image& image() const { return img_; }
    Bitmap bitmap() const;

private:
    Image img_;
};

}  // namespace tessival
