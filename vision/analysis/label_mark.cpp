#include "analysis/label_mark.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tessival {
namespace {

using Colour = std::array<double, 3>;

// A chip is read in rows this share of the label's height above and below its box, and is
// plain where this share of its pixels lies within GROUND_TOLERANCE of its median in every
// channel.
constexpr double GROUND_ROOM = 0.25;
constexpr double GROUND_PLAIN_SHARE = 0.8;
constexpr double GROUND_TOLERANCE = 30;
// Rows this many label heights above and below the box lie outside any chip.
constexpr double CHIP_BEYOND = 1.5;
// The letters are the brightest pixels of the box (labels on video are drawn light: a
// picture under them, however saturated, is darker than white letters), this share of it,
// and stand this much above the box's median.
constexpr double INK_SHARE = 0.15;
constexpr double INK_CONTRAST = 40;
// Letters are drawn in one colour: this share of those pixels lies within INK_TOLERANCE of
// their median (the bright parts of a picture behind a label vary).
constexpr double INK_ONE_COLOUR_SHARE = 0.6;
constexpr double INK_TOLERANCE = 40;
// A colour's spread (largest channel less smallest) from which it is coloured, and under
// which it is white, grey or black; a chip must be this bright to be a colour, not a shadow.
constexpr double COLOURED_SPREAD = 90;
constexpr double NEUTRAL_SPREAD = 40;
constexpr double CHIP_MIN_LARGEST = 90;
// Labels under this many pixels high are not measured: their strokes are mostly blur.
constexpr int64_t LABEL_MIN_HEIGHT = 6;

Colour median(std::vector<Colour>& px) {
    Colour out{};
    for (size_t c = 0; c < 3; ++c) {
        std::nth_element(px.begin(), px.begin() + static_cast<std::ptrdiff_t>(px.size() / 2), px.end(),
                         [&](const Colour& a, const Colour& b) { return a[c] < b[c]; });
        out[c] = px[px.size() / 2][c];
    }
    return out;
}

double spread(const Colour& c) { return *std::max_element(c.begin(), c.end()) - *std::min_element(c.begin(), c.end()); }

double distance(const Colour& a, const Colour& b) {
    return std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
}

// How a label's box (normalised) is drawn: its letters, the brightest pixels of the box, and
// the chip under them where that is one plain colour. Measured only where the letters stand
// out light (a label on video is drawn light; a dark one on a light chip is not told).
struct LabelColour {
    bool measured = false;
    bool coloured = false;  // strokes or chip in a strong colour
    bool neutral = false;   // strokes and chip white, grey or black
    double strength = 0;    // the colour's saturation, 0 to 1
};

LabelColour labelColour(const Bitmap& bm, const Rect& box) {
    LabelColour out;
    if (!std::isfinite(box.x) || !std::isfinite(box.y) || !std::isfinite(box.maxX()) || !std::isfinite(box.maxY()))
        return out;
    // Pixels of the box's part inside the picture.
    const auto px = [](double v, int64_t side) {
        return std::llround(std::clamp(v, 0.0, 1.0) * static_cast<double>(side));
    };
    const int64_t x0 = px(box.x, bm.w), x1 = px(box.maxX(), bm.w);
    const int64_t y0 = px(box.y, bm.h), y1 = px(box.maxY(), bm.h);
    if (y1 - y0 < LABEL_MIN_HEIGHT || x1 - x0 < LABEL_MIN_HEIGHT) return out;
    std::vector<Colour> inside;
    for (int64_t y = y0; y < y1; ++y)
        for (int64_t x = x0; x < x1; ++x)
            if (const auto p = bm.rgb(x, y)) inside.push_back(*p);
    if (inside.size() < static_cast<size_t>((x1 - x0) * (y1 - y0))) return out;
    const auto light = [](const Colour& c) { return (c[0] + c[1] + c[2]) / 3; };
    std::sort(inside.begin(), inside.end(), [&](const Colour& a, const Colour& b) { return light(a) > light(b); });
    const size_t inked = std::max<size_t>(1, static_cast<size_t>(INK_SHARE * static_cast<double>(inside.size())));
    if (light(inside[inked - 1]) < light(inside[inside.size() / 2]) + INK_CONTRAST) return out;
    std::vector<Colour> letters(inside.begin(), inside.begin() + static_cast<std::ptrdiff_t>(inked));
    const Colour ink = median(letters);
    const auto alike = std::count_if(letters.begin(), letters.end(),
                                     [&](const Colour& p) { return distance(p, ink) <= INK_TOLERANCE; });
    if (static_cast<double>(alike) < INK_ONE_COLOUR_SHARE * static_cast<double>(letters.size())) return out;
    // The chip under the letters, where it is one plain colour.
    const int64_t room = std::max<int64_t>(1, std::llround(GROUND_ROOM * static_cast<double>(y1 - y0)));
    std::vector<Colour> ground;
    for (const int64_t y : {y0 - room, y1 + room - 1})
        for (int64_t x = x0; x < x1; ++x)
            if (const auto p = bm.rgb(x, y)) ground.push_back(*p);
    bool chip = false;
    if (!ground.empty()) {
        const Colour base = median(ground);
        const auto plain = std::count_if(ground.begin(), ground.end(),
                                         [&](const Colour& p) { return distance(p, base) <= GROUND_TOLERANCE; });
        chip = static_cast<double>(plain) >= GROUND_PLAIN_SHARE * static_cast<double>(ground.size()) &&
               spread(base) >= COLOURED_SPREAD && *std::max_element(base.begin(), base.end()) >= CHIP_MIN_LARGEST;
        // A chip ends round its label; a colour going on above and below it is a wall or a
        // picture behind the label, no mark.
        const int64_t beyond = std::llround(CHIP_BEYOND * static_cast<double>(y1 - y0));
        for (const int64_t y : {y0 - beyond, y1 + beyond - 1}) {
            std::vector<Colour> row;
            for (int64_t x = x0; x < x1; ++x)
                if (const auto p = bm.rgb(x, y)) row.push_back(*p);
            if (row.empty() || distance(median(row), base) <= GROUND_TOLERANCE) chip = false;
        }
        if (chip) out.strength = spread(base) / 255.0;
    }
    out.measured = true;
    out.coloured = chip || spread(ink) >= COLOURED_SPREAD;
    out.neutral = !chip && spread(ink) < NEUTRAL_SPREAD;
    out.strength = std::max(out.strength, spread(ink) / 255.0);
    return out;
}

}  // namespace

std::optional<MarkedLabel> colouredLabel(const Bitmap& bm, const std::vector<Rect>& boxes) {
    std::optional<MarkedLabel> found;
    bool neutral = false;
    for (size_t i = 0; i < boxes.size(); ++i) {
        const LabelColour c = labelColour(bm, boxes[i]);
        if (!c.measured) continue;
        if (c.coloured) {
            if (found) return std::nullopt;
            found = MarkedLabel{i, c.strength};
        } else {
            neutral = neutral || c.neutral;
        }
    }
    return neutral ? found : std::nullopt;
}

}  // namespace tessival
