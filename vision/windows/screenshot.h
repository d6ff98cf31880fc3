#pragma once

#include "base/image.h"
#include "windows/window_system.h"

namespace tessival {

// One image of `window` alone at twice its size in points (at least 2 x 2 pixels).
// Throws CaptureError for a zero-size frame or a window on no display, and the window
// system's error otherwise.
Image screenshot(WindowSystem& ws, const WindowFacts& window);

}  // namespace tessival
