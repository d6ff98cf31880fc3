#include "analysis/meeting_text.h"

#include <algorithm>
#include <set>

#include "base/unicode_text.h"

namespace tessival {
namespace {

constexpr std::array<std::string_view, 7> DASHES = {
    "\u2010", "\u2011", "\u2012", "\u2013", "\u2014", "\u2015", "\u2212"};

bool needsSubstringMatch(std::string_view hint) {
    return hint.find_first_of(" .-") != std::string_view::npos;
}

bool contains(std::string_view hay, std::string_view needle) {
    return hay.find(needle) != std::string_view::npos;
}

}  // namespace

std::string normalizeHay(std::string_view app, std::string_view title) {
    std::string joined;
    joined.reserve(app.size() + title.size() + 1);
    joined.append(app).append(" ").append(title);
    std::string s = unicode::lowercased(joined);
    for (std::string_view dash : DASHES) s = unicode::replaceAll(s, dash, "-");
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') ++i;
        size_t j = i;
        while (j < s.size() && s[j] != ' ') ++j;
        if (j > i) {
            if (!out.empty()) out += ' ';
            out.append(s, i, j - i);
        }
        i = j;
    }
    return out;
}

bool containsWord(std::string_view text, std::string_view word) {
    std::string token;
    for (std::string_view ch : unicode::characters(text)) {
        if (unicode::isLetter(ch) || unicode::isNumber(ch)) {
            token.append(ch);
            continue;
        }
        if (!token.empty() && token == word) return true;
        token.clear();
    }
    return !token.empty() && token == word;
}

bool hasMeetingHint(std::string_view app, std::string_view title) {
    const std::string hay = normalizeHay(app, title);
    for (std::string_view hint : MEETING_HINTS) {
        if (needsSubstringMatch(hint) ? contains(hay, hint) : containsWord(hay, hint))
            return true;
    }
    const std::string appHay = normalizeHay(app, "");
    return std::any_of(MEETING_APP_ONLY_HINTS.begin(), MEETING_APP_ONLY_HINTS.end(),
                       [&](std::string_view hint) { return containsWord(appHay, hint); });
}

bool browserCallSurface(std::string_view title) {
    const std::string t = normalizeHay("", title);
    for (std::string_view address : CALL_PAGE_ADDRESSES) {
        if (contains(t, address)) return true;
    }
    return t.rfind("meet - ", 0) == 0;
}

TeamsWindowKind teamsWindowKind(std::string_view app, std::string_view title) {
    if (!contains(unicode::lowercased(app), "teams")) return {};
    const std::string t = unicode::lowercased(title);
    if (t.empty() || t == "microsoft teams") return {true, false};
    for (std::string_view prefix : TEAMS_HUB_PREFIXES) {
        if (t.rfind(prefix, 0) == 0) return {true, false};
    }
    return {false, true};
}

int callUiHits(const std::vector<std::string>& texts) {
    std::set<std::string, std::less<>> seen;
    for (const std::string& text : texts) {
        std::string t = unicode::lowercased(unicode::trimWhitespaceAndNewlines(text));
        if (std::find(CALL_UI_TOKENS.begin(), CALL_UI_TOKENS.end(), t) != CALL_UI_TOKENS.end())
            seen.insert(std::move(t));
    }
    return static_cast<int>(seen.size());
}

}  // namespace tessival
