#include "windows/window_search.h"

#include <gtest/gtest.h>

#include "base/output.h"
#include "testing/fake_window_system.h"
#include "testing/log_capture.h"

namespace tessival {
namespace {

class WindowSearch : public ::testing::Test {
  protected:
    WindowSearch() { ws.displays = {{1, {0, 0, 2560, 1440}}}; }

    std::optional<PickedWindow> find(const std::optional<std::string>& query = std::nullopt) {
        return findWindow(ws, lock, log.out, query);
    }
    std::vector<std::string> lines() const { return log.logLines(); }

    FakeWindowSystem ws;
    WindowLock lock;
    CapturedOutput log;
};

TEST_F(WindowSearch, SmallZoomWindowBehindLargeFrontmostCalendarIsChosen) {
    ws.frontmost = 100;
    ws.windows = {testWindow(10, {0, 0, 2000, 1000}, "Chromium", "Calendar - Week of June 3", 100),
                  testWindow(11, {100, 100, 600, 500}, "zoom.us", "Zoom Meeting", 200)};
    const auto picked = find();
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->window.id, 11u);
    EXPECT_NEAR(picked->score, 0.1875, 1e-9);
    EXPECT_FALSE(picked->unproven);
    EXPECT_FALSE(picked->locked);
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "[tessival] candidate score=0.750 front=true fs=false disp=1 "
                           "onscreen=true activeDisp=true meeting=false surf=false query=false "
                           "app=\"Chromium\" title=\"Calendar - Week of June 3\" size=2000x1000",
                           "[tessival] candidate score=0.188 front=false fs=false disp=1 "
                           "onscreen=true activeDisp=true meeting=true surf=true query=false "
                           "app=\"zoom.us\" title=\"Zoom Meeting\" size=600x500",
                           "[tessival] capture window (chosen, meeting-surface, score=0.188): "
                           "app=\"zoom.us\" title=\"Zoom Meeting\" size=600x500"}));
}

TEST_F(WindowSearch, WithoutEvidenceTheBestWindowIsAProbe) {
    ws.windows = {testWindow(1, {0, 0, 800, 600}, "Code", "main.cpp - editor"),
                  testWindow(2, {0, 0, 1600, 1000}, "Chromium", "Calendar")};
    const auto picked = find();
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->window.id, 2u);
    EXPECT_TRUE(picked->unproven);
    EXPECT_EQ(lines().back(),
              "[tessival] capture window (PROBE ONLY \xE2\x80\x94 no candidate has meeting "
              "evidence, names will be discarded unless call-UI/ring content proves it): "
              "app=\"Chromium\" title=\"Calendar\" size=1600x1000");
}

TEST_F(WindowSearch, EqualScoresKeepPlatformOrder) {
    ws.windows = {testWindow(5, {0, 0, 800, 600}, "Webex", "Team call"),
                  testWindow(6, {900, 0, 800, 600}, "Webex", "Team call")};
    const auto picked = find();
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->window.id, 5u);
}

TEST_F(WindowSearch, QueryHitsAreEvidenceAndCaseInsensitive) {
    struct Case {
        std::optional<std::string> query;
        uint32_t expected;
        std::string reason;
    };
    const std::vector<Case> cases = {
        // the query alone beats a larger window without evidence
        {"ROADMAP", 2, "query"},
        // an empty query counts as no query: the big window is only a probe
        {"", 1, ""},
        {std::nullopt, 1, ""},
        // a query that occurs nowhere changes nothing
        {"standup", 1, ""},
    };
    for (const Case& c : cases) {
        FakeWindowSystem world;
        world.displays = {{1, {0, 0, 2560, 1440}}};
        world.windows = {testWindow(1, {0, 0, 2000, 1200}, "Chromium", "Inbox"),
                         testWindow(2, {0, 0, 700, 500}, "Chromium", "Roadmap review")};
        WindowLock l;
        CapturedOutput o;
        const auto picked = findWindow(world, l, o.out, c.query);
        ASSERT_TRUE(picked) << c.query.value_or("<none>");
        EXPECT_EQ(picked->window.id, c.expected) << c.query.value_or("<none>");
        EXPECT_EQ(picked->unproven, c.reason.empty()) << c.query.value_or("<none>");
        if (!c.reason.empty()) {
            EXPECT_NE(o.logLines().back().find("(chosen, " + c.reason + ", score="),
                      std::string::npos)
                << o.logLines().back();
        }
    }
}

