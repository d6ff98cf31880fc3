#include "analysis/ocr.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tessival {
namespace {

struct ScriptedRecognizer : TextRecognizer {
    std::vector<RecognizedLine> lines;
    bool fail = false;
    std::vector<RecognizedLine> recognize(const Image&) override {
        if (fail) throw std::runtime_error("engine failed");
        return lines;
    }
};

TEST(Ocr, FlipsBoxesToTopLeftOriginKeepingOrder) {
    ScriptedRecognizer r;
    r.lines = {{"second", 0.5f, {0.1, 0.7, 0.3, 0.05}}, {"first", 0.9f, {0.0, 0.0, 1.0, 0.1}}};
    const auto out = ocr(r, Image::blank(4, 4));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].text, "second");
    EXPECT_FLOAT_EQ(out[0].conf, 0.5f);
    EXPECT_NEAR(out[0].box.y, 0.25, 1e-12);
    EXPECT_NEAR(out[0].box.x, 0.1, 1e-12);
    EXPECT_NEAR(out[0].box.height, 0.05, 1e-12);
    EXPECT_NEAR(out[1].box.y, 0.9, 1e-12);
}

TEST(Ocr, RecognitionFailureIsNoText) {
    ScriptedRecognizer r;
    r.fail = true;
    EXPECT_TRUE(ocr(r, Image::blank(4, 4)).empty());
}

}  // namespace
}  // namespace tessival
