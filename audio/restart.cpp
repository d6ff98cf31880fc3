#include "restart.h"

#include <chrono>
#include <string>

namespace sondrel {
namespace {

// Builds a stream and makes it the one in use; the default sink is resolved again for each
// stream, so the log says which one it is now.
Status rebuild(SidecarIo& io, AudioSource& source, AudioWriter& writer,
               std::unique_ptr<CaptureStream>& stream) {
    Result<std::unique_ptr<CaptureStream>> fresh = source.makeStream(writer);
    if (!fresh.ok()) {
        writer.endRestart(false);
        return Failure{fresh.why()};
    }
    stream = std::move(fresh.value());
    writer.endRestart(true, stream->id());
    io.logErr("[sondrel] monitoring " + stream->description() + "\n");
    return {};
}

}  // namespace

void restartCapture(SidecarIo& io, AudioSource& source, AudioWriter& writer,
                    std::unique_ptr<CaptureStream>& stream) {
    io.logErr("[sondrel] restart requested (totalFrames=" + std::to_string(writer.framesEmitted()) +
              ")\n");
    const WallTime t0 = io.wallNow();
    writer.beginRestart();
    if (stream) {
        if (const Status stopped = stream->stop(); !stopped.ok()) {
            io.logErr("[sondrel] restart: old stopCapture threw " + stopped.why() +
                      " (continuing)\n");
        }
    }

    const Status first = rebuild(io, source, writer, stream);
    if (first.ok()) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(io.wallNow() - t0).count();
        io.logErr("[sondrel] restart ok in " + std::to_string(ms) + "ms\n");
        return;
    }
    io.logErr("[sondrel] restart FAILED: " + first.why() + "\n");
    // A second failure is not logged again; nothing is captured until a later restart
    // succeeds.
    if (rebuild(io, source, writer, stream).ok()) {
        io.logErr("[sondrel] restart recovered on second try\n");
    }
}

}  // namespace sondrel
