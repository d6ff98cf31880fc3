#include "analysis/ocr.h"

namespace tessival {

std::vector<TextObservation> ocr(TextRecognizer& recognizer, const Image& img) {
    std::vector<RecognizedLine> lines = recognizer.recognize(img);
    std::vector<TextObservation> out;
    out.reserve(lines.size());
    for (RecognizedLine& line : lines) {
        out.push_back(TextObservation{std::move(line.text), line.confidence, line.box});
    }
    return out;
}

}  // namespace tessival
