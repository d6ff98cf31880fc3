#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/image.h"
#include "windows/window_chooser.h"

// The parts of the desktop-portal window system that need neither D-Bus nor PipeWire: where
// the restore token lives and how its file reads, what the portal's answers mean, and
// turning a frame of the stream into an image.
namespace tessival {

// The ScreenCast interface's source type bit for single windows, and the first version
// that restores a choice from a token.
inline constexpr uint32_t SCREENCAST_WINDOW_SOURCE = 2;
inline constexpr uint32_t SCREENCAST_MIN_VERSION = 4;
// "Persist until revoked": every Start answers a fresh single-use token.
inline constexpr uint32_t SCREENCAST_PERSIST_UNTIL_REVOKED = 2;
inline constexpr std::string_view TOKEN_FILE_NAME = "portal-restore-token";

// The state directory: the --state-dir option when given, else $XDG_STATE_HOME/tessival,
// else $HOME/.local/state/tessival (empty arguments count as unset). Nothing when there is
// neither a home nor an XDG state directory. Relative XDG paths are ignored, as the base
// directory rules say.
std::optional<std::string> stateDirectory(const std::string& option,
                                          const std::string& xdgStateHome, const std::string& home);

// The contents of a token file holding `token`.
std::string tokenFileText(std::string_view token);

// The token in a token file's contents, or nothing when the text is not a token file or the
// token is empty, overlong or holds anything but printable ASCII without spaces.
std::optional<std::string> parseTokenFile(std::string_view text);

// Why the portal cannot let the user choose a window, from its ScreenCast version and
// available source types; nothing when it can.
std::optional<std::string> screenCastUnusable(uint32_t version, uint32_t availableSourceTypes);

// The outcome of a portal request's response code: 0 done, 1 cancelled by the user,
// anything else ended otherwise (denied, failed). `step` names the request for the reason.
WindowChoice::Outcome responseOutcome(uint32_t code);
std::string responseReason(std::string_view step, uint32_t code);

// The pixel layouts asked of the stream.
enum class FrameFormat { BGRx, BGRA, RGBx, RGBA };

// A packed copy of a frame `stride` bytes a row, four bytes a pixel, or nothing when the
// sizes do not fit in `size` bytes or are not positive.
std::optional<Image> frameImage(const uint8_t* data, size_t size, int64_t width, int64_t height,
                                int64_t stride, FrameFormat format);

}  // namespace tessival
