#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sidecar_io.h"

namespace sondrel {

// A partial line longer than this many characters (code points) is dropped.
inline constexpr std::size_t COMMAND_BUFFER_LIMIT = 4096;

// Turns standard-input bytes, in reads of any size, into command lines. Bytes are decoded
// as UTF-8 across reads (a character split between two reads is kept); only bytes that
// are not valid UTF-8 are dropped. A line ends at LF, or at CR LF.
class CommandDecoder {
  public:
    CommandDecoder();
    ~CommandDecoder();
    CommandDecoder(const CommandDecoder&) = delete;
    CommandDecoder& operator=(const CommandDecoder&) = delete;

    // The complete lines (UTF-8, without their line end) that `bytes` finished, in order.
    std::vector<std::string> feed(std::string_view bytes);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// `line` trimmed of tabs and Unicode space separators at both ends and upper-cased.
std::string normalizeCommand(std::string_view line);

// Reads `io`'s standard input to its end, calling `onRestart` for each RESTART line (and
// returning from it before looking at the next line) and logging any other non-empty line
// as an unknown command.
void readCommands(SidecarIo& io, const std::function<void()>& onRestart);

}  // namespace sondrel
