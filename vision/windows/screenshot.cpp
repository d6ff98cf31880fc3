#include "windows/screenshot.h"

#include <algorithm>
#include <cmath>

#include "base/errors.h"
#include "windows/display_geometry.h"

namespace tessival {

Image screenshot(WindowSystem& ws, const WindowFacts& window) {
    const Rect& f = window.frame;
    // Also rejects NaN sizes.
    if (!(f.width > 0) || !(f.height > 0)) throw CaptureError(CaptureError::Kind::degenerateWindow);

    const ShareableContent content = ws.shareableContent(true);
    const std::optional<DisplayFacts> d = displayFor(window, content.displays);
    if (!d) throw CaptureError(CaptureError::Kind::noDisplay);

    const Rect source{f.x - d->frame.x, f.y - d->frame.y, f.width, f.height};
    // Twice the size in points, the size truncated first; never below 2 x 2.
    const int64_t outWidth = std::max<int64_t>(2 * static_cast<int64_t>(std::trunc(f.width)), 2);
    const int64_t outHeight = std::max<int64_t>(2 * static_cast<int64_t>(std::trunc(f.height)), 2);
    return ws.capture(window, *d, source, outWidth, outHeight);
}

}  // namespace tessival
