#include "analysis/image_codec.h"

namespace tessival {

Image downscaleIfNeeded(const Image& img, int64_t) { return img; }
std::optional<std::vector<uint8_t>> encodePng(const Image&) { return std::nullopt; }
std::optional<std::string> pngBase64(const Image&) { return std::nullopt; }
std::optional<Image> readImageFile(const std::string&) { return std::nullopt; }
std::optional<Image> decodePng(const std::vector<uint8_t>&) { return std::nullopt; }

}  // namespace tessival
