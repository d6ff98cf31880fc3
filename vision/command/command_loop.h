#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/answer.h"
#include "base/output.h"

namespace tessival {

enum class CommandKind { Participants, Frame, Slide, ChooseWindow };

struct Command {
    CommandKind kind = CommandKind::Participants;
    std::optional<std::string> query;  // absent or non-empty
};

// What a trimmed line asks for: nothing (empty line), a command, or an unknown command.
struct ParsedLine {
    bool empty = false;
    std::optional<Command> command;  // absent and !empty: unknown command
};

// Matches a line (terminator already removed) against the command words, case-sensitively,
// after trimming horizontal white space.
ParsedLine parseCommandLine(std::string_view line);

// The command handlers. Each returns one answer and should not throw; if one does, the
// loop answers for it.
class CommandHandlers {
public:
    virtual ~CommandHandlers() = default;
    virtual Answer capture(const std::optional<std::string>& query) = 0;
    virtual Answer captureFrame(const std::optional<std::string>& query) = 0;
    virtual Answer captureSlide(const std::optional<std::string>& query) = 0;
    virtual Answer chooseWindow() = 0;
};

// Lines longer than this are read to their end but answered as unknown commands, so a
// runaway writer cannot make the process hold unbounded input.
inline constexpr size_t MAX_LINE_BYTES = 16u << 20;

// Reads LF- or CR LF-terminated lines from a descriptor; ill-formed UTF-8 becomes U+FFFD.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}
    // The next line, or nothing at end of input. `overlong` tells a line cut at the limit.
    std::optional<std::string> next(bool& overlong);

private:
    int fd_;
    std::string buffer_;
    size_t scanFrom_ = 0;
    bool eof_ = false;
};

// Runs one handler with the one wrapper that turns a thrown error into a failure answer.
Answer runHandler(const std::function<Answer()>& handler);

// The command loop: one answer per command, in order, until end of input. Returns the
// process exit status.
int runCommandLoop(int inputFd, Output& out, CommandHandlers& handlers);

}  // namespace tessival
