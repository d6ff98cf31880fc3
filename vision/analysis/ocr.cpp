#include "analysis/ocr.h"

#include <exception>

namespace tessival {

std::vector<TextObservation> ocr(TextRecognizer& recognizer, const Image& img) {
    std::vector<RecognizedLine> lines;
    try {
        lines = recognizer.recognize(img);
    } catch (const std::exception&) {
        return {};
    }
    std::vector<TextObservation> out;
    out.reserve(lines.size());
    for (RecognizedLine& line : lines) {
        const Rect& b = line.box;
        out.push_back(TextObservation{std::move(line.text), line.confidence,
                                      Rect{b.x, 1.0 - b.y - b.height, b.width, b.height}});
    }
    return out;
}

}  // namespace tessival
