#include "base/pixel.h"

#include <algorithm>
#include <cmath>

namespace tessival {

namespace {

// 0.12 x 255 in doubles is one unit in the last place below 30.6; kept as the product so the
// comparison uses exactly that value.
constexpr double TEAMS_MIN_SPREAD = 0.12 * 255.0;
constexpr double GREEN_MIN_LEAD = 0.15 * 255.0;

bool hueIn(double h, double lo, double hi) { return h >= lo && h <= hi; }

// isRingPixelBytes counts the purple band's end ratios as inside; hueDeg must agree.
static_assert((-1.0 / 3.0 + 4) * 60 == 220 && (11.0 / 30.0 + 4) * 60 == 262);

}  // namespace

double hueDeg(double r, double g, double b) {
    const double mx = std::max({r, g, b});
    const double mn = std::min({r, g, b});
    const double d = mx - mn;
    if (d == 0) return -1;
    double h;
    if (mx == r) {
        h = std::fmod((g - b) / d, 6.0);
    } else if (mx == g) {
        h = (b - r) / d + 2;
    } else {
        h = (r - g) / d + 4;
    }
    h *= 60;
    if (h < 0) h += 360;
    return h;
}

bool isGreenRingPixel(double r, double g, double b) {
    const double mx = std::max({r, g, b});
    if (mx <= 1) return false;
    const double mn = std::min({r, g, b});
    const double d = mx - mn;
    if (!(g - mn > GREEN_MIN_LEAD) || b > g || r > g) return false;
    if (mx / 255.0 < 0.45 || d / mx < 0.4) return false;
    return hueIn(hueDeg(r, g, b), 75, 165) || hueIn(hueDeg(b, g, r), 75, 165);
}

bool isTeamsRingPixel(double r, double g, double b) {
    const double mx = std::max({r, g, b});
    if (mx <= 1) return false;
    const double mn = std::min({r, g, b});
    const double d = mx - mn;
    if (mx / 255.0 < 0.45 || d / mx < 0.3) return false;
    const bool thirdLargest = r <= b && g <= b;
    const bool firstLargest = g <= r && b <= r;
    if (!thirdLargest && !firstLargest) return false;
    if (d <= TEAMS_MIN_SPREAD) return false;
    return hueIn(hueDeg(r, g, b), 220, 262) || hueIn(hueDeg(b, g, r), 220, 262);
}

bool isRingPixel(double r, double g, double b) {
    return isGreenRingPixel(r, g, b) || isTeamsRingPixel(r, g, b);
}

}  // namespace tessival
