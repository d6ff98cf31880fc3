#pragma once

#include <optional>
#include <string>

#include "analysis/text_recognizer.h"
#include "base/output.h"

namespace tessival {

struct AnalyzeOptions {
    std::string imagePath;
    std::optional<std::string> annotatePath;  // write an annotated copy of the image here
    bool slide = false;                       // read it as a slide instead of a gallery
    std::string windowTitle;                  // the title of the window it shows, if known
    bool listLines = false;                   // log every line the recogniser read
};

// Runs the participant-capture analysis (or the slide reading) on an image file without
// any window search and emits the answer a capture would give, without "window".
// True on success; false (after emitting a failure answer) when the file cannot be read.
bool analyzeImageFile(const AnalyzeOptions& options, TextRecognizer& recognizer, Output& out);

}  // namespace tessival
