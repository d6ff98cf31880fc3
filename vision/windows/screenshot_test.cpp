#include "windows/screenshot.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/errors.h"
#include "testing/fake_window_system.h"

namespace tessival {
namespace {

WindowFacts win(uint32_t id, Rect frame) {
    return testWindow(id, frame, "zoom.us", "Zoom Meeting", 10);
}

class Screenshot : public ::testing::Test {
  protected:
    Screenshot() { ws.displays = {{1, {0, 0, 1440, 900}}, {2, {1440, 0, 1920, 1080}}}; }
    FakeWindowSystem ws;
};

TEST_F(Screenshot, ZeroOrNaNSizeFailsBeforeAnyPlatformCall) {
    for (const Rect& frame : {Rect{10, 10, 0, 300}, Rect{10, 10, 300, 0}, Rect{10, 10, -5, 300},
                              Rect{10, 10, std::nan(""), 300}}) {
        const WindowFacts w = win(1, frame);
        ws.windows = {w};
        try {
            screenshot(ws, w);
            ADD_FAILURE() << "no error for width " << frame.width;
        } catch (const CaptureError& e) {
            EXPECT_EQ(e.kind(), CaptureError::Kind::degenerateWindow);
            EXPECT_STREQ(e.what(), "window has zero-size frame; skipping capture");
        }
    }
    EXPECT_TRUE(ws.contentCalls.empty());
    EXPECT_TRUE(ws.captures.empty());
}

TEST_F(Screenshot, WindowOnNoDisplayIsRefused) {
    const WindowFacts w = win(1, {5000, 5000, 400, 300});
    ws.windows = {w};
    try {
        screenshot(ws, w);
        ADD_FAILURE() << "no error";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.kind(), CaptureError::Kind::noDisplay);
        EXPECT_STREQ(e.what(),
                     "window not on any resolvable display (off-screen?); skipping capture");
    }
    EXPECT_TRUE(ws.captures.empty());
}

TEST_F(Screenshot, SourceRectIsDisplayLocalAndOutputTwiceTheTruncatedSize) {
    struct Case {
        Rect frame;
        uint32_t display;
        Rect source;
        int64_t outW, outH;
    };
    const std::vector<Case> cases = {
        {{1540, 50, 800, 600}, 2, {100, 50, 800, 600}, 1600, 1200},
        {{100, 100, 1280.7, 720.2}, 1, {100, 100, 1280.7, 720.2}, 2560, 1440},
        {{100, 100, 0.6, 0.6}, 1, {100, 100, 0.6, 0.6}, 2, 2},
        {{0, 0, 1440, 900}, 1, {0, 0, 1440, 900}, 2880, 1800},
    };
    for (const Case& c : cases) {
        FakeWindowSystem world;
        world.displays = ws.displays;
        const WindowFacts w = win(7, c.frame);
        world.windows = {w};
        const Image img = screenshot(world, w);
        ASSERT_EQ(world.captures.size(), 1u);
        const auto& call = world.captures[0];
        EXPECT_EQ(call.displayId, c.display) << c.frame.x;
        EXPECT_EQ(call.sourceRect, c.source) << c.frame.x;
        EXPECT_EQ(call.outWidth, c.outW) << c.frame.width;
        EXPECT_EQ(call.outHeight, c.outH) << c.frame.height;
        EXPECT_EQ(img.width, c.outW);
        EXPECT_EQ(img.height, c.outH);
        EXPECT_EQ(world.contentCalls, std::vector<bool>{true});
    }
}

TEST_F(Screenshot, PlatformFailuresPropagate) {
    const WindowFacts w = win(3, {10, 10, 400, 300});
    ws.windows = {w};
    ws.failNextCapture = true;
    EXPECT_THROW(screenshot(ws, w), PlatformError);

    // a window that vanished after the search
    ws.windows.clear();
    EXPECT_THROW(screenshot(ws, w), PlatformError);

    ws.failContent = true;
    EXPECT_THROW(screenshot(ws, w), PlatformError);
}

TEST_F(Screenshot, ScriptedImageIsScaledToTheOutputSize) {
    const WindowFacts w = win(3, {10, 10, 400, 300});
    ws.windows = {w};
    ws.imageFor[3] = Image::blank(400, 300, PixelOrder::BlueFirst);
    const Image img = screenshot(ws, w);
    EXPECT_EQ(img.width, 800);
    EXPECT_EQ(img.height, 600);
    EXPECT_EQ(img.order, PixelOrder::BlueFirst);
}

}  // namespace
}  // namespace tessival
