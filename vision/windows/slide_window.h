#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "windows/window_system.h"

// Finding the window that shows a shared screen or a slide deck.
namespace tessival {

inline constexpr std::array<std::string_view, 10> SHARE_HINTS = {
    "screen",     "sharing",  "is sharing",    "presentation", "slide",
    "powerpoint", "keynote",  "google slides", "- slides",     "shared content"};
inline constexpr std::array<std::string_view, 6> PRESENT_APP_HINTS = {
    "powerpoint", "keynote", "preview", "acrobat", "adobe", "pages"};

inline constexpr double SLIDE_WINDOW_MIN_AREA = 80000;

// The window of largest frame area; the first on ties; nothing for an empty list.
std::optional<WindowFacts> biggest(const std::vector<WindowFacts>& windows);

// The largest eligible window of the first stage that matches: the query, share hints,
// presentation apps, meeting hints. Throws the window system's error.
std::optional<WindowFacts> findSlideWindow(WindowSystem& ws,
                                           const std::optional<std::string>& query);

}  // namespace tessival
