#include "analysis/meeting_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessival {
namespace {

const std::string MEET_TITLE = "Meet \u2013 Pr\u00e9sentation Norvalis \U0001F50A";

TEST(NormalizeHay, LowerCasesFoldsDashesAndCollapsesSpaces) {
    struct Case {
        std::string app, title, want;
    };
    const Case cases[] = {
        {"Google Chrome", MEET_TITLE, "google chrome meet - pr\u00e9sentation norvalis \U0001F50A"},
        {"", "  Weekly   Sync ", "weekly sync"},
        {"Zoom", "", "zoom"},
        {"App", "a\u2014b\u2212c\u2010d", "app a-b-c-d"},
        // Only U+0020 collapses: tabs and no-break spaces stay.
        {"", "a\tb\u00a0c", "a\tb\u00a0c"},
        // Full lower-casing, not ASCII only.
        {"", "\u00c9COLE \u0130STANBUL", "\u00e9cole i\u0307stanbul"},
    };
    for (const Case& c : cases) EXPECT_EQ(normalizeHay(c.app, c.title), c.want) << c.title;
}

TEST(ContainsWord, MatchesWholeTokensSplitAtNonAlphanumerics) {
    struct Case {
        std::string text, word;
        bool want;
    };
    const Case cases[] = {
        {"zoom.us zoom meeting", "zoom", true},
        {"zoomed in view", "zoom", false},
        {"turnaround plan q3", "around", false},
        {"around weekly", "around", true},
        {"google meet", "google meet", false},  // a word holding a separator never matches
        {"caf\u00e9-zoom", "zoom", true},
        {"", "zoom", false},
    };
    for (const Case& c : cases) EXPECT_EQ(containsWord(c.text, c.word), c.want) << c.text;
}

TEST(HasMeetingHint, AppsAndTitlesThatHint) {
    struct Case {
        std::string app, title;
        bool want;
    };
    const Case cases[] = {
        {"Google Chrome", MEET_TITLE, true},
        {"Around", "Weekly sync", true},
        {"Microsoft Teams", "Weekly sync", true},
        {"zoom.us", "Zoom Meeting", true},
        {"Firefox", "Daily standup - Webex", true},
        {"Google Chrome", "Turnaround plan Q3", false},
        {"Google Chrome", "Workaround for the printer", false},
        {"Google Chrome", "Getting around Paris", false},
        {"Google Chrome", "See all your teams", false},
        {"Google Chrome", "Zoomed in view", false},
        {"Google Chrome", "Company | Norvalis \U0001F50A", false},
        {"Google Chrome", "Norvalis - Calendar - Week of August 2, 2026", false},
        {"Google Chrome", "R\u00e9gime canadien de soins dentaires - canada.ca \U0001F50A", false},
    };
    for (const Case& c : cases) EXPECT_EQ(hasMeetingHint(c.app, c.title), c.want) << c.app << " / " << c.title;
}

TEST(BrowserCallSurface, CallPagesOnly) {
    struct Case {
        std::string title;
        bool want;
    };
    const Case cases[] = {
        {MEET_TITLE, true},
        {"abc-defg-hij - meet.google.com", true},
        {"Zoom - app.zoom.us/wc/123/join", true},
        {"whereby.com/design-room", true},
        {"Standup | meet.jit.si", true},
        {"Come meet - our team | Norvalis", false},
        {"Company | Norvalis \U0001F50A", false},
        {"Norvalis - Calendar - Week of August 2, 2026", false},
        {"whereby.com", false},
    };
    for (const Case& c : cases) EXPECT_EQ(browserCallSurface(c.title), c.want) << c.title;
}

TEST(TeamsWindowKind, HubSurfaceOrNeither) {
    struct Case {
        std::string app, title;
        bool hub, surface;
    };
    const Case cases[] = {
        {"Microsoft Teams", "Calendar | Ana Silva (External unfamiliar) | Microsoft Teams", true, false},
        {"Microsoft Teams", "Norvalis Touchbase on Next Steps | Microsoft Teams", false, true},
        {"Microsoft Teams", "", true, false},
        {"Microsoft Teams", "Microsoft Teams", true, false},
        {"Microsoft Teams", "Chat | Ana Silva | Microsoft Teams", true, false},
        {"Microsoft Teams", "Chats and more", false, true},  // the prefix needs " |"
        {"Google Chrome", "Calendar | Something", false, false},
    };
    for (const Case& c : cases) {
        const TeamsWindowKind k = teamsWindowKind(c.app, c.title);
        EXPECT_EQ(k.hub, c.hub) << c.title;
        EXPECT_EQ(k.surface, c.surface) << c.title;
    }
}

TEST(CallUiHits, CountsDistinctWholeLineTokens) {
    struct Case {
        std::vector<std::string> lines;
        int want;
    };
    const Case cases[] = {
        {{"Mute", "Leave", "Type a message"}, 2},
        {{"Chats", "Calendar", "please share the doc"}, 0},
        {{"August 2026", "\u2022 Pr\u00e9sentation Norvalis", "\u2022 Ana", "Gestion des cong\u00e9s",
          "Employ\u00e9s"},
         0},
        {{"mute", " MUTE ", "Mute\n"}, 1},
        {{"Stop Video", "Share Screen", "Raise Hand", "Participants"}, 4},
        {{"Stop  Video"}, 0},
        {{}, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(callUiHits(c.lines), c.want) << c.lines.size();
}

}  // namespace
}  // namespace tessival
