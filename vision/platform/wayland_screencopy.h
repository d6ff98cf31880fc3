#pragma once

#include <string>

#include "windows/window_system.h"

namespace tessival {

// One still of an area of a compositor output, through wlr-screencopy on the Wayland socket
// named by $WAYLAND_DISPLAY. The area is in the output's logical coordinates; the image is
// in output pixels (logical size times the output's scale), cursor left out. Shows the
// screen as composed: whatever covers the area is in it. Throws PlatformError.
Image screencopyArea(const std::string& outputName, const Rect& area);

}  // namespace tessival
