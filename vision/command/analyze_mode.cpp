#include "command/analyze_mode.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "codec/image_codec.h"
#include "analysis/ocr.h"
#include "analysis/participants.h"
#include "analysis/slide_text.h"
#include "command/annotate.h"
#include "command/capture_handlers.h"

namespace tessival {
namespace {

// Fonts for the labels of an annotated picture, first one found wins.
constexpr const char* LABEL_FONTS[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/noto/NotoSans-Regular.ttf",
    "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
};

LabelFont loadLabelFont() {
    for (const char* path : LABEL_FONTS) {
        std::ifstream f(path, std::ios::binary);
        if (!f) continue;
        LabelFont font{std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {})};
        if (!font.ttf.empty()) return font;
    }
    return LabelFont{};
}

// Writes the annotated picture; logs where it went or why it could not.
bool writeAnnotated(const std::string& path, const Image& image, AnnotateInput input, Output& out) {
    const LabelFont font = loadLabelFont();
    if (font.ttf.empty()) out.log("[tessival] annotate: no label font found; drawing without text");
    const std::optional<std::vector<uint8_t>> png = encodePng(annotateImage(image, input, font));
    if (!png) {
        out.log("[tessival] annotate: PNG encode failed");
        return false;
    }
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
    f.close();
    if (!f) {
        out.log("[tessival] annotate: cannot write " + path);
        return false;
    }
    out.log("[tessival] annotated picture written to " + path);
    return true;
}

}  // namespace

bool analyzeImageFile(const AnalyzeOptions& options, TextRecognizer& recognizer, Output& out) {
    const std::optional<Image> image = readImageFile(options.imagePath);
    if (!image) {
        out.emit(Answer{{"ok", false}, {"error", "cannot read image at " + options.imagePath}});
        return false;
    }
    RegionTextReader reader(recognizer);
    std::string lastFailure;
    const std::optional<TileLayout> layout = options.slide ? std::nullopt : findTiles(*image);
    const std::vector<TextObservation> lines =
        readText(reader, *image, 0, out, lastFailure, layout ? layout->tiles : std::vector<Rect>{});
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
        if (options.annotatePath) {
            AnnotateInput input{lines, ParticipantAnalysis{}, std::nullopt, 0, "", true};
            return writeAnnotated(*options.annotatePath, *image, std::move(input), out);
        }
        return true;
    }
    ParticipantAnalysis a = analyzeParticipants(*image, lines, options.windowTitle, layout);
    // A picture is read as a window found by guessing: without proof of a call it names
    // nobody (a chat or a dashboard shows names too).
    const bool unproven = !a.evidence;
    if (unproven) {
        out.log("[tessival] no call-UI/ring/named-tile content (call-ui x" + std::to_string(a.uiHits) +
                ", ocr strings " + std::to_string(lines.size()) + ") \u2014 emitting no names");
        ParticipantAnalysis kept;
        kept.ring = a.ring;
        kept.uiHits = a.uiHits;
        kept.drawnTiles = a.drawnTiles;
        a = std::move(kept);
    }
    const std::optional<SpeakerCrop> crop = speakerCrop(*image, a, out);
    Answer answer = participantAnswer(a, crop, out);
    if (unproven) answer["unproven"] = true;
    out.emit(answer);
    if (options.annotatePath) {
        AnnotateInput input{lines, a, std::nullopt, 0, ""};
        if (crop) {
            input.cropRect = crop->rect;
            input.cropScore = crop->score;
            input.cropLabel = a.ring.best && a.ring.best->rect == crop->rect     ? "ring"
                              : a.speakerSource == SpeakerSource::Label ? "label's tile"
                                                                        : "highlight";
        }
        return writeAnnotated(*options.annotatePath, *image, std::move(input), out);
    }
    return true;
}

}  // namespace tessival
