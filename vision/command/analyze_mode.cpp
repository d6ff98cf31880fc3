#include "command/analyze_mode.h"

#include <cstdio>

#include "analysis/image_codec.h"
#include "analysis/ocr.h"
#include "analysis/participants.h"
#include "analysis/slide_text.h"
#include "command/capture_handlers.h"

namespace tessival {

bool analyzeImageFile(const AnalyzeOptions& options, TextRecognizer& recognizer, Output& out) {
    const std::optional<Image> image = readImageFile(options.imagePath);
    if (!image) {
        out.emit(Answer{{"ok", false}, {"error", "cannot read image at " + options.imagePath}});
        return false;
    }
    const std::vector<TextObservation> lines = ocr(recognizer, *image);
    if (options.listLines) {
        for (const TextObservation& l : lines) {
            char box[160];
            std::snprintf(box, sizeof box, "[%.3f,%.3f,%.3f,%.3f] conf=%.2f ", l.box.x, l.box.y,
                          l.box.width, l.box.height, static_cast<double>(l.conf));
            out.log(std::string("[tessival] ocr ") + box + "\"" + l.text + "\"");
        }
    }
    if (options.slide) {
        out.emit(Answer{{"ok", true}, {"text", slideText(lines)}});
        return true;
    }
    const ParticipantAnalysis a = analyzeParticipants(*image, lines, options.windowTitle);
    const std::optional<SpeakerCrop> crop = speakerCrop(*image, a, out);
    out.emit(participantAnswer(a, crop, out));
    return true;
}

}  // namespace tessival
