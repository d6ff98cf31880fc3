#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/image.h"

// Image files, PNG and resampling, through libraries.
namespace tessival {

// `img` resampled to exactly w x h pixels (same order, 4 bytes per pixel) with a
// high-quality filter, up or down; nothing when either size is below 1 or the input is empty.
std::optional<Image> resizeImage(const Image& img, int64_t w, int64_t h);

// `img` shrunk with a high-quality filter so that its longer side is `maxSide`; `img`
// itself when it is already small enough or scaling fails. Never upscales.
Image downscaleIfNeeded(const Image& img, int64_t maxSide);

// PNG bytes of `img` (its colour channels, opaque), or nothing.
std::optional<std::vector<uint8_t>> encodePng(const Image& img);

// Base64 of encodePng(img), or nothing.
std::optional<std::string> pngBase64(const Image& img);

// Decodes a PNG, JPEG or BMP file into red-first RGBA, alpha premultiplied (fully
// transparent pixels become black). Nothing for unreadable, corrupt or oversized files.
std::optional<Image> readImageFile(const std::string& path);

// Decodes PNG bytes into red-first RGBA; nothing when they are not a readable PNG.
std::optional<Image> decodePng(const std::vector<uint8_t>& bytes);

}  // namespace tessival
