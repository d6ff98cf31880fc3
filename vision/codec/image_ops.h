#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/image.h"
#include "base/rect.h"

// Crops and Base64: the pure half of preparing pictures for the answers.
namespace tessival {

inline constexpr double RING_CROP_PAD_FRAC = 0.08;
inline constexpr int64_t RING_CROP_MAX_SIDE = 1024;
inline constexpr int64_t ROSTER_FRAME_MAX_SIDE = 1280;

// `tile` (normalised) padded by 8% of its size on every side and clipped to the image, in
// whole pixels; nothing for an empty tile or a crop under 8 pixels a side.
std::optional<Rect> paddedCropRect(const Rect& tile, int64_t imgW, int64_t imgH);

// A copy of the pixels of `pixelRect` (whole pixels, top-left origin); nothing when the
// rectangle does not lie inside the image or is empty.
std::optional<Image> cropImage(const Image& img, const Rect& pixelRect);

// Standard Base64 (RFC 4648 alphabet, padded, no line breaks).
std::string base64Encode(const std::vector<uint8_t>& bytes);
std::optional<std::vector<uint8_t>> base64Decode(std::string_view text);

}  // namespace tessival
