#include "analysis/line_blocks.h"

#include <algorithm>
#include <cmath>

#include "analysis/name_filters.h"
#include "base/unicode_text.h"

namespace tessival {
namespace {

bool sameHeight(const Rect& a, const Rect& b, double tolerance) {
    const double h = std::max(a.height, b.height);
    return h > 0 && std::abs(a.height - b.height) <= tolerance * h;
}

// The gap from the bottom of `upper` to the top of `lower`, in heights of the taller.
double verticalGap(const Rect& upper, const Rect& lower) {
    return (lower.minY() - upper.maxY()) / std::max(upper.height, lower.height);
}

bool shareColumn(const Rect& a, const Rect& b) {
    const double overlap = std::min(a.maxX(), b.maxX()) - std::max(a.minX(), b.minX());
    return overlap >= 0.5 * std::min(a.width, b.width);
}

bool stacked(const Rect& a, const Rect& b) {
    const Rect& upper = a.minY() <= b.minY() ? a : b;
    const Rect& lower = a.minY() <= b.minY() ? b : a;
    const double gap = verticalGap(upper, lower);
    return sameHeight(a, b, 0.25) && gap > -0.3 && gap < 0.9 && shareColumn(a, b);
}

size_t wordCount(std::string_view s) {
    size_t n = 0;
    bool in = false;
    for (char c : s) {
        const bool space = c == ' ';
        if (!space && !in) ++n;
        in = !space;
    }
    return n;
}

}  // namespace

std::vector<bool> inLineBlock(const std::vector<TextObservation>& lines) {
    std::vector<bool> out(lines.size(), false);
    for (size_t i = 0; i < lines.size(); ++i) {
        for (size_t j = i + 1; j < lines.size(); ++j) {
            if (stacked(lines[i].box, lines[j].box)) out[i] = out[j] = true;
        }
    }
    return out;
}

std::vector<TextObservation> joinWrappedNames(std::vector<TextObservation> lines) {
    for (size_t i = 0; i < lines.size(); ++i) {
        for (size_t j = 0; j < lines.size(); ++j) {
            if (i == j) continue;
            const TextObservation& upper = lines[i];
            const TextObservation& lower = lines[j];
            const Rect& a = upper.box;
            const Rect& b = lower.box;
            const double gap = verticalGap(a, b);
            const std::string text = std::string(unicode::trimWhitespaceAndNewlines(upper.text)) + " " +
                                     std::string(unicode::trimWhitespaceAndNewlines(lower.text));
            // Line boxes of one size differ by a third with and without descenders and capitals.
            if (a.minY() >= b.minY() || gap < -0.3 || gap >= 0.9 || !sameHeight(a, b, 0.35)) continue;
            if (std::abs(a.midX() - b.midX()) > 0.15 * std::max(a.width, b.width)) continue;
            if (wordCount(text) > 4 || unicode::characterCount(text) > 32) continue;
            if (!looksLikeName(upper.text) || !looksLikeName(lower.text) || !looksLikeName(text)) continue;
            const double x0 = std::min(a.minX(), b.minX()), y0 = a.minY();
            const double x1 = std::max(a.maxX(), b.maxX()), y1 = std::max(a.maxY(), b.maxY());
            lines[i].text = text;
            lines[i].conf = std::min(upper.conf, lower.conf);
            lines[i].box = Rect{x0, y0, x1 - x0, y1 - y0};
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(j));
            if (j < i) --i;
            break;
        }
    }
    return lines;
}

}  // namespace tessival
