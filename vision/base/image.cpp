#include "base/image.h"

namespace tessival {

std::optional<Bitmap> makeBitmap(const Image& img) {
    if (img.bytes.empty() || img.bytesPerPixel < 3 || img.width <= 0 || img.height <= 0)
        return std::nullopt;
    return Bitmap{img.bytes.data(), static_cast<int64_t>(img.bytes.size()), img.width,
                  img.height,       img.bytesPerRow,                          img.bytesPerPixel};
}

}  // namespace tessival
