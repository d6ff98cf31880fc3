#pragma once

#include <memory>

#include "analysis/text_recognizer.h"

namespace tessival {

// A Tesseract engine, loaded on a background thread as soon as it is made and kept for
// the life of the process; the first recognize() waits for the load if it is still running.
std::unique_ptr<TextRecognizer> makeTesseractRecognizer();

}  // namespace tessival
