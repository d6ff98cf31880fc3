#include "command/capture_handlers.h"

namespace tessival {
namespace {

Answer notYet() {
    return Answer{{"ok", false}, {"error", "window capture is not implemented in this build"}};
}

}  // namespace

Answer CaptureHandlers::capture(const std::optional<std::string>&) { return notYet(); }
Answer CaptureHandlers::captureFrame(const std::optional<std::string>&) { return notYet(); }
Answer CaptureHandlers::captureSlide(const std::optional<std::string>&) { return notYet(); }

}  // namespace tessival
