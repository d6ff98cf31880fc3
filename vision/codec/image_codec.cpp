#include "codec/image_codec.h"

#include <pixman.h>
#include <spng.h>
#include <stb_image.h>
extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <system_error>
#include <filesystem>

#include "codec/image_ops.h"

namespace tessival {

namespace {

// Decoded images are held as 4 bytes per pixel; this bound (256 MiB of pixels) admits a
// double-size capture of a 5K display (10240 x 5760) and refuses headers that claim more,
// before anything is allocated for them.
constexpr uint64_t MAX_DECODED_PIXELS = uint64_t{1} << 26;
// Files are read whole; nothing legitimate of that pixel count comes near this size.
constexpr uintmax_t MAX_FILE_BYTES = uintmax_t{1} << 30;

// Deflate level and row filters of our PNGs: fast settings that stay close to zlib's default
// level in size on screen content (figures in bench/pixels).
constexpr int PNG_COMPRESSION_LEVEL = 2;
constexpr int PNG_FILTERS = SPNG_FILTER_CHOICE_UP | SPNG_FILTER_CHOICE_SUB;

struct SpngFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using SpngCtx = std::unique_ptr<spng_ctx, SpngFree>;

bool sizeAllowed(int64_t w, int64_t h) {
    return w >= 1 && h >= 1 && uint64_t(w) * uint64_t(h) <= MAX_DECODED_PIXELS;
}

// Alpha premultiplied in place, rounded: what drawing into a premultiplied context stores.
void premultiply(Image& img) {
    for (size_t i = 0; i + 3 < img.bytes.size(); i += 4) {
        const unsigned a = img.bytes[i + 3];
        if (a == 255) continue;
        for (size_t k = 0; k < 3; ++k)
            img.bytes[i + k] = static_cast<uint8_t>((img.bytes[i + k] * a + 127) / 255);
    }
}

std::optional<std::vector<uint8_t>> readWholeFile(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size == 0 || size > MAX_FILE_BYTES) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    if (in.gcount() != static_cast<std::streamsize>(size)) return std::nullopt;
    return bytes;
}

bool isPng(const std::vector<uint8_t>& bytes) {
    static constexpr uint8_t SIGNATURE[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    return bytes.size() >= 8 && std::equal(SIGNATURE, SIGNATURE + 8, bytes.begin());
}

// JPEG, BMP, GIF, TGA and the other formats stb_image reads, into red-first RGBA.
std::optional<Image> decodeOther(const std::vector<uint8_t>& bytes) {
    if (bytes.size() > size_t(INT32_MAX)) return std::nullopt;
    const auto* data = bytes.data();
    const int len = static_cast<int>(bytes.size());
    int w = 0, h = 0, comp = 0;
    if (!stbi_info_from_memory(data, len, &w, &h, &comp) || !sizeAllowed(w, h))
        return std::nullopt;
    stbi_uc* pixels = stbi_load_from_memory(data, len, &w, &h, &comp, 4);
    if (!pixels) return std::nullopt;
    std::unique_ptr<stbi_uc, decltype(&stbi_image_free)> hold(pixels, &stbi_image_free);
    if (!sizeAllowed(w, h)) return std::nullopt;
    Image img = Image::blank(w, h, PixelOrder::RedFirst);
    std::copy(pixels, pixels + img.bytes.size(), img.bytes.begin());
    return img;
}

}  // namespace

namespace {

// Enlarging (the double-size window capture): bilinear interpolation through pixman's SIMD
// path, a proper reconstruction filter at these factors and fast enough for every capture.
std::optional<Image> enlarge(const Image& img, int64_t w, int64_t h) {
    Image out = Image::blank(w, h, img.order);
    // pixman never writes its source; the cast only satisfies its signature.
    auto* srcBits = reinterpret_cast<uint32_t*>(const_cast<uint8_t*>(img.bytes.data()));
    pixman_image_t* src =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, static_cast<int>(img.width),
                                 static_cast<int>(img.height), srcBits,
                                 static_cast<int>(img.bytesPerRow));
    pixman_image_t* dst = pixman_image_create_bits(
        PIXMAN_a8r8g8b8, static_cast<int>(w), static_cast<int>(h),
        reinterpret_cast<uint32_t*>(out.bytes.data()), static_cast<int>(out.bytesPerRow));
    bool ok = src && dst;
    if (ok) {
        pixman_transform_t t;
        pixman_transform_init_scale(&t, pixman_double_to_fixed(double(img.width) / double(w)),
                                    pixman_double_to_fixed(double(img.height) / double(h)));
        ok = pixman_image_set_transform(src, &t) &&
             pixman_image_set_filter(src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
        pixman_image_set_repeat(src, PIXMAN_REPEAT_PAD);
        if (ok)
            pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0,
                                     static_cast<int>(w), static_cast<int>(h));
    }
    if (src) pixman_image_unref(src);
    if (dst) pixman_image_unref(dst);
    if (!ok) return std::nullopt;
    return out;
}

struct SwsFree {
    void operator()(SwsContext* c) const { sws_freeContext(c); }
};
using SwsCtx = std::unique_ptr<SwsContext, SwsFree>;

// Shrinking: swscale's bicubic filter, widened to the reduction so detail is averaged rather
// than skipped. Scaling runs on planar RGB so no colour conversion touches the pixels; the
// fourth byte comes out opaque.
std::optional<Image> shrink(const Image& img, int64_t w, int64_t h) {
    const int sw = static_cast<int>(img.width), sh = static_cast<int>(img.height);
    const int dw = static_cast<int>(w), dh = static_cast<int>(h);
    SwsCtx scale(sws_getContext(sw, sh, AV_PIX_FMT_BGRA, dw, dh, AV_PIX_FMT_GBRP, SWS_BICUBIC,
                                nullptr, nullptr, nullptr));
    SwsCtx pack(sws_getContext(dw, dh, AV_PIX_FMT_GBRP, dw, dh, AV_PIX_FMT_BGRA, SWS_POINT,
                               nullptr, nullptr, nullptr));
    if (!scale || !pack) return std::nullopt;
    const size_t plane = size_t(w) * size_t(h);
    std::vector<uint8_t> planes(plane * 3);
    uint8_t* const planePtrs[3] = {planes.data(), planes.data() + plane,
                                   planes.data() + 2 * plane};
    const uint8_t* const planeIn[3] = {planePtrs[0], planePtrs[1], planePtrs[2]};
    const int planeStrides[3] = {dw, dw, dw};
    const uint8_t* const srcPtr[1] = {img.bytes.data()};
    const int srcStride[1] = {static_cast<int>(img.bytesPerRow)};
    if (sws_scale(scale.get(), srcPtr, srcStride, 0, sh, planePtrs, planeStrides) != dh)
        return std::nullopt;
    Image out = Image::blank(w, h, img.order);
    uint8_t* const dstPtr[1] = {out.bytes.data()};
    const int dstStride[1] = {static_cast<int>(out.bytesPerRow)};
    if (sws_scale(pack.get(), planeIn, planeStrides, 0, dh, dstPtr, dstStride) != dh)
        return std::nullopt;
    return out;
}

}  // namespace