TEST_F(WindowSearch, AmongQueryHitsTheHigherScoreWins) {
    // A large frontmost Teams call outscores a small window whose title holds the query.
    ws.frontmost = 7;
    ws.windows = {testWindow(1, {0, 0, 2400, 1300}, "Microsoft Teams",
                             "Meeting with Ana | Microsoft Teams", 7),
                  testWindow(2, {0, 0, 500, 400}, "Notes", "ana notes", 8)};
    const auto picked = find("ana");
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->window.id, 1u);
    EXPECT_NE(lines().back().find("(chosen, query, score="), std::string::npos) << lines().back();
}

TEST_F(WindowSearch, EligibilityFiltersSizeChromeAndHiddenWindows) {
    struct Case {
        WindowFacts window;
        bool eligible;
    };
    const std::vector<Case> cases = {
        {testWindow(1, {0, 0, 199, 200}, "zoom.us", "Zoom Meeting"), false},
        {testWindow(1, {0, 0, 200, 200}, "zoom.us", "Zoom Meeting"), false},
        {testWindow(1, {0, 0, 201, 200}, "zoom.us", "Zoom Meeting"), true},
        {testWindow(1, {0, 0, 900, 700}, "Docker Desktop", "Containers"), false},
        {testWindow(1, {0, 0, 900, 700}, "Files", "Desktop"), false},
        {testWindow(1, {0, 0, 900, 700}, "Peldranox", "Zoom Meeting"), false},
        // minimised: off screen and not filling a display
        {testWindow(1, {0, 0, 900, 700}, "zoom.us", "Zoom Meeting", std::nullopt, false), false},
        // a fullscreen space of its own: off screen, layer 0, filling the display
        {testWindow(1, {0, 0, 2560, 1440}, "zoom.us", "Zoom Meeting", std::nullopt, false), true},
        {testWindow(1, {0, 0, 2560, 1440}, "zoom.us", "Zoom Meeting", std::nullopt, false, 3),
         false},
        // on-screen windows count at any layer
        {testWindow(1, {0, 0, 900, 700}, "zoom.us", "Zoom Meeting", std::nullopt, true, 8), true},
    };
    for (const Case& c : cases) {
        FakeWindowSystem world;
        world.displays = {{1, {0, 0, 2560, 1440}}};
        world.windows = {c.window};
        WindowLock l;
        CapturedOutput o;
        const auto picked = findWindow(world, l, o.out, std::nullopt);
        EXPECT_EQ(picked.has_value(), c.eligible) << describe(c.window);
        if (!c.eligible) {
            EXPECT_EQ(o.logLines(),
                      std::vector<std::string>{"[tessival] capture window: none found (no "
                                               "eligible on-screen window)"});
        }
    }
}

TEST_F(WindowSearch, OnlySixCandidatesAreLogged) {
    for (uint32_t i = 0; i < 9; ++i) {
        ws.windows.push_back(
            testWindow(i + 1, {0, 0, 500.0 + i, 500}, "Editor", "file " + std::to_string(i)));
    }
    ASSERT_TRUE(find());
    EXPECT_EQ(lines().size(), 7u);
}

TEST_F(WindowSearch, ThreeDisplaysReportPositionCountAndMain) {
    ws.displays = {
        {10, {0, 0, 1920, 1080}}, {20, {1920, 0, 2560, 1440}}, {30, {-1280, 0, 1280, 1024}}};
    ws.mainDisplay = 10;
    ws.windows = {
        testWindow(1, {2000, 100, 1200, 800}, "Microsoft Teams", "Sync | Microsoft Teams")};
    auto picked = find();
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->displayID, 20u);
    EXPECT_EQ(picked->displayIndex, 2);
    EXPECT_EQ(picked->displayCount, 3);
    EXPECT_FALSE(picked->isMain);

    ws.mainDisplay = 20;
    picked = find();
    ASSERT_TRUE(picked);
    EXPECT_TRUE(picked->isMain);
}

