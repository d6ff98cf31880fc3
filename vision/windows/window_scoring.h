#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/answer.h"
#include "windows/window_system.h"

// Scoring the eligible windows and packing the chosen one with its display facts.
namespace tessival {

struct WindowCandidate {
    WindowFacts window;
    double score = 0;
    double area = 0;  // square points
    bool frontmost = false;
    bool meetingHint = false;
    bool meetingSurface = false;
    bool queryHit = false;
    bool onActiveDisplay = false;
    bool fullscreen = false;
    std::optional<uint32_t> displayID;
    bool onScreen = false;
};

struct PickedWindow {
    WindowFacts window;
    std::optional<uint32_t> displayID;
    int64_t displayIndex = 0;  // 1-based; 0 when there is no display or it is not listed
    int64_t displayCount = 0;
    bool isMain = false;
    double score = 0;  // -1.0 for a locked window
    double area = 0;
    bool locked = false;
    bool unproven = false;
};

struct CandidatePick {
    size_t index = 0;
    bool unproven = false;
};

// What raises a window's score besides its area.
struct ScoreEvidence {
    bool frontmost = false;
    bool meetingHint = false;
    bool meetingSurface = false;
    bool queryHit = false;
    bool fullscreen = false;
};

// The selection score: area, frontmost and fullscreen raise it; meeting evidence raises it
// most; windows under a fifth of the largest area are penalised. Ranges -0.3 to 1.92.
double windowScore(double areaNorm, const ScoreEvidence& e);

WindowCandidate scoreWindow(const WindowFacts& window, double largestArea,
                            std::optional<pid_t> frontmostPID,
                            const std::optional<Rect>& activeDisplayFrame,
                            std::optional<uint32_t> fullscreenOn,
                            std::optional<uint32_t> displayID,
                            const std::optional<std::string>& query, std::string_view hay);

// The first candidate with evidence; else the first, flagged unproven; nothing when empty.
std::optional<CandidatePick> pickCandidateIndex(const std::vector<bool>& evidence);

// How a window was picked: its score (-1.0 for a locked window), its area, and whether it
// was the locked one or the first without evidence.
struct PickReason {
    double score = 0;
    double area = 0;
    bool locked = false;
    bool unproven = false;
};

PickedWindow makePicked(const WindowFacts& window, const std::vector<DisplayFacts>& displays,
                        std::optional<uint32_t> displayID, uint32_t mainDisplayID,
                        const PickReason& why);

// The nine-key "window" object of the answers.
Answer windowInfo(const PickedWindow& picked);

// Application name and title, empty when absent.
std::string appName(const WindowFacts& window);
std::string titleOf(const WindowFacts& window);

}  // namespace tessival
