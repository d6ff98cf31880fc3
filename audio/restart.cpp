#include "restart.h"

#include <chrono>
#include <exception>
#include <string>

namespace sondrel {
namespace {

std::string describe(const std::exception& e) { return e.what(); }

// The default sink is resolved again for each stream, so the log says which one it is now.
void logMonitored(SidecarIo& io, const CaptureStream& stream) {
    io.logErr("[sondrel] monitoring " + stream.description() + "\n");
}

}  // namespace

void restartCapture(SidecarIo& io, AudioSource& source, AudioWriter& writer,
                    std::unique_ptr<CaptureStream>& stream) {
    io.logErr("[sondrel] restart requested (totalFrames=" + std::to_string(writer.framesEmitted()) +
              ")\n");
    const WallTime t0 = io.wallNow();
    writer.beginRestart();
    if (stream) {
        try {
            stream->stop();
        } catch (const std::exception& e) {
            io.logErr("[sondrel] restart: old stopCapture threw " + describe(e) +
                      " (continuing)\n");
        }
    }

    try {
        std::unique_ptr<CaptureStream> fresh = source.makeStream(writer);
        const StreamId id = fresh->id();
        stream = std::move(fresh);
        writer.endRestart(true, id);
        logMonitored(io, *stream);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(io.wallNow() - t0).count();
        io.logErr("[sondrel] restart ok in " + std::to_string(ms) + "ms\n");
        return;
    } catch (const std::exception& e) {
        writer.endRestart(false);
        io.logErr("[sondrel] restart FAILED: " + describe(e) + "\n");
    }

    try {
        std::unique_ptr<CaptureStream> fresh = source.makeStream(writer);
        const StreamId id = fresh->id();
        stream = std::move(fresh);
        writer.endRestart(true, id);
        logMonitored(io, *stream);
        io.logErr("[sondrel] restart recovered on second try\n");
    } catch (const std::exception&) {
        // Idle until a later restart succeeds; the failure was logged once already.
    }
}

}  // namespace sondrel
