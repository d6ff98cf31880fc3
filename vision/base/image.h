#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace tessival {

enum class PixelOrder { RedFirst, BlueFirst };

// An owned raster: rows top to bottom, `bytesPerRow` apart, `bytesPerPixel` bytes per pixel
// whose first three bytes are the colour channels in `order`. Captures are blue-first.
struct Image {
    int64_t width = 0;
    int64_t height = 0;
    int64_t bytesPerRow = 0;
    int64_t bytesPerPixel = 4;
    PixelOrder order = PixelOrder::RedFirst;
    std::vector<uint8_t> bytes;

    bool empty() const { return width <= 0 || height <= 0 || bytes.empty(); }

    // A zero-filled image of the given size, 4 bytes per pixel, rows packed.
    static Image blank(int64_t w, int64_t h, PixelOrder order = PixelOrder::RedFirst) {
        Image img;
        img.width = w;
        img.height = h;
        img.bytesPerPixel = 4;
        img.bytesPerRow = w * 4;
        img.order = order;
        img.bytes.assign(static_cast<size_t>(w * h * 4), 0);
        return img;
    }
};

// A read-only view of an image's bytes. Pixel (x, y) starts at y * bpr + x * bpp; only its
// first three bytes are read, as (r, g, b) in stored order whatever the real order is.
struct Bitmap {
    const uint8_t* ptr = nullptr;
    int64_t len = 0;
    int64_t w = 0;
    int64_t h = 0;
    int64_t bpr = 0;
    int64_t bpp = 0;

    // The first three bytes of pixel (x, y) as 0..255, or nothing outside the image or
    // when the third byte would lie at or beyond `len`.
    std::optional<std::array<double, 3>> rgb(int64_t x, int64_t y) const {
        if (x < 0 || y < 0 || x >= w || y >= h) return std::nullopt;
        const int64_t o = y * bpr + x * bpp;
        if (o < 0 || o + 2 >= len) return std::nullopt;
        return std::array<double, 3>{double(ptr[o]), double(ptr[o + 1]), double(ptr[o + 2])};
    }
};

// A view of `img`, or nothing when it has fewer than 3 bytes per pixel or no pixels.
// The view borrows `img`'s bytes: keep `img` alive while it is used.
std::optional<Bitmap> makeBitmap(const Image& img);

}  // namespace tessival
