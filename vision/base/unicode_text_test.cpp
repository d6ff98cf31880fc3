#include "base/unicode_text.h"

#include <gtest/gtest.h>

namespace tessival::unicode {
namespace {

TEST(Trim, HorizontalSpaceKeepsLineBreaks) {
    struct Case {
        std::string in, want;
    };
    const Case cases[] = {
        {"  CAPTURE \t", "CAPTURE"},
        {"\u00a0CAPTURE\u3000", "CAPTURE"},   // no-break and ideographic spaces
        {"\u2009\u202fx\u205f", "x"},         // thin, narrow no-break, medium math spaces
        {"\nCAPTURE\n", "\nCAPTURE\n"},
        {"\rx", "\rx"},
        {"   ", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(trimHorizontalSpace(c.in), c.want) << c.in;
}

TEST(Trim, WhitespaceAndNewlines) {
    EXPECT_EQ(trimWhitespaceAndNewlines("\r\n\t mute \u2028\u0085"), "mute");
    EXPECT_EQ(trimWhitespaceAndNewlines("a b"), "a b");
    EXPECT_EQ(trimWhitespaceAndNewlines(""), "");
}

TEST(Characters, GraphemeClusters) {
    EXPECT_EQ(characterCount("e\u0301t\u00e9"), 3u);
    EXPECT_EQ(characterCount("\U0001F1EB\U0001F1F7"), 1u);
    EXPECT_EQ(characterCount("\r\n"), 1u);
    EXPECT_EQ(characterCount(""), 0u);
}

TEST(Properties, LettersNumbersUppercase) {
    EXPECT_TRUE(isLetter("\u00e9"));
    EXPECT_TRUE(isLetter("\u0141"));
    EXPECT_FALSE(isLetter("1"));
    EXPECT_TRUE(isNumber("1"));
    EXPECT_TRUE(isNumber("\u00bd"));
    EXPECT_FALSE(isNumber("x"));
    EXPECT_TRUE(isUppercase("\u00c9"));
    EXPECT_FALSE(isUppercase("\u00e9"));
    EXPECT_FALSE(isUppercase("1"));
}

TEST(Utf8, RepairReplacesOnlyBadBytes) {
    EXPECT_TRUE(isValidUtf8("Zo\u00eb"));
    EXPECT_FALSE(isValidUtf8("a\xC3"));
    EXPECT_EQ(repairUtf8("a\xFF" "b"), "a\uFFFD" "b");
    EXPECT_EQ(repairUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(CaseMapping, FullAndLocaleIndependent) {
    EXPECT_EQ(lowercased("\u0130I"), "i\u0307i");
    EXPECT_EQ(uppercased("stra\u00dfe"), "STRASSE");
    EXPECT_EQ(lowercased("bad\xFF"), "bad\uFFFD");
}

}  // namespace
}  // namespace tessival::unicode
