#pragma once

#include <memory>

#include "analysis/text_recognizer.h"

namespace tessival {

// A Tesseract engine, loaded on a background thread as soon as it is made and kept for
// the life of the process; the first recognize() waits for the load if it is still running.
// With `twoLanes`, on a machine of two cores or more, a second engine (about 50 MiB) reads
// beside it once a picture has two parts to read.
std::unique_ptr<TextRecognizer> makeTesseractRecognizer(bool twoLanes);

}  // namespace tessival