std::optional<Image> resizeImage(const Image& img, int64_t w, int64_t h) {
    constexpr int64_t MAX_SIDE = 1 << 15;
    if (img.empty() || w < 1 || h < 1 || img.bytesPerPixel != 4) return std::nullopt;
    if (w > MAX_SIDE || h > MAX_SIDE || img.width > MAX_SIDE || img.height > MAX_SIDE ||
        img.bytesPerRow < img.width * 4 || img.bytesPerRow % 4 != 0 ||
        img.bytesPerRow > INT32_MAX ||
        (img.height - 1) * img.bytesPerRow + img.width * 4 > int64_t(img.bytes.size()))
        return std::nullopt;
    if (w >= img.width && h >= img.height) return enlarge(img, w, h);
    return shrink(img, w, h);
}

Image downscaleIfNeeded(const Image& img, int64_t maxSide) {
    const int64_t longest = std::max(img.width, img.height);
    if (img.empty() || maxSide >= longest || maxSide < 1) return img;
    const double scale = double(maxSide) / double(longest);
    const int64_t nw = std::max(static_cast<int64_t>(double(img.width) * scale), int64_t{1});
    const int64_t nh = std::max(static_cast<int64_t>(double(img.height) * scale), int64_t{1});
    std::optional<Image> out = resizeImage(img, nw, nh);
    return out ? std::move(*out) : img;
}

