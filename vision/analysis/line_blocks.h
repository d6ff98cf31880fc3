#pragma once

#include <vector>

#include "analysis/ocr.h"

// How read lines stand to one another: a participant's label stands alone on its tile,
// while a slide, a page, a chat or a job-title block under a name stacks lines of one size.
namespace tessival {

// For each line, whether it stands in a block: another line of about its height (within a
// quarter) lies directly above or below it (a gap under 0.9 of the height) and shares its
// column (half the narrower line's width overlaps, or their left edges or centres line up).
// Boxes normalised, top-left origin.
std::vector<bool> inLineBlock(const std::vector<TextObservation>& lines);

// A name wrapped onto a second line under a round avatar ("Cdr. Addison" over "Rogers"):
// two lines that each look like a name, of about one height, centred on one another, the
// second right under the first, four words and 32 characters at most together, become one line.
// Other lines are kept as they are, in their order.
std::vector<TextObservation> joinWrappedNames(std::vector<TextObservation> lines);

}  // namespace tessival
