#include "analysis/label_mark.h"

#include <gtest/gtest.h>

#include <vector>

#include "testing/canvas.h"

namespace tessival {
namespace {

constexpr Rgba DARK{30, 32, 36, 255};
constexpr Rgba CHIP{20, 20, 22, 255};
constexpr Rgba WHITE{240, 240, 240, 255};
constexpr Rgba GREEN{60, 200, 90, 255};
constexpr Rgba BLUE{40, 110, 230, 255};

struct Label {
    Rgba chip;
    Rgba ink;
    bool wall = false;  // the chip's colour fills the picture behind the label
};

// Labels 60 x 12 px at x 20, one above the other, each on a chip 4 px larger all round,
// with three vertical strokes for letters; `busy` stripes the ground round the last one.
std::optional<size_t> marked(const std::vector<Label>& labels, bool busy = false) {
    Canvas c(200, 40 * static_cast<int64_t>(labels.size()) + 20, DARK);
    std::vector<Rect> boxes;
    for (size_t i = 0; i < labels.size(); ++i) {
        const int64_t y = 20 + 40 * static_cast<int64_t>(i);
        if (labels[i].wall) c.fill({0, y - 18, 199, y + 29}, labels[i].chip);
        c.fill({16, y - 4, 84, y + 15}, labels[i].chip);
        for (int64_t x = 22; x < 78; x += 8) c.fill({x, y, x + 3, y + 11}, labels[i].ink);
        if (busy && i + 1 == labels.size())
            for (int64_t x = 16; x <= 84; x += 2) c.fill({x, y - 4, x, y + 15}, WHITE);
        boxes.push_back(Rect{20.0 / 200, double(y) / double(c.image().height), 60.0 / 200,
                             12.0 / double(c.image().height)});
    }
    const std::optional<MarkedLabel> m = colouredLabel(c.bitmap(), boxes);
    return m ? std::optional<size_t>(m->index) : std::nullopt;
}

TEST(LabelMark, OneLabelInColourAmongPlainOnesIsTheSpeakers) {
    EXPECT_EQ(marked({{CHIP, WHITE}, {CHIP, GREEN}, {CHIP, WHITE}}), std::optional<size_t>(1));
    EXPECT_EQ(marked({{CHIP, WHITE}, {BLUE, WHITE}}), std::optional<size_t>(1));
    // Every label plain, or two in colour (the app's own style): nobody.
    EXPECT_EQ(marked({{CHIP, WHITE}, {CHIP, WHITE}}), std::nullopt);
    EXPECT_EQ(marked({{CHIP, GREEN}, {CHIP, WHITE}, {CHIP, GREEN}}), std::nullopt);
    // White letters on a saturated wall (a green screen behind the person): nobody.
    EXPECT_EQ(marked({{CHIP, WHITE}, {GREEN, WHITE, true}, {CHIP, WHITE}}), std::nullopt);
    // A green label alone, with no plain one to tell it from: nobody.
    EXPECT_EQ(marked({{CHIP, GREEN}}), std::nullopt);
    // On a busy ground (a label drawn straight on video) the colour is not measured.
    EXPECT_EQ(marked({{CHIP, WHITE}, {CHIP, GREEN}}, true), std::nullopt);
}

}  // namespace
}  // namespace tessival
