#include "analysis/line_blocks.h"

#include <gtest/gtest.h>

namespace tessival {
namespace {

TextObservation at(std::string text, double x, double y, double w, double h) {
    return TextObservation{std::move(text), 0.95f, Rect{x, y, w, h}};
}

TEST(InLineBlock, StackedLinesOfOneSizeAreABlockALabelStandsAlone) {
    struct Case {
        const char* what;
        std::vector<TextObservation> lines;
        std::vector<bool> want;
    };
    const Case cases[] = {
        {"slide paragraph",
         {at("Quarterly goals", 0.1, 0.20, 0.3, 0.03), at("Ship the beta", 0.1, 0.24, 0.25, 0.03),
          at("Hire two people", 0.1, 0.28, 0.27, 0.03)},
         {true, true, true}},
        {"name over a smaller job title",
         {at("Jane Doe", 0.05, 0.10, 0.10, 0.025), at("Product Manager", 0.05, 0.13, 0.14, 0.022)},
         {true, true}},
        {"labels of a grid, one per tile row",
         {at("Anna Klein", 0.02, 0.30, 0.1, 0.02), at("Mia Wagner", 0.02, 0.62, 0.1, 0.02),
          at("Emma Schmidt", 0.52, 0.30, 0.1, 0.02)},
         {false, false, false}},
        {"a small chip under a large name",
         {at("Kwame Mensah", 0.40, 0.50, 0.2, 0.05), at("HOST", 0.47, 0.56, 0.05, 0.02)},
         {false, false}},
        {"side by side on one row",
         {at("Ravi", 0.1, 0.9, 0.05, 0.02), at("Marisol", 0.6, 0.9, 0.08, 0.02)},
         {false, false}},
    };
    for (const Case& c : cases) EXPECT_EQ(inLineBlock(c.lines), c.want) << c.what;
}

TEST(JoinWrappedNames, JoinsACentredTwoLineNameOnly) {
    struct Case {
        const char* what;
        std::vector<TextObservation> lines;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"wrapped under an avatar",
         {at("Rogers", 0.155, 0.408, 0.030, 0.016), at("Cdr. Addison", 0.141, 0.385, 0.056, 0.016)},
         {"Cdr. Addison Rogers"}},
        {"a caption's two lines are prose",
         {at("(Leonard) Same here. I've been working on this project", 0.198, 0.803, 0.356, 0.026),
          at("all morning. It's taking longer than I thought it would", 0.205, 0.842, 0.341, 0.026)},
         {"(Leonard) Same here. I've been working on this project",
          "all morning. It's taking longer than I thought it would"}},
        {"a job title under a name",
         {at("Jane Doe", 0.10, 0.10, 0.10, 0.025), at("Product Manager", 0.08, 0.13, 0.14, 0.025)},
         {"Jane Doe", "Product Manager"}},
        {"left-aligned, not centred",
         {at("Anna Klein", 0.10, 0.10, 0.20, 0.025), at("Berlin", 0.10, 0.13, 0.08, 0.025)},
         {"Anna Klein", "Berlin"}},
        {"too far apart",
         {at("Maj. Sarah", 0.25, 0.30, 0.05, 0.02), at("Reynolds", 0.25, 0.40, 0.05, 0.02)},
         {"Maj. Sarah", "Reynolds"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got;
        for (const TextObservation& l : joinWrappedNames(c.lines)) got.push_back(l.text);
        EXPECT_EQ(got, c.want) << c.what;
    }
    const std::vector<TextObservation> joined =
        joinWrappedNames({at("Cdr. Addison", 0.141, 0.385, 0.056, 0.016), at("Rogers", 0.155, 0.408, 0.030, 0.016)});
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_NEAR(joined[0].box.minY(), 0.385, 1e-9);
    EXPECT_NEAR(joined[0].box.maxY(), 0.424, 1e-9);
}

}  // namespace
}  // namespace tessival
