#include "analysis/participants.h"

#include "analysis/border_score.h"
#include "analysis/line_blocks.h"
#include "analysis/name_filters.h"
#include "analysis/tile_inference.h"
#include "analysis/meeting_text.h"

namespace tessival {

std::vector<TextObservation> nameLines(const std::vector<TextObservation>& lines,
                                       std::string_view windowTitle) {
    std::vector<TextObservation> names;
    const std::vector<TextObservation> joined = joinWrappedNames(lines);
    const std::vector<bool> block = inLineBlock(joined);
    for (size_t i = 0; i < joined.size(); ++i) {
        const TextObservation& line = joined[i];
        if (!block[i] && looksLikeName(line.text) && !inWatermarkRegion(line.box) &&
            !echoesWindowTitle(line.text, line.box, windowTitle))
            names.push_back(line);
    }
    return names;
}

ParticipantAnalysis analyzeParticipants(const Image& img, const std::vector<TextObservation>& lines,
                                        std::string_view windowTitle) {
    ParticipantAnalysis a;
    a.names = nameLines(lines, windowTitle);
    std::vector<Rect> boxes;
    std::vector<std::string> texts;
    for (const TextObservation& n : a.names) {
        boxes.push_back(n.box);
        texts.push_back(n.text);
    }
    a.tiles = inferTiles(boxes, texts);
    a.highlightScores.assign(a.names.size(), 0.0);
    if (const auto bm = makeBitmap(img)) {
        for (size_t i = 0; i < a.names.size(); ++i) a.highlightScores[i] = borderScore(*bm, a.tiles[i]);
        a.ring = scanForGreenRing(*bm);
    }
    double best = 0.0;
    int index = -1;
    for (size_t i = 0; i < a.highlightScores.size(); ++i) {
        if (a.highlightScores[i] > best) {
            best = a.highlightScores[i];
            index = static_cast<int>(i);
        }
    }
    if (best >= HIGHLIGHT_SCORE_THRESH) {
        a.highlighted = index;
        a.bestHighlight = best;
    }
    std::vector<std::string> allTexts;
    allTexts.reserve(lines.size());
    for (const TextObservation& line : lines) allTexts.push_back(line.text);
    a.uiHits = callUiHits(allTexts);
    a.evidence = a.uiHits >= LOCK_MIN_UI_HITS || a.ring.best.has_value();
    return a;
}

}  // namespace tessival
