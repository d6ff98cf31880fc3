#include "analysis/ocr_words.h"

#include <algorithm>
#include <cmath>

#include "base/unicode_text.h"

namespace tessival {
namespace {

bool hasLetterOrNumber(std::string_view s) {
    for (std::string_view ch : unicode::characters(s)) {
        if (unicode::isLetter(ch) || unicode::isNumber(ch)) return true;
    }
    return false;
}

// Icons read as words: symbols only, one or two characters the engine is unsure of, or a
// letter with a mark no word ends in (a speaker's ring against a label read "É;").
bool isEdgeNoise(const OcrWord& w) {
    if (!hasLetterOrNumber(w.text)) return true;
    const size_t n = unicode::characterCount(w.text);
    const bool marked = n == 2 && std::string_view(";:|!").find(w.text.back()) != std::string_view::npos;
    return (n == 1 && w.conf < EDGE_CHARACTER_MIN_CONFIDENCE) ||
           (n == 2 && (w.conf < EDGE_WORD_MIN_CONFIDENCE || marked));
}

// A round bullet read as a lone "e" or "o" in front of a capitalised word.
bool isBullet(const std::vector<OcrWord>& words, size_t i) {
    if (words[i].text != "e" && words[i].text != "o") return false;
    if (i + 1 >= words.size()) return false;
    const auto next = unicode::characters(words[i + 1].text);
    return !next.empty() && unicode::isUppercase(next.front());
}

// `text` without the brackets and bars at its ends that close or open nothing in it: a
// tile's frame or a chip's edge read as a glyph beside the label ("[Leilani Kahale").
std::string trimStrayBrackets(std::string text) {
    const auto count = [&](char c) { return std::count(text.begin(), text.end(), c); };
    const auto stray = [&](char c) {
        switch (c) {
            case '(': return count('(') > count(')');
            case ')': return count(')') > count('(');
            case '[': return count('[') > count(']');
            case ']': return count(']') > count('[');
            case '|': return true;
            default: return false;
        }
    };
    while (!text.empty() && stray(text.front())) {
        text.erase(0, 1);
        while (!text.empty() && text.front() == ' ') text.erase(0, 1);
    }
    while (!text.empty() && stray(text.back())) {
        text.pop_back();
        while (!text.empty() && text.back() == ' ') text.pop_back();
    }
    return text;
}

}  // namespace

std::optional<RecognizedLine> assembleLine(const std::vector<OcrWord>& words, double imgW,
                                           double imgH, float minConfidence) {
    if (imgW <= 0 || imgH <= 0) return std::nullopt;
    std::vector<OcrWord> kept;
    for (size_t i = 0; i < words.size(); ++i) {
        if (!words[i].text.empty() && !isBullet(words, i)) kept.push_back(words[i]);
    }
    size_t first = 0, last = kept.size();
    while (first < last && isEdgeNoise(kept[first])) ++first;
    while (last > first && isEdgeNoise(kept[last - 1])) --last;
    if (first == last) return std::nullopt;

    std::string text;
    float confSum = 0;
    double x0 = kept[first].box.minX(), y0 = kept[first].box.minY();
    double x1 = kept[first].box.maxX(), y1 = kept[first].box.maxY();
    for (size_t i = first; i < last; ++i) {
        if (i > first) text += ' ';
        text += kept[i].text;
        confSum += kept[i].conf;
        x0 = std::min(x0, kept[i].box.minX());
        y0 = std::min(y0, kept[i].box.minY());
        x1 = std::max(x1, kept[i].box.maxX());
        y1 = std::max(y1, kept[i].box.maxY());
    }
    text = trimStrayBrackets(std::move(text));
    if (!hasLetterOrNumber(text)) return std::nullopt;
    const float conf = std::clamp(confSum / static_cast<float>(last - first) / 100.0f, 0.0f, 1.0f);
    if (conf < minConfidence) return std::nullopt;
    if (unicode::characterCount(text) <= 2 && conf < SHORT_LINE_MIN_CONFIDENCE) return std::nullopt;
    return RecognizedLine{unicode::repairUtf8(text), conf,
                          Rect{x0 / imgW, y0 / imgH, (x1 - x0) / imgW, (y1 - y0) / imgH}};
}

std::vector<RecognizedLine> joinSplitLines(std::vector<RecognizedLine> lines, double imgW,
                                           double imgH, const std::vector<Rect>& tiles) {
    if (imgW <= 0 || imgH <= 0) return lines;
    const auto tileOf = [&](const Rect& box) {
        const auto t = std::find_if(tiles.begin(), tiles.end(),
                                    [&](const Rect& r) { return r.contains(box.midX(), box.midY()); });
        return t == tiles.end() ? -1 : static_cast<int>(t - tiles.begin());
    };
    bool joined = true;
    while (joined) {
        joined = false;
        for (size_t i = 0; i < lines.size() && !joined; ++i) {
            for (size_t j = 0; j < lines.size() && !joined; ++j) {
                if (i == j) continue;
                RecognizedLine& left = lines[i];
                const RecognizedLine& right = lines[j];
                // Pixels: heights and the gap between left's right edge and right's left edge.
                const double hl = left.box.height * imgH, hr = right.box.height * imgH;
                const double h = std::max(hl, hr);
                if (h <= 0) continue;
                // Heights alike, or the shorter box within the taller one's rows (a word
                // beside one whose box took in a mark under it) and close to it.
                const Rect& tall = hl >= hr ? left.box : right.box;
                const Rect& low = hl >= hr ? right.box : left.box;
                const double slack = 0.05 * tall.height;
                const bool within = low.minY() >= tall.minY() - slack && low.maxY() <= tall.maxY() + slack;
                if (std::min(hl, hr) < 0.7 * h && !within) continue;
                if (!within && std::abs(left.box.midY() - right.box.midY()) * imgH > 0.3 * h) continue;
                const double gap = (right.box.minX() - left.box.maxX()) * imgW;
                const double reach = within ? std::min(hl, hr) : h;
                const bool labelWords = tileOf(left.box) >= 0 && tileOf(left.box) == tileOf(right.box) &&
                                        unicode::letterCount(left.text) >= LABEL_WORD_MIN_LETTERS &&
                                        unicode::letterCount(right.text) >= LABEL_WORD_MIN_LETTERS;
                if (gap < -0.05 * h || gap >= (labelWords ? LABEL_WORD_GAP : 0.35) * reach) continue;
                const float chars = static_cast<float>(left.text.size() + right.text.size());
                left.confidence = (left.confidence * static_cast<float>(left.text.size()) +
                                   right.confidence * static_cast<float>(right.text.size())) / chars;
                left.text += (gap < 0.15 * h ? "" : " ") + right.text;
                const double x0 = std::min(left.box.minX(), right.box.minX());
                const double y0 = std::min(left.box.minY(), right.box.minY());
                const double x1 = std::max(left.box.maxX(), right.box.maxX());
                const double y1 = std::max(left.box.maxY(), right.box.maxY());
                left.box = Rect{x0, y0, x1 - x0, y1 - y0};
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(j));
                joined = true;
            }
        }
    }
    return lines;
}

}  // namespace tessival
