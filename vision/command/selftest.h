#pragma once

#include "command/output.h"

namespace tessival {

// Runs the built-in checks of the heuristics and image analysis, emits one verdict line
// and returns true when every check passed.
bool selftest(Output& out);

}  // namespace tessival
