#pragma once

#include <memory>

#include "windows/window_system.h"

namespace tessival {

// The window system of an X server reached through $DISPLAY. Connects lazily and again
// after the server went away, so a command can succeed once a server is back.
std::unique_ptr<WindowSystem> makeX11WindowSystem();

}  // namespace tessival
