#pragma once

#include <string>
#include <vector>

#include "base/answer.h"
#include "base/output.h"

namespace tessival {

// Runs the built-in checks of the heuristics and image analysis on fixed inputs, in their
// fixed order, and returns one message per failed check (empty when all pass).
std::vector<std::string> selftestFailures();

// The verdict line for those failures: pass, or fail with the messages in order.
Answer selftestVerdict(const std::vector<std::string>& failures);

// Runs the checks, emits one verdict line and returns true when every check passed.
bool selftest(Output& out);

}  // namespace tessival
