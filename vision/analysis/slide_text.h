#pragma once

#include <string>
#include <vector>

#include "analysis/ocr.h"

namespace tessival {

// The readable text of OCR lines in reading order: rows top to bottom joined by LF,
// fragments of a row left to right joined by a space. Drops lines under 0.3 confidence
// and lines without a letter or number. Empty when nothing survives.
std::string slideText(const std::vector<TextObservation>& obs);

}  // namespace tessival
