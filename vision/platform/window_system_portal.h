#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/output.h"
#include "windows/window_chooser.h"
#include "windows/window_system.h"

namespace tessival {

// The desktop portal's screen cast as a window system (GNOME, KDE Plasma and other Wayland
// desktops that let a program read only a window the user picked): it lists at most one
// window, the one chosen through `chooser`, and captures it from the PipeWire stream the
// portal opened for it. The restore token is kept in `stateDir` (none: choices are not
// kept), so that a later process reopens the same window without a dialog.
struct PortalWindowSystem {
    std::unique_ptr<WindowSystem> windows;
    WindowChooser* chooser = nullptr;  // the same object as `windows`
};
PortalWindowSystem makePortalWindowSystem(Output& out, std::optional<std::string> stateDir);

// Why the session bus's desktop portal cannot let the user choose a window, or nothing when
// it can. Asks the bus (starting the portal if the bus is set up to).
std::optional<std::string> portalUnusable();

}  // namespace tessival