std::optional<std::vector<uint8_t>> encodePng(const Image& img) {
    if (img.empty() || img.bytesPerPixel < 3 || img.width > INT32_MAX || img.height > INT32_MAX)
        return std::nullopt;
    const int64_t rowBytes = (img.height - 1) * img.bytesPerRow + img.width * img.bytesPerPixel;
    if (img.bytesPerRow < img.width * img.bytesPerPixel ||
        rowBytes > static_cast<int64_t>(img.bytes.size()))
        return std::nullopt;

    SpngCtx ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return std::nullopt;
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(img.width);
    ihdr.height = static_cast<uint32_t>(img.height);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    if (spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1) ||
        spng_set_ihdr(ctx.get(), &ihdr) ||
        spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, PNG_COMPRESSION_LEVEL) ||
        spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, PNG_FILTERS) ||
        spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG,
                          SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE))
        return std::nullopt;

    // Rows go out as opaque RGB in red-first order whatever the stored order.
    const bool blueFirst = img.order == PixelOrder::BlueFirst;
    const size_t bpp = static_cast<size_t>(img.bytesPerPixel);
    std::vector<uint8_t> row(static_cast<size_t>(img.width) * 3);
    for (int64_t y = 0; y < img.height; ++y) {
        const uint8_t* src = img.bytes.data() + y * img.bytesPerRow;
        for (size_t x = 0, n = static_cast<size_t>(img.width); x < n; ++x, src += bpp) {
            row[3 * x] = blueFirst ? src[2] : src[0];
            row[3 * x + 1] = src[1];
            row[3 * x + 2] = blueFirst ? src[0] : src[2];
        }
        const int rc = spng_encode_row(ctx.get(), row.data(), row.size());
        if (rc != 0 && !(rc == SPNG_EOI && y + 1 == img.height)) return std::nullopt;
    }

    size_t len = 0;
    int err = 0;
    void* buf = spng_get_png_buffer(ctx.get(), &len, &err);
    if (!buf || err) {
        std::free(buf);
        return std::nullopt;
    }
    std::vector<uint8_t> png(static_cast<uint8_t*>(buf), static_cast<uint8_t*>(buf) + len);
    std::free(buf);
    return png;
}

std::optional<std::string> pngBase64(const Image& img) {
    std::optional<std::vector<uint8_t>> png = encodePng(img);
    if (!png) return std::nullopt;
    return base64Encode(*png);
}

std::optional<Image> decodePng(const std::vector<uint8_t>& bytes) {
    if (!isPng(bytes)) return std::nullopt;
    SpngCtx ctx(spng_ctx_new(0));
    if (!ctx) return std::nullopt;
    spng_ihdr ihdr{};
    size_t size = 0;
    if (spng_set_image_limits(ctx.get(), 1u << 20, 1u << 20) ||
        spng_set_chunk_limits(ctx.get(), 1u << 26, 1u << 26) ||
        spng_set_png_buffer(ctx.get(), bytes.data(), bytes.size()) ||
        spng_get_ihdr(ctx.get(), &ihdr) || !sizeAllowed(ihdr.width, ihdr.height) ||
        spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size))
        return std::nullopt;
    Image img = Image::blank(ihdr.width, ihdr.height, PixelOrder::RedFirst);
    if (size != img.bytes.size() ||
        spng_decode_image(ctx.get(), img.bytes.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS))
        return std::nullopt;
    return img;
}

std::optional<Image> readImageFile(const std::string& path) {
    const std::optional<std::vector<uint8_t>> bytes = readWholeFile(path);
    if (!bytes) return std::nullopt;
    std::optional<Image> img = isPng(*bytes) ? decodePng(*bytes) : decodeOther(*bytes);
    if (!img) return std::nullopt;
    premultiply(*img);
    return img;
}

}  // namespace tessival
