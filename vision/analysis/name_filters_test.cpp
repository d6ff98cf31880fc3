#include "analysis/name_filters.h"

#include <gtest/gtest.h>

namespace tessival {
namespace {

TEST(CanonToken, MapsLookalikeDigitsAndDropsTheRest) {
    struct Case {
        std::string in, want;
    };
    const Case cases[] = {
        {"Z0oM", "zoom"}, {"ZooM", "zoom"}, {"z o o m", "zoom"}, {"W3bex", "wbex"},
        {"B1ue-Jean5", "bluejeans"}, {"", ""}, {"12:30", "lo"}, {"\u00c9mile", "\u00e9mile"},
    };
    for (const Case& c : cases) EXPECT_EQ(canonToken(c.in), c.want) << c.in;
}

TEST(IsWatermark, WholeTokenMustMatch) {
    EXPECT_TRUE(isWatermark("ZooM"));
    EXPECT_TRUE(isWatermark("Z0oM"));
    EXPECT_TRUE(isWatermark("z o o m"));
    EXPECT_TRUE(isWatermark("Microsoft Teams"));
    EXPECT_FALSE(isWatermark("Zoom Ostrowski"));
    EXPECT_FALSE(isWatermark(""));
    EXPECT_FALSE(isWatermark("--"));
}

TEST(InWatermarkRegion, BottomRightCornerInclusive) {
    struct Case {
        Rect box;
        bool want;
    };
    const Case cases[] = {
        {{0.88, 0.93, 0.08, 0.04}, true},
        {{0.05, 0.93, 0.2, 0.04}, false},
        {{0.4, 0.4, 0.2, 0.2}, false},
        {{0.70, 0.86, 0.10, 0.04}, true},  // centre exactly (0.75, 0.88)
        {{0.75, 0.48, 0.10, 0.04}, false}, // centre x 0.80, y 0.50
        {{0.75, 0.88, 0.10, 0.04}, true},  // centre x 0.80, y 0.90
    };
    for (const Case& c : cases) EXPECT_EQ(inWatermarkRegion(c.box), c.want) << c.box.x << "," << c.box.y;
}

TEST(EchoesWindowTitle, OnlyInTheTopBandAndOnlyTheTitlesText) {
    const std::string title = "All hands \u2013 March | Microsoft Teams";
    struct Case {
        std::string text;
        Rect box;
        bool want;
    };
    const Case cases[] = {
        {"All hands - March", {0.05, 0.02, 0.2, 0.03}, true},
        {"all  hands", {0.05, 0.02, 0.2, 0.03}, true},
        {"All hands - March", {0.05, 0.50, 0.2, 0.03}, false},  // a label lower down
        {"Kwame Mensah", {0.05, 0.02, 0.2, 0.03}, false},
        {"Ma", {0.05, 0.02, 0.2, 0.03}, false},                 // too short to tell
    };
    for (const Case& c : cases) EXPECT_EQ(echoesWindowTitle(c.text, c.box, title), c.want) << c.text;
    EXPECT_FALSE(echoesWindowTitle("March", {0.05, 0.02, 0.2, 0.03}, ""));
}

TEST(IsInitialsChip, OneToThreeUpperCaseLetters) {
    struct Case {
        std::string in;
        bool want;
    };
    const Case cases[] = {
        {"VG", true},   {"JB", true},   {"KD", true},     {" VG ", true}, {"\u00c9L", true},
        {"A", true},    {"Anna", false}, {"vg", false},   {"JPBQ", false}, {"J.B", false},
        {"", false},    {"   ", false}, {"V1", false},    {"\u01c5", false},
    };
    for (const Case& c : cases) EXPECT_EQ(isInitialsChip(c.in), c.want) << c.in;
}

TEST(LooksLikeName, AcceptsPeopleRejectsChromeAndNoise) {
    struct Case {
        std::string in;
        bool want;
    };
    const Case cases[] = {
        {"Maria Gonz\u00e1lez", true},
        {"Tom Okafor", true},
        {"\u0141ukasz Nowak (Host)", true},
        {"S\u00f8ren Kj\u00e6r", true},
        {"Nguy\u1ec5n Th\u1ecb Lan", true},
        {"Al", true},
        {"ZooM", false},
        {"z o o m", false},
        {"X", false},
        {std::string(41, 'a'), false},
        {std::string(40, 'a'), true},
        {"participants", false},
        {"PARTICIPANTS", false},
        {"  mute  ", false},
        {"Mute Okafor", true},
        {"12:30", false},
        {"ab12", true},
        {"a12", false},
        // Call controls are not people, however they are cased.
        {"Stop Video", false},
        {"Share Screen", false},
        {"Start Video", false},
        {"Raise Hand", false},
        {"React", false},
        {"reactions", false},
        // Neighbouring captions run together by OCR, and captions of other apps.
        {"View More", false},
        {"Security Participants", false},
        {"People  Raise", false},
        {"Security", false},
        {"More Okafor", true},
        {"Raise Hand Anna", true},
    };
    for (const Case& c : cases) EXPECT_EQ(looksLikeName(c.in), c.want) << c.in;
}

TEST(LooksLikeName, TextThatIsNoPersonsLabel) {
    struct Case {
        std::string in;
        bool want;
    };
    const Case cases[] = {
        // Names as apps print them, suffixes and handles included.
        {"Steve (Support Executive)", true},
        {"Cdr. Addison Rogers", true},
        {"Maximilian von Hohenberg-Kraus", true},
        {"Alice Smithson (You)", true},
        {"rtjmk_pub_0", true},
        {"Al Di Meola", true},
        {"Jean Jr.", true},
        {"Konstantina Papado..", true},  // cut to its tile's width
        {"Oluwaseun Adeyemi\u2026", true},
        {"You", true},
        // Clock times, addresses and paths.
        {"3:39 • 10 participants", false},
        {"Ayanna Moore 10:34 AM", false},
        {"meetup.livekit.io", false},
        {"127.0.0.1:8080", false},
        {"localhost", false},
        {"Public/lobby-3mund58jr", false},
        // Interface vocabulary alone, with counts and joining words.
        {"Leave session", false},
        {"Share screen", false},
        {"USERS (4)", false},
        {"10 participants", false},
        {"Mute all", false},
        {"Breakout rooms", false},
        {"Speaking", false},
        {"HOST", false},
        {"My Session", false},
        {"Marketing Strategy Meeting", false},
        {"Zoom Meeting", false},  // the app's name with interface words: its title bar
        {"Meet Patel", true},
        {"Join Activit", false},  // a control's caption starts with its verb
        {"Open whiteboard", false},
        // Job titles outside brackets.
        {"Senior Product Manager", false},
        {"Head of Engineering", false},
        // Capitalised phrases against names with particles or typed in lower case.
        {"Threaded conversations", false},
        {"Main features", false},
        {"john doe", true},
        {"phie Berger", false},  // a label's end, its start lost
        {"van Dijk", true},
        {"Ana de la Cruz", true},
        {"Sung-min Park", true},
        {"Elena (she/her)", true},
        // Prose.
        {"Do you know the way?", false},
        {"Result:", false},
        {"inquit.", false},
        {"Wir arbeiten in der Bildungsarbeit, bei Germanwatch seit", false},
    };
    for (const Case& c : cases) EXPECT_EQ(looksLikeName(c.in), c.want) << c.in;
}

TEST(ToolbarRunWords, AToolbarReadAsOneLineGivesItsCaptions) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"Microphone v Camera v CJ Stop screen share l E] Chat p f 3) Leave",
         {"microphone", "camera", "stop", "screen", "share", "chat", "leave"}},
        {"I will share my screen and leave", {}},  // a chat message
        {"Mute Leave", {}},                          // too few to be a toolbar
        {"Ana Silva", {}},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(toolbarRunWords(text), want) << text;
}

TEST(LooksLikeName, CountsUserPerceivedCharacters) {
    // 20 decomposed letters (base + combining accent) are 20 characters, not 40 scalars.
    std::string decomposed;
    for (int i = 0; i < 20; ++i) decomposed += "e\u0301";
    EXPECT_TRUE(looksLikeName(decomposed));
    std::string flags;
    for (int i = 0; i < 3; ++i) flags += "\U0001F1EB\U0001F1F7";
    EXPECT_FALSE(looksLikeName(flags + "Al"));  // 5 characters, 2 letters
}

}  // namespace
}  // namespace tessival
