#include "analysis/ocr_prep.h"

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

}  // namespace tessival
