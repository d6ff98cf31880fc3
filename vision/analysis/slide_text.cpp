#include "analysis/slide_text.h"

#include <algorithm>
#include <cmath>

#include "base/unicode_text.h"

namespace tessival {
namespace {

constexpr float CONFIDENCE_FLOOR = 0.3f;
constexpr double LINE_TOLERANCE_FACTOR = 0.6;
constexpr double LINE_TOLERANCE_FLOOR = 0.012;

bool hasLetterOrNumber(std::string_view s) {
    for (std::string_view ch : unicode::characters(s)) {
        if (unicode::isLetter(ch) || unicode::isNumber(ch)) return true;
    }
    return false;
}

double centreY(const TextObservation& o) { return o.box.y + o.box.height * 0.5; }

// `line` without a leading dash read glued to the capital after it: a slide's dash bullet
// (the round ones read as "e" or "o" are dropped with the words), not part of the item.
std::string_view withoutDashBullet(std::string_view line) {
    const std::vector<std::string_view> chars = unicode::characters(line);
    if (chars.size() < 2 || (chars[0] != "-" && chars[0] != "\u2013" && chars[0] != "\u2014")) return line;
    return unicode::isUppercase(chars[1]) ? line.substr(chars[0].size()) : line;
}

}  // namespace

std::string slideText(const std::vector<TextObservation>& obs) {
    std::vector<const TextObservation*> kept;
    for (const TextObservation& o : obs) {
        const std::string_view t = unicode::trimWhitespaceAndNewlines(o.text);
        if (o.conf >= CONFIDENCE_FLOOR && !t.empty() && hasLetterOrNumber(t)) kept.push_back(&o);
    }
    if (kept.empty()) return "";

    std::vector<double> heights;
    heights.reserve(kept.size());
    for (const TextObservation* o : kept) heights.push_back(o->box.height);
    std::sort(heights.begin(), heights.end());
    const double tol = std::max(heights[heights.size() / 2] * LINE_TOLERANCE_FACTOR, LINE_TOLERANCE_FLOOR);

    std::stable_sort(kept.begin(), kept.end(), [](const TextObservation* a, const TextObservation* b) {
        return centreY(*a) < centreY(*b);
    });
    std::vector<std::vector<const TextObservation*>> lines;
    double lastLineMaxCentre = 0;
    for (const TextObservation* o : kept) {
        const double c = centreY(*o);
        if (lines.empty() || std::abs(c - lastLineMaxCentre) > tol) {
            lines.push_back({o});
            lastLineMaxCentre = c;
        } else {
            lines.back().push_back(o);
            lastLineMaxCentre = std::max(lastLineMaxCentre, c);
        }
    }

    std::string text;
    for (auto& line : lines) {
        std::stable_sort(line.begin(), line.end(), [](const TextObservation* a, const TextObservation* b) {
            return a->box.x < b->box.x;
        });
        if (!text.empty()) text += '\n';
        for (size_t i = 0; i < line.size(); ++i) {
            if (i > 0) text += ' ';
            const std::string_view words = unicode::trimWhitespaceAndNewlines(line[i]->text);
            text.append(i == 0 ? withoutDashBullet(words) : words);
        }
    }
    return std::string(unicode::trimWhitespaceAndNewlines(text));
}

}  // namespace tessival
