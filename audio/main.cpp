// sondrel: the system-audio sidecar. Streams what the computer plays, as mono float32, to
// standard output until standard input closes; "RESTART" lines rebuild the capture.
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "audio_source_pulse.h"
#include "posix_io.h"
#include "sidecar.h"

int main() {
    const bool dryRun = sondrel::isDryRun(std::getenv(sondrel::DRYRUN_ENV));
    sondrel::PosixIo io(/*watchOutput=*/!dryRun);
    if (dryRun) return sondrel::runDryRun(io);
    try {
        sondrel::PulseAudioSource source;
        return sondrel::runNormal(io, source);
    } catch (const std::exception& e) {
        io.logErr(std::string("[sondrel] error: ") + e.what() + "\n");
        return 3;
    }
}
