#include "analysis/tile_inference.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "analysis/name_filters.h"

namespace tessival {
namespace {

constexpr double NEIGHBOUR_FLOOR = 0.02;
constexpr double SAME_BAND = 0.08;
constexpr double DEFAULT_TILE_W = 0.5;
constexpr double LABEL_ANCHOR = 0.85;
constexpr double CHIP_ANCHOR = 0.5;

// The element at count / 2 of the sorted values (the upper middle); 0 when empty.
double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

std::vector<Rect> inferTiles(const std::vector<Rect>& boxes, const std::vector<std::string>& texts) {
    const size_t n = boxes.size();
    if (n == 0) return {};
    std::vector<double> cx(n), cy(n);
    for (size_t i = 0; i < n; ++i) {
        cx[i] = boxes[i].midX();
        cy[i] = boxes[i].midY();
    }
    std::vector<double> gapsX, gapsY;
    for (size_t i = 0; i < n; ++i) {
        std::optional<double> gx, gy;
        for (size_t j = 0; j < n; ++j) {
            if (j == i) continue;
            const double dx = std::abs(cx[i] - cx[j]);
            const double dy = std::abs(cy[i] - cy[j]);
            if (dx > NEIGHBOUR_FLOOR && dy < SAME_BAND && (!gx || dx < *gx)) gx = dx;
            if (dx < SAME_BAND && dy > NEIGHBOUR_FLOOR && (!gy || dy < *gy)) gy = dy;
        }
        if (gx) gapsX.push_back(*gx);
        if (gy) gapsY.push_back(*gy);
    }
    double tileW = median(gapsX);
    double tileH = median(gapsY);
    if (!(tileW > 0)) tileW = tileH > 0 ? tileH * 16 / 9 : DEFAULT_TILE_W;
    if (!(tileH > 0)) tileH = tileW * 9 * 0.0625;
    tileW = std::min(std::max(tileW, 0.1), 1.0);
    tileH = std::min(std::max(tileH, 0.1), 1.0);

    std::vector<Rect> tiles;
    tiles.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const double anchor = i < texts.size() && isInitialsChip(texts[i]) ? CHIP_ANCHOR : LABEL_ANCHOR;
        const double x = std::min(std::max(cx[i] - tileW * 0.5, 0.0), 1 - tileW);
        const double y = std::min(std::max(cy[i] - tileH * anchor, 0.0), 1 - tileH);
        tiles.push_back(Rect{x, y, tileW, tileH});
    }
    return tiles;
}

}  // namespace tessival
