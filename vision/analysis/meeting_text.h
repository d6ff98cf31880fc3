#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

// Text heuristics that tell, from an application name, a window title or OCR lines,
// whether a window belongs to an online meeting. Pure; tables hold lower-case entries.
namespace tessival {

inline constexpr std::array<std::string_view, 8> MEETING_HINTS = {
    "zoom", "microsoft teams", "webex", "google meet", "meet -", "whereby", "gotomeeting",
    "bluejeans"};
inline constexpr std::array<std::string_view, 3> MEETING_APP_ONLY_HINTS = {"around", "teams",
                                                                            "meet"};
inline constexpr std::array<std::string_view, 14> CALL_UI_TOKENS = {
    "mute",         "unmute",     "leave",       "react",        "reactions",
    "raise",        "camera",     "mic",         "share screen", "stop video",
    "start video",  "participants", "share",     "raise hand"};
inline constexpr int LOCK_MIN_UI_HITS = 2;
inline constexpr std::array<std::string_view, 10> TEAMS_HUB_PREFIXES = {
    "activity |", "chat |",  "calendar |", "calls |",    "teams |",
    "files |",    "apps |",  "onedrive |", "copilot |",  "communities |"};

// Host names (and a path) that a browser tab shows in its title only while it holds a
// call page: Google Meet, the Zoom web client, Whereby, the public Jitsi Meet service.
inline constexpr std::array<std::string_view, 4> CALL_PAGE_ADDRESSES = {
    "meet.google.com", "zoom.us/wc", "whereby.com/", "meet.jit.si"};

// "a b" lower-cased, every dash-like character folded to '-', runs of U+0020 collapsed and
// trimmed (other white space is kept).
std::string normalizeHay(std::string_view app, std::string_view title);

// True when `text`, split at every character that is neither a letter nor a number, has a
// token equal to `word`.
bool containsWord(std::string_view text, std::string_view word);

bool hasMeetingHint(std::string_view app, std::string_view title);

// True for a browser title that names a call page (or begins with "meet - ").
bool browserCallSurface(std::string_view title);

struct TeamsWindowKind {
    bool hub = false;
    bool surface = false;
};
TeamsWindowKind teamsWindowKind(std::string_view app, std::string_view title);

// How many distinct call-control words stand alone on an OCR line.
int callUiHits(const std::vector<std::string>& texts);

}  // namespace tessival
