// scanForGreenRing and borderScore on arbitrary bitmaps: sizes, strides (also negative and
// shorter than a row), pixel widths and buffer lengths, and arbitrary tiles (also NaN,
// infinite, negative); textRegions, atLeast and cropGrey on the same bytes as a grey picture.
// Checks: scores stay in 0..1, a detection lies inside the image, text regions are non-empty,
// inside the picture and apart, and crops are the clipped size.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "analysis/border_score.h"
#include "analysis/ring_scan.h"
#include "analysis/text_regions.h"

using namespace tessival;

namespace {

[[noreturn]] void fail(const char* what) {
    fprintf(stderr, "check failed: %s\n", what);
    abort();
}

double anyDouble(FuzzedDataProvider& fdp) {
    if (fdp.ConsumeBool()) return fdp.ConsumeFloatingPointInRange<double>(-0.5, 1.5);
    double d;
    const uint64_t bits = fdp.ConsumeIntegral<uint64_t>();
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    Bitmap bm;
    bm.w = fdp.ConsumeIntegralInRange<int64_t>(-4, fdp.ConsumeBool() ? 300 : (int64_t{1} << 11));
    bm.h = fdp.ConsumeIntegralInRange<int64_t>(-4, fdp.ConsumeBool() ? 300 : (int64_t{1} << 11));
    bm.bpp = fdp.ConsumeIntegralInRange<int64_t>(0, 8);
    bm.bpr = fdp.ConsumeBool() ? bm.w * bm.bpp + fdp.ConsumeIntegralInRange<int64_t>(0, 16)
                               : fdp.ConsumeIntegralInRange<int64_t>(-(1 << 20), 1 << 24);
    const bool nullPtr = fdp.ConsumeIntegralInRange<int>(0, 31) == 0;
    std::vector<Rect> tiles;
    for (int i = fdp.ConsumeIntegralInRange<int>(0, 4); i > 0; --i)
        tiles.push_back(Rect{anyDouble(fdp), anyDouble(fdp), anyDouble(fdp), anyDouble(fdp)});

    // The rest is the pixel buffer; a repeating pattern fills large bitmaps.
    std::vector<uint8_t> pixels = fdp.ConsumeRemainingBytes<uint8_t>();
    int64_t want = 0;
    if (bm.w > 0 && bm.h > 0 && bm.bpr > 0) want = std::min<int64_t>(bm.bpr * bm.h, 1 << 20);
    if (!pixels.empty() && static_cast<int64_t>(pixels.size()) < want) {
        size_t n = pixels.size();
        pixels.resize(static_cast<size_t>(want));
        while (n < pixels.size()) {  // doubling copies of the given bytes
            const size_t k = std::min(n, pixels.size() - n);
            std::memcpy(pixels.data() + n, pixels.data(), k);
            n += k;
        }
    }
    bm.ptr = nullPtr ? nullptr : pixels.data();
    bm.len = nullPtr ? 0 : static_cast<int64_t>(pixels.size());

    const RingScan scan = scanForGreenRing(bm);
    if (scan.best) {
        const RingBlobDetection& d = *scan.best;
        if (!(d.score >= 0 && d.score <= 1)) fail("ring score outside 0..1");
        const Rect& r = d.rect;
        if (!(r.x >= 0 && r.y >= 0 && r.width > 0 && r.height > 0 && r.maxX() <= 1 + 1e-9 &&
              r.maxY() <= 1 + 1e-9))
            fail("ring outside the image");
    }
    if (scan.blobs < 0) fail("negative blob count");
    for (const Rect& t : tiles) {
        const double s = borderScore(bm, t);
        if (!(s >= 0 && s <= 1)) fail("border score outside 0..1");
    }

    GreyImage grey;
    grey.width = bm.w;
    grey.height = bm.h;
    grey.pixels = pixels;
    const std::vector<PixelArea> boxes = textRegions(grey);
    for (size_t i = 0; i < boxes.size(); ++i) {
        const PixelArea& a = boxes[i];
        if (a.width <= 0 || a.height <= 0 || a.x < 0 || a.y < 0 || a.x + a.width > grey.width ||
            a.y + a.height > grey.height)
            fail("text region outside the picture");
        for (size_t j = i + 1; j < boxes.size(); ++j) {
            const PixelArea& b = boxes[j];
            if (a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height)
                fail("text regions overlap");
        }
        const PixelArea part = atLeast(a, 64, grey.width, grey.height);
        if (part.x < 0 || part.y < 0 || part.x + part.width > grey.width || part.y + part.height > grey.height ||
            part.width < std::min<int64_t>(64, grey.width) || part.height < std::min<int64_t>(64, grey.height))
            fail("grown part outside the picture or too small");
        const GreyImage crop = cropGrey(grey, part);
        if (crop.width != part.width || crop.height != part.height ||
            static_cast<int64_t>(crop.pixels.size()) != part.width * part.height)
            fail("crop of the wrong size");
    }
    return 0;
}
