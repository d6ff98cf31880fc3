#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/image.h"
#include "analysis/ocr.h"
#include "base/rect.h"
#include "analysis/ring_scan.h"

namespace tessival {

// What one participant capture reads from an image and its OCR lines, before any decision
// about the window lock or the answer.
struct ParticipantAnalysis {
    std::vector<TextObservation> names;  // accepted lines, in recognition order
    std::vector<Rect> tiles;             // one per name
    std::vector<double> highlightScores; // one per name; 0 without a pixel view
    int highlighted = -1;                // index into names, or -1
    double bestHighlight = 0;            // the highlighted tile's score (0 when none)
    RingScan ring;
    int uiHits = 0;                      // distinct call-control words over all lines
    bool evidence = false;               // the image proves a live call
};

// Names, tiles, border highlights, the ring scan and the call-UI evidence of a capture of
// the window titled `windowTitle` (empty when unknown).
ParticipantAnalysis analyzeParticipants(const Image& img, const std::vector<TextObservation>& lines,
                                        std::string_view windowTitle);

// The lines that are participant names: plausible names outside the watermark corner that
// do not repeat the window's title in its title band and do not stand in a block of lines
// (a name wrapped onto two lines is joined first).
std::vector<TextObservation> nameLines(const std::vector<TextObservation>& lines,
                                       std::string_view windowTitle);

}  // namespace tessival
