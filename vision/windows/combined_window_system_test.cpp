#include "windows/combined_window_system.h"

#include <gtest/gtest.h>

#include "testing/fake_window_system.h"
#include "testing/log_capture.h"
#include "windows/window_search.h"

namespace tessival {
namespace {

WindowFacts win(uint32_t id, std::string title, Rect frame = {0, 0, 800, 600}) {
    return testWindow(id, frame, "app", std::move(title));
}

// A compositor and the XWayland beside it; both fakes stay reachable through raw pointers.
struct Session {
    FakeWindowSystem* sway = nullptr;
    FakeWindowSystem* x11 = nullptr;
    std::unique_ptr<CombinedWindowSystem> ws;

    Session() {
        auto s = std::make_unique<FakeWindowSystem>();
        auto x = std::make_unique<FakeWindowSystem>();
        sway = s.get();
        x11 = x.get();
        std::vector<CombinedWindowSystem::Source> sources;
        sources.push_back({"sway", std::move(s)});
        sources.push_back({"x11", std::move(x)});
        ws = std::make_unique<CombinedWindowSystem>(std::move(sources));
    }
};

TEST(CombinedWindowSystem, WindowsFromAllTaggedAndCapturedWhereTheyCameFrom) {
    Session s;
    s.sway->windows = {win(7, "native")};
    s.sway->displays = {{3, {0, 0, 1920, 1080}}};
    s.sway->mainDisplay = 3;
    s.x11->windows = {win(7, "xwayland")};
    s.x11->displays = {{100, {0, 0, 1920, 1080}}};
    s.x11->frontmost = 55;

    const ShareableContent c = s.ws->shareableContent(false);
    ASSERT_EQ(c.windows.size(), 2u);
    EXPECT_EQ(c.windows[0].source, "sway");
    EXPECT_EQ(c.windows[1].source, "x11");
    ASSERT_EQ(c.displays.size(), 1u);  // the compositor's outputs, not XWayland's mirror
    EXPECT_EQ(c.displays[0].id, 3u);
    EXPECT_EQ(s.ws->mainDisplayId(), 3u);
    EXPECT_EQ(s.ws->frontmostPid(), 55);  // the first system that knows one

    s.ws->capture(c.windows[1], c.displays[0], {0, 0, 800, 600}, 1600, 1200);
    EXPECT_TRUE(s.sway->captures.empty());
    ASSERT_EQ(s.x11->capturedIds, (std::vector<uint32_t>{7}));

    WindowFacts stranger = c.windows[0];
    stranger.source = "portal";
    EXPECT_THROW(s.ws->capture(stranger, c.displays[0], {0, 0, 8, 8}, 16, 16), PlatformError);
}

TEST(CombinedWindowSystem, FailuresCountOnlyWhenNoSystemAnswers) {
    Session s;
    s.sway->failContent = true;
    s.sway->failureText = "cannot connect to sway";
    s.x11->windows = {win(1, "x")};
    s.x11->displays = {{100, {0, 0, 1280, 720}}};
    const ShareableContent c = s.ws->shareableContent(false);
    EXPECT_EQ(c.windows.size(), 1u);
    EXPECT_EQ(s.ws->mainDisplayId(), s.x11->mainDisplay);  // displays came from X11

    s.x11->failContent = true;
    s.x11->failureText = "DISPLAY is not set";
    try {
        s.ws->shareableContent(false);
        FAIL() << "no system answered";
    } catch (const PlatformError& e) {
        EXPECT_STREQ(e.what(), "DISPLAY is not set");  // the last system's: as without sway
    }
}

TEST(CombinedWindowSystem, LockHoldsItsSourceNotJustItsId) {
    Session s;
    s.sway->windows = {win(7, "Zoom Meeting")};
    s.sway->displays = {{3, {0, 0, 1920, 1080}}};
    s.x11->windows = {win(7, "Calendar")};
    WindowLock lock;
    CapturedOutput log;
    updateWindowLock(lock, log.out, s.ws->shareableContent(false).windows[0], 0, true);
    EXPECT_EQ(lock.lockedSource, "sway");

    // The native window closes; the XWayland window with the same id is not it.
    s.sway->windows.clear();
    const std::optional<PickedWindow> p = findWindow(*s.ws, lock, log.out, std::nullopt);
    EXPECT_FALSE(lock.lockedWindowID);
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->locked);
    EXPECT_EQ(p->window.source, "x11");
}

}  // namespace
}  // namespace tessival
