#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "media_time.h"
#include "status.h"

namespace sondrel {

using WallTime = std::chrono::system_clock::time_point;

// The process around the program: its standard streams, its clocks and its end. One real
// implementation over POSIX; tests use a recording fake.
class SidecarIo {
  public:
    virtual ~SidecarIo() = default;
    // Writes all `size` bytes to standard output; fails when the reader went away.
    virtual Status writeOut(const void* data, std::size_t size) = 0;
    // Writes one whole line (the caller includes the LF) to standard error in one write.
    virtual void logErr(std::string_view line) = 0;
    // Blocks until standard input has bytes; returns them, or an empty string at end of
    // input (a read error is logged and taken as end of input).
    virtual std::string readInput() = 0;
    // Monotonic host clock, the time base of presentation times.
    virtual MediaTime hostNow() = 0;
    virtual WallTime wallNow() = 0;
    // Ends the process at once. A fake records the status and returns.
    virtual void exitProcess(int status) = 0;
};

}  // namespace sondrel
