// The JSON answer writer: answers built from arbitrary strings (not always UTF-8) and
// numbers (NaN, infinities, extremes). Checks: Output::emit writes exactly one line that is
// valid JSON, and serializeAnswer's text parses back to the same answer.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include "base/output.h"

using namespace tessival;

namespace {

[[noreturn]] void fail(const char* what) {
    fprintf(stderr, "check failed: %s\n", what);
    abort();
}

Answer value(FuzzedDataProvider& fdp, int depth) {
    switch (fdp.ConsumeIntegralInRange<int>(0, depth > 3 ? 5 : 7)) {
        case 0: return fdp.ConsumeRandomLengthString(64);
        case 1: return fdp.ConsumeFloatingPoint<double>();
        case 2: return fdp.ConsumeIntegral<int64_t>();
        case 3: return fdp.ConsumeIntegral<uint64_t>();
        case 4: return fdp.ConsumeBool();
        case 5: {
            double d;
            uint64_t bits = fdp.ConsumeIntegral<uint64_t>();
            std::memcpy(&d, &bits, sizeof d);  // any bit pattern: NaNs, infinities, subnormals
            return d;
        }
        case 6: {
            Answer a = Answer::array();
            const int n = fdp.ConsumeIntegralInRange<int>(0, 4);
            for (int i = 0; i < n; ++i) a.push_back(value(fdp, depth + 1));
            return a;
        }
        default: {
            Answer o = Answer::object();
            const int n = fdp.ConsumeIntegralInRange<int>(0, 4);
            for (int i = 0; i < n; ++i) o[fdp.ConsumeRandomLengthString(16)] = value(fdp, depth + 1);
            return o;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    Answer answer{{"ok", fdp.ConsumeBool()}};
    const int n = fdp.ConsumeIntegralInRange<int>(0, 6);
    for (int i = 0; i < n; ++i) answer[fdp.ConsumeRandomLengthString(16)] = value(fdp, 0);

    const std::optional<std::string> text = serializeAnswer(answer);
    if (text) {
        if (text->find('\n') != std::string::npos) fail("serialised answer spans lines");
        const nlohmann::json back = nlohmann::json::parse(*text);
        if (!back.is_object()) fail("serialised answer is not an object");
    }

    const int fd = memfd_create("answers", 0);
    Output out(fd, fd);
    out.emit(answer);
    const off_t len = lseek(fd, 0, SEEK_END);
    std::string line(static_cast<size_t>(len), '\0');
    if (pread(fd, line.data(), line.size(), 0) != len) abort();
    close(fd);
    if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1)
        fail("emit did not write exactly one line");
    line.pop_back();
    if (!text && line + "\n" != JSON_FALLBACK_LINE) fail("unencodable answer without fallback");
    if (text && line != *text) fail("emit differs from serializeAnswer");
    (void)nlohmann::json::parse(line);
    return 0;
}
