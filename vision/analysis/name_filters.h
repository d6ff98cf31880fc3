#pragma once

#include <array>
#include <string>
#include <string_view>

#include "analysis/rect.h"

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

inline constexpr double WATERMARK_REGION_X = 0.75;
inline constexpr double WATERMARK_REGION_Y = 0.88;

// Lower-cased letters of `s` with the digits OCR mistakes for letters mapped back
// (0→o, 1→l, 5→s, 8→b); everything else dropped. "Z0oM" → "zoom".
std::string canonToken(std::string_view s);

// True when the whole canonical token of `s` is a meeting application's watermark word.
bool isWatermark(std::string_view s);

// True when the box centre lies in the bottom-right corner where watermarks are drawn.
bool inWatermarkRegion(const Rect& box);

// One to three upper-case letters (after trimming): an avatar's initials.
bool isInitialsChip(std::string_view s);

// A plausible participant name: 2 to 40 characters, not a toolbar word, watermark or call
// control, and at least half letters.
bool looksLikeName(std::string_view s);

}  // namespace tessival
