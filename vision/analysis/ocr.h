#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/text_recognizer.h"
#include "analysis/text_regions.h"
#include "base/image.h"
#include "base/rect.h"

namespace tessival {

// One recognised line: text exactly as read, confidence 0..1, box normalised with the
// origin at the top-left.
struct TextObservation {
    std::string text;
    float conf = 0;
    Rect box;
};

// Every line read in `img`, in the reading order of its text regions: the parts that look
// like text are found and each is read on its own through `recognizer` (readRegion), then
// lines the engine split within one label are joined. Throws what the recogniser throws; the
// caller decides what a failed recognition means.
std::vector<TextObservation> ocr(TextRecognizer& recognizer, const Image& img);

// The engine's local threshold measures a window of a third of an inch round each pixel (48
// pixels at the 144 dpi of a 2x capture) and gives up on a smaller picture: each part read is
// at least this big.
inline constexpr int64_t MIN_PART_SIDE = 64;

// One text region `core` of the grey capture `grey`, read on its own: the part round it grown
// to MIN_PART_SIDE, and the cleaned lines of the words whose middles fall inside the core
// (a grown part shows some of its neighbours), boxes normalised to the whole capture.
// Throws what the recogniser throws.
std::vector<RecognizedLine> readRegion(TextRecognizer& recognizer, const GreyImage& grey, const PixelArea& core);

// A whole capture's text as the capture commands ask for it; `source` names the window the
// picture came from. Throws as ocr() does.
class TextReader {
public:
    virtual ~TextReader() = default;
    virtual std::vector<TextObservation> read(const Image& img, uint64_t source) = 0;
};

// The reader of a live sidecar: ocr() through one recogniser.
class RegionTextReader final : public TextReader {
public:
    explicit RegionTextReader(TextRecognizer& recognizer) : recognizer_(recognizer) {}
    std::vector<TextObservation> read(const Image& img, uint64_t source) override;

private:
    TextRecognizer& recognizer_;
};

}  // namespace tessival
