#include "analysis/image_codec.h"

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>

namespace tessival {

std::optional<Image> resizeImage(const Image& img, int64_t w, int64_t h) {
    if (img.empty() || w < 1 || h < 1 || img.bytesPerPixel != 4) return std::nullopt;
    Image out = Image::blank(w, h, img.order);
    const int ok = stbir_resize_uint8_generic(
        img.bytes.data(), static_cast<int>(img.width), static_cast<int>(img.height),
        static_cast<int>(img.bytesPerRow), out.bytes.data(), static_cast<int>(w), static_cast<int>(h),
        static_cast<int>(out.bytesPerRow), 4, STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP,
        STBIR_FILTER_DEFAULT, STBIR_COLORSPACE_LINEAR, nullptr);
    if (!ok) return std::nullopt;
    return out;
}

Image downscaleIfNeeded(const Image& img, int64_t) { return img; }
std::optional<std::vector<uint8_t>> encodePng(const Image&) { return std::nullopt; }
std::optional<std::string> pngBase64(const Image&) { return std::nullopt; }
std::optional<Image> readImageFile(const std::string&) { return std::nullopt; }
std::optional<Image> decodePng(const std::vector<uint8_t>&) { return std::nullopt; }

}  // namespace tessival
