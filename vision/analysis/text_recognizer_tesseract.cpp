#include "analysis/text_recognizer_tesseract.h"

#include <stdexcept>

namespace tessival {
namespace {

class TesseractRecognizer final : public TextRecognizer {
public:
    std::vector<RecognizedLine> recognize(const Image&) override {
        throw std::runtime_error("text recognition is not implemented in this build");
    }
};

}  // namespace

std::unique_ptr<TextRecognizer> makeTesseractRecognizer() {
    return std::make_unique<TesseractRecognizer>();
}

}  // namespace tessival
