#pragma once

#include <memory>
#include <string>

#include "base/output.h"
#include "windows/window_system.h"

namespace tessival {

// The window system of a sway (wlroots) compositor: windows and outputs from its IPC socket,
// pixels through wlr-screencopy on its Wayland socket ($WAYLAND_DISPLAY). Windows drawn by
// XWayland are left out: the X11 window system lists them. Every call asks the compositor
// afresh, so a restarted compositor on the same socket path is picked up.
std::unique_ptr<WindowSystem> makeSwayWindowSystem(Output& out, std::string ipcSocket);

// The X11 window system of sway's XWayland, told by sway which of its windows are on hidden
// workspaces: XWayland keeps those mapped, so X11 alone would call them on screen.
std::unique_ptr<WindowSystem> withSwayVisibility(std::unique_ptr<WindowSystem> x11,
                                                 std::string ipcSocket);

// Whether a sway IPC socket answers a request.
bool swayAnswers(const std::string& ipcSocket);

}  // namespace tessival
