#include "codec/image_codec.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "codec/image_ops.h"
#include "analysis/ring_scan.h"
#include "testing/canvas.h"

namespace tessival {
namespace {

namespace fs = std::filesystem;

std::array<double, 3> pixelAt(const Image& img, int64_t x, int64_t y) {
    return *makeBitmap(img)->rgb(x, y);
}

TEST(PngCodec, RoundTripShowsRealColoursOpaque) {
    for (const PixelOrder order : {PixelOrder::RedFirst, PixelOrder::BlueFirst}) {
        Canvas c(30, 20, Rgba{10, 20, 30, 0}, order, 30 * 4 + 8);
        c.set(3, 4, Rgba{200, 100, 50, 7});
        const auto png = encodePng(c.image());
        ASSERT_TRUE(png.has_value());
        const auto back = decodePng(*png);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->width, 30);
        EXPECT_EQ(back->height, 20);
        EXPECT_EQ(back->order, PixelOrder::RedFirst);
        EXPECT_EQ(pixelAt(*back, 3, 4), (std::array<double, 3>{200, 100, 50}));
        EXPECT_EQ(pixelAt(*back, 29, 19), (std::array<double, 3>{10, 20, 30}));
        EXPECT_EQ(back->bytes[3], 255);  // alpha dropped: opaque
    }
}

TEST(PngCodec, Base64TextIsAPng) {
    Canvas c(12, 8, Rgba{51, 204, 102, 255});
    const auto text = pngBase64(c.image());
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->find('\n'), std::string::npos);
    const auto bytes = base64Decode(*text);
    ASSERT_TRUE(bytes.has_value());
    ASSERT_GE(bytes->size(), 8u);
    EXPECT_EQ((*bytes)[0], 137);
    EXPECT_EQ((*bytes)[1], 80);
}

TEST(PngCodec, RefusesEmptyImagesAndNonPngBytes) {
    EXPECT_FALSE(encodePng(Image{}).has_value());
    Image shortBytes = Image::blank(10, 10);
    shortBytes.bytes.resize(100);
    EXPECT_FALSE(encodePng(shortBytes).has_value());
    EXPECT_FALSE(decodePng({1, 2, 3}).has_value());
    auto png = *encodePng(Image::blank(10, 10));
    png.resize(png.size() / 2);
    EXPECT_FALSE(decodePng(png).has_value());
}

TEST(DownscaleIfNeeded, BoundsTheLongerSideNeverUpscales) {
    struct Case {
        int64_t w, h, maxSide, wantW, wantH;
    };
    const Case cases[] = {
        {12, 8, 6, 6, 4},        {12, 8, 100, 12, 8},      {12, 8, 12, 12, 8},
        {8, 12, 6, 4, 6},        {2880, 1800, 1280, 1280, 800}, {1000, 3, 10, 10, 1},
    };
    for (const Case& c : cases) {
        Canvas canvas(c.w, c.h, Rgba{51, 204, 102, 255}, PixelOrder::BlueFirst);
        const Image out = downscaleIfNeeded(canvas.image(), c.maxSide);
        EXPECT_EQ(out.width, c.wantW) << c.w << "x" << c.h << " max " << c.maxSide;
        EXPECT_EQ(out.height, c.wantH) << c.w << "x" << c.h << " max " << c.maxSide;
        EXPECT_EQ(out.order, PixelOrder::BlueFirst);
        // A flat picture keeps its exact colour (stored blue-first) through the filter.
        EXPECT_EQ(pixelAt(out, out.width / 2, out.height / 2),
                  (std::array<double, 3>{102, 204, 51}));
    }
}

TEST(ResizeImage, DoubleSizeCaptureKeepsTheRingFindable) {
    Canvas c(700, 400, Rgba{30, 30, 30, 255}, PixelOrder::BlueFirst);
    c.outline({150, 100, 400, 250}, 4, Rgba{53, 194, 107, 255});
    const auto big = resizeImage(c.image(), 1400, 800);
    ASSERT_TRUE(big.has_value());
    EXPECT_EQ(big->width, 1400);
    EXPECT_EQ(big->height, 800);
    const RingScan s = scanForGreenRing(*makeBitmap(*big));
    ASSERT_TRUE(s.best.has_value());
    EXPECT_NEAR(s.best->rect.x, 150.0 / 700, 0.01);
    EXPECT_NEAR(s.best->rect.width, 251.0 / 700, 0.015);
    EXPECT_FALSE(resizeImage(c.image(), 0, 10).has_value());
    EXPECT_FALSE(resizeImage(Image{}, 10, 10).has_value());
}

class ReadImageFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tessival_codec_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p.string();
    }
    fs::path dir_;
};

TEST_F(ReadImageFile, PremultipliesAlphaSoTransparentPixelsTurnBlack) {
    // A 3 x 1 uncompressed 32-bit TGA, top-left origin, pixels stored blue-first with alpha:
    // opaque red, half-transparent green, transparent white.
    const std::vector<uint8_t> tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 1, 0, 32, 0x28,
                                      0, 0, 255, 255, 0, 200, 0, 128, 255, 255, 255, 0};
    const auto read = readImageFile(write("alpha.tga", tga));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->order, PixelOrder::RedFirst);
    EXPECT_EQ(pixelAt(*read, 0, 0), (std::array<double, 3>{255, 0, 0}));
    EXPECT_EQ(pixelAt(*read, 1, 0), (std::array<double, 3>{0, 100, 0}));
    EXPECT_EQ(pixelAt(*read, 2, 0), (std::array<double, 3>{0, 0, 0}));
}

TEST_F(ReadImageFile, ReadsOurOwnPng) {
    Canvas c(40, 30, Rgba{30, 30, 30, 255}, PixelOrder::BlueFirst);
    c.set(5, 6, Rgba{53, 194, 107, 255});
    const auto read = readImageFile(write("frame.png", *encodePng(c.image())));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->width, 40);
    EXPECT_EQ(pixelAt(*read, 5, 6), (std::array<double, 3>{53, 194, 107}));
}

TEST_F(ReadImageFile, UnreadableFilesGiveNothing) {
    const auto png = *encodePng(Image::blank(64, 64));
    const std::vector<uint8_t> truncated(png.begin(), png.begin() + long(png.size() / 2));
    std::vector<uint8_t> corrupt = png;
    for (size_t i = 40; i < corrupt.size(); i += 7) corrupt[i] ^= 0x5a;
    const std::string paths[] = {
        (dir_ / "missing.png").string(),
        write("empty.png", {}),
        write("truncated.png", truncated),
        write("corrupt.png", corrupt),
        write("garbage.jpg", std::vector<uint8_t>(300, 0x42)),
        dir_.string(),
    };
    for (const std::string& p : paths) EXPECT_FALSE(readImageFile(p).has_value()) << p;
}

}  // namespace
}  // namespace tessival
