#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

#include "base/errors.h"
#include "base/image.h"
#include "base/rect.h"

namespace tessival {

struct OwningApplication {
    std::string name;          // valid UTF-8
    std::optional<pid_t> pid;  // absent when the window system cannot tell
};

// One top-level window. `frame` is in root (global screen) coordinates, points.
struct WindowFacts {
    uint32_t id = 0;
    Rect frame;
    std::optional<std::string> title;  // valid UTF-8
    std::optional<OwningApplication> app;
    bool onScreen = false;
    int64_t layer = 0;  // 0 for normal, dialog and utility windows
    // The window system that listed it ("x11", "sway"): ids are unique only within one.
    std::string source = "x11";
};

struct DisplayFacts {
    uint32_t id = 0;
    Rect frame;  // root coordinates
};

// Windows front to back and displays in a stable order.
struct ShareableContent {
    std::vector<WindowFacts> windows;
    std::vector<DisplayFacts> displays;
};

// The window system: the only way the vision code reaches the screen. Every call may throw
// PlatformError (no display server, a vanished window, a failed capture).
class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Windows (desktop windows left out) and displays. With onScreenOnly, windows that are
    // not on screen are left out as well.
    virtual ShareableContent shareableContent(bool onScreenOnly) = 0;

    // The process owning the active window, if any.
    virtual std::optional<pid_t> frontmostPid() = 0;

    // The id of the main display.
    virtual uint32_t mainDisplayId() = 0;

    // One image of `window` alone (its own pixels even where covered), the part
    // `sourceRect` (points, relative to `display`'s origin) scaled to outWidth x outHeight
    // pixels, without the cursor.
    virtual Image capture(const WindowFacts& window, const DisplayFacts& display,
                          const Rect& sourceRect, int64_t outWidth, int64_t outHeight) = 0;
};

}  // namespace tessival
