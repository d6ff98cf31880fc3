#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sidecar_io.h"

namespace sondrel::testing {

// A scripted process: `input` holds the reads standard input will return (then end of
// input); writes and log lines are recorded; clocks stand still until a test moves them.
class FakeIo final : public SidecarIo {
  public:
    std::deque<std::string> input;
    std::string out;
    std::vector<std::string> logs;  // each line without its LF
    std::vector<int> exits;
    std::optional<std::string> failWrites;  // writeOut fails with this text when set
    int writeCalls = 0;
    MediaTime host{1'000'000'000'000, 1'000'000'000};
    WallTime wall = WallTime(std::chrono::microseconds(1'700'000'000'000'000));

    Status writeOut(const void* data, std::size_t size) override;
    void logErr(std::string_view line) override;
    std::string readInput() override;
    MediaTime hostNow() override { return host; }
    WallTime wallNow() override { return wall; }
    void exitProcess(int status) override;

    // The samples written after the header line.
    std::vector<float> samples() const;
    // The header line (without LF), or empty when none was written.
    std::string header() const;
    // Logged lines that start with `prefix`.
    std::vector<std::string> logsStartingWith(std::string_view prefix) const;

  private:
    mutable std::mutex mutex_;
};

}  // namespace sondrel::testing
