#pragma once

#include <optional>
#include <vector>

#include "base/image.h"
#include "base/rect.h"

// The speaker marked by the colour of their label: apps that draw no frame colour the
// speaking participant's name, or the chip under it, in their accent colour while every
// other label stays white or grey on a dark or translucent ground.
namespace tessival {

struct MarkedLabel {
    size_t index = 0;     // into the boxes given
    double strength = 0;  // the colour's saturation, 0 to 1
};

// The one of `boxes` (normalised) drawn in colour, its letters (the brightest pixels of the
// box, standing out light) or its chip (one plain colour ending round the label), where no
// other is and at least one is plainly white, grey or black; nothing otherwise (no label
// coloured, or several: the app's style).
std::optional<MarkedLabel> colouredLabel(const Bitmap& bm, const std::vector<Rect>& boxes);

}  // namespace tessival
