// tessival's command input: LineReader over a pipe fed in arbitrary pieces, parseCommandLine
// on every line, and the whole command loop with handlers that number their answers.
// Checks: every answer is one JSON line, numbered answers come in order, and the loop
// reaches the end of input.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "command/command_loop.h"
#include "base/output.h"

using namespace tessival;

namespace {

[[noreturn]] void fail(const char* what) {
    fprintf(stderr, "check failed: %s\n", what);
    abort();
}

// Writes `data` into a pipe in pieces whose sizes come from `cuts`, then closes it.
int feedPipe(const std::string& data, std::vector<size_t> cuts, std::thread& writer) {
    int fds[2];
    if (pipe(fds) != 0) abort();
    writer = std::thread([w = fds[1], data, cuts = std::move(cuts)] {
        size_t at = 0, i = 0;
        while (at < data.size()) {
            size_t n = cuts.empty() ? data.size() - at : cuts[i++ % cuts.size()];
            n = std::min(std::max<size_t>(n, 1), data.size() - at);
            const ssize_t k = write(w, data.data() + at, n);
            if (k <= 0) break;
            at += static_cast<size_t>(k);
        }
        close(w);
    });
    return fds[0];
}

class NumberingHandlers : public CommandHandlers {
public:
    int count = 0;
    Answer capture(const std::optional<std::string>& q) override { return answer("p", q); }
    Answer captureFrame(const std::optional<std::string>& q) override { return answer("f", q); }
    Answer chooseWindow() override { return answer("c", std::nullopt); }
    Answer captureSlide(const std::optional<std::string>& q) override {
        // One kind throws, to reach the loop's own failure answer.
        if (q && q->size() == 1) throw std::runtime_error(*q);
        return answer("s", q);
    }

private:
    Answer answer(const char* kind, const std::optional<std::string>& q) {
        Answer a{{"ok", true}, {"seq", count++}, {"kind", kind}};
        if (q) a["query"] = *q;
        return a;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte chooses the piece sizes the writer uses.
    std::vector<size_t> cuts;
    if (size > 0) {
        const uint8_t c = data[0];
        if (c & 1) cuts = {1, 2, 3, 5, 8, 13, static_cast<size_t>(c)};
        ++data, --size;
    }
    const std::string input(reinterpret_cast<const char*>(data), size);

    // The reader alone, with the matcher on each line.
    {
        std::thread writer;
        const int fd = feedPipe(input, cuts, writer);
        LineReader reader(fd);
        bool overlong = false;
        size_t lines = 0;
        while (std::optional<std::string> line = reader.next(overlong)) {
            if (++lines > size + 1) fail("more lines than input bytes");
            if (line->find('\n') != std::string::npos) fail("line holds a line feed");
            const ParsedLine p = parseCommandLine(*line);
            if (p.empty && p.command) fail("empty line with a command");
            if (p.command && p.command->query && p.command->query->empty()) fail("empty query");
        }
        writer.join();
        close(fd);
    }

    // The whole loop: answers to a memory file, diagnostics discarded.
    {
        std::thread writer;
        const int fd = feedPipe(input, cuts, writer);
        const int answers = memfd_create("answers", 0);
        const int logs = open("/dev/null", O_WRONLY);
        Output out(answers, logs);
        NumberingHandlers handlers;
        const int status = runCommandLoop(fd, out, handlers);
        writer.join();
        close(fd);
        if (status != 0) fail("loop did not reach the end of input");
        const off_t len = lseek(answers, 0, SEEK_END);
        std::string text(static_cast<size_t>(len), '\0');
        if (pread(answers, text.data(), text.size(), 0) != len) abort();
        close(answers);
        close(logs);
        int next = 0;
        size_t start = 0;
        while (start < text.size()) {
            const size_t nl = text.find('\n', start);
            if (nl == std::string::npos) fail("answer without line feed");
            const nlohmann::json a = nlohmann::json::parse(text.substr(start, nl - start));
            if (!a.is_object() || !a.contains("ok")) fail("answer without ok");
            if (a.contains("seq") && a["seq"].get<int>() != next++) fail("answers out of order");
            start = nl + 1;
        }
        if (next != handlers.count) fail("a handler answer went missing");
    }
    return 0;
}
