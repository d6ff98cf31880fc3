#include "windows/slide_window.h"

#include <algorithm>

#include "base/unicode_text.h"
#include "windows/display_geometry.h"
#include "analysis/meeting_text.h"
#include "windows/window_scoring.h"
#include "windows/window_search.h"

namespace tessival {
namespace {

double areaOf(const WindowFacts& w) { return w.frame.width * w.frame.height; }

template <size_t N>
bool containsAny(const std::string& hay, const std::array<std::string_view, N>& hints) {
    return std::any_of(hints.begin(), hints.end(),
                       [&](std::string_view h) { return hay.find(h) != std::string::npos; });
}

struct Eligible {
    const WindowFacts* window;
    std::string hay;
};

template <typename Pred>
std::optional<WindowFacts> biggestWhere(const std::vector<Eligible>& eligible, Pred pred) {
    const WindowFacts* best = nullptr;
    for (const Eligible& e : eligible) {
        if (!pred(e)) continue;
        if (best == nullptr || areaOf(*e.window) > areaOf(*best)) best = e.window;
    }
    if (best == nullptr) return std::nullopt;
    return *best;
}

}  // namespace

std::optional<WindowFacts> biggest(const std::vector<WindowFacts>& windows) {
    const WindowFacts* best = nullptr;
    for (const WindowFacts& w : windows) {
        if (best == nullptr || areaOf(w) > areaOf(*best)) best = &w;
    }
    if (best == nullptr) return std::nullopt;
    return *best;
}

std::optional<WindowFacts> findSlideWindow(WindowSystem& ws,
                                           const std::optional<std::string>& query) {
    const ShareableContent content = ws.shareableContent(false);

    std::vector<Eligible> eligible;
    for (const WindowFacts& w : content.windows) {
        if (!(areaOf(w) > SLIDE_WINDOW_MIN_AREA)) continue;
        std::string hay = normalizeHay(appName(w), titleOf(w));
        if (containsAny(hay, SELF_AND_CHROME_HINTS)) continue;
        if (!w.onScreen &&
            !(w.layer == 0 && fullscreenDisplayID(w, content.displays).has_value())) {
            continue;
        }
        eligible.push_back(Eligible{&w, std::move(hay)});
    }

    if (query && !query->empty()) {
        const std::string q = unicode::lowercased(*query);
        if (auto w = biggestWhere(
                eligible, [&](const Eligible& e) { return e.hay.find(q) != std::string::npos; })) {
            return w;
        }
    }
    if (auto w = biggestWhere(eligible,
                              [](const Eligible& e) { return containsAny(e.hay, SHARE_HINTS); })) {
        return w;
    }
    if (auto w = biggestWhere(
            eligible, [](const Eligible& e) { return containsAny(e.hay, PRESENT_APP_HINTS); })) {
        return w;
    }
    return biggestWhere(eligible, [](const Eligible& e) {
        return hasMeetingHint(appName(*e.window), titleOf(*e.window));
    });
}

}  // namespace tessival
