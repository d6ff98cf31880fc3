#include "windows/window_search.h"

#include <cmath>

namespace tessival {

std::string describe(const WindowFacts& window) {
    return "app=\"" + appName(window) + "\" title=\"" + titleOf(window) + "\" size=" +
           std::to_string(static_cast<int64_t>(std::trunc(window.frame.width))) + "x" +
           std::to_string(static_cast<int64_t>(std::trunc(window.frame.height)));
}

std::optional<PickedWindow> findWindow(WindowSystem& ws, WindowLock&, Output&,
                                       const std::optional<std::string>&) {
    ws.shareableContent(false);
    return std::nullopt;
}

void updateWindowLock(WindowLock&, Output&, const WindowFacts&, int, bool) {}

}  // namespace tessival
