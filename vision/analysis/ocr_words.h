#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/rect.h"
#include "analysis/text_recognizer.h"

namespace tessival {

// Word confidences (0..100) and line confidences (0..1) under which readings are noise.
inline constexpr float EDGE_WORD_MIN_CONFIDENCE = 60.0f;
inline constexpr float EDGE_CHARACTER_MIN_CONFIDENCE = 90.0f;
inline constexpr float LINE_MIN_CONFIDENCE = 0.7f;
inline constexpr float SHORT_LINE_MIN_CONFIDENCE = 0.9f;

// Turns the words of one engine line into a recognised line, cleaned for screen text:
// icons beside a label (microphone, shield, a slide's bullet) that the engine reads as
// symbols or as one unsure character are dropped, and a line the engine is unsure of as a
// whole (mostly shapes in video read as letters) is no line at all. The box of the result is
// normalised to an image of imgW x imgH pixels with a top-left origin.
std::optional<RecognizedLine> assembleLine(const std::vector<OcrWord>& words, double imgW,
                                           double imgH, float minConfidence = LINE_MIN_CONFIDENCE);
// (`minConfidence` lets a caller that checks a reading another way keep unsure lines.)

// Joins lines the engine split within one label: two lines side by side on one row (centres
// within 30% of their height, heights within 30% of each other) whose gap is under 0.35 of
// the height become one line; with no space when the gap is under 0.15 of the height
// (letter spacing: "A" + "mara Okafor" is "Amara Okafor"), else with one. Two words on one
// of `tiles` (normalised) join across a gap up to LABEL_WORD_GAP of the height: at a few
// pixels a line high, a word space measures more than that share. Boxes normalised
// to an image of imgW x imgH pixels, top-left origin; order otherwise kept.
std::vector<RecognizedLine> joinSplitLines(std::vector<RecognizedLine> lines, double imgW,
                                           double imgH, const std::vector<Rect>& tiles = {});

// A word space of a label on a tile measures up to this share of the line's height (a 7 x 7
// gallery's 8 px labels read enlarged: "Amara" and "Okafor" 0.42 apart). Each side of it holds
// at least LABEL_WORD_MIN_LETTERS letters: an icon read as a glyph beside a label is no word.
inline constexpr double LABEL_WORD_GAP = 0.9;
inline constexpr size_t LABEL_WORD_MIN_LETTERS = 2;

}  // namespace tessival
