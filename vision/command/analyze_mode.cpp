#include "command/analyze_mode.h"

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
    if (options.slide) {
        out.emit(Answer{{"ok", true}, {"text", slideText(lines)}});
        return true;
    }
    const ParticipantAnalysis a = analyzeParticipants(*image, lines);
    const std::optional<SpeakerCrop> crop = speakerCrop(*image, a, out);
    out.emit(participantAnswer(a, crop, out));
    return true;
}

}  // namespace tessival
