#pragma once

#include <string>

#include "sidecar_io.h"

namespace sondrel {

// The real process: file descriptors 0, 1 and 2, CLOCK_MONOTONIC, the system clock and
// _exit. With `watchOutput` it also watches standard output while waiting for input, so a
// reader that goes away ends the process at once (status 3) even when no audio is being
// written; dry-run writes nothing there and leaves it unwatched.
class PosixIo final : public SidecarIo {
  public:
    explicit PosixIo(bool watchOutput);
    Status writeOut(const void* data, std::size_t size) override;
    void logErr(std::string_view line) override;
    std::string readInput() override;
    MediaTime hostNow() override;
    WallTime wallNow() override;
    void exitProcess(int status) override;

  private:
    // Logs why standard input became unusable; the empty string it returns ends the input.
    std::string inputFailed(const char* why);
    bool watchOutput_;
};

}  // namespace sondrel
