// Ring scan, border scoring, resampling and PNG encoding on meeting-frame-like pictures.
// The PNG benchmarks also run libpng at its default settings on the same pictures, with
// the encoded size as a counter, for the time/size comparison.
#include <benchmark/benchmark.h>
#include <png.h>
#include <stb_image_resize.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "analysis/border_score.h"
#include "codec/image_codec.h"
#include "base/rect.h"
#include "analysis/ring_scan.h"

namespace {

using namespace tessival;

// The 3 x 3 gallery of the synthetic frames: outer margin, gap between tiles, tile size.
struct Gallery {
    int64_t margin, gap, tileW, tileH;
};
Gallery galleryOf(int64_t w, int64_t h) {
    const int64_t margin = w / 40, gap = w / 160;
    return {margin, gap, (w - 2 * margin - 2 * gap) / 3, (h - 2 * margin - 2 * gap) / 3};
}

// The tile rectangles as tile inference reports them: normalised, top-left origin.
std::vector<Rect> galleryTiles(int64_t w, int64_t h) {
    const Gallery g = galleryOf(w, h);
    std::vector<Rect> tiles;
    for (int i = 0; i < 9; ++i) {
        const int64_t x = g.margin + (i % 3) * (g.tileW + g.gap);
        const int64_t y = g.margin + (i / 3) * (g.tileH + g.gap);
        tiles.push_back(Rect{double(x) / double(w), double(y) / double(h),
                             double(g.tileW) / double(w), double(g.tileH) / double(h)});
    }
    return tiles;
}

// What the tiles show. Camera: what webcams deliver, muted room colours under uneven
// light and a face in one of several skin tones. Saturated: strong red-to-magenta
// gradients over whole tiles, far more colourful than video; so much of it is
// ring-coloured in one byte order or the other that it swallows the ring, which makes it a
// worst case for the scans.
enum class Video { Camera, Saturated };

struct Rgb {
    int r, g, b;
};
constexpr Rgb WALLS[9] = {{150, 140, 125}, {95, 100, 110}, {60, 55, 52},
                          {170, 165, 160}, {120, 110, 90}, {80, 90, 85},
                          {140, 130, 135}, {100, 95, 90},  {185, 180, 170}};
constexpr Rgb SKIN[9] = {{224, 172, 140}, {198, 134, 100}, {141, 85, 60},
                         {230, 190, 165}, {170, 120, 90},  {120, 80, 60},
                         {210, 160, 130}, {188, 140, 110}, {160, 105, 75}};

// A blue-first capture of a 3 x 3 gallery: dark chrome, noisy video tiles with a
// face-like blob, a name label strip with light text, and a green ring round the middle
// tile. Deterministic.
Image meetingFrame(int64_t w, int64_t h, Video video = Video::Saturated) {
    Image img = Image::blank(w, h, PixelOrder::BlueFirst);
    uint32_t seed = 12345;
    auto noise = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return int((seed >> 24) % 9) - 4;
    };
    const Gallery gal = galleryOf(w, h);
    const int64_t margin = gal.margin, gap = gal.gap, tileW = gal.tileW, tileH = gal.tileH;
    for (int64_t y = 0; y < h; ++y) {
        uint8_t* row = img.bytes.data() + y * img.bytesPerRow;
        for (int64_t x = 0; x < w; ++x) {
            int r = 28, g = 28, b = 30;
            const int64_t tx = (x - margin) / (tileW + gap), ty = (y - margin) / (tileH + gap);
            const int64_t lx = (x - margin) % (tileW + gap), ly = (y - margin) % (tileH + gap);
            if (x >= margin && y >= margin && tx < 3 && ty < 3 && lx < tileW && ly < tileH) {
                const int64_t cx = lx - tileW / 2, cy = ly - tileH / 2;
                const bool face = cx * cx * 4 + cy * cy * 3 < tileH * tileH / 2;
                if (video == Video::Saturated) {
                    r = int(60 + 80 * lx / tileW + (face ? 90 : 0)) + noise();
                    g = int(55 + 60 * ly / tileH + (face ? 60 : 0)) + noise();
                    b = int(70 + 12 * (tx + ty) + (face ? 30 : 0)) + noise();
                } else {
                    // Light falls off from the right; the face is lit a little from above.
                    const Rgb c = face ? SKIN[ty * 3 + tx] : WALLS[ty * 3 + tx];
                    const int64_t light = face ? 110 - 20 * ly / tileH : 75 + 35 * lx / tileW;
                    r = int(c.r * light / 100) + noise();
                    g = int(c.g * light / 100) + noise();
                    b = int(c.b * light / 100) + noise();
                }
                if (ly > tileH - tileH / 10 && lx < tileW / 3) {  // name label
                    r = g = b = 15;
                    if (video == Video::Camera && ly > tileH - tileH / 14 && ly < tileH - 8 &&
                        lx > 12 && lx < tileW / 4 && (lx / 3 + ly / 4) % 4 == 0)
                        r = g = b = 235;  // strokes of the name
                }
                const int64_t edge = std::min({lx, ly, tileW - 1 - lx, tileH - 1 - ly});
                if (tx == 1 && ty == 1 && edge < std::max<int64_t>(w / 480, 2)) {
                    r = 53, g = 194, b = 107;
                }
            }
            uint8_t* p = row + x * 4;
            p[0] = uint8_t(std::clamp(b, 0, 255));
            p[1] = uint8_t(std::clamp(g, 0, 255));
            p[2] = uint8_t(std::clamp(r, 0, 255));
            p[3] = 255;
        }
    }
    return img;
}

