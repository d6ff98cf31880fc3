#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

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

// The vocabulary of meeting and app interfaces, any app: control captions ("Share screen",
// "Mute all", "Breakout rooms"), panel and menu headers ("Participants (4)", "File"), states
// and role labels ("Speaking", "HOST"). A line made only of these words, numbers and the
// small words that join them ("Leave session", "10 participants", "Mute audio") is interface
// text, not a person.
inline constexpr std::array<std::string_view, 103> UI_VOCABULARY = {
    "microphone", "mic", "camera", "video", "audio", "sound", "screen", "screens", "share", "shared",
    "sharing", "present", "presenting", "presentation", "stop", "start", "mute", "unmute", "muted",
    "unmuted", "leave", "end", "join", "joined", "chat", "chats", "message", "messages", "participants",
    "participant", "people", "attendees", "users", "user", "members", "persons", "guests", "others",
    "everyone", "settings", "options", "more", "view", "gallery", "speaker", "layout", "fullscreen",
    "record", "recording", "reactions", "react", "raise", "lower", "hand", "hands", "captions",
    "subtitles", "transcript", "breakout", "rooms", "room", "whiteboard", "notes", "apps", "polls",
    "security", "invite", "copy", "link", "close", "search", "add", "new", "send", "reply", "files",
    "file", "edit", "tools", "help", "history", "bookmarks", "profile", "logout", "language", "session",
    "meeting", "call", "host", "co-host", "moderator", "presenter", "organizer", "speaking", "online",
    "offline", "connected", "cameras", "background", "blur", "effects", "admit", "lobby"};

// Words of job titles and roles, printed under a name on a virtual background or in a
// title block ("Senior Product Manager"); a line holding one outside brackets is a title.
// A role in brackets after a name ("Steve (Support Executive)") is part of the label.
inline constexpr std::array<std::string_view, 40> ROLE_WORDS = {
    "manager", "engineer", "engineering", "director", "designer", "developer", "lead", "head",
    "officer", "president", "founder", "co-founder", "ceo", "cto", "cfo", "coo", "vp", "analyst",
    "consultant", "specialist", "coordinator", "executive", "architect", "scientist", "intern",
    "administrator", "recruiter", "marketing", "sales", "product", "operations", "advisor",
    "assistant", "associate", "professor", "teacher", "student", "senior", "junior", "strategy"};

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

// Text that by itself shows it is not a participant's name label: a clock time
// ("10:34 AM"), a web address or path, interface vocabulary alone ("Leave session",
// "USERS (4)"), a job title, or prose (more than five words, small joining words such as
// "the" or "to", or a sentence's closing full stop, question mark or colon).
bool readsAsClock(std::string_view s);
bool readsAsAddress(std::string_view s);
bool readsAsInterfaceText(std::string_view s);
bool readsAsJobTitle(std::string_view s);
bool readsAsProse(std::string_view s);
// A capitalised phrase, not a name: a later word in lower case that is no name particle
// ("Threaded conversations", "Main features"). A name typed all in lower case ("john doe")
// and a particle ("Maximilian von Hohenberg") are names.
bool readsAsPhrase(std::string_view s);
// The end of a label whose start was lost: a first word in lower case that is no name
// particle before a capitalised one ("phie Berger"). A name typed all in lower case is whole.
bool readsAsClippedLabel(std::string_view s);
// A control's caption: a few words led by a verb such as "join" or "open" ("Join Activity").
bool readsAsControlCaption(std::string_view s);

// The words of a call's toolbar read as one line, its icons as short noise between them
// ("Microphone v Camera v Stop screen share E] Chat Leave"): every word of three letters or
// more is interface vocabulary and there are at least three. Empty for any other text.
std::vector<std::string> toolbarRunWords(std::string_view s);

// A plausible participant name: 2 to 40 characters, not made of toolbar words and call
// controls alone (OCR runs neighbouring captions together: "View More"), not a watermark,
// at least half letters, and none of the texts above.
bool looksLikeName(std::string_view s);

}  // namespace tessival
