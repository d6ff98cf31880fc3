#pragma once

#include <string>
#include <string_view>
#include <vector>

// Unicode helpers over UTF-8 text. "Character" means a user-perceived character (an
// extended grapheme cluster); a character's properties are those of its first scalar.
namespace tessival::unicode {

bool isValidUtf8(std::string_view s);

// `s` with every ill-formed byte sequence replaced by U+FFFD.
std::string repairUtf8(std::string_view s);

// Full, locale-independent case mapping (root locale). Ill-formed input is repaired first.
std::string lowercased(std::string_view s);
std::string uppercased(std::string_view s);

// The grapheme clusters of `s`, as views into it.
std::vector<std::string_view> characters(std::string_view s);
size_t characterCount(std::string_view s);

bool isLetter(std::string_view character);   // Alphabetic
bool isNumber(std::string_view character);   // has a numeric type
bool isUppercase(std::string_view character);
// How many of the characters of `s` are letters.
size_t letterCount(std::string_view s);

// Trim white space and newlines (Z*, U+0009..U+000D, U+0085) from both ends.
std::string_view trimWhitespaceAndNewlines(std::string_view s);
// Trim horizontal white space (tab and the space separators Zs) from both ends.
std::string_view trimHorizontalSpace(std::string_view s);

// Replace every occurrence of `from` with `to` (plain, non-overlapping, left to right).
std::string replaceAll(std::string_view s, std::string_view from, std::string_view to);

}  // namespace tessival::unicode
