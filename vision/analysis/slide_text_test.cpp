#include "analysis/slide_text.h"

#include <gtest/gtest.h>

namespace tessival {
namespace {

TextObservation obs(std::string text, Rect box, float conf = 0.9f) { return {std::move(text), conf, box}; }

TEST(SlideText, ReadingOrderRowsThenColumns) {
    const std::vector<TextObservation> in = {
        obs("World", {0.55, 0.1, 0.2, 0.05}),
        obs("Roadmap", {0.2, 0.5, 0.3, 0.06}),
        obs("Hello", {0.2, 0.1, 0.2, 0.05}),
    };
    EXPECT_EQ(slideText(in), "Hello World\nRoadmap");
}

TEST(SlideText, FiltersUnreliableAndSymbolOnlyLines) {
    struct Case {
        std::vector<TextObservation> in;
        std::string want;
    };
    const Case cases[] = {
        {{obs("\u00b7\u00b7\u00b7", {0.1, 0.1, 0.1, 0.05})}, ""},
        {{obs("Low", {0.1, 0.1, 0.1, 0.05}, 0.29f), obs("Lower", {0.1, 0.3, 0.1, 0.05}, 0.1f)}, ""},
        {{obs("Kept", {0.1, 0.1, 0.1, 0.05}, 0.3f)}, "Kept"},
        {{obs("   ", {0.1, 0.1, 0.1, 0.05})}, ""},
        {{obs("  2026  ", {0.1, 0.1, 0.1, 0.05}), obs("\u2022", {0.05, 0.1, 0.01, 0.05})}, "2026"},
        {{obs("-Sync on the device", {0.1, 0.1, 0.3, 0.05}), obs("-5 \u00b0C", {0.1, 0.3, 0.1, 0.05}),
          obs("\u2013Offline mode", {0.1, 0.5, 0.3, 0.05}), obs("to-do", {0.5, 0.5, 0.1, 0.05})},
         "Sync on the device\n-5 \u00b0C\nOffline mode to-do"},
        {{}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(slideText(c.in), c.want);
}

TEST(SlideText, LinesChainOnTheLargestCentreAndNeedAStrictlyLargerGap) {
    // Heights 0.05: tol = 0.03. Centres 0.10, 0.12, 0.14, 0.16 chain into one line.
    const std::vector<TextObservation> chained = {
        obs("a1", {0.1, 0.075, 0.05, 0.05}), obs("a2", {0.2, 0.095, 0.05, 0.05}),
        obs("a3", {0.3, 0.115, 0.05, 0.05}), obs("a4", {0.4, 0.135, 0.05, 0.05})};
    EXPECT_EQ(slideText(chained), "a1 a2 a3 a4");
    // Centres 0.125 and 0.1525 differ by 0.0275 <= tol: one line; 0.2 starts a new one.
    const std::vector<TextObservation> edge = {obs("b", {0.5, 0.1275, 0.1, 0.05}),
                                               obs("a", {0.1, 0.1, 0.1, 0.05}),
                                               obs("c", {0.1, 0.175, 0.1, 0.05})};
    EXPECT_EQ(slideText(edge), "a b\nc");
}

TEST(SlideText, KeepsInnerLineBreaksOfAFragment) {
    EXPECT_EQ(slideText({obs("\n Two\nlines \n", {0.1, 0.1, 0.3, 0.05})}), "Two\nlines");
}

}  // namespace
}  // namespace tessival
