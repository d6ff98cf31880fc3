#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/answer.h"

namespace tessival {

// The two channels to the parent: answers (one compact JSON object per line) and
// diagnostics (one line per log call). Each goes out in unbuffered writes to its descriptor.
class Output {
public:
    Output(int answerFd, int logFd) : answerFd_(answerFd), logFd_(logFd) {}

    // Writes `answer` and LF. An answer JSON cannot carry (a non-finite number, a string
    // that is not UTF-8) is replaced by the fixed line {"ok":false,"error":"json encode failed"}.
    void emit(const Answer& answer);

    // Writes `message` and LF in one write. The caller supplies the bracketed prefix.
    void log(std::string_view message);

    // True once the answer channel has been closed by the reader.
    bool answersClosed() const { return answersClosed_; }

private:
    int answerFd_;
    int logFd_;
    bool answersClosed_ = false;
};

// The serialised form of an answer, or nothing when JSON cannot carry it. A solidus is
// written as \/.
std::optional<std::string> serializeAnswer(const Answer& answer);

inline constexpr std::string_view JSON_FALLBACK_LINE = "{\"ok\":false,\"error\":\"json encode failed\"}\n";

}  // namespace tessival
