#pragma once

#include <memory>

#include "audio_source.h"
#include "audio_writer.h"
#include "sidecar_io.h"

namespace sondrel {

// Rebuilds the capture: stops `stream`, builds a new one (one retry at once) and tells the
// writer so that the stop does not end the process and the lost time becomes silence. On
// success `stream` holds the new stream; after two failures it keeps the stopped one and
// nothing is captured until a later restart succeeds. Never throws.
void restartCapture(SidecarIo& io, AudioSource& source, AudioWriter& writer,
                    std::unique_ptr<CaptureStream>& stream);

}  // namespace sondrel
