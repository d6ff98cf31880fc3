#include "analysis/name_filters.h"

#include <algorithm>

#include "base/unicode_text.h"
#include "analysis/meeting_text.h"

namespace tessival {
namespace {

template <size_t N>
bool member(const std::array<std::string_view, N>& table, std::string_view s) {
    return std::find(table.begin(), table.end(), s) != table.end();
}

bool isToolbarWord(std::string_view w) {
    return member(UI_STOPWORDS, w) || member(CALL_UI_TOKENS, w) || member(TOOLBAR_CAPTIONS, w);
}

// Every space-separated word of the lower-cased text is a toolbar word.
bool isToolbarCaptionRun(std::string_view lower) {
    bool any = false;
    size_t i = 0;
    while (i < lower.size()) {
        while (i < lower.size() && lower[i] == ' ') ++i;
        size_t j = i;
        while (j < lower.size() && lower[j] != ' ') ++j;
        if (j > i) {
            if (!isToolbarWord(lower.substr(i, j - i))) return false;
            any = true;
        }
        i = j;
    }
    return any;
}

}  // namespace

std::string canonToken(std::string_view s) {
    const std::string lower = unicode::lowercased(s);
    std::string out;
    for (std::string_view ch : unicode::characters(lower)) {
        if (ch == "0") {
            out += 'o';
        } else if (ch == "1") {
            out += 'l';
        } else if (ch == "5") {
            out += 's';
        } else if (ch == "8") {
            out += 'b';
        } else if (unicode::isLetter(ch)) {
            out.append(ch);
        }
    }
    return out;
}

bool isWatermark(std::string_view s) {
    const std::string t = canonToken(s);
    return !t.empty() && member(WATERMARK_TOKENS, t);
}

bool inWatermarkRegion(const Rect& box) {
    return box.midX() >= WATERMARK_REGION_X && box.midY() >= WATERMARK_REGION_Y;
}

bool echoesWindowTitle(std::string_view text, const Rect& box, std::string_view windowTitle) {
    if (box.midY() >= TITLE_BAND_Y || windowTitle.empty()) return false;
    const std::string t = normalizeHay("", text);
    return unicode::characterCount(t) >= 3 && normalizeHay("", windowTitle).find(t) != std::string::npos;
}

bool isInitialsChip(std::string_view s) {
    const std::string_view t = unicode::trimWhitespaceAndNewlines(s);
    if (t.empty()) return false;
    const auto chars = unicode::characters(t);
    if (chars.size() >= 4) return false;
    return std::all_of(chars.begin(), chars.end(), [](std::string_view ch) {
        return unicode::isLetter(ch) && unicode::isUppercase(ch);
    });
}

bool looksLikeName(std::string_view s) {
    const std::string_view t = unicode::trimWhitespaceAndNewlines(s);
    const auto chars = unicode::characters(t);
    if (chars.size() < 2 || chars.size() > 40) return false;
    const std::string lower = unicode::lowercased(t);
    if (member(UI_STOPWORDS, lower)) return false;
    // Toolbar captions such as "Stop Video", alone or run together, are not people.
    if (member(CALL_UI_TOKENS, lower) || isToolbarCaptionRun(lower)) return false;
    const std::string token = canonToken(t);
    if (!token.empty() && member(WATERMARK_TOKENS, token)) return false;
    const auto letters = std::count_if(chars.begin(), chars.end(), unicode::isLetter);
    if (letters == 0) return false;
    return static_cast<double>(letters) / static_cast<double>(chars.size()) >= 0.5;
}

}  // namespace tessival
