#include "testing/fake_window_system.h"

#include <algorithm>

#include "codec/image_codec.h"

namespace tessival {

WindowFacts testWindow(uint32_t id, Rect frame, std::string app, std::string title,
                       std::optional<pid_t> pid, bool onScreen, int64_t layer) {
    WindowFacts w;
    w.id = id;
    w.frame = frame;
    w.title = std::move(title);
    w.app = OwningApplication{std::move(app), pid};
    w.onScreen = onScreen;
    w.layer = layer;
    return w;
}

ShareableContent FakeWindowSystem::shareableContent(bool onScreenOnly) {
    contentCalls.push_back(onScreenOnly);
    if (failContent) throw PlatformError(failureText);
    ShareableContent c;
    c.displays = displays;
    for (const WindowFacts& w : windows) {
        if (!onScreenOnly || w.onScreen) c.windows.push_back(w);
    }
    return c;
}

Image FakeWindowSystem::capture(const WindowFacts& window, const DisplayFacts& display,
                                const Rect& sourceRect, int64_t outWidth, int64_t outHeight) {
    capturedIds.push_back(window.id);
    captures.push_back(CaptureCall{window.id, display.id, sourceRect, outWidth, outHeight});
    if (failNextCapture) {
        failNextCapture = false;
        throw PlatformError(failureText);
    }
    const bool exists = std::any_of(windows.begin(), windows.end(),
                                    [&](const WindowFacts& w) { return w.id == window.id; });
    if (!exists) throw PlatformError("window " + std::to_string(window.id) + " no longer exists");

    const auto it = imageFor.find(window.id);
    if (it == imageFor.end()) {
        Image img = Image::blank(outWidth, outHeight, PixelOrder::BlueFirst);
        for (size_t i = 3; i < img.bytes.size(); i += 4) img.bytes[i] = 255;
        return img;
    }
    if (it->second.width == outWidth && it->second.height == outHeight) return it->second;
    std::optional<Image> scaled = resizeImage(it->second, outWidth, outHeight);
    if (!scaled) throw PlatformError("fake capture could not scale the scripted image");
    return *scaled;
}

}  // namespace tessival
