#pragma once

#include <string>

#include "base/rect.h"
#include "base/output.h"

namespace tessival {

// Runs the speaker-ring scan on an image file and emits one JSON line describing what it
// found. True on success (with or without a ring), false when the file cannot be used.
bool detectRingFromFixture(const std::string& path, Output& out);

// Where a ring (normalised, top-left origin) sits: "top" or "bottom", a hyphen, then
// "left", "center" or "right", judged by its centre.
std::string ringPosition(const Rect& rect);

}  // namespace tessival
