#pragma once

#include <memory>
#include <string>
#include <vector>

#include "windows/window_system.h"

namespace tessival {

// Several window systems of one session seen as one (an X server through XWayland beside
// the Wayland compositor). Windows come from every system that answers, each tagged with
// its system's name in `source`; a window is captured by the system it came from. Displays
// and the main display come from the first system that lists displays, the frontmost
// process from the first that knows one: on a Wayland session the compositor goes first,
// as XWayland only mirrors its outputs. Errors count only when no system answers; then the
// last system's error is thrown.
class CombinedWindowSystem final : public WindowSystem {
  public:
    struct Source {
        std::string name;  // "sway", "x11", ...: the `source` of its windows
        std::unique_ptr<WindowSystem> system;
    };
    explicit CombinedWindowSystem(std::vector<Source> sources);

    ShareableContent shareableContent(bool onScreenOnly) override;
    std::optional<pid_t> frontmostPid() override;
    uint32_t mainDisplayId() override;
    Image capture(const WindowFacts& window, const DisplayFacts& display, const Rect& sourceRect,
                  int64_t outWidth, int64_t outHeight) override;

  private:
    std::vector<Source> sources_;
    size_t displaySource_ = 0;  // the source whose displays the last content listed
};

}  // namespace tessival
