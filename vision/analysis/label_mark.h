#pragma once

#include <optional>
#include <vector>

#include "base/image.h"
#include "base/rect.h"

// The speaker marked by the colour of their label: apps that draw no frame colour the
// speaking participant's name, or the chip under it, in their accent colour while every
// other label stays white or grey on a dark or translucent ground.
namespace tessival {

// How a label's box (normalised) is drawn: its letters, the brightest pixels of the box, and
// the chip under them where that is one plain colour. Measured only where the letters stand
// out light (a label on video is drawn light; a dark one on a light chip is not told).
struct LabelColour {
    bool measured = false;
    bool coloured = false;  // strokes or chip in a strong colour
    bool neutral = false;   // strokes and chip white, grey or black
    double strength = 0;    // the colour's saturation, 0 to 1
};

LabelColour labelColour(const Bitmap& bm, const Rect& box);

// The one of `boxes` drawn in colour where no other is and at least one is plainly neutral;
// nothing otherwise (no label coloured, or several: the app's style).
std::optional<size_t> colouredLabel(const Bitmap& bm, const std::vector<Rect>& boxes);

}  // namespace tessival
