#include "windows/display_geometry.h"

#include <cmath>

namespace tessival {

bool rectIsFullscreen(const Rect& r, const Rect& d) {
    return std::abs(r.minX() - d.minX()) <= FULLSCREEN_EDGE_TOL &&
           std::abs(r.minY() - d.minY()) <= FULLSCREEN_EDGE_TOL &&
           std::abs(r.width - d.width) <= 2 * FULLSCREEN_EDGE_TOL &&
           std::abs(r.height - d.height) <= 2 * FULLSCREEN_EDGE_TOL;
}

std::optional<uint32_t> fullscreenDisplayID(const WindowFacts& window,
                                            const std::vector<DisplayFacts>& displays) {
    for (const DisplayFacts& d : displays) {
        if (rectIsFullscreen(window.frame, d.frame)) return d.id;
    }
    return std::nullopt;
}

std::optional<DisplayFacts> displayFor(const WindowFacts& window,
                                       const std::vector<DisplayFacts>& displays) {
    if (displays.empty()) return std::nullopt;
    const double cx = window.frame.midX();
    const double cy = window.frame.midY();
    for (const DisplayFacts& d : displays) {
        if (d.frame.contains(cx, cy)) return d;
    }
    const DisplayFacts* best = nullptr;
    double bestArea = 0;
    for (const DisplayFacts& d : displays) {
        const Rect overlap = d.frame.intersection(window.frame);
        if (overlap.isEmpty()) continue;
        if (overlap.area() > bestArea) {
            bestArea = overlap.area();
            best = &d;
        }
    }
    if (best != nullptr && bestArea > 0) return *best;
    return std::nullopt;
}

}  // namespace tessival
