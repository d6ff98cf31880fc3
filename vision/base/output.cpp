#include "base/output.h"

#include <cerrno>
#include <cmath>
#include <unistd.h>

namespace tessival {
namespace {

bool allNumbersFinite(const Answer& v) {
    switch (v.type()) {
        case Answer::value_t::number_float:
            return std::isfinite(v.get<double>());
        case Answer::value_t::object:
        case Answer::value_t::array:
            for (const Answer& item : v) {
                if (!allNumbersFinite(item)) return false;
            }
            return true;
        default:
            return true;
    }
}

// Writes all of `data`; false when the descriptor refuses it (closed pipe, bad fd).
bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

std::optional<std::string> serializeAnswer(const Answer& answer) {
    if (!allNumbersFinite(answer)) return std::nullopt;
    std::string text;
    try {
        text = answer.dump();
    } catch (const Answer::exception&) {
        return std::nullopt;
    }
    // A solidus can only occur inside strings, so escaping it textually is safe.
    if (text.find('/') == std::string::npos) return text;
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 32);
    for (char c : text) {
        if (c == '/') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

void Output::emit(const Answer& answer) {
    std::optional<std::string> text = serializeAnswer(answer);
    // One write per answer so a reader never sees half a line from two answers.
    const bool ok = text ? writeAll(answerFd_, *text + "\n") : writeAll(answerFd_, JSON_FALLBACK_LINE);
    if (!ok) answersClosed_ = true;
}

void Output::log(std::string_view message) {
    std::string line;
    line.reserve(message.size() + 1);
    line.append(message).push_back('\n');
    writeAll(logFd_, line);
}

}  // namespace tessival
