#include "windows/combined_window_system.h"

namespace tessival {

CombinedWindowSystem::CombinedWindowSystem(std::vector<Source> sources)
    : sources_(std::move(sources)) {}

ShareableContent CombinedWindowSystem::shareableContent(bool onScreenOnly) {
    ShareableContent all;
    bool answered = false, haveDisplays = false;
    std::optional<PlatformError> lastError;
    for (size_t i = 0; i < sources_.size(); ++i) {
        ShareableContent part;
        try {
            part = sources_[i].system->shareableContent(onScreenOnly);
        } catch (const PlatformError& e) {
            lastError = e;
            continue;
        }
        answered = true;
        for (WindowFacts& w : part.windows) {
            w.source = sources_[i].name;
            all.windows.push_back(std::move(w));
        }
        if (!haveDisplays && !part.displays.empty()) {
            all.displays = std::move(part.displays);
            displaySource_ = i;
            haveDisplays = true;
        }
    }
    if (!answered && lastError) throw *lastError;
    return all;
}

std::optional<pid_t> CombinedWindowSystem::frontmostPid() {
    for (Source& s : sources_) {
        try {
            if (std::optional<pid_t> pid = s.system->frontmostPid()) return pid;
        } catch (const PlatformError&) {
        }
    }
    return std::nullopt;
}

uint32_t CombinedWindowSystem::mainDisplayId() {
    if (sources_.empty()) throw PlatformError("no window system to ask for displays");
    return sources_[displaySource_].system->mainDisplayId();
}

Image CombinedWindowSystem::capture(const WindowFacts& window, const DisplayFacts& display,
                                    const Rect& sourceRect, int64_t outWidth, int64_t outHeight) {
    for (Source& s : sources_) {
        if (s.name == window.source) {
            return s.system->capture(window, display, sourceRect, outWidth, outHeight);
        }
    }
    throw PlatformError("no window system named \"" + window.source + "\" to capture from");
}

}  // namespace tessival
