#include "posix_io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace sondrel {
namespace {

constexpr std::size_t READ_CHUNK = 4096;

}  // namespace

std::string PosixIo::inputFailed(const char* why) {
    logErr(std::string("[sondrel] error: cannot read standard input (") + why +
           "); taken as end of input\n");
    return {};
}

PosixIo::PosixIo(bool watchOutput) : watchOutput_(watchOutput) {
    // Writes to a closed pipe must fail with EPIPE on every thread, not kill the process
    // from whichever thread happens to write.
    std::signal(SIGPIPE, SIG_IGN);
}

Status PosixIo::writeOut(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, p, size);
        if (n > 0) {
            p += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The parent handed us a non-blocking pipe: wait until it drains.
            pollfd out{STDOUT_FILENO, POLLOUT, 0};
            ::poll(&out, 1, -1);
            continue;
        }
        return Failure{n < 0 ? std::strerror(errno) : "write returned 0"};
    }
    return {};
}

void PosixIo::logErr(std::string_view line) {
    const char* p = line.data();
    std::size_t size = line.size();
    while (size > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere left to report to
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::string PosixIo::readInput() {
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {watchOutput_ ? STDOUT_FILENO : -1, 0, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return inputFailed(std::strerror(errno));
        }
        if (fds[1].revents & POLLNVAL) watchOutput_ = false;
        if (fds[1].revents & (POLLERR | POLLHUP)) {
            logErr(
                "[sondrel] error: cannot write audio to standard output: its reader closed it\n");
            exitProcess(3);
        }
        if (fds[0].revents == 0) continue;
        std::string bytes(READ_CHUNK, '\0');
        const ssize_t n = ::read(STDIN_FILENO, bytes.data(), bytes.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return inputFailed(std::strerror(errno));
        if (n == 0) return {};  // end of input
        bytes.resize(static_cast<std::size_t>(n));
        return bytes;
    }
}

MediaTime PosixIo::hostNow() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return {static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec, 1'000'000'000};
}

WallTime PosixIo::wallNow() { return std::chrono::system_clock::now(); }

void PosixIo::exitProcess(int status) { ::_exit(status); }

}  // namespace sondrel
