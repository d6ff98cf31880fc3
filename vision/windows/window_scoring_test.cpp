#include "windows/window_scoring.h"

#include <gtest/gtest.h>

#include "analysis/meeting_text.h"
#include "testing/fake_window_system.h"

namespace tessival {
namespace {

WindowFacts makeWindow(std::string app, std::string title, Rect frame, std::optional<pid_t> pid = {}) {
    return testWindow(42, frame, std::move(app), std::move(title), pid);
}

WindowCandidate score(const WindowFacts& w, double largest, std::optional<pid_t> front = {},
                      std::optional<uint32_t> fs = {}, std::optional<std::string> query = {}) {
    return scoreWindow(w, largest, front, std::nullopt, fs, std::nullopt, query,
                       normalizeHay(appName(w), titleOf(w)));
}

TEST(ScoreWindow, MeetingFlagsFromAppAndTitle) {
    struct Case {
        std::string app, title;
        bool hint, surface;
    };
    const Case cases[] = {
        {"zoom.us", "Zoom Meeting", true, true},
        {"zoom.us", "Zoom", true, false},
        {"Microsoft Teams", "chat | Ana | Microsoft Teams", false, false},
        {"Microsoft Teams", "Weekly sync | Microsoft Teams", true, true},
        {"Google Chrome", "Standup | meet.jit.si", false, true},
        {"Google Chrome", "Inbox", false, false},
    };
    for (const Case& c : cases) {
        const WindowCandidate k = score(makeWindow(c.app, c.title, {0, 0, 800, 600}), 480000);
        EXPECT_EQ(k.meetingHint, c.hint) << c.title;
        EXPECT_EQ(k.meetingSurface, c.surface) << c.title;
    }
}

TEST(ScoreWindow, FrontmostNeedsMatchingPid) {
    const WindowFacts w = makeWindow("Editor", "notes.txt", {0, 0, 800, 600}, 100);
    EXPECT_TRUE(score(w, 480000, 100).frontmost);
    EXPECT_FALSE(score(w, 480000, 101).frontmost);
    EXPECT_FALSE(score(makeWindow("Editor", "x", {0, 0, 800, 600}), 480000, 100).frontmost);
}

TEST(ScoreWindow, QueryIsLowerCasedOnlyAndEmptyMeansNone) {
    const WindowFacts w = makeWindow("Google Chrome", "Design Review \u2013 Room 4", {0, 0, 800, 600});
    struct Case {
        std::optional<std::string> query;
        bool want;
    };
    const Case cases[] = {
        {"DESIGN review", true}, {"design  review", false}, {"review \u2013 room", false},
        {"review - room", true}, {"", false},               {std::nullopt, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(score(w, 480000, {}, {}, c.query).queryHit, c.want) << c.query.value_or("<none>");
}

TEST(ScoreWindow, ZeroLargestAreaPenalisesEveryone) {
    const WindowCandidate k = score(makeWindow("A", "B", {0, 0, 800, 600}), 0);
    EXPECT_NEAR(k.score, -0.3, 1e-12);
    EXPECT_DOUBLE_EQ(k.area, 480000);
}

TEST(PickCandidateIndex, FirstWithEvidenceElseFirstUnproven) {
    EXPECT_FALSE(pickCandidateIndex({}));
    auto p = pickCandidateIndex({false, false, true, false});
    ASSERT_TRUE(p);
    EXPECT_EQ(p->index, 2u);
    EXPECT_FALSE(p->unproven);
    p = pickCandidateIndex({false, false, false});
    ASSERT_TRUE(p);
    EXPECT_EQ(p->index, 0u);
    EXPECT_TRUE(p->unproven);
}

TEST(MakePicked, DisplayPositionAndMainFlag) {
    const std::vector<DisplayFacts> displays = {{10, {}}, {20, {}}, {30, {}}};
    const WindowFacts w = makeWindow("A", "B", {0, 0, 10, 10});
    struct Case {
        std::optional<uint32_t> id;
        int64_t index;
        bool isMain;
    };
    const Case cases[] = {{20, 2, false}, {10, 1, true}, {99, 0, false}, {std::nullopt, 0, false}};
    for (const Case& c : cases) {
        const PickedWindow p = makePicked(w, displays, c.id, 10, {.score = 0.5, .area = 100});
        EXPECT_EQ(p.displayIndex, c.index);
        EXPECT_EQ(p.isMain, c.isMain);
        EXPECT_EQ(p.displayCount, 3);
    }
    // A display id that is not listed still reports whether it is the main one.
    EXPECT_TRUE(makePicked(w, displays, 99, 99, {}).isMain);
}

TEST(WindowInfo, TenKeysWithEmptyStringsAndTruncatedArea) {
    WindowFacts bare;
    bare.frame = {0, 0, 300, 150.003};
    const PickedWindow p = makePicked(bare, {}, std::nullopt, 1, {.score = -1.0, .area = 45000.9, .locked = true});
    const Answer info = windowInfo(p);
    EXPECT_EQ(info.size(), 10u);
    EXPECT_EQ(info["app"], "");
    EXPECT_EQ(info["title"], "");
    EXPECT_EQ(info["display_id"], 0);
    EXPECT_EQ(info["display_index"], 0);
    EXPECT_EQ(info["display_count"], 0);
    EXPECT_EQ(info["display_is_main"], false);
    EXPECT_EQ(info["window_area"], 45000);
    EXPECT_EQ(info["window_score"], -1.0);
    EXPECT_EQ(info["window_locked"], true);
    EXPECT_EQ(info["source"], "x11");
}

}  // namespace
}  // namespace tessival
