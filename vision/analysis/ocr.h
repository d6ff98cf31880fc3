#pragma once

#include <string>
#include <vector>

#include "base/image.h"
#include "base/rect.h"
#include "analysis/text_recognizer.h"

namespace tessival {

// One recognised line: text exactly as read, confidence 0..1, box normalised with the
// origin at the top-left.
struct TextObservation {
    std::string text;
    float conf = 0;
    Rect box;
};

// Every line the recogniser reads in `img`, in its order. Throws what the recogniser
// throws; the caller decides what a failed recognition means.
std::vector<TextObservation> ocr(TextRecognizer& recognizer, const Image& img);

}  // namespace tessival
