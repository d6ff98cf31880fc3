// sondrel: the system-audio sidecar. Streams what the computer plays, as mono float32, to
// standard output until standard input closes; "RESTART" lines rebuild the capture.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "audio_source_pulse.h"
#include "posix_io.h"
#include "sidecar.h"

// The build passes the project version; a build without it still compiles.
#ifndef SIDECARS_VERSION
#define SIDECARS_VERSION "unknown"
#endif

namespace {

constexpr const char* VERSION_LINE = "sondrel " SIDECARS_VERSION "\n";

constexpr std::string_view USAGE =
    "Usage: sondrel            stream the computer's audio to standard output\n"
    "       sondrel --help | --version\n"
    "\n"
    "Captures what the computer plays (the default sink's monitor on PulseAudio or\n"
    "PipeWire), down-mixes it to mono and writes one header line, \"AUDIO sr=<rate> ch=1\n"
    "fmt=f32 t0us=<start, microseconds since 1970>\", then little-endian 32-bit float\n"
    "samples until standard input closes. A RESTART line on standard input rebuilds the\n"
    "capture and fills the gap with silence. Diagnostics go to standard error.\n"
    "\n"
    "Exit status: 0 when standard input closed, 2 when the capture stopped on its own,\n"
    "3 when the capture could not start or standard output was closed.\n"
    "\n"
    "Environment: PELDRANOX_SIDECAR_DRYRUN=1 reads commands only, captures nothing.\n";

// Writes `text` to standard output; false when it could not all be written.
bool writeStdout(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = write(STDOUT_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--help") return writeStdout(USAGE) ? 0 : 1;
        if (a == "--version") return writeStdout(VERSION_LINE) ? 0 : 1;
    }
    const bool dryRun = sondrel::isDryRun(std::getenv(sondrel::DRYRUN_ENV));
    sondrel::PosixIo io(/*watchOutput=*/!dryRun);
    if (dryRun) return sondrel::runDryRun(io);
    auto source = sondrel::PulseAudioSource::start();
    if (!source.ok()) {
        io.logErr("[sondrel] error: " + source.why() + "\n");
        return 3;
    }
    return sondrel::runNormal(io, *source.value());
}
