#include "windows/window_scoring.h"

#include <cmath>

#include "base/unicode_text.h"
#include "analysis/meeting_text.h"

namespace tessival {

double windowScore(double areaNorm, const ScoreEvidence& e) {
    double s = 0.45 * areaNorm + 0.0;
    if (e.frontmost) s += 0.3;
    if (e.meetingHint) s += 0.12;
    if (e.meetingSurface) s += 0.3;
    if (e.queryHit) s += 0.4;
    if (areaNorm < 0.2) s += -0.3;
    if (e.fullscreen) {
        const double bonus = (e.frontmost || e.meetingHint || e.queryHit) ? 0.35 : 0.1;
        s = bonus + s;
    }
    return s;
}

std::string appName(const WindowFacts& window) { return window.app ? window.app->name : ""; }
std::string titleOf(const WindowFacts& window) { return window.title.value_or(""); }

WindowCandidate scoreWindow(const WindowFacts& window, double largestArea,
                            std::optional<pid_t> frontmostPID,
                            const std::optional<Rect>& activeDisplayFrame,
                            std::optional<uint32_t> fullscreenOn,
                            std::optional<uint32_t> displayID,
                            const std::optional<std::string>& query, std::string_view hay) {
    WindowCandidate c;
    c.window = window;
    c.area = window.frame.width * window.frame.height;
    const double areaNorm = largestArea > 0 ? c.area / largestArea : 0;
    c.frontmost = frontmostPID && window.app && window.app->pid && *window.app->pid == *frontmostPID;
    const std::string app = appName(window);
    const std::string title = titleOf(window);
    const TeamsWindowKind kind = teamsWindowKind(app, title);
    if (unicode::lowercased(app).find("zoom") != std::string::npos) {
        c.meetingSurface = kind.surface ||
                           unicode::lowercased(title).find("meeting") != std::string::npos ||
                           browserCallSurface(title);
    } else {
        c.meetingSurface = kind.surface || browserCallSurface(title);
    }
    c.meetingHint = kind.hub ? false : hasMeetingHint(app, title);
    c.queryHit = query && !query->empty() &&
                 hay.find(unicode::lowercased(*query)) != std::string_view::npos;
    c.onActiveDisplay =
        activeDisplayFrame && activeDisplayFrame->contains(window.frame.midX(), window.frame.midY());
    c.fullscreen = fullscreenOn.has_value();
    c.score = windowScore(areaNorm, {.frontmost = c.frontmost,
                                     .meetingHint = c.meetingHint,
                                     .meetingSurface = c.meetingSurface,
                                     .queryHit = c.queryHit,
                                     .fullscreen = c.fullscreen});
    c.displayID = displayID;
    c.onScreen = window.onScreen;
    return c;
}

std::optional<CandidatePick> pickCandidateIndex(const std::vector<bool>& evidence) {
    if (evidence.empty()) return std::nullopt;
    for (size_t i = 0; i < evidence.size(); ++i) {
        if (evidence[i]) return CandidatePick{i, false};
    }
    return CandidatePick{0, true};
}

PickedWindow makePicked(const WindowFacts& window, const std::vector<DisplayFacts>& displays,
                        std::optional<uint32_t> displayID, uint32_t mainDisplayID,
                        const PickReason& why) {
    PickedWindow p;
    p.window = window;
    p.displayID = displayID;
    p.displayCount = static_cast<int64_t>(displays.size());
    if (displayID) {
        for (size_t i = 0; i < displays.size(); ++i) {
            if (displays[i].id == *displayID) {
                p.displayIndex = static_cast<int64_t>(i) + 1;
                break;
            }
        }
        p.isMain = *displayID == mainDisplayID;
    }
    p.score = why.score;
    p.area = why.area;
    p.locked = why.locked;
    p.unproven = why.unproven;
    return p;
}

Answer windowInfo(const PickedWindow& picked) {
    return Answer{
        {"app", appName(picked.window)},
        {"title", titleOf(picked.window)},
        {"display_index", picked.displayIndex},
        {"display_count", picked.displayCount},
        {"display_is_main", picked.isMain},
        {"display_id", static_cast<int64_t>(picked.displayID.value_or(0))},
        {"window_area", static_cast<int64_t>(std::trunc(picked.area))},
        {"window_score", picked.score},
        {"window_locked", picked.locked},
        {"source", picked.window.source},
    };
}

}  // namespace tessival
