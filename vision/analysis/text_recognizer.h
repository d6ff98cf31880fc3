#pragma once

#include <string>
#include <vector>

#include "analysis/ocr_prep.h"
#include "base/errors.h"
#include "base/rect.h"

namespace tessival {

// One word as the OCR engine reads it: confidence 0..100, box in pixels, top-left origin.
struct OcrWord {
    std::string text;
    float conf = 0;
    Rect box;
};

// One recognised line after cleaning: the box is normalised to the image with the origin at
// the top-left, like every rectangle the analysis exchanges.
struct RecognizedLine {
    std::string text;
    float confidence = 0;  // 0 to 1
    Rect box;
};

// How the text of a picture given to the recogniser is laid out: lines anywhere (a part with
// several lines or an unknown layout), or one line across it (a label: the engine's search
// for lines over a small part often finds none).
enum class TextLayout { Sparse, SingleLine };

// The text recogniser: reads one grey picture (a part of a capture that looks like text) and
// gives the words of each line it finds, in its order, boxes in pixels of that picture.
// Throws PlatformError (or any std::exception) when recognition fails.
class TextRecognizer {
public:
    virtual ~TextRecognizer() = default;
    virtual std::vector<std::vector<OcrWord>> read(const GreyImage& picture, TextLayout layout) = 0;
    // How many parts can be read at once, each on its own thread through lane(0 .. lanes() - 1):
    // lane 0 is this recogniser; another may wait to be ready, and is nullptr when it cannot
    // read. A lane is used by one thread at a time.
    virtual size_t lanes() { return 1; }
    virtual TextRecognizer* lane(size_t i) { return i == 0 ? this : nullptr; }
};

}  // namespace tessival
