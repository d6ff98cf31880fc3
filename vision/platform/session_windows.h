#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/output.h"
#include "windows/window_chooser.h"
#include "windows/window_system.h"

namespace tessival {

// The session's window systems as one, and the chooser where the user must pick the window.
struct SessionWindows {
    std::unique_ptr<WindowSystem> windows;
    WindowChooser* chooser = nullptr;  // part of `windows`; null where windows are listed
};

// Every window system of the session as one: sway when $SWAYSOCK names its IPC socket;
// on another Wayland session ($WAYLAND_DISPLAY without $SWAYSOCK) the desktop portal, its
// choice kept in `stateDir`; and the X server of $DISPLAY (XWayland on a Wayland session).
// Logs once which of them answer now. With none answering, captures fail with the X11
// system's error, as without any display.
SessionWindows makeSessionWindowSystem(Output& out, std::optional<std::string> stateDir);

}  // namespace tessival