TEST_F(WindowSearch, LockedWindowIsReturnedWithoutScoring) {
    ws.windows = {testWindow(1, {0, 0, 2000, 1200}, "Chromium", "Meet - Weekly", 5),
                  testWindow(2, {0, 0, 800, 600}, "zoom.us", "Zoom Meeting", 6)};
    lock.lockedWindowID = 2;
    lock.lockedWindowDesc = "app=\"zoom.us\" title=\"Zoom Meeting\"";
    const auto picked = find();
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->window.id, 2u);
    EXPECT_TRUE(picked->locked);
    EXPECT_FALSE(picked->unproven);
    EXPECT_EQ(picked->score, -1.0);
    EXPECT_EQ(picked->displayIndex, 1);
    EXPECT_EQ(lines(),
              std::vector<std::string>{"[tessival] capture window (locked): "
                                       "app=\"zoom.us\" title=\"Zoom Meeting\" size=800x600"});
}

TEST_F(WindowSearch, LockFollowsUsabilityOfTheLockedWindow) {
    struct Case {
        std::string name;
        WindowFacts locked;
        bool kept;
    };
    const std::vector<Case> cases = {
        {"fullscreen space", testWindow(2, {0, 0, 2560, 1440}, "zoom.us", "Zoom Meeting", 6, false),
         true},
        {"minimised", testWindow(2, {0, 0, 800, 600}, "zoom.us", "Zoom Meeting", 6, false), false},
        {"shrunk", testWindow(2, {0, 0, 200, 200}, "zoom.us", "Zoom Meeting", 6), false},
        {"fullscreen at a high layer",
         testWindow(2, {0, 0, 2560, 1440}, "zoom.us", "Zoom Meeting", 6, false, 25), false},
    };
    for (const Case& c : cases) {
        FakeWindowSystem world;
        world.displays = {{1, {0, 0, 2560, 1440}}};
        world.windows = {testWindow(1, {0, 0, 1000, 800}, "Webex", "Standup", 5), c.locked};
        WindowLock l{2, "app=\"zoom.us\" title=\"Zoom Meeting\""};
        CapturedOutput o;
        const auto picked = findWindow(world, l, o.out, std::nullopt);
        ASSERT_TRUE(picked) << c.name;
        const std::vector<std::string> logged = o.logLines();
        if (c.kept) {
            EXPECT_EQ(picked->window.id, 2u) << c.name;
            EXPECT_TRUE(picked->locked) << c.name;
            EXPECT_EQ(l.lockedWindowID, 2u) << c.name;
        } else {
            // released, then the same command searched normally
            EXPECT_EQ(picked->window.id, 1u) << c.name;
            EXPECT_FALSE(picked->locked) << c.name;
            EXPECT_FALSE(l.lockedWindowID) << c.name;
            EXPECT_EQ(l.lockedWindowDesc, "") << c.name;
            ASSERT_FALSE(logged.empty());
            EXPECT_EQ(logged.front(),
                      "[tessival] lock released (window gone): app=\"zoom.us\" "
                      "title=\"Zoom Meeting\"")
                << c.name;
            EXPECT_NE(logged.back().find("capture window (chosen"), std::string::npos) << c.name;
        }
    }
}

TEST_F(WindowSearch, VanishedLockedWindowIsReleased) {
    ws.windows = {testWindow(1, {0, 0, 1000, 800}, "Webex", "Standup")};
    lock = WindowLock{99, "app=\"zoom.us\" title=\"gone\""};
    const auto picked = find();
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->window.id, 1u);
    EXPECT_EQ(lines().front(),
              "[tessival] lock released (window gone): app=\"zoom.us\" title=\"gone\"");
}

TEST_F(WindowSearch, ContentFailurePropagatesAndKeepsTheLock) {
    ws.failContent = true;
    ws.failureText = "cannot connect to the X server";
    lock = WindowLock{4, "app=\"a\" title=\"b\""};
    EXPECT_THROW(find(), PlatformError);
    EXPECT_EQ(lock.lockedWindowID, 4u);
    EXPECT_TRUE(lines().empty());
}

