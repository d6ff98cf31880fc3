#include "codec/image_ops.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace tessival {

std::optional<Rect> paddedCropRect(const Rect& tile, int64_t imgW, int64_t imgH) {
    if (imgW < 1 || imgH < 1 || !(tile.width > 0) || !(tile.height > 0)) return std::nullopt;
    const double padX = tile.width * RING_CROP_PAD_FRAC;
    const double padY = tile.height * RING_CROP_PAD_FRAC;
    const double w = double(imgW), h = double(imgH);
    const double left = std::max((tile.x - padX) * w, 0.0);
    const double top = std::max((tile.y - padY) * h, 0.0);
    const double right = std::min((tile.x + tile.width + padX) * w, w);
    const double bottom = std::min((tile.y + tile.height + padY) * h, h);
    const double width = right - left;
    const double height = bottom - top;
    // The negated form also refuses NaN coordinates.
    if (!(width >= 8) || !(height >= 8)) return std::nullopt;
    return Rect{std::floor(left), std::floor(top), std::floor(width), std::floor(height)};
}

std::optional<Image> cropImage(const Image& img, const Rect& r) {
    if (img.empty() || img.bytesPerPixel < 1) return std::nullopt;
    if (!(r.x >= 0) || !(r.y >= 0) || !(r.width >= 1) || !(r.height >= 1)) return std::nullopt;
    if (r.x + r.width > double(img.width) || r.y + r.height > double(img.height))
        return std::nullopt;
    const int64_t x = static_cast<int64_t>(r.x), y = static_cast<int64_t>(r.y);
    const int64_t w = static_cast<int64_t>(r.width), h = static_cast<int64_t>(r.height);
    const int64_t bpp = img.bytesPerPixel;
    if ((y + h - 1) * img.bytesPerRow + (x + w) * bpp > static_cast<int64_t>(img.bytes.size()))
        return std::nullopt;
    Image out;
    out.width = w;
    out.height = h;
    out.bytesPerPixel = bpp;
    out.bytesPerRow = w * bpp;
    out.order = img.order;
    out.bytes.resize(static_cast<size_t>(w * h * bpp));
    for (int64_t row = 0; row < h; ++row) {
        std::memcpy(out.bytes.data() + row * out.bytesPerRow,
                    img.bytes.data() + (y + row) * img.bytesPerRow + x * bpp,
                    static_cast<size_t>(w * bpp));
    }
    return out;
}

namespace {

constexpr std::string_view B64_ALPHABET =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeDecodeTable() {
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (size_t i = 0; i < B64_ALPHABET.size(); ++i)
        t[static_cast<uint8_t>(B64_ALPHABET[i])] = static_cast<int8_t>(i);
    return t;
}
constexpr std::array<int8_t, 256> B64_DECODE = makeDecodeTable();

}  // namespace

std::string base64Encode(const std::vector<uint8_t>& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        out += B64_ALPHABET[v >> 18];
        out += B64_ALPHABET[(v >> 12) & 63];
        out += B64_ALPHABET[(v >> 6) & 63];
        out += B64_ALPHABET[v & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = uint32_t(bytes[i]) << 16;
        if (rest == 2) v |= uint32_t(bytes[i + 1]) << 8;
        out += B64_ALPHABET[v >> 18];
        out += B64_ALPHABET[(v >> 12) & 63];
        out += rest == 2 ? B64_ALPHABET[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::vector<uint8_t>> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int pad = 0;
        uint32_t v = 0;
        for (size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=' && last && k >= 2) {
                ++pad;
                v <<= 6;
                continue;
            }
            const int8_t d = B64_DECODE[static_cast<uint8_t>(c)];
            if (d < 0 || pad > 0) return std::nullopt;  // bad letter, or data after padding
            v = v << 6 | uint32_t(d);
        }
        out.push_back(uint8_t(v >> 16));
        if (pad < 2) out.push_back(uint8_t(v >> 8));
        if (pad < 1) out.push_back(uint8_t(v));
    }
    return out;
}

}  // namespace tessival
