#pragma once

#include <array>
#include <string>
#include <string_view>

#include "base/rect.h"

// Which OCR lines of a meeting window are participant names.
namespace tessival {

inline constexpr std::array<std::string_view, 30> UI_STOPWORDS = {
    "mute",     "unmute",    "stop",       "start",     "share",      "chat",
    "participants", "record", "recording", "leave",     "end",        "view",
    "reactions", "camera",   "video",      "more",      "raise",      "hand",
    "gallery",  "speaker",   "present",    "presenting", "host",      "co-host",
    "mic",      "audio",     "settings",   "apps",      "notes",      "whiteboard"};

inline constexpr std::array<std::string_view, 11> WATERMARK_TOKENS = {
    "zoom", "webex",     "teams",    "microsoftteams", "googlemeet", "meet",
    "skype", "gotomeeting", "bluejeans", "whereby",     "ciscowebex"};

// Toolbar captions of meeting apps that are neither stop words nor call controls.
inline constexpr std::array<std::string_view, 8> TOOLBAR_CAPTIONS = {
    "security", "people", "options", "whiteboards", "captions", "rooms", "polls", "summary"};

inline constexpr double WATERMARK_REGION_X = 0.75;
inline constexpr double WATERMARK_REGION_Y = 0.88;

// Lower-cased letters of `s` with the digits OCR mistakes for letters mapped back
// (0→o, 1→l, 5→s, 8→b); everything else dropped. "Z0oM" → "zoom".
std::string canonToken(std::string_view s);

// True when the whole canonical token of `s` is a meeting application's watermark word.
bool isWatermark(std::string_view s);

// True when the box centre lies in the bottom-right corner where watermarks are drawn.
bool inWatermarkRegion(const Rect& box);

// Lines in the top band of a window that repeat the window's title are its title bar or
// meeting header ("Weekly sync" in "Weekly sync | Microsoft Teams"), not a participant.
inline constexpr double TITLE_BAND_Y = 0.12;
bool echoesWindowTitle(std::string_view text, const Rect& box, std::string_view windowTitle);

// One to three upper-case letters (after trimming): an avatar's initials.
bool isInitialsChip(std::string_view s);

// A plausible participant name: 2 to 40 characters, not made of toolbar words and call
// controls alone (OCR runs neighbouring captions together: "View More"), not a watermark,
// and at least half letters.
bool looksLikeName(std::string_view s);

}  // namespace tessival
