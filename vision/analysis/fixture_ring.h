#pragma once

#include <string>

#include "command/output.h"

namespace tessival {

// Runs the speaker-ring scan on an image file and emits one JSON line describing what it
// found. True on success (with or without a ring), false when the file cannot be used.
bool detectRingFromFixture(const std::string& path, Output& out);

}  // namespace tessival
