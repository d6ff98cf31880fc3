#pragma once

#include <optional>
#include <string>

#include "analysis/text_recognizer.h"
#include "command/answer.h"
#include "command/command_loop.h"
#include "command/output.h"
#include "windows/window_search.h"
#include "windows/window_system.h"

namespace tessival {

// What the handlers reach the world through; main builds the real ones, tests fakes.
struct Services {
    WindowSystem& windows;
    TextRecognizer& recognizer;
    Output& out;
    WindowLock& lock;
};

// CAPTURE, CAPTURE_FRAME and CAPTURE_SLIDE.
class CaptureHandlers final : public CommandHandlers {
public:
    explicit CaptureHandlers(Services services) : s_(services) {}
    Answer capture(const std::optional<std::string>& query) override;
    Answer captureFrame(const std::optional<std::string>& query) override;
    Answer captureSlide(const std::optional<std::string>& query) override;

private:
    Services s_;
};

}  // namespace tessival
