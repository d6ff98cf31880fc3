#include "command/command_loop.h"

#include <array>
#include <cerrno>
#include <unistd.h>

#include "base/unicode_text.h"

namespace tessival {
namespace {

struct CommandWord {
    std::string_view word;
    CommandKind kind;
};

// Longest first: "CAPTURE" is a prefix of the other two.
constexpr std::array<CommandWord, 3> COMMAND_WORDS = {{
    {"CAPTURE_SLIDE", CommandKind::Slide},
    {"CAPTURE_FRAME", CommandKind::Frame},
    {"CAPTURE", CommandKind::Participants},
}};

}  // namespace

ParsedLine parseCommandLine(std::string_view line) {
    const std::string_view t = unicode::trimHorizontalSpace(line);
    if (t.empty()) return ParsedLine{true, std::nullopt};
    // Takes no query: there is nothing to prefer in a dialog the user answers.
    if (t == "CHOOSE_WINDOW") return ParsedLine{false, Command{CommandKind::ChooseWindow, std::nullopt}};
    for (const CommandWord& cw : COMMAND_WORDS) {
        if (t == cw.word) return ParsedLine{false, Command{cw.kind, std::nullopt}};
        if (t.size() > cw.word.size() + 1 && t.substr(0, cw.word.size()) == cw.word &&
            t[cw.word.size()] == ' ') {
            return ParsedLine{false, Command{cw.kind, std::string(t.substr(cw.word.size() + 1))}};
        }
    }
    return ParsedLine{};
}

std::optional<std::string> LineReader::next(bool& overlong) {
    overlong = false;
    size_t dropped = 0;
    while (true) {
        const size_t nl = buffer_.find('\n', scanFrom_);
        if (nl != std::string::npos) {
            std::string line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            scanFrom_ = 0;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            overlong = dropped > 0;
            return unicode::repairUtf8(line);
        }
        if (eof_) {
            if (buffer_.empty() && dropped == 0) return std::nullopt;
            std::string line = std::move(buffer_);
            buffer_.clear();
            scanFrom_ = 0;
            overlong = dropped > 0;
            return unicode::repairUtf8(line);
        }
        scanFrom_ = buffer_.size();
        if (buffer_.size() > MAX_LINE_BYTES) {
            dropped += buffer_.size();
            buffer_.clear();
            scanFrom_ = 0;
        }
        char chunk[65536];
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            eof_ = true;
            continue;
        }
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

Answer runHandler(const std::function<Answer()>& handler) {
    try {
        return handler();
    } catch (const std::exception& e) {
        return Answer{{"ok", false}, {"error", e.what()}};
    } catch (...) {
        return Answer{{"ok", false}, {"error", "internal error"}};
    }
}

int runCommandLoop(int inputFd, Output& out, CommandHandlers& handlers) {
    out.log("[tessival] ready");
    LineReader reader(inputFd);
    bool overlong = false;
    while (std::optional<std::string> line = reader.next(overlong)) {
        if (out.answersClosed()) break;
        const ParsedLine parsed = overlong ? ParsedLine{} : parseCommandLine(*line);
        if (parsed.empty) continue;
        if (!parsed.command) {
            out.emit(Answer{{"ok", false}, {"error", "unknown command"}});
            continue;
        }
        const Command& cmd = *parsed.command;
        out.emit(runHandler([&]() -> Answer {
            switch (cmd.kind) {
                case CommandKind::Slide:
                    return handlers.captureSlide(cmd.query);
                case CommandKind::Frame:
                    return handlers.captureFrame(cmd.query);
                case CommandKind::ChooseWindow:
                    return handlers.chooseWindow();
                case CommandKind::Participants:
                    break;
            }
            return handlers.capture(cmd.query);
        }));
    }
    if (out.answersClosed()) return 1;
    out.log("[tessival] stdin closed, exiting");
    return 0;
}

}  // namespace tessival
