#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/image.h"
#include "base/rect.h"

// Participant tiles found from the pixels of a meeting window: blocks of video or avatar
// separated by gutters of the window's background colour.
namespace tessival {

// Tiles are looked for on a grid of at most this many cells a side, one sample per cell.
inline constexpr int64_t TILE_SCAN_MAX_SIDE = 800;
// A tile is at least this share of the picture's height and width (toolbar buttons and
// status chips are smaller); a grid of 80 tiles on a 16:10 window still passes.
inline constexpr double TILE_MIN_HEIGHT_FRAC = 0.07;
inline constexpr double TILE_MIN_WIDTH_FRAC = 0.05;

struct TileLayout {
    std::vector<Rect> tiles;  // normalised, top-left origin, rows top to bottom, left to right
    std::vector<uint32_t> backgrounds;  // per tile its gutters' colour, bytes 0 | 1 << 8 | 2 << 16
};

// The tiles of `bm`, or nothing when no block structure is found (a picture without
// gutters, or one whose tiles share the background's colour).
std::optional<TileLayout> findTiles(const Bitmap& bm);

// findTiles() of an image; nothing for an image that cannot be sampled.
std::optional<TileLayout> findTiles(const Image& img);

// The index of the smallest tile holding the centre of `box`, or -1.
int tileHolding(const std::vector<Rect>& tiles, const Rect& box);

}  // namespace tessival
