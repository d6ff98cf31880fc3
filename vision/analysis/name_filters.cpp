#include "analysis/name_filters.h"

#include <algorithm>
#include <cctype>
#include <vector>

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

// Lower-cased words of `s` split at white space, with brackets and the punctuation round a
// word dropped; words inside brackets are left out when `outsideBrackets` is set.
std::vector<std::string> words(std::string_view s, bool outsideBrackets) {
    const std::string lower = unicode::lowercased(s);
    std::vector<std::string> out;
    std::string cur;
    int depth = 0;
    auto flush = [&] {
        // Trim punctuation at both ends; keep inner dashes, dots and apostrophes.
        size_t b = 0, e = cur.size();
        while (b < e && std::ispunct(static_cast<unsigned char>(cur[b]))) ++b;
        while (e > b && std::ispunct(static_cast<unsigned char>(cur[e - 1]))) --e;
        if (e > b) out.push_back(cur.substr(b, e - b));
        cur.clear();
    };
    for (char c : lower) {
        if (c == '(' || c == '[') {
            flush();
            ++depth;
        } else if (c == ')' || c == ']') {
            flush();
            depth = std::max(0, depth - 1);
        } else if (c == ' ' || c == '\t') {
            flush();
        } else if (depth == 0 || !outsideBrackets) {
            cur += c;
        }
    }
    flush();
    return out;
}

bool isNumberWord(std::string_view w) {
    return !w.empty() && std::all_of(w.begin(), w.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '/';
    });
}

// Small words that join interface captions or run through prose, never a part of a name
// (name particles such as "de", "van" or "al" are not among them).
constexpr std::array<std::string_view, 30> JOINING_WORDS = {
    "the", "to", "and", "of", "for", "with", "is", "are", "was", "be", "your", "our", "we", "this",
    "that", "it", "in", "on", "at", "by", "from", "or", "not", "no", "now", "here", "all", "my", "a", "an"};

// Small words inside names written in lower case ("Maximilian von Hohenberg", "Ana de la Cruz").
constexpr std::array<std::string_view, 24> NAME_PARTICLES = {
    "von", "van", "der", "den", "de", "da", "di", "del", "della", "dos", "das", "du",
    "la", "le", "zu", "ter", "ten", "bin", "ibn", "al", "el", "y", "e", "und"};

}  // namespace

bool readsAsClock(std::string_view s) {
    // A digit, a colon, two digits: "9:31", "10:34 AM", "3:39 • 10 participants".
    const auto digit = [&](size_t i) { return std::isdigit(static_cast<unsigned char>(s[i])) != 0; };
    for (size_t i = 1; i + 2 < s.size(); ++i) {
        if (s[i] == ':' && digit(i - 1) && digit(i + 1) && digit(i + 2)) return true;
    }
    return false;
}

bool readsAsAddress(std::string_view s) {
    const std::string lower = unicode::lowercased(s);
    if (lower.find("://") != std::string::npos || lower.find("www.") != std::string::npos ||
        lower.find("localhost") != std::string::npos)
        return true;
    // Brackets hold a name's pronouns ("(she/her)"), not an address.
    for (const std::string& w : words(lower, true)) {
        // A slash inside a word is a path ("public/lobby"); a dot followed by a short
        // all-letter ending is a host name ("meetup.livekit.io"), a dot between digits an
        // address ("127.0.0.1").
        if (w.find('/') != std::string::npos && w.size() > 2) return true;
        const size_t dot = w.rfind('.');
        if (dot == std::string::npos || dot == 0 || dot + 1 >= w.size()) continue;
        const std::string_view tail = std::string_view(w).substr(dot + 1);
        const bool letters = std::all_of(tail.begin(), tail.end(), [](char c) { return c >= 'a' && c <= 'z'; });
        if (letters && tail.size() >= 2 && tail.size() <= 5 && dot >= 2) return true;
        if (std::isdigit(static_cast<unsigned char>(w[dot - 1])) && std::isdigit(static_cast<unsigned char>(tail[0])))
            return true;
    }
    return false;
}

// Verbs a control's caption starts with ("Join activity", "Open whiteboard"); no name does.
// (The toolbar's own stop words may run into a name beside them: "Mute Okafor".)
constexpr std::array<std::string_view, 4> ACTION_VERBS = {"join", "open", "invite", "admit"};
// A caption led by one is this many words at most.
constexpr size_t ACTION_CAPTION_MAX_WORDS = 3;

bool readsAsControlCaption(std::string_view s) {
    const std::vector<std::string> all = words(s, false);
    return !all.empty() && all.size() <= ACTION_CAPTION_MAX_WORDS && member(ACTION_VERBS, all.front());
}

