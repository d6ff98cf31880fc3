#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/image.h"
#include "analysis/ocr.h"
#include "analysis/participants.h"
#include "base/rect.h"

namespace tessival {

// A TrueType font for the labels of an annotated picture: the bytes of a .ttf file.
// Empty bytes (or bytes that are not a font) draw the picture without text.
struct LabelFont {
    std::vector<uint8_t> ttf;
};

// What the annotated picture shows besides the analysis itself.
struct AnnotateInput {
    std::vector<TextObservation> lines;  // every line read, names among them
    ParticipantAnalysis analysis;
    std::optional<Rect> cropRect;  // the speaker crop's rectangle (normalised), if any
    double cropScore = 0;
    std::string cropLabel;  // "ring" or "highlight": what the crop came from
    bool slide = false;     // read as a slide: only the lines, no participants
};

// A copy of `img` (red-first RGBA, 4 bytes per pixel) with the analysis drawn on it, and a
// legend band added below: every line read (grey), the lines taken as names (cyan), each
// name's tile with its highlight score (orange; the chosen highlight thick magenta), the
// ring the scan accepted with its score (green, dashed) and the speaker crop (white, dotted).
// For a slide only the lines read are drawn and the legend counts them.
// Strokes and text scale with the image. An empty image for an empty `img`.
Image annotateImage(const Image& img, const AnnotateInput& in, const LabelFont& font);

}  // namespace tessival
