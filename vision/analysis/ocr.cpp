#include "analysis/ocr.h"

#include <iterator>
#include <optional>

#include "analysis/ocr_prep.h"
#include "analysis/ocr_words.h"

namespace tessival {
namespace {

bool insideBox(const PixelArea& b, double x, double y) {
    return x >= static_cast<double>(b.x) && y >= static_cast<double>(b.y) &&
           x < static_cast<double>(b.x + b.width) && y < static_cast<double>(b.y + b.height);
}

std::vector<TextObservation> observations(std::vector<RecognizedLine> lines) {
    std::vector<TextObservation> out;
    out.reserve(lines.size());
    for (RecognizedLine& line : lines) {
        out.push_back(TextObservation{std::move(line.text), line.confidence, line.box});
    }
    return out;
}

}  // namespace

std::vector<RecognizedLine> readRegion(TextRecognizer& recognizer, const GreyImage& grey, const PixelArea& core) {
    const PixelArea part = atLeast(core, MIN_PART_SIDE, grey.width, grey.height);
    const GreyImage crop = cropGrey(grey, part);
    if (crop.pixels.empty()) return {};
    const double w = static_cast<double>(grey.width);
    const double h = static_cast<double>(grey.height);
    std::vector<RecognizedLine> lines;
    for (std::vector<OcrWord>& words : recognizer.read(crop)) {
        std::erase_if(words, [&](OcrWord& word) {
            word.box.x += static_cast<double>(part.x);
            word.box.y += static_cast<double>(part.y);
            return !insideBox(core, word.box.midX(), word.box.midY());
        });
        std::optional<RecognizedLine> line = assembleLine(words, w, h);
        if (line) lines.push_back(std::move(*line));
    }
    return lines;
}

std::vector<TextObservation> ocr(TextRecognizer& recognizer, const Image& img) {
    const GreyImage grey = toOcrGrey(img);
    if (grey.width < 3 || grey.height < 3) return {};
    // Only the parts that look like text are read: the engine's layout pass over camera
    // pictures was most of the time, and a label read alone is read better.
    std::vector<RecognizedLine> lines;
    for (const PixelArea& core : textRegions(grey)) {
        std::vector<RecognizedLine> read = readRegion(recognizer, grey, core);
        lines.insert(lines.end(), std::make_move_iterator(read.begin()), std::make_move_iterator(read.end()));
    }
    return observations(joinSplitLines(std::move(lines), static_cast<double>(grey.width),
                                       static_cast<double>(grey.height)));
}

std::vector<TextObservation> RegionTextReader::read(const Image& img, uint64_t) { return ocr(recognizer_, img); }

}  // namespace tessival
