#include "windows/window_search.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "windows/display_geometry.h"
#include "analysis/meeting_text.h"

namespace tessival {
namespace {

// Window titles are written by other programs and may hold line breaks or other control
// characters; in a log line they would split it or corrupt the reader's terminal.
std::string forLog(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char ch : s) {
        const auto u = static_cast<unsigned char>(ch);
        out.push_back(u < 0x20 || u == 0x7f ? ' ' : ch);
    }
    return out;
}

double areaOf(const WindowFacts& w) { return w.frame.width * w.frame.height; }

bool hasSelfOrChromeHint(const std::string& hay) {
    return std::any_of(SELF_AND_CHROME_HINTS.begin(), SELF_AND_CHROME_HINTS.end(),
                       [&](std::string_view h) { return hay.find(h) != std::string::npos; });
}

// On screen, or parked at layer 0 filling a display (a fullscreen space of its own).
bool visibleOrFullscreen(const WindowFacts& w, const std::vector<DisplayFacts>& displays) {
    return w.onScreen || (w.layer == 0 && fullscreenDisplayID(w, displays).has_value());
}

std::optional<uint32_t> displayIdOf(const WindowFacts& w,
                                    const std::vector<DisplayFacts>& displays) {
    if (auto fs = fullscreenDisplayID(w, displays)) return fs;
    if (auto d = displayFor(w, displays)) return d->id;
    return std::nullopt;
}

std::string fixed3(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

const char* flag(bool b) { return b ? "true" : "false"; }

std::optional<pid_t> pidOf(const WindowFacts& w) {
    return w.app ? w.app->pid : std::optional<pid_t>{};
}

// The frame of the display under the frontmost application's window (or, failing that,
// under the largest eligible window).
std::optional<Rect> activeDisplayFrame(const std::vector<const WindowFacts*>& eligible,
                                       std::optional<pid_t> frontmostPID,
                                       const std::vector<DisplayFacts>& displays) {
    const WindowFacts* anchor = nullptr;
    for (const WindowFacts* w : eligible) {
        if (pidOf(*w) == frontmostPID) {
            anchor = w;
            break;
        }
    }
    if (anchor == nullptr) {
        for (const WindowFacts* w : eligible) {
            if (anchor == nullptr || areaOf(*w) > areaOf(*anchor)) anchor = w;
        }
    }
    if (anchor == nullptr) return std::nullopt;
    for (const DisplayFacts& d : displays) {
        if (d.frame.contains(anchor->frame.midX(), anchor->frame.midY())) return d.frame;
    }
    return std::nullopt;
}

}  // namespace

std::string appAndTitle(const WindowFacts& window) {
    return "app=\"" + forLog(appName(window)) + "\" title=\"" + forLog(titleOf(window)) + "\"";
}

std::string describe(const WindowFacts& window) {
    return appAndTitle(window) +
           " size=" + std::to_string(static_cast<int64_t>(std::trunc(window.frame.width))) + "x" +
           std::to_string(static_cast<int64_t>(std::trunc(window.frame.height)));
}

std::optional<PickedWindow> findWindow(WindowSystem& ws, WindowLock& lock, Output& out,
                                       const std::optional<std::string>& query) {
    const ShareableContent content = ws.shareableContent(false);
    const std::vector<DisplayFacts>& displays = content.displays;

    if (lock.lockedWindowID) {
        const auto it =
            std::find_if(content.windows.begin(), content.windows.end(),
                         [&](const WindowFacts& w) {
                             return w.id == *lock.lockedWindowID && w.source == lock.lockedSource;
                         });
        if (it != content.windows.end() && areaOf(*it) > MEETING_WINDOW_MIN_AREA &&
            visibleOrFullscreen(*it, displays)) {
            out.log("[tessival] capture window (locked): " + describe(*it));
            return makePicked(*it, displays, displayIdOf(*it, displays), ws.mainDisplayId(),
                              {.score = -1.0, .area = areaOf(*it), .locked = true});
        }
        out.log("[tessival] lock released (window gone): " + lock.lockedWindowDesc);
        lock.lockedWindowID.reset();
        lock.lockedWindowDesc.clear();
    }

    std::vector<const WindowFacts*> eligible;
    std::vector<std::string> hays;
    for (const WindowFacts& w : content.windows) {
        if (!(areaOf(w) > MEETING_WINDOW_MIN_AREA)) continue;
        std::string hay = normalizeHay(appName(w), titleOf(w));
        if (hasSelfOrChromeHint(hay)) continue;
        if (!visibleOrFullscreen(w, displays)) continue;
        eligible.push_back(&w);
        hays.push_back(std::move(hay));
    }
    if (eligible.empty()) {
        out.log("[tessival] capture window: none found (no eligible on-screen window)");
        return std::nullopt;
    }

    const std::optional<pid_t> frontmostPID = ws.frontmostPid();
    double largestArea = 0;
    for (const WindowFacts* w : eligible) largestArea = std::max(largestArea, areaOf(*w));
    const std::optional<Rect> activeFrame = activeDisplayFrame(eligible, frontmostPID, displays);

    std::vector<WindowCandidate> candidates;
    candidates.reserve(eligible.size());
    for (size_t i = 0; i < eligible.size(); ++i) {
        const WindowFacts& w = *eligible[i];
        candidates.push_back(scoreWindow(w, largestArea, frontmostPID, activeFrame,
                                         fullscreenDisplayID(w, displays), displayIdOf(w, displays),
                                         query, hays[i]));
    }
    std::stable_sort(
        candidates.begin(), candidates.end(),
        [](const WindowCandidate& a, const WindowCandidate& b) { return a.score > b.score; });

    for (size_t i = 0; i < candidates.size() && i < 6; ++i) {
        const WindowCandidate& c = candidates[i];
        out.log("[tessival] candidate score=" + fixed3(c.score) + " front=" + flag(c.frontmost) +
                " fs=" + flag(c.fullscreen) +
                " disp=" + (c.displayID ? std::to_string(*c.displayID) : std::string("-")) +
                " onscreen=" + flag(c.onScreen) + " activeDisp=" + flag(c.onActiveDisplay) +
                " meeting=" + flag(c.meetingHint) + " surf=" + flag(c.meetingSurface) +
                " query=" + flag(c.queryHit) + " " + describe(c.window));
    }

    std::vector<bool> evidence;
    evidence.reserve(candidates.size());
    for (const WindowCandidate& c : candidates) {
        evidence.push_back(c.meetingHint || c.meetingSurface || c.queryHit);
    }
    const std::optional<CandidatePick> pick = pickCandidateIndex(evidence);
    if (!pick) return std::nullopt;  // not reached: the candidate list is not empty
    const WindowCandidate& chosen = candidates[pick->index];

    if (pick->unproven) {
        out.log(
            "[tessival] capture window (PROBE ONLY \xE2\x80\x94 no candidate has meeting evidence,"
            " names will be discarded unless call-UI/ring content proves it): " +
            describe(chosen.window));
    } else {
        const char* reason = chosen.queryHit         ? "query"
                             : chosen.meetingSurface ? "meeting-surface"
                                                     : "meeting-app+area";
        out.log(std::string("[tessival] capture window (chosen, ") + reason +
                ", score=" + fixed3(chosen.score) + "): " + describe(chosen.window));
    }
    return makePicked(chosen.window, displays, chosen.displayID, ws.mainDisplayId(),
                      {.score = chosen.score, .area = chosen.area, .unproven = pick->unproven});
}

void updateWindowLock(WindowLock& lock, Output& out, const WindowFacts& window, int uiHits,
                      bool ringFound) {
    const bool noEvidence = uiHits < LOCK_MIN_UI_HITS && !ringFound;
    const bool same = lock.lockedWindowID == window.id && lock.lockedSource == window.source;
    if (lock.lockedWindowID && (same || noEvidence)) return;
    if (!lock.lockedWindowID && noEvidence) return;
    lock.lockedWindowID = window.id;
    lock.lockedSource = window.source;
    lock.lockedWindowDesc = appAndTitle(window);
    const std::string evidence =
        ringFound ? std::string("ring detected") : "call-ui x" + std::to_string(uiHits);
    out.log("[tessival] lock engaged (" + evidence + "): " + lock.lockedWindowDesc);
}

}  // namespace tessival
