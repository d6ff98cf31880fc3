#include "testing/canvas.h"

#include <algorithm>
#include <cmath>

namespace tessival {

Canvas::Canvas(int64_t w, int64_t h, Rgba background, PixelOrder order, int64_t bytesPerRow) {
    img_.width = w;
    img_.height = h;
    img_.bytesPerPixel = 4;
    img_.bytesPerRow = std::max(bytesPerRow, w * 4);
    img_.order = order;
    img_.bytes.assign(static_cast<size_t>(img_.bytesPerRow * h), background.a);
    fill({0, 0, w - 1, h - 1}, background);
}

void Canvas::set(int64_t x, int64_t y, Rgba c) {
    if (x < 0 || y < 0 || x >= img_.width || y >= img_.height) return;
    uint8_t* p = img_.bytes.data() + y * img_.bytesPerRow + x * 4;
    const bool blueFirst = img_.order == PixelOrder::BlueFirst;
    p[0] = blueFirst ? c.b : c.r;
    p[1] = c.g;
    p[2] = blueFirst ? c.r : c.b;
    p[3] = c.a;
}

void Canvas::fill(const PixelBox& box, Rgba c) {
    for (int64_t y = box.y0; y <= box.y1; ++y)
        for (int64_t x = box.x0; x <= box.x1; ++x) set(x, y, c);
}

void Canvas::outline(const PixelBox& box, int64_t thickness, Rgba c) {
    const int64_t t = thickness - 1;
    fill({box.x0, box.y0, box.x1, box.y0 + t}, c);
    fill({box.x0, box.y1 - t, box.x1, box.y1}, c);
    fill({box.x0, box.y0, box.x0 + t, box.y1}, c);
    fill({box.x1 - t, box.y0, box.x1, box.y1}, c);
}

void Canvas::ring(double cx, double cy, double rMin, double rMax, Rgba c) {
    const auto x0 = static_cast<int64_t>(std::floor(cx - rMax));
    const auto x1 = static_cast<int64_t>(std::ceil(cx + rMax));
    const auto y0 = static_cast<int64_t>(std::floor(cy - rMax));
    const auto y1 = static_cast<int64_t>(std::ceil(cy + rMax));
    for (int64_t y = y0; y <= y1; ++y) {
        for (int64_t x = x0; x <= x1; ++x) {
            const double dx = double(x) - cx, dy = double(y) - cy;
            const double d = std::sqrt(dx * dx + dy * dy);
            if (d >= rMin && d <= rMax) set(x, y, c);
        }
    }
}

Bitmap Canvas::bitmap() const { return *makeBitmap(img_); }

}  // namespace tessival
