#include "fake_io.h"

#include <cstring>

namespace sondrel::testing {

Status FakeIo::writeOut(const void* data, std::size_t size) {
    std::lock_guard guard(mutex_);
    ++writeCalls;
    if (failWrites) return Failure{*failWrites};
    out.append(static_cast<const char*>(data), size);
    return {};
}

void FakeIo::logErr(std::string_view line) {
    std::lock_guard guard(mutex_);
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    logs.emplace_back(line);
}

std::string FakeIo::readInput() {
    std::lock_guard guard(mutex_);
    if (input.empty()) return {};
    std::string bytes = std::move(input.front());
    input.pop_front();
    return bytes;
}

void FakeIo::exitProcess(int status) {
    std::lock_guard guard(mutex_);
    exits.push_back(status);
}

std::string FakeIo::header() const {
    std::lock_guard guard(mutex_);
    const auto lf = out.find('\n');
    return lf == std::string::npos ? std::string() : out.substr(0, lf);
}

std::vector<float> FakeIo::samples() const {
    std::lock_guard guard(mutex_);
    const auto lf = out.find('\n');
    const std::size_t start = lf == std::string::npos ? out.size() : lf + 1;
    std::vector<float> result((out.size() - start) / sizeof(float));
    if (!result.empty()) {
        std::memcpy(result.data(), out.data() + start, result.size() * sizeof(float));
    }
    return result;
}

std::vector<std::string> FakeIo::logsStartingWith(std::string_view prefix) const {
    std::lock_guard guard(mutex_);
    std::vector<std::string> found;
    for (const auto& line : logs) {
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
    }
    return found;
}

}  // namespace sondrel::testing