const Image& capture() {
    static const Image img = meetingFrame(2880, 1800);
    return img;
}

const Image& cameraCapture() {
    static const Image img = meetingFrame(2880, 1800, Video::Camera);
    return img;
}

void BM_ScanForGreenRing_2880x1800(benchmark::State& state) {
    const Bitmap bm = *makeBitmap(cameraCapture());
    for (auto _ : state) benchmark::DoNotOptimize(scanForGreenRing(bm));
}
BENCHMARK(BM_ScanForGreenRing_2880x1800)->Unit(benchmark::kMicrosecond);

void BM_BorderScore_NineTiles(benchmark::State& state) {
    const Bitmap bm = *makeBitmap(cameraCapture());
    const std::vector<Rect> tiles = galleryTiles(2880, 1800);
    for (auto _ : state) {
        double sum = 0;
        for (const Rect& t : tiles) sum += borderScore(bm, t);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_BorderScore_NineTiles)->Unit(benchmark::kMicrosecond);

// The worst case: most of every tile ring-coloured or saturated, tiles taken a little off
// the real ones.
void BM_ScanForGreenRing_SaturatedVideo(benchmark::State& state) {
    const Bitmap bm = *makeBitmap(capture());
    for (auto _ : state) benchmark::DoNotOptimize(scanForGreenRing(bm));
}
BENCHMARK(BM_ScanForGreenRing_SaturatedVideo)->Unit(benchmark::kMicrosecond);

void BM_BorderScore_NineTiles_SaturatedVideo(benchmark::State& state) {
    const Bitmap bm = *makeBitmap(capture());
    std::vector<Rect> tiles;
    for (int i = 0; i < 9; ++i)
        tiles.push_back(Rect{0.025 + (i % 3) * 0.318, 0.025 + (i / 3) * 0.318, 0.31, 0.31});
    for (auto _ : state) {
        double sum = 0;
        for (const Rect& t : tiles) sum += borderScore(bm, t);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_BorderScore_NineTiles_SaturatedVideo)->Unit(benchmark::kMicrosecond);

void BM_Downscale_2880x1800_to_1280(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(downscaleIfNeeded(capture(), 1280));
}
BENCHMARK(BM_Downscale_2880x1800_to_1280)->Unit(benchmark::kMillisecond);

// The capture path: a 1440 x 900 window scaled to twice its size.
void BM_Resize_1440x900_to_2x(benchmark::State& state) {
    const Image window = meetingFrame(1440, 900);
    for (auto _ : state) benchmark::DoNotOptimize(resizeImage(window, 2880, 1800));
}
BENCHMARK(BM_Resize_1440x900_to_2x)->Unit(benchmark::kMillisecond);

// stb_image_resize (Catmull-Rom/Mitchell, float pipeline) on the same two jobs, for scale.
void stbResize(const Image& src, Image& dst) {
    stbir_resize_uint8_generic(
        src.bytes.data(), int(src.width), int(src.height), int(src.bytesPerRow), dst.bytes.data(),
        int(dst.width), int(dst.height), int(dst.bytesPerRow), 4, STBIR_ALPHA_CHANNEL_NONE, 0,
        STBIR_EDGE_CLAMP, STBIR_FILTER_DEFAULT, STBIR_COLORSPACE_LINEAR, nullptr);
}
void BM_StbResize_1440x900_to_2x(benchmark::State& state) {
    const Image window = meetingFrame(1440, 900);
    Image out = Image::blank(2880, 1800);
    for (auto _ : state) stbResize(window, out);
}
BENCHMARK(BM_StbResize_1440x900_to_2x)->Unit(benchmark::kMillisecond);
void BM_StbResize_2880x1800_to_1280(benchmark::State& state) {
    Image out = Image::blank(1280, 800);
    for (auto _ : state) stbResize(capture(), out);
}
BENCHMARK(BM_StbResize_2880x1800_to_1280)->Unit(benchmark::kMillisecond);

const Image& frame1280() {
    static const Image img = meetingFrame(1280, 800);
    return img;
}
const Image& crop1024() {
    // A speaker crop: the middle tile region of a larger frame, shrunk to 1024 wide.
    static const Image img = *resizeImage(meetingFrame(1400, 788), 1024, 576);
    return img;
}

void pngEncode(benchmark::State& state, const Image& img) {
    size_t bytes = 0;
    for (auto _ : state) {
        const auto png = encodePng(img);
        bytes = png ? png->size() : 0;
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["bytes"] = double(bytes);
}

// libpng with every setting at its default (zlib level 6, adaptive filters), writing RGB
// rows converted from blue-first the same way our encoder does.
void libpngEncode(benchmark::State& state, const Image& img) {
    size_t bytes = 0;
    for (auto _ : state) {
        std::vector<uint8_t> out;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) {
            png_destroy_write_struct(&png, &info);
            state.SkipWithError("libpng failed");
            return;
        }
        png_set_write_fn(
            png, &out,
            [](png_structp p, png_bytep data, png_size_t n) {
                auto* v = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
                v->insert(v->end(), data, data + n);
            },
            nullptr);
        png_set_IHDR(png, info, png_uint_32(img.width), png_uint_32(img.height), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        std::vector<uint8_t> row(size_t(img.width) * 3);
        for (int64_t y = 0; y < img.height; ++y) {
            const uint8_t* s = img.bytes.data() + y * img.bytesPerRow;
            for (int64_t x = 0; x < img.width; ++x, s += 4) {
                row[size_t(x) * 3] = s[2];
                row[size_t(x) * 3 + 1] = s[1];
                row[size_t(x) * 3 + 2] = s[0];
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = double(bytes);
}

void BM_PngEncode_Frame1280x800(benchmark::State& s) { pngEncode(s, frame1280()); }
void BM_LibpngDefault_Frame1280x800(benchmark::State& s) { libpngEncode(s, frame1280()); }
void BM_PngEncode_Crop1024x576(benchmark::State& s) { pngEncode(s, crop1024()); }
void BM_LibpngDefault_Crop1024x576(benchmark::State& s) { libpngEncode(s, crop1024()); }
BENCHMARK(BM_PngEncode_Frame1280x800)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibpngDefault_Frame1280x800)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngEncode_Crop1024x576)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibpngDefault_Crop1024x576)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
