#include "command/command_loop.h"

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <thread>
#include <unistd.h>

#include "testing/log_capture.h"

namespace tessival {
namespace {

TEST(ParseCommandLine, MatchesWordsAndQueries) {
    struct Case {
        std::string line;
        bool empty, known;
        CommandKind kind;
        std::optional<std::string> query;
    };
    const auto P = CommandKind::Participants;
    const auto F = CommandKind::Frame;
    const auto S = CommandKind::Slide;
    const Case cases[] = {
        {"", true, false, P, {}},
        {" \t\u00a0\u3000", true, false, P, {}},
        {"CAPTURE", false, true, P, {}},
        {"  CAPTURE  ", false, true, P, {}},
        {"CAPTURE Zoom", false, true, P, "Zoom"},
        {"CAPTURE   Zoom", false, true, P, "  Zoom"},
        {"CAPTURE    ", false, true, P, {}},
        {"CAPTURE_FRAME", false, true, F, {}},
        {"CAPTURE_FRAME Teams call", false, true, F, "Teams call"},
        {"CAPTURE_SLIDE", false, true, S, {}},
        {"CAPTURE_SLIDE deck", false, true, S, "deck"},
        {"\u3000CAPTURE_SLIDE deck\u00a0", false, true, S, "deck"},
        {"capture", false, false, P, {}},
        {"Capture", false, false, P, {}},
        {"CAPTURE_SLIDES", false, false, P, {}},
        {"CAPTURE\tZoom", false, false, P, {}},
        {"CAPTUREX", false, false, P, {}},
        {"\nCAPTURE", false, false, P, {}},
        {"RESTART", false, false, P, {}},
    };
    for (const Case& c : cases) {
        const ParsedLine p = parseCommandLine(c.line);
        EXPECT_EQ(p.empty, c.empty) << c.line;
        EXPECT_EQ(p.command.has_value(), c.known) << c.line;
        if (p.command && c.known) {
            EXPECT_EQ(p.command->kind, c.kind) << c.line;
            EXPECT_EQ(p.command->query, c.query) << c.line;
        }
    }
}

// Feeds `input` to a reader through a pipe from another thread.
std::vector<std::pair<std::string, bool>> readAll(const std::string& input) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        size_t off = 0;
        while (off < input.size()) {
            const ssize_t n = write(fds[1], input.data() + off, input.size() - off);
            if (n <= 0) break;
            off += static_cast<size_t>(n);
        }
        close(fds[1]);
    });
    LineReader reader(fds[0]);
    std::vector<std::pair<std::string, bool>> lines;
    bool overlong = false;
    while (auto line = reader.next(overlong)) lines.emplace_back(*line, overlong);
    writer.join();
    close(fds[0]);
    return lines;
}

TEST(LineReader, SplitsOnLfAndCrLfAndKeepsTheLastPartialLine) {
    const auto lines = readAll("A\r\nB\n\nC\rD\nE");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].first, "A");
    EXPECT_EQ(lines[1].first, "B");
    EXPECT_EQ(lines[2].first, "");
    EXPECT_EQ(lines[3].first, "C\rD");
    EXPECT_EQ(lines[4].first, "E");
}

TEST(LineReader, RepairsInvalidUtf8AndKeepsNul) {
    const auto lines = readAll(std::string("CAP\xFFTURE\n\0x\n", 12));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].first, "CAP\uFFFDTURE");
    EXPECT_EQ(lines[1].first, std::string("\0x", 2));
}

TEST(LineReader, OverlongLinesAreFlaggedAndTheNextLineSurvives) {
    std::string input(MAX_LINE_BYTES + 100000, 'x');
    input += "\nCAPTURE\n";
    const auto lines = readAll(input);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].second);
    EXPECT_LT(lines[0].first.size(), MAX_LINE_BYTES);
    EXPECT_EQ(lines[1], (std::pair<std::string, bool>{"CAPTURE", false}));
}

struct RecordingHandlers : CommandHandlers {
    std::vector<std::string> calls;
    Answer capture(const std::optional<std::string>& q) override {
        calls.push_back("capture:" + q.value_or("-"));
        return Answer{{"ok", true}, {"n", calls.size()}};
    }
    Answer captureFrame(const std::optional<std::string>& q) override {
        calls.push_back("frame:" + q.value_or("-"));
        throw std::runtime_error("no X server");
    }
    Answer captureSlide(const std::optional<std::string>&) override {
        calls.push_back("slide");
        throw 7;
    }
    Answer chooseWindow() override {
        calls.push_back("choose");
        return Answer{{"ok", false}};
    }
};

struct LoopRun {
    std::string out, err;
    int status = -1;
    std::vector<std::string> calls;
};

LoopRun runLoop(const std::string& input) {
    int in[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(in[1]);
    LoopRun run;
    RecordingHandlers handlers;
    CapturedOutput o;
    run.status = runCommandLoop(in[0], o.out, handlers);
    close(in[0]);
    run.out = o.answerText();
    run.err = o.logText();
    run.calls = handlers.calls;
    return run;
}

TEST(CommandLoop, OneAnswerPerCommandInOrder) {
    const LoopRun r = runLoop(
        "CAPTURE\n\n   \ncapture\nCAPTURE_FRAME x\nCAPTURE_SLIDE\nCAPTURE  q\n CHOOSE_WINDOW\t\n"
        "CHOOSE_WINDOW x\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "{\"n\":1,\"ok\":true}\n"
              "{\"error\":\"unknown command\",\"ok\":false}\n"
              "{\"error\":\"no X server\",\"ok\":false}\n"
              "{\"error\":\"internal error\",\"ok\":false}\n"
              "{\"n\":4,\"ok\":true}\n"
              "{\"ok\":false}\n"
              "{\"error\":\"unknown command\",\"ok\":false}\n");
    EXPECT_EQ(r.calls, (std::vector<std::string>{"capture:-", "frame:x", "slide", "capture: q", "choose"}));
    EXPECT_EQ(r.err, "[tessival] ready\n[tessival] stdin closed, exiting\n");
}

TEST(CommandLoop, EmptyInputSaysReadyAndExits) {
    const LoopRun r = runLoop("");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "[tessival] ready\n[tessival] stdin closed, exiting\n");
}

}  // namespace
}  // namespace tessival
