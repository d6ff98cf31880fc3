#pragma once

#include <cstdint>
#include <optional>

#include "base/image.h"
#include "base/rect.h"

namespace tessival {

inline constexpr int64_t RING_SCAN_MAX_SIDE = 640;
inline constexpr double RING_MIN_SIDE_FRAC = 0.02;
inline constexpr double RING_ASPECT_MIN = 0.4;
inline constexpr double RING_ASPECT_MAX = 4.0;
inline constexpr double RING_PERIM_GREEN_THRESH = 0.1;
inline constexpr double RING_INTERIOR_FILL_MAX = 0.35;

// One accepted blob: `rect` normalised to the bitmap (top-left origin), `score` the
// ring-coloured share of its outline band, and its box in scan-grid cells.
struct RingBlobDetection {
    Rect rect;
    double score = 0;
    int64_t scanX = 0;
    int64_t scanY = 0;
    int64_t scanW = 0;
    int64_t scanH = 0;
};

// One scan: every connected component is either the counted reason for its rejection or
// accepted; only the best accepted one is kept.
struct RingScan {
    int64_t blobs = 0;
    std::optional<RingBlobDetection> best;
    int64_t rejSize = 0;
    int64_t rejAspect = 0;
    int64_t rejThin = 0;
    int64_t rejPerim = 0;
    int64_t rejFill = 0;
};

// Finds the hollow ring-coloured outline (green or purple) round the speaking tile on a grid
// of at most 640 cells a side. An empty RingScan for bitmaps under 8 cells a side.
RingScan scanForGreenRing(const Bitmap& bm);

}  // namespace tessival
