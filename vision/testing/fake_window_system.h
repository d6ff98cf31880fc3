#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "windows/window_system.h"

namespace tessival {

// An in-memory window system for tests. Script the world through the public fields, run
// the code under test, then read what it asked for from the recording vectors.
//
//   FakeWindowSystem ws;
//   ws.displays = {{1, {0, 0, 1920, 1080}}};
//   ws.windows = {{.id = 7, .frame = {0, 0, 800, 600}, .title = "Zoom Meeting",
//                  .app = OwningApplication{"zoom.us", 42}, .onScreen = true}};
//   ws.imageFor[7] = someImage;   // what capturing window 7 shows
// A window for tests: an application's window, on screen unless told otherwise.
WindowFacts testWindow(uint32_t id, Rect frame, std::string app, std::string title,
                       std::optional<pid_t> pid = std::nullopt, bool onScreen = true,
                       int64_t layer = 0);

class FakeWindowSystem final : public WindowSystem {
  public:
    // --- the world ---
    std::vector<WindowFacts> windows;    // front to back
    std::vector<DisplayFacts> displays;  // in listing order
    std::optional<pid_t> frontmost;      // frontmostPid()
    uint32_t mainDisplay = 1;            // mainDisplayId()
    // The picture of a window, resized to the requested output size on capture. A window
    // without one captures as an opaque black blue-first image of the requested size.
    std::map<uint32_t, Image> imageFor;

    // --- failure injection ---
    bool failContent = false;      // every shareableContent() throws PlatformError
    bool failNextCapture = false;  // the next capture() throws PlatformError, then clears
    std::string failureText = "fake window system failure";

    // --- what was asked ---
    struct CaptureCall {
        uint32_t windowId = 0;
        uint32_t displayId = 0;
        Rect sourceRect;
        int64_t outWidth = 0;
        int64_t outHeight = 0;
    };
    std::vector<bool> contentCalls;  // the onScreenOnly argument of each shareableContent()
    std::vector<uint32_t> capturedIds;
    std::vector<CaptureCall> captures;

    ShareableContent shareableContent(bool onScreenOnly) override;
    std::optional<pid_t> frontmostPid() override { return frontmost; }
    uint32_t mainDisplayId() override { return mainDisplay; }
    // Throws PlatformError like the real one when the window is no longer in `windows`.
    Image capture(const WindowFacts& window, const DisplayFacts& display, const Rect& sourceRect,
                  int64_t outWidth, int64_t outHeight) override;
};

}  // namespace tessival
