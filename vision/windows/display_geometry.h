#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/rect.h"
#include "windows/window_system.h"

// How window frames relate to displays. All rectangles are root coordinates, points.
namespace tessival {

inline constexpr double FULLSCREEN_EDGE_TOL = 4.0;

// True when `r` covers `display`: origin within 4 points, size within 8.
bool rectIsFullscreen(const Rect& r, const Rect& display);

// The first display that `window` fills, if any.
std::optional<uint32_t> fullscreenDisplayID(const WindowFacts& window,
                                            const std::vector<DisplayFacts>& displays);

// The display holding the window's centre, else the one it overlaps most (earlier wins
// ties), else nothing.
std::optional<DisplayFacts> displayFor(const WindowFacts& window,
                                       const std::vector<DisplayFacts>& displays);

}  // namespace tessival
