#pragma once

#include <algorithm>

namespace tessival {

// A rectangle: points in the global screen space for window and display frames,
// fractions of an image [x, y, width, height] with a top-left origin for boxes, tiles and
// rings, or pixels at the crop step. Which one is always said where a Rect is passed.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double minY() const { return y; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    double midX() const { return x + width * 0.5; }
    double midY() const { return y + height * 0.5; }
    double area() const { return width * height; }
    bool isEmpty() const { return !(width > 0) || !(height > 0); }

    // Minimum edges belong to the rectangle, maximum edges do not.
    bool contains(double px, double py) const {
        return !isEmpty() && px >= minX() && px < maxX() && py >= minY() && py < maxY();
    }

    // The overlap of two rectangles; an empty Rect when they do not overlap.
    Rect intersection(const Rect& o) const {
        const double x0 = std::max(minX(), o.minX());
        const double y0 = std::max(minY(), o.minY());
        const double x1 = std::min(maxX(), o.maxX());
        const double y1 = std::min(maxY(), o.maxY());
        if (x1 <= x0 || y1 <= y0) return Rect{};
        return Rect{x0, y0, x1 - x0, y1 - y0};
    }

    bool operator==(const Rect&) const = default;
};

}  // namespace tessival
