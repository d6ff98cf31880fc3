#include "windows/slide_window.h"

#include <gtest/gtest.h>

#include "testing/fake_window_system.h"

namespace tessival {
namespace {

WindowFacts win(uint32_t id, double w, double h, std::string app, std::string title,
                bool onScreen = true, int64_t layer = 0) {
    return testWindow(id, {0, 0, w, h}, std::move(app), std::move(title), std::nullopt, onScreen,
                      layer);
}

struct Case {
    std::string name;
    std::vector<WindowFacts> windows;
    std::optional<std::string> query;
    std::optional<uint32_t> expected;
};

TEST(FindSlideWindow, CascadeTakesTheLargestOfTheFirstMatchingStage) {
    const std::vector<Case> cases = {
        {"share stage matches a deck app and a larger slides tab",
         {win(1, 1000, 700, "Keynote", "Q3 review"),
          win(2, 1600, 1000, "Chromium", "Roadmap - Google Slides")},
         std::nullopt,
         2},
        {"a sharing meeting window beats a larger viewer",
         {win(1, 2000, 1300, "Acrobat Reader", "report.pdf"),
          win(2, 1000, 700, "zoom.us", "Ana is sharing")},
         std::nullopt,
         2},
        {"presentation apps when nothing is shared",
         {win(1, 1000, 700, "Document Viewer", "preview of notes"),
          win(2, 1800, 1000, "zoom.us", "Zoom Meeting")},
         std::nullopt,
         1},
        {"the largest meeting window as a last resort",
         {win(1, 900, 700, "zoom.us", "Zoom Meeting"), win(2, 1500, 900, "Webex", "Standup"),
          win(3, 2000, 1200, "Editor", "notes.txt")},
         std::nullopt,
         2},
        {"nothing in any stage",
         {win(1, 2000, 1200, "Editor", "notes.txt")},
         std::nullopt,
         std::nullopt},
        {"the query stage comes first, case-insensitively",
         {win(1, 1600, 1000, "Chromium", "Deck - Google Slides"),
          win(2, 900, 700, "Terminal", "budget 2024")},
         "BUDGET",
         2},
        {"a query that matches nothing falls through to the share stage",
         {win(1, 1600, 1000, "Chromium", "Deck - Google Slides"),
          win(2, 900, 700, "Terminal", "budget 2024")},
         "forecast",
         1},
        {"an empty query is no query",
         {win(1, 1600, 1000, "Chromium", "Deck - Google Slides"),
          win(2, 900, 700, "Terminal", "budget 2024")},
         "",
         1},
        {"280 x 280 is too small even for the meeting window",
         {win(1, 280, 280, "zoom.us", "Zoom Meeting")},
         std::nullopt,
         std::nullopt},
        {"equal areas: the first listed wins",
         {win(1, 1000, 700, "Keynote", "a"), win(2, 700, 1000, "Keynote", "b")},
         std::nullopt,
         1},
        {"own and chrome windows are never returned",
         {win(1, 2000, 1200, "Peldranox", "screen share"),
          win(2, 1000, 700, "Dock", "presentation")},
         std::nullopt,
         std::nullopt},
        {"a minimised deck is skipped, a fullscreen off-screen one kept",
         {win(1, 1000, 700, "Keynote", "hidden", false),
          win(2, 2560, 1440, "PowerPoint", "deck", false)},
         std::nullopt,
         2},
    };
    for (const Case& c : cases) {
        FakeWindowSystem ws;
        ws.displays = {{1, {0, 0, 2560, 1440}}};
        ws.windows = c.windows;
        const std::optional<WindowFacts> got = findSlideWindow(ws, c.query);
        ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.name;
        if (got) {
            EXPECT_EQ(got->id, *c.expected) << c.name;
        }
        EXPECT_EQ(ws.contentCalls, std::vector<bool>{false}) << c.name;
    }
}

TEST(FindSlideWindow, ContentFailurePropagates) {
    FakeWindowSystem ws;
    ws.failContent = true;
    EXPECT_THROW(findSlideWindow(ws, std::nullopt), PlatformError);
}

TEST(Biggest, LargestAreaFirstOnTiesNoneWhenEmpty) {
    EXPECT_FALSE(biggest({}));
    const auto got =
        biggest({win(1, 10, 40, "", ""), win(2, 20, 20, "", ""), win(3, 5, 5, "", "")});
    ASSERT_TRUE(got);
    EXPECT_EQ(got->id, 1u);
}

}  // namespace
}  // namespace tessival
