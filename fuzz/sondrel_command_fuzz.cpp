// sondrel's command input: arbitrary bytes in reads of arbitrary sizes through the decoder,
// the normaliser and readCommands. Checks: lines hold no line feed, the result does not
// depend on how the input was split, and a partial line stays bounded.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_reader.h"
#include "sidecar_io.h"

using namespace sondrel;

namespace {

[[noreturn]] void fail(const char* what) {
    fprintf(stderr, "check failed: %s\n", what);
    abort();
}

class ScriptedIo : public SidecarIo {
public:
    std::vector<std::string> reads;
    size_t next = 0;
    std::vector<std::string> logged;
    Status writeOut(const void*, std::size_t) override { return {}; }
    void logErr(std::string_view line) override { logged.emplace_back(line); }
    std::string readInput() override { return next < reads.size() ? reads[next++] : std::string(); }
    MediaTime hostNow() override { return MediaTime{}; }
    WallTime wallNow() override { return WallTime{}; }
    void exitProcess(int) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = data[0] % 17 + 1;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    // The same bytes in one read and in small pieces give the same lines.
    std::vector<std::string> whole, pieces;
    {
        CommandDecoder d;
        whole = d.feed(input);
    }
    {
        CommandDecoder d;
        for (size_t at = 0; at < input.size(); at += piece) {
            for (std::string& l : d.feed(input.substr(at, piece))) pieces.push_back(std::move(l));
        }
    }
    for (const std::string& l : whole) {
        if (l.find('\n') != std::string::npos) fail("line holds a line feed");
        const std::string n = normalizeCommand(l);
        if (normalizeCommand(n) != n) fail("normalising twice changes the line");
    }
    // Dropping an overlong partial line may depend on where reads end; compare only when
    // no partial line could have reached the limit.
    if (input.size() <= COMMAND_BUFFER_LIMIT && whole != pieces) fail("split reads change lines");

    ScriptedIo io;
    for (size_t at = 0; at < input.size(); at += piece) io.reads.emplace_back(input.substr(at, piece));
    int restarts = 0;
    readCommands(io, [&] { ++restarts; });
    if (io.next != io.reads.size()) fail("input not read to its end");
    return 0;
}
