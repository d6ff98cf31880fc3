// inferTiles, slideText, the name filters and the line selection of a participant capture
// on arbitrary boxes (also NaN, infinite, negative, huge) and texts (not always UTF-8).
// Checks: one tile per box, tiles inside the image, one tile and score per name.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "analysis/name_filters.h"
#include "analysis/participants.h"
#include "analysis/slide_text.h"
#include "analysis/tile_inference.h"

using namespace tessival;

namespace {

[[noreturn]] void fail(const char* what) {
    fprintf(stderr, "check failed: %s\n", what);
    abort();
}

double anyDouble(FuzzedDataProvider& fdp) {
    if (fdp.ConsumeIntegralInRange<int>(0, 3) != 0)
        return fdp.ConsumeFloatingPointInRange<double>(-0.2, 1.2);
    double d;
    const uint64_t bits = fdp.ConsumeIntegral<uint64_t>();
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

bool finiteBox(const Rect& r) {
    return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) &&
           std::isfinite(r.height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const std::string title = fdp.ConsumeRandomLengthString(48);
    std::vector<TextObservation> obs;
    std::vector<Rect> boxes;
    std::vector<std::string> texts;
    const int n = fdp.ConsumeIntegralInRange<int>(0, 24);
    for (int i = 0; i < n; ++i) {
        TextObservation o;
        o.text = fdp.ConsumeRandomLengthString(48);
        o.conf = fdp.ConsumeBool() ? fdp.ConsumeFloatingPointInRange<float>(0, 1)
                                   : fdp.ConsumeFloatingPoint<float>();
        o.box = Rect{anyDouble(fdp), anyDouble(fdp), anyDouble(fdp), anyDouble(fdp)};
        boxes.push_back(o.box);
        if (fdp.ConsumeBool()) texts.push_back(o.text);
        obs.push_back(std::move(o));
    }

    for (const TextObservation& o : obs) {
        (void)canonToken(o.text);
        (void)isWatermark(o.text);
        (void)inWatermarkRegion(o.box);
        (void)echoesWindowTitle(o.text, o.box, title);
        (void)isInitialsChip(o.text);
        (void)looksLikeName(o.text);
    }

    const std::vector<Rect> tiles = inferTiles(boxes, texts);
    if (tiles.size() != boxes.size()) fail("not one tile per box");
    bool allFinite = true;
    for (const Rect& b : boxes) allFinite = allFinite && finiteBox(b);
    if (allFinite) {
        for (const Rect& t : tiles) {
            if (!finiteBox(t)) fail("tile not finite");
            if (t.x < -1e-9 || t.y < -1e-9 || t.maxX() > 1 + 1e-9 || t.maxY() > 1 + 1e-9)
                fail("tile outside the image");
        }
    }

    (void)slideText(obs);

    const std::vector<TextObservation> names = nameLines(obs, title);
    if (names.size() > obs.size()) fail("more names than lines");
    // The whole analysis on a small blank image.
    const Image img = Image::blank(64, 48);
    const ParticipantAnalysis pa = analyzeParticipants(img, obs, title);
    if (pa.tiles.size() != pa.names.size() || pa.highlightScores.size() != pa.names.size())
        fail("tiles or scores not one per name");
    if (pa.highlighted >= static_cast<int>(pa.names.size())) fail("highlight index out of range");
    return 0;
}
