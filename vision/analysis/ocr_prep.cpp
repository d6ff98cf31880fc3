#include "analysis/ocr_prep.h"

#include <algorithm>

namespace tessival {

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
    if (sum < count * 128) {
        for (uint8_t& p : g.pixels) p = static_cast<uint8_t>(255 - p);
        g.inverted = true;
    }
    return g;
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

}  // namespace tessival
