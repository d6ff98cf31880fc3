#pragma once

#include "base/image.h"
#include "base/rect.h"

namespace tessival {

inline constexpr double HIGHLIGHT_SCORE_THRESH = 0.15;

// Share of ring-coloured or coherent saturated pixels along the four edge strips of
// `tile` (normalised, top-left origin), 0 to 1. 0 for tiles under 4 pixels a side.
double borderScore(const Bitmap& bm, const Rect& tile);

}  // namespace tessival
