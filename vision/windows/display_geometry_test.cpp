#include "windows/display_geometry.h"

#include <gtest/gtest.h>

namespace tessival {
namespace {

WindowFacts windowAt(Rect frame) {
    WindowFacts w;
    w.frame = frame;
    return w;
}

TEST(RectIsFullscreen, ToleratesFourPointsOfOriginAndEightOfSize) {
    const Rect display{0, 0, 2560, 1440};
    struct Case {
        Rect r, d;
        bool want;
    };
    const Case cases[] = {
        {display, display, true},
        {{1, 2, 2558, 1437}, display, true},
        {{4, 4, 2552, 1432}, display, true},
        {{4.01, 0, 2560, 1440}, display, false},
        {{0, 38, 2560, 1402}, display, false},
        {{0, 0, 1280, 1440}, display, false},
        {display, {2560, 0, 1512, 982}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rectIsFullscreen(c.r, c.d), c.want) << c.r.x << "," << c.r.y << " " << c.r.width;
}

TEST(FullscreenDisplayID, FirstDisplayTheWindowFills) {
    const std::vector<DisplayFacts> displays = {{1, {0, 0, 1920, 1080}}, {2, {1920, 0, 1280, 1024}}};
    EXPECT_EQ(fullscreenDisplayID(windowAt({1920, 0, 1280, 1024}), displays), 2u);
    EXPECT_EQ(fullscreenDisplayID(windowAt({0, 0, 1920, 1080}), displays), 1u);
    EXPECT_FALSE(fullscreenDisplayID(windowAt({10, 10, 800, 600}), displays));
    EXPECT_FALSE(fullscreenDisplayID(windowAt({0, 0, 1920, 1080}), {}));
}

TEST(DisplayFor, CentreThenLargestOverlap) {
    const std::vector<DisplayFacts> sideBySide = {{1, {0, 0, 1000, 800}}, {2, {1000, 0, 1000, 800}}};
    struct Case {
        Rect frame;
        std::optional<uint32_t> want;
    };
    const Case cases[] = {
        {{100, 100, 400, 300}, 1},
        {{800, 100, 400, 300}, 2},    // centre on the shared edge belongs to the right display
        {{700, 700, 400, 300}, 1},    // centre below both: overlaps the left one more
        {{900, 750, 400, 100}, 2},    // overlaps the right one more
        {{3000, 3000, 100, 100}, {}}, // off every display
    };
    for (const Case& c : cases) {
        const auto d = displayFor(windowAt(c.frame), sideBySide);
        EXPECT_EQ(d ? std::optional<uint32_t>(d->id) : std::nullopt, c.want) << c.frame.x;
    }
    EXPECT_FALSE(displayFor(windowAt({0, 0, 10, 10}), {}));
}

TEST(DisplayFor, EqualOverlapKeepsTheEarlierDisplay) {
    const std::vector<DisplayFacts> displays = {{7, {0, 0, 100, 100}}, {8, {200, 0, 100, 100}}};
    // Centre (150, 50) lies in the gap; 50 x 100 overlap with each.
    const auto d = displayFor(windowAt({50, 0, 200, 100}), displays);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->id, 7u);
}

}  // namespace
}  // namespace tessival
