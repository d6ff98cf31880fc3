#pragma once

#include <memory>

#include "base/output.h"
#include "windows/window_system.h"

namespace tessival {

// Every window system of the session as one: sway when $SWAYSOCK names its IPC socket,
// and the X server of $DISPLAY (XWayland on a Wayland session). Logs once which of them
// answer now. With none answering, captures fail with the X11 system's error, as without
// any display.
std::unique_ptr<WindowSystem> makeSessionWindowSystem(Output& out);

}  // namespace tessival
