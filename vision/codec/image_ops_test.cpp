#include "codec/image_ops.h"

#include <gtest/gtest.h>

#include <cmath>

#include "testing/canvas.h"

namespace tessival {
namespace {

TEST(PaddedCropRect, PadsAndClipsToTheImage) {
    struct Case {
        Rect tile;
        int64_t w, h;
        Rect want;
    };
    const Case cases[] = {
        {{0.25, 0.25, 0.5, 0.5}, 1000, 1000, {210, 210, 580, 580}},
        {{0, 0, 0.4, 0.4}, 1000, 500, {0, 0, 432, 216}},
        {{0.7, 0.7, 0.3, 0.3}, 1000, 1000, {676, 676, 324, 324}},
        {{0.1, 0.1, 0.8, 0.8}, 1, 1000, {}},  // 1 pixel wide: under 8
    };
    for (const Case& c : cases) {
        const auto r = paddedCropRect(c.tile, c.w, c.h);
        if (c.want.isEmpty()) {
            EXPECT_FALSE(r.has_value()) << c.tile.x << "," << c.tile.y;
            continue;
        }
        ASSERT_TRUE(r.has_value()) << c.tile.x << "," << c.tile.y;
        EXPECT_NEAR(r->x, c.want.x, 1) << c.tile.x;
        EXPECT_NEAR(r->y, c.want.y, 1) << c.tile.x;
        EXPECT_NEAR(r->width, c.want.width, 1) << c.tile.x;
        EXPECT_NEAR(r->height, c.want.height, 1) << c.tile.x;
        EXPECT_LE(r->x + r->width, double(c.w));
        EXPECT_LE(r->y + r->height, double(c.h));
        EXPECT_EQ(r->x, std::floor(r->x));
        EXPECT_EQ(r->width, std::floor(r->width));
    }
}

TEST(PaddedCropRect, RefusesEmptyOffImageAndTinyCrops) {
    const Rect tiles[] = {
        {0.5, 0.5, 0, 0.3},      {0.5, 0.5, 0.3, 0},       {1.2, 1.2, 0.2, 0.2},
        {-0.5, -0.5, 0.2, 0.2},  {0.5, 0.5, 0.005, 0.3},   {std::nan(""), 0.1, 0.2, 0.2},
        {0.5, 0.5, -0.2, 0.3},
    };
    for (const Rect& t : tiles) {
        EXPECT_FALSE(paddedCropRect(t, 1000, 1000).has_value())
            << t.x << "," << t.y << "," << t.width << "," << t.height;
    }
    EXPECT_FALSE(paddedCropRect({0.1, 0.1, 0.5, 0.5}, 0, 1000).has_value());
}

TEST(CropImage, CopiesTheRectangleRowByRow) {
    Canvas c(40, 30, Rgba{1, 2, 3, 4}, PixelOrder::BlueFirst, 40 * 4 + 12);
    c.set(10, 5, Rgba{200, 100, 50, 255});
    c.set(19, 14, Rgba{9, 8, 7, 255});
    const auto crop = cropImage(c.image(), Rect{10, 5, 10, 10});
    ASSERT_TRUE(crop.has_value());
    EXPECT_EQ(crop->width, 10);
    EXPECT_EQ(crop->height, 10);
    EXPECT_EQ(crop->bytesPerRow, 40);
    EXPECT_EQ(crop->order, PixelOrder::BlueFirst);
    const Bitmap bm = *makeBitmap(*crop);
    EXPECT_EQ(*bm.rgb(0, 0), (std::array<double, 3>{50, 100, 200}));
    EXPECT_EQ(*bm.rgb(9, 9), (std::array<double, 3>{7, 8, 9}));
    EXPECT_EQ(*bm.rgb(5, 5), (std::array<double, 3>{3, 2, 1}));
}

TEST(CropImage, RefusesRectanglesOutsideTheImage) {
    Canvas c(40, 30, Rgba{1, 2, 3, 4});
    const Rect bad[] = {{-1, 0, 10, 10}, {35, 0, 10, 10}, {0, 25, 10, 10}, {0, 0, 0, 10}};
    for (const Rect& r : bad) EXPECT_FALSE(cropImage(c.image(), r).has_value()) << r.x;
    EXPECT_TRUE(cropImage(c.image(), Rect{0, 0, 40, 30}).has_value());
}

TEST(Base64, EncodesRfc4648Vectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        {"\xff\xfe\xfd", "//79"},
    };
    for (const auto& [plain, encoded] : vectors) {
        const std::vector<uint8_t> bytes(plain.begin(), plain.end());
        EXPECT_EQ(base64Encode(bytes), encoded) << plain;
        const auto back = base64Decode(encoded);
        ASSERT_TRUE(back.has_value()) << encoded;
        EXPECT_EQ(*back, bytes) << encoded;
    }
}

TEST(Base64, RejectsMalformedText) {
    for (const char* bad : {"Zg=", "Zg", "Z===", "Zm9v\n", "Zm=v", "Zm9v====", "Zg==Zg==", "Zm 9"}) {
        EXPECT_FALSE(base64Decode(bad).has_value()) << bad;
    }
}

}  // namespace
}  // namespace tessival
