#include "platform/portal_choice.h"

#include <gtest/gtest.h>

namespace tessival {
namespace {

TEST(PortalToken, FileReadsBackAndAnythingElseIsNoToken) {
    EXPECT_EQ(parseTokenFile(tokenFileText("1f0c-9a7e")), "1f0c-9a7e");
    const std::string good = tokenFileText("abc");
    for (const std::string& bad :
         {std::string(), std::string("abc\n"), good.substr(0, good.size() - 1), tokenFileText(""),
          tokenFileText("a b"), tokenFileText("a\nb"), tokenFileText(std::string(2000, 'a')),
          tokenFileText("\xc3\xa9"), std::string("\0\0\0", 3)}) {
        EXPECT_FALSE(parseTokenFile(bad)) << bad;
    }
}

TEST(PortalToken, StateDirectoryOptionThenXdgThenHome) {
    EXPECT_EQ(stateDirectory("/s", "/x", "/h"), "/s");
    EXPECT_EQ(stateDirectory("", "/x", "/h"), "/x/tessival");
    EXPECT_EQ(stateDirectory("", "relative", "/h"), "/h/.local/state/tessival");
    EXPECT_EQ(stateDirectory("", "", "/h"), "/h/.local/state/tessival");
    EXPECT_FALSE(stateDirectory("", "", ""));
}

TEST(PortalAnswers, ScreenCastNeedsVersionFourAndWindowSources) {
    EXPECT_FALSE(screenCastUnusable(4, 1 | 2));
    EXPECT_EQ(screenCastUnusable(4, 1), "the desktop portal offers no window sources");
    EXPECT_EQ(screenCastUnusable(3, 3),
              "the desktop portal's screen cast is version 3, 4 is needed");
    EXPECT_EQ(responseOutcome(0), WindowChoice::Outcome::Chosen);
    EXPECT_EQ(responseOutcome(1), WindowChoice::Outcome::Cancelled);
    EXPECT_EQ(responseOutcome(2), WindowChoice::Outcome::Unavailable);
}

TEST(PortalFrame, CopiesRowsPastTheStrideAndRejectsShortBuffers) {
    // 2 x 2 pixels, rows 12 bytes apart: the last 4 bytes of each row are padding.
    const std::vector<uint8_t> bgrx = {1, 2, 3, 0, 4, 5, 6,  0,  9,  9,
                                       9, 9, 7, 8, 9, 0, 10, 11, 12, 0};
    const std::optional<Image> img =
        frameImage(bgrx.data(), bgrx.size(), 2, 2, 12, FrameFormat::BGRx);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->order, PixelOrder::BlueFirst);
    EXPECT_EQ(img->bytes,
              (std::vector<uint8_t>{1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255}));
    const std::optional<Image> rgba =
        frameImage(bgrx.data(), bgrx.size(), 2, 2, 12, FrameFormat::RGBA);
    ASSERT_TRUE(rgba);
    EXPECT_EQ(rgba->order, PixelOrder::RedFirst);
    EXPECT_EQ(rgba->bytes[3], 0);
    EXPECT_FALSE(frameImage(bgrx.data(), bgrx.size() - 1, 2, 2, 12, FrameFormat::BGRx));
    EXPECT_FALSE(frameImage(bgrx.data(), bgrx.size(), 2, 2, 4, FrameFormat::BGRx));
    EXPECT_FALSE(frameImage(bgrx.data(), bgrx.size(), 0, 2, 12, FrameFormat::BGRx));
}

}  // namespace
}  // namespace tessival