TEST_F(WindowSearch, ControlCharactersInTitlesNeverSplitALogLine) {
    const std::string hostile = "Zoom Meeting\nsecond line\r\x1b[31mred";
    ws.windows = {testWindow(1, {0, 0, 900, 700}, "zoom.us", hostile),
                  testWindow(2, {0, 0, 900, 700}, std::string(100 * 1024, 'x'), "big")};
    const auto picked = find();
    ASSERT_TRUE(picked);
    // two candidate lines and the choice, whatever the titles hold
    EXPECT_EQ(lines().size(), 3u);
    // the answer keeps the real title; JSON escapes it
    EXPECT_EQ(windowInfo(*picked)["title"], hostile);
    EXPECT_TRUE(serializeAnswer(windowInfo(*picked)).has_value());
}

class WindowLockUpdate : public ::testing::Test {
  protected:
    WindowFacts zoom = testWindow(2, {0, 0, 800, 600}, "zoom.us", "Zoom Meeting");
    WindowFacts meet = testWindow(3, {0, 0, 800, 600}, "Chromium", "Meet - Standup");
    WindowLock lock;
    CapturedOutput log;
};

TEST_F(WindowLockUpdate, EngagesOnlyWithEvidence) {
    struct Case {
        int hits;
        bool ring;
        std::optional<std::string> logged;
    };
    const std::vector<Case> cases = {
        {0, false, std::nullopt},
        {1, false, std::nullopt},
        {2, false, "[tessival] lock engaged (call-ui x2): app=\"zoom.us\" title=\"Zoom Meeting\""},
        {5, false, "[tessival] lock engaged (call-ui x5): app=\"zoom.us\" title=\"Zoom Meeting\""},
        {0, true,
         "[tessival] lock engaged (ring detected): app=\"zoom.us\" title=\"Zoom Meeting\""},
        {3, true,
         "[tessival] lock engaged (ring detected): app=\"zoom.us\" title=\"Zoom Meeting\""},
    };
    for (const Case& c : cases) {
        WindowLock l;
        CapturedOutput o;
        updateWindowLock(l, o.out, zoom, c.hits, c.ring);
        EXPECT_EQ(l.lockedWindowID.has_value(), c.logged.has_value()) << c.hits << c.ring;
        if (c.logged) {
            EXPECT_EQ(l.lockedWindowDesc, "app=\"zoom.us\" title=\"Zoom Meeting\"");
            EXPECT_EQ(o.logLines(), std::vector<std::string>{*c.logged});
        } else {
            EXPECT_TRUE(o.logLines().empty());
        }
    }
}

TEST_F(WindowLockUpdate, MovesOnlyOnEvidenceForAnotherWindow) {
    updateWindowLock(lock, log.out, zoom, 3, false);
    ASSERT_EQ(lock.lockedWindowID, 2u);

    updateWindowLock(lock, log.out, zoom, 9, true);   // same window: nothing new
    updateWindowLock(lock, log.out, meet, 1, false);  // no evidence: stays
    EXPECT_EQ(lock.lockedWindowID, 2u);
    EXPECT_EQ(log.logLines().size(), 1u);

    updateWindowLock(lock, log.out, meet, 0, true);
    EXPECT_EQ(lock.lockedWindowID, 3u);
    EXPECT_EQ(lock.lockedWindowDesc, "app=\"Chromium\" title=\"Meet - Standup\"");
    EXPECT_EQ(log.logLines().size(), 2u);
}

TEST_F(WindowLockUpdate, ProbeBecomesLockedOnceProven) {
    FakeWindowSystem ws;
    ws.displays = {{1, {0, 0, 2560, 1440}}};
    ws.windows = {testWindow(4, {0, 0, 1600, 1000}, "Chromium", "Calendar")};
    auto picked = findWindow(ws, lock, log.out, std::nullopt);
    ASSERT_TRUE(picked);
    ASSERT_TRUE(picked->unproven);
    updateWindowLock(lock, log.out, picked->window, 2, false);
    picked = findWindow(ws, lock, log.out, std::nullopt);
    ASSERT_TRUE(picked);
    EXPECT_TRUE(picked->locked);
    EXPECT_FALSE(picked->unproven);
}

TEST(Describe, MissingAppAndTitleAreEmptyAndSizesTruncate) {
    WindowFacts w;
    w.frame = {0, 0, 1440.9, 900.2};
    EXPECT_EQ(describe(w), "app=\"\" title=\"\" size=1440x900");
}

}  // namespace
}  // namespace tessival
