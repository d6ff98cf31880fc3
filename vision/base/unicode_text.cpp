#include "base/unicode_text.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/ucasemap.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <memory>

namespace tessival::unicode {
namespace {

struct CaseMapCloser {
    void operator()(UCaseMap* m) const { ucasemap_close(m); }
};

UCaseMap* rootCaseMap() {
    static const std::unique_ptr<UCaseMap, CaseMapCloser> map = [] {
        UErrorCode err = U_ZERO_ERROR;
        return std::unique_ptr<UCaseMap, CaseMapCloser>(ucasemap_open("", 0, &err));
    }();
    return map.get();
}

using MapFn = int32_t (*)(const UCaseMap*, char*, int32_t, const char*, int32_t, UErrorCode*);

std::string mapCase(std::string_view in, MapFn fn) {
    const std::string src = repairUtf8(in);
    if (src.empty()) return {};
    std::string out(src.size() + 16, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode err = U_ZERO_ERROR;
        const int32_t n = fn(rootCaseMap(), out.data(), static_cast<int32_t>(out.size()),
                             src.data(), static_cast<int32_t>(src.size()), &err);
        if (err == U_BUFFER_OVERFLOW_ERROR) {
            out.assign(static_cast<size_t>(n) + 1, '\0');
            continue;
        }
        if (U_FAILURE(err)) return src;
        out.resize(static_cast<size_t>(n));
        return out;
    }
    return src;
}

UChar32 firstScalar(std::string_view s) {
    if (s.empty()) return -1;
    int32_t i = 0;
    UChar32 c = 0;
    U8_NEXT(reinterpret_cast<const uint8_t*>(s.data()), i, static_cast<int32_t>(s.size()), c);
    return c;
}

bool isWhitespaceOrNewline(UChar32 c) {
    if (c >= 0x09 && c <= 0x0D) return true;
    if (c == 0x85) return true;
    const int8_t cat = u_charType(c);
    return cat == U_SPACE_SEPARATOR || cat == U_LINE_SEPARATOR || cat == U_PARAGRAPH_SEPARATOR;
}

bool isHorizontalSpace(UChar32 c) { return c == 0x09 || u_charType(c) == U_SPACE_SEPARATOR; }

template <typename Pred>
std::string_view trimScalars(std::string_view s, Pred pred) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const auto n = static_cast<int32_t>(s.size());
    int32_t start = 0;
    while (start < n) {
        int32_t i = start;
        UChar32 c = 0;
        U8_NEXT(p, i, n, c);
        if (c < 0 || !pred(c)) break;
        start = i;
    }
    int32_t end = n;
    while (end > start) {
        int32_t i = end;
        UChar32 c = 0;
        U8_PREV(p, start, i, c);
        if (c < 0 || !pred(c)) break;
        end = i;
    }
    return s.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
}

}  // namespace

bool isValidUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const auto n = static_cast<int32_t>(s.size());
    for (int32_t i = 0; i < n;) {
        UChar32 c = 0;
        U8_NEXT(p, i, n, c);
        if (c < 0) return false;
    }
    return true;
}

std::string repairUtf8(std::string_view s) {
    if (isValidUtf8(s)) return std::string(s);
    std::string out;
    out.reserve(s.size() + 8);
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const auto n = static_cast<int32_t>(s.size());
    for (int32_t i = 0; i < n;) {
        const int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(p, i, n, c);
        if (c < 0) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(s.data() + start, static_cast<size_t>(i - start));
        }
    }
    return out;
}

std::string lowercased(std::string_view s) { return mapCase(s, ucasemap_utf8ToLower); }
std::string uppercased(std::string_view s) { return mapCase(s, ucasemap_utf8ToUpper); }

std::vector<std::string_view> characters(std::string_view s) {
    std::vector<std::string_view> out;
    if (s.empty()) return out;
    thread_local std::unique_ptr<icu::BreakIterator> it = [] {
        UErrorCode err = U_ZERO_ERROR;
        return std::unique_ptr<icu::BreakIterator>(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), err));
    }();
    UErrorCode err = U_ZERO_ERROR;
    UText* text = utext_openUTF8(nullptr, s.data(), static_cast<int64_t>(s.size()), &err);
    if (!it || U_FAILURE(err)) {
        utext_close(text);
        for (size_t i = 0; i < s.size(); ++i) out.push_back(s.substr(i, 1));
        return out;
    }
    it->setText(text, err);
    int32_t prev = it->first();
    for (int32_t b = it->next(); b != icu::BreakIterator::DONE; b = it->next()) {
        out.push_back(s.substr(static_cast<size_t>(prev), static_cast<size_t>(b - prev)));
        prev = b;
    }
    // Detach the iterator from the UText before it goes away.
    it->setText(icu::UnicodeString());
    utext_close(text);
    return out;
}

size_t characterCount(std::string_view s) { return characters(s).size(); }

bool isLetter(std::string_view ch) {
    const UChar32 c = firstScalar(ch);
    return c >= 0 && u_hasBinaryProperty(c, UCHAR_ALPHABETIC);
}

size_t letterCount(std::string_view s) {
    size_t n = 0;
    for (const std::string_view ch : characters(s)) n += isLetter(ch);
    return n;
}

bool isNumber(std::string_view ch) {
    const UChar32 c = firstScalar(ch);
    return c >= 0 && u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

bool isUppercase(std::string_view ch) {
    const UChar32 c = firstScalar(ch);
    if (c < 0) return false;
    const bool single = static_cast<int32_t>(ch.size()) == U8_LENGTH(c);
    if (single && u_hasBinaryProperty(c, UCHAR_UPPERCASE)) return true;
    // Unchanged by upper-casing and cased (changed by lower-casing or a cased scalar).
    const std::string upper = uppercased(ch);
    if (upper != ch) return false;
    return lowercased(ch) != ch || (single && u_hasBinaryProperty(c, UCHAR_CASED));
}

std::string_view trimWhitespaceAndNewlines(std::string_view s) {
    return trimScalars(s, isWhitespaceOrNewline);
}

std::string_view trimHorizontalSpace(std::string_view s) {
    return trimScalars(s, isHorizontalSpace);
}

std::string replaceAll(std::string_view s, std::string_view from, std::string_view to) {
    std::string out;
    if (from.empty()) return std::string(s);
    out.reserve(s.size());
    size_t pos = 0;
    while (true) {
        const size_t hit = s.find(from, pos);
        if (hit == std::string_view::npos) break;
        out.append(s.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(s.substr(pos));
    return out;
}

}  // namespace tessival::unicode
