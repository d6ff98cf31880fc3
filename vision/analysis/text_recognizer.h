#pragma once

#include <string>
#include <vector>

#include "base/errors.h"
#include "base/image.h"
#include "base/rect.h"

namespace tessival {

// One recognised line as the engine reports it: the box is normalised to the image with
// the origin at the top-left, like every rectangle the analysis exchanges.
struct RecognizedLine {
    std::string text;
    float confidence = 0;  // 0 to 1
    Rect box;
};

// The text recogniser: one synchronous call, image in, lines out. Throws PlatformError
// (or any std::exception) when recognition fails.
class TextRecognizer {
public:
    virtual ~TextRecognizer() = default;
    virtual std::vector<RecognizedLine> recognize(const Image& image) = 0;
};

}  // namespace tessival
