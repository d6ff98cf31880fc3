#include "sidecar.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "audio_writer.h"
#include "command_reader.h"
#include "restart.h"

namespace sondrel {

bool isDryRun(const char* value) { return value != nullptr && std::strcmp(value, "1") == 0; }

int runDryRun(SidecarIo& io) {
    std::int64_t restarts = 0;
    readCommands(io, [&] {
        ++restarts;
        io.logErr("[sondrel] dryrun restart #" + std::to_string(restarts) + "\n");
    });
    io.logErr("[sondrel] dryrun done (restarts=" + std::to_string(restarts) + ")\n");
    return 0;
}

int runNormal(SidecarIo& io, AudioSource& source) {
    const WallTime launch = io.wallNow();
    AudioWriter writer(io, launch);
    const auto fail = [&io](const std::string& why) {
        io.logErr("[sondrel] error: " + why + "\n");
        // At once: a stream that could not be stopped may still deliver to the writer.
        io.exitProcess(3);
        return 3;
    };

    Result<std::unique_ptr<CaptureStream>> first = source.makeStream(writer);
    if (!first.ok()) return fail(first.why());
    std::unique_ptr<CaptureStream> stream = std::move(first.value());
    writer.adoptStream(stream->id());
    io.logErr("[sondrel] monitoring " + stream->description() + "\n");
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(io.wallNow() - launch).count();
    io.logErr("[sondrel] capturing +" + std::to_string(ms) + "ms\n");

    readCommands(io, [&] { restartCapture(io, source, writer, stream); });

    if (const Status stopped = stream->stop(); !stopped.ok()) return fail(stopped.why());
    io.logErr("[sondrel] stopped (totalFrames=" + std::to_string(writer.framesEmitted()) + ")\n");
    return 0;
}

}  // namespace sondrel
