#pragma once

#include <string>
#include <vector>

#include "base/rect.h"

namespace tessival {

// One participant tile per name label (same order and count), from the label spacing:
// all tiles share one size, are centred horizontally on their label, hang from it (an
// initials chip sits in the tile's middle, a name label near its bottom), and stay inside
// the image. Boxes and tiles are normalised, top-left origin. `texts` may be shorter.
std::vector<Rect> inferTiles(const std::vector<Rect>& boxes,
                             const std::vector<std::string>& texts = {});

}  // namespace tessival
