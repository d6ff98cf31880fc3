// What one participant capture costs, stage by stage, on a saved 2x capture:
//   capture_stages <capture.png> [repetitions]
// Prints one JSON object of median milliseconds: the one-time engine start, the OCR
// (grey conversion and recognition), the pixel analysis (names, tiles, border scores,
// ring scan) and the speaker crop (crop, shrink, PNG, Base64).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "codec/image_codec.h"
#include "analysis/ocr.h"
#include "analysis/participants.h"
#include "platform/text_recognizer_tesseract.h"
#include "command/capture_handlers.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tessival;
    if (argc < 2) {
        std::fprintf(stderr, "usage: capture_stages <capture.png> [repetitions]\n");
        return 2;
    }
    const int reps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::optional<Image> image = readImageFile(argv[1]);
    if (!image) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    image->order = PixelOrder::BlueFirst;  // as a capture comes

    const auto t0 = Clock::now();
    std::unique_ptr<TextRecognizer> recognizer = makeTesseractRecognizer(false);
    (void)recognizer->read(GreyImage{64, 32, std::vector<uint8_t>(64 * 32, 255), false},
                           TextLayout::Sparse);  // waits for the engine
    const double init = ms(t0, Clock::now());

    Output sink(-1, -1);
    std::vector<double> ocrT, analysisT, cropT;
    size_t names = 0;
    for (int i = 0; i < reps; ++i) {
        const auto a = Clock::now();
        const std::vector<TextObservation> lines = ocr(*recognizer, *image);
        const auto b = Clock::now();
        const ParticipantAnalysis pa = analyzeParticipants(*image, lines, "");
        const auto c = Clock::now();
        const auto crop = speakerCrop(*image, pa, sink);
        const auto d = Clock::now();
        ocrT.push_back(ms(a, b));
        analysisT.push_back(ms(b, c));
        cropT.push_back(ms(c, d));
        names = pa.names.size();
        (void)crop;
    }
    std::printf(
        "{\"engine_start_ms\": %.1f, \"ocr_ms\": %.1f, \"analysis_ms\": %.2f, \"crop_png_ms\": %.2f, "
        "\"names\": %zu}\n",
        init, median(ocrT), median(analysisT), median(cropT), names);
    return 0;
}
