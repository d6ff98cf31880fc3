#include "analysis/ocr_words.h"

#include <gtest/gtest.h>

namespace tessival {
namespace {

constexpr double W = 2000, H = 1000;

TEST(AssembleLine, DropsIconNoiseAtTheEdgesAndUnsureLines) {
    struct Case {
        std::vector<std::pair<std::string, float>> words;
        std::optional<std::string> want;
    };
    const Case cases[] = {
        {{{"%", 57}, {"Orla", 97}, {"Byrne", 97}, {"(Host)", 96}}, "Orla Byrne (Host)"},
        {{{"$%", 79}, {"Elif", 95}, {"Yıldız", 92}}, "Elif Yıldız"},
        {{{"3", 85}, {"Pablo", 96}, {"Núñez", 96}}, "Pablo Núñez"},
        {{{"Liam", 96}, {"O'Sullivan", 94}, {"Rk", 38}}, "Liam O'Sullivan"},
        {{{"Anne-Marie", 96}, {"Lindqvist", 95}, {"A.", 21}}, "Anne-Marie Lindqvist"},
        {{{"Inês", 96}, {"Carvalho", 96}, {"É;", 80}}, "Inês Carvalho"},  // a ring's corner, read surely
        {{{"Ana", 96}, {"M.", 90}}, "Ana M."},                            // an initial stays
        {{{"Björk", 96}, {"Sveinsdóttir", 55}}, "Björk Sveinsdóttir"},  // long words stay
        {{{"e", 95}, {"Setup", 95}, {"took", 95}, {"e", 93}, {"Exports", 95}}, "Setup took Exports"},
        {{{"a", 8}}, std::nullopt},
        {{{"Lw", 64}}, std::nullopt},        // unsure as a whole
        {{{"O)", 82}}, std::nullopt},        // short and not sure enough
        {{{"VG", 94}}, "VG"},
        {{{"[Leilani", 91}, {"Kahale", 96}}, "Leilani Kahale"},  // the frame read as a bracket
        {{{"Steve", 96}, {"(Support", 95}, {"Executive)|", 93}}, "Steve (Support Executive)"},
        {{{"©", 95}}, std::nullopt},
    };
    for (const Case& c : cases) {
        std::vector<OcrWord> words;
        double x = 10;
        for (const auto& [text, conf] : c.words) {
            words.push_back(OcrWord{text, conf, Rect{x, 500, 40, 20}});
            x += 50;
        }
        const auto line = assembleLine(words, W, H);
        ASSERT_EQ(line.has_value(), c.want.has_value()) << c.words.front().first;
        if (line) {
            EXPECT_EQ(line->text, *c.want);
        }
    }
}

TEST(AssembleLine, BoxCoversTheKeptWordsTopLeftOrigin) {
    const std::vector<OcrWord> words = {{"%", 20, {100, 480, 20, 20}},
                                        {"Ana", 96, {130, 480, 60, 20}},
                                        {"Silva", 96, {200, 478, 80, 24}}};
    const auto line = assembleLine(words, W, H);
    ASSERT_TRUE(line);
    EXPECT_NEAR(line->box.x, 130 / W, 1e-12);
    EXPECT_NEAR(line->box.width, 150 / W, 1e-12);
    EXPECT_NEAR(line->box.y, 478 / H, 1e-12);
    EXPECT_NEAR(line->box.height, 24 / H, 1e-12);
    EXPECT_NEAR(line->confidence, 0.96, 1e-6);
}

RecognizedLine lineAt(std::string text, double x0, double x1, double yTop, double h) {
    return RecognizedLine{std::move(text), 0.9f, Rect{x0 / W, yTop / H, (x1 - x0) / W, h / H}};
}

TEST(JoinSplitLines, JoinsLettersAndWordsOfOneLabelOnly) {
    // 20 px high text: a 2 px gap is inside a word, 5 px between words, 10 px apart.
    auto joined = joinSplitLines({lineAt("A", 100, 112, 500, 20), lineAt("mara Okafor", 114, 250, 500, 20),
                                  lineAt("Kenji", 400, 460, 500, 20), lineAt("Watanabe", 465, 560, 501, 20),
                                  lineAt("Mute", 600, 650, 500, 20), lineAt("Video", 700, 760, 500, 20),
                                  lineAt("Title", 100, 300, 470, 40),
                                  // The right part's box took in a mark under the label.
                                  lineAt("Chia", 800, 836, 500, 20), lineAt("ra Bianchi", 838, 960, 500, 36)},
                                 W, H);
    std::vector<std::string> texts;
    for (const auto& l : joined) texts.push_back(l.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Amara Okafor", "Kenji Watanabe", "Mute", "Video", "Title",
                                               "Chiara Bianchi"}));
    EXPECT_NEAR(joined[0].box.x, 100 / W, 1e-12);
    EXPECT_NEAR(joined[0].box.width, 150 / W, 1e-12);

    // On a tile, words half a line's height apart are one label; not an icon read beside it,
    // nor a word on the next tile.
    const std::vector<Rect> tiles = {{0, 0, 300 / W, 1}, {310 / W, 0, 300 / W, 1}};
    texts.clear();
    for (const auto& l : joinSplitLines({lineAt("&", 80, 90, 500, 20), lineAt("Amara", 100, 160, 500, 20),
                                         lineAt("Okafor", 170, 298, 500, 20), lineAt("Ben", 312, 350, 500, 20)},
                                        W, H, tiles))
        texts.push_back(l.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"&", "Amara Okafor", "Ben"}));
}

}  // namespace
}  // namespace tessival
