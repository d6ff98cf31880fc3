#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/output.h"
#include "windows/window_scoring.h"
#include "windows/window_system.h"

// Finding the meeting window, and the window lock that keeps it once a capture proved it.
namespace tessival {

inline constexpr std::array<std::string_view, 13> SELF_AND_CHROME_HINTS = {
    "peldranox",  "window server", "windowserver",       "dock",
    "control center", "controlcenter", "notification center", "notificationcenter",
    "spotlight",  "menubar",       "menu bar",           "wallpaper",
    "desktop"};

// Windows of this area or less (square points) are never the meeting window.
inline constexpr double MEETING_WINDOW_MIN_AREA = 40000;

// The only process-wide mutable state of tessival.
struct WindowLock {
    std::optional<uint32_t> lockedWindowID;
    std::string lockedWindowDesc;  // app="…" title="…" at lock time
    std::string lockedSource = "x11";  // the window system the locked window came from
};

// app="<name>" title="<title>" for log lines, control characters blanked.
std::string appAndTitle(const WindowFacts& window);

// app="<name>" title="<title>" size=<w>x<h>
std::string describe(const WindowFacts& window);

// The window the next participant or frame capture should look at: the locked window
// while it is usable, else the best-scored eligible window (flagged unproven when no
// window has meeting evidence). Logs its reasoning; throws the window system's error.
std::optional<PickedWindow> findWindow(WindowSystem& ws, WindowLock& lock, Output& out,
                                       const std::optional<std::string>& query);

// Engages (or moves) the lock onto `window` when the capture showed evidence: at least
// LOCK_MIN_UI_HITS call-control words or a speaker ring.
void updateWindowLock(WindowLock& lock, Output& out, const WindowFacts& window, int uiHits,
                      bool ringFound);

}  // namespace tessival
