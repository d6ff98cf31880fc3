#pragma once

#include <string_view>

#include "audio_source.h"
#include "sidecar_io.h"

namespace sondrel {

inline constexpr const char* DRYRUN_ENV = "PELDRANOX_SIDECAR_DRYRUN";

// True only for the exact value "1" of DRYRUN_ENV (`value` null when it is not set).
bool isDryRun(const char* value);

// Dry-run body: reads commands, counts and logs RESTART lines, captures nothing. Returns
// the exit status (0).
int runDryRun(SidecarIo& io);

// Normal body: captures from `source` into standard output until end of input, restarting
// on RESTART lines. Returns 0 after the final stop. A failure to build the first stream
// or to stop the last one is logged as "[sondrel] error: …" and ends the process with 3
// (the return value, for a fake `io` that does not exit).
int runNormal(SidecarIo& io, AudioSource& source);

}  // namespace sondrel
