#pragma once

#include <cstdint>

#include "base/image.h"
#include "base/rect.h"

// The highlight frame meeting apps draw round the speaking participant's tile, in any
// colour: a line along the tile's edges in one colour that neither the window's
// background nor the tile's inside carries.
namespace tessival {

// A frame counts when it runs along at least three sides and this share of each.
inline constexpr double FRAME_MIN_SCORE = 0.6;

struct TileFrame {
    double score = 0;     // mean share of the agreeing sides in the frame colour, 0 to 1
    uint32_t colour = 0;  // 0xRRGGBB in stored byte order
};

// The frame round `tile` (normalised) of a picture whose gutters are `background`: score 0
// when the edge lines are the background, differ side to side, or repeat a colour common
// inside the tile (a saturated video picture or a camera-off fill is not a frame).
TileFrame tileFrame(const Bitmap& bm, const Rect& tile, uint32_t background);

// True when two frame colours are the same colour.
bool sameFrameColour(uint32_t a, uint32_t b);

}  // namespace tessival