bool readsAsInterfaceText(std::string_view s) {
    if (readsAsControlCaption(s)) return true;
    const std::vector<std::string> all = words(s, false);
    bool any = false;
    for (const std::string& w : all) {
        // An app's own name among them is its title bar or header ("Zoom Meeting").
        if (member(UI_VOCABULARY, w) || member(UI_STOPWORDS, w) || member(TOOLBAR_CAPTIONS, w) ||
            member(WATERMARK_TOKENS, canonToken(w))) {
            any = true;
        } else if (!isNumberWord(w) && !member(JOINING_WORDS, w)) {
            return false;
        }
    }
    return any;
}

std::vector<std::string> toolbarRunWords(std::string_view s) {
    std::vector<std::string> out;
    for (std::string& w : words(s, false)) {
        if (unicode::characterCount(w) < 3) continue;
        if (!member(UI_VOCABULARY, w) && !member(UI_STOPWORDS, w) && !member(TOOLBAR_CAPTIONS, w)) return {};
        out.push_back(std::move(w));
    }
    if (out.size() < 3) out.clear();
    return out;
}

namespace {

// The words of `s` outside brackets, as written.
std::vector<std::string_view> wordsOutsideBrackets(std::string_view s) {
    std::vector<std::string_view> ws;
    int depth = 0;
    size_t start = std::string_view::npos;
    const std::string_view t = unicode::trimWhitespaceAndNewlines(s);
    for (size_t i = 0; i <= t.size(); ++i) {
        const char c = i < t.size() ? t[i] : ' ';
        const bool boundary = c == ' ' || c == '(' || c == ')' || c == '[' || c == ']';
        if (boundary && start != std::string_view::npos) {
            if (depth == 0) ws.push_back(t.substr(start, i - start));
            start = std::string_view::npos;
        }
        if (c == '(' || c == '[') ++depth;
        if ((c == ')' || c == ']') && depth > 0) --depth;
        if (!boundary && start == std::string_view::npos) start = i;
    }
    return ws;
}

// Whether `w` is a word of letters in lower case that is no name particle.
bool lowerCaseWord(std::string_view w) {
    const std::string lower = unicode::lowercased(w);
    const auto chars = unicode::characters(w);
    return lower == w && unicode::uppercased(w) != w && std::all_of(chars.begin(), chars.end(), unicode::isLetter) &&
           !member(NAME_PARTICLES, lower);
}

bool capitalised(std::string_view w) {
    const auto chars = unicode::characters(w);
    return !chars.empty() && unicode::isUppercase(chars.front());
}

}  // namespace

bool readsAsPhrase(std::string_view s) {
    const std::vector<std::string_view> ws = wordsOutsideBrackets(s);
    if (ws.size() < 2 || !capitalised(ws.front())) return false;
    return std::any_of(ws.begin() + 1, ws.end(), lowerCaseWord);
}

bool readsAsClippedLabel(std::string_view s) {
    const std::vector<std::string_view> ws = wordsOutsideBrackets(s);
    return ws.size() >= 2 && lowerCaseWord(ws.front()) && std::any_of(ws.begin() + 1, ws.end(), capitalised);
}

bool readsAsJobTitle(std::string_view s) {
    for (const std::string& w : words(s, true)) {
        if (member(ROLE_WORDS, w)) return true;
    }
    return false;
}

bool readsAsProse(std::string_view s) {
    const std::string_view t = unicode::trimWhitespaceAndNewlines(s);
    const std::vector<std::string> ws = words(t, true);
    if (ws.size() > 5) return true;
    if (ws.size() >= 2 && std::any_of(ws.begin(), ws.end(), [](const std::string& w) {
            return member(JOINING_WORDS, w);
        }))
        return true;
    // A heading's or a sentence's colon ("Roadmap 2026: what ships next"); clock times are
    // told apart before.
    if (t.find(':') != std::string_view::npos || t.find(';') != std::string_view::npos) return true;
    // A sentence's end; an abbreviation's full stop ("Jr.") is short, and an ellipsis ends a
    // label cut to its tile's width ("Konstantina Papado…", read as two dots or three).
    const bool cut = t.ends_with("..") || t.ends_with("\u2026");
    if (!cut && !t.empty() && (t.back() == '.' || t.back() == '?' || t.back() == '!' || t.back() == ':')) {
        const std::vector<std::string> all = words(t, false);
        if (t.back() != '.' || all.size() >= 3 || (!all.empty() && all.back().size() > 3)) return true;
    }
    return false;
}

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
    if (static_cast<double>(letters) / static_cast<double>(chars.size()) < 0.5) return false;
    // One word in capitals is a heading or a badge ("PLAYERS", "HOST"); initials are shorter.
    const bool capitalWord = chars.size() >= 4 && std::all_of(chars.begin(), chars.end(), [](std::string_view ch) {
        return unicode::isLetter(ch) && unicode::isUppercase(ch);
    });
    return !capitalWord && !readsAsClock(t) && !readsAsAddress(t) && !readsAsInterfaceText(t) && !readsAsJobTitle(t) &&
           !readsAsProse(t) && !readsAsPhrase(t) && !readsAsClippedLabel(t);
}

}  // namespace tessival
