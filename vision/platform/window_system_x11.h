#pragma once

#include <memory>

#include "base/output.h"
#include "windows/window_system.h"

namespace tessival {

// The window system of an X server reached through $DISPLAY. Connects lazily and again
// after the server went away, so a command can succeed once a server is back. Logs one line
// through `out` when a Wayland session is detected whose native windows X11 cannot see and
// no Wayland window system stands beside it (`waylandCovered`).
std::unique_ptr<WindowSystem> makeX11WindowSystem(Output& out, bool waylandCovered = false);

}  // namespace tessival
