#include "command/fixture_ring.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "analysis/ring_scan.h"
#include "codec/image_codec.h"
#include "codec/image_ops.h"
#include "testing/canvas.h"
#include "testing/log_capture.h"

namespace tessival {
namespace {

namespace fs = std::filesystem;

constexpr Rgba BG{30, 30, 30, 255};
constexpr Rgba GREEN{53, 194, 107, 255};

TEST(RingPosition, WordsAtTheThresholds) {
    struct Case {
        double cx, cy;
        const char* want;
    };
    const Case cases[] = {
        {0.2, 0.2, "top-left"},      {0.38, 0.2, "top-center"},   {0.5, 0.49, "top-center"},
        {0.62, 0.2, "top-center"},   {0.63, 0.2, "top-right"},    {0.37, 0.5, "bottom-left"},
        {0.5, 0.5, "bottom-center"}, {0.9, 0.9, "bottom-right"},
    };
    for (const Case& c : cases) {
        // A zero-sized rectangle puts the centre exactly on (cx, cy).
        EXPECT_EQ(ringPosition(Rect{c.cx, c.cy, 0, 0}), c.want) << c.cx << "," << c.cy;
    }
}

class DetectRingFromFixture : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tessival_fixture_test_" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string writePng(const std::string& name, const Image& img) {
        const fs::path p = dir_ / name;
        const auto png = encodePng(img);
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(png->data()), std::streamsize(png->size()));
        return p.string();
    }

    // Runs the mode and returns its return value and its one answer line, parsed.
    std::pair<bool, Answer> run(const std::string& path) {
        CapturedOutput c;
        const bool ok = detectRingFromFixture(path, c.out);
        const std::string text = c.answerText() + c.logText();
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        return {ok, Answer::parse(text)};
    }

    fs::path dir_;
};

TEST_F(DetectRingFromFixture, HollowRingAnswerHasEveryKey) {
    Canvas c(500, 300, BG, PixelOrder::BlueFirst);
    c.outline({57, 41, 176, 114}, 3, GREEN);
    c.fill({400, 250, 401, 250}, GREEN);
    c.set(400, 251, GREEN);
    const auto [ok, a] = run(writePng("ring.png", c.image()));
    // The answer carries the scan's own figures (pinned in the scan's tests).
    const RingScan scan = scanForGreenRing(c.bitmap());
    ASSERT_TRUE(scan.best);
    const Rect& r = scan.best->rect;
    EXPECT_TRUE(ok);
    EXPECT_EQ(a["ok"], true);
    EXPECT_EQ(a["blobs"], scan.blobs);
    EXPECT_EQ(a["image"], (Answer{500, 300}));
    EXPECT_EQ(a["score"], scan.best->score);
    EXPECT_EQ(a["rect"], (Answer{r.x, r.y, r.width, r.height}));
    EXPECT_EQ(a["bbox_px"], (Answer{56, 40, 122, 76}));
    EXPECT_EQ(a["pos"], "top-left");
    // The padded crop starts at (46, 33): the ring corner (57, 41) sits at (11, 8) in it.
    EXPECT_EQ(a["crop_px"], (Answer{141, 88}));
    const auto png = base64Decode(a["ring_crop"].get<std::string>());
    ASSERT_TRUE(png.has_value());
    const auto crop = decodePng(*png);
    ASSERT_TRUE(crop.has_value());
    EXPECT_EQ(crop->width, 141);
    EXPECT_EQ(*makeBitmap(*crop)->rgb(11, 8), (std::array<double, 3>{53, 194, 107}));
}

TEST_F(DetectRingFromFixture, LargeRingCropIsDownscaled) {
    Canvas c(3000, 2000, BG);
    c.outline({100, 100, 2800, 1800}, 12, GREEN);
    const auto [ok, a] = run(writePng("big.png", c.image()));
    EXPECT_TRUE(ok);
    ASSERT_TRUE(a.contains("crop_px")) << a.dump();
    EXPECT_EQ(std::max(a["crop_px"][0].get<int>(), a["crop_px"][1].get<int>()), 1024);
}

TEST_F(DetectRingFromFixture, GreyImageAnswersOnlyTheCounts) {
    Canvas c(64, 48, Rgba{128, 128, 128, 255});
    const auto [ok, a] = run(writePng("grey.png", c.image()));
    EXPECT_TRUE(ok);
    EXPECT_EQ(a, (Answer{{"ok", true}, {"blobs", 0}, {"image", {64, 48}}}));
}

TEST_F(DetectRingFromFixture, UnreadableFileIsAnError) {
    const std::string path = (dir_ / "no such file.png").string();
    const auto [ok, a] = run(path);
    EXPECT_FALSE(ok);
    EXPECT_EQ(a, (Answer{{"ok", false}, {"error", "cannot read image at " + path}}));
}

}  // namespace
}  // namespace tessival
