#include "analysis/ocr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "analysis/ocr_prep.h"
#include "testing/canvas.h"

namespace tessival {
namespace {

constexpr Rgba PAPER{235, 235, 235, 255};
constexpr Rgba INK{20, 20, 20, 255};
constexpr Rgba GREEN{34, 197, 94, 255};

// Letter-like strokes as a label's word at twice its size: 3-pixel stems every 7 pixels.
void word(Canvas& c, int64_t x, int64_t y, int64_t letters, Rgba ink = INK) {
    for (int64_t i = 0; i < letters * 2; ++i) c.fill({x + i * 7, y, x + i * 7 + 2, y + 25}, ink);
    c.fill({x, y, x + letters * 14 - 5, y + 2}, ink);
}

// What `r` reads in `c` where `tiles` (normalised) are drawn, on a fresh cache.
std::vector<TextObservation> readTiled(TextRecognizer& r, const Canvas& c, const std::vector<Rect>& tiles) {
    RegionCache cache;
    return ocr(r, c.image(), cache, 1, tiles);
}

// A recogniser that reads a picture's ink as one word over it, named by how much ink there
// is, so a changed label reads differently. Counts what it was asked to read.
struct InkRecognizer : TextRecognizer {
    int reads = 0;
    bool fail = false;
    bool numbered = false;  // names each reading by its count instead
    std::vector<std::vector<OcrWord>> read(const GreyImage& g, TextLayout) override {
        ++reads;
        if (fail) throw std::runtime_error("engine failed");
        int64_t x0 = g.width, y0 = g.height, x1 = -1, y1 = -1, ink = 0;
        for (int64_t y = 0; y < g.height; ++y) {
            for (int64_t x = 0; x < g.width; ++x) {
                if (g.pixels[static_cast<size_t>(y * g.width + x)] >= 128) continue;
                ++ink;
                x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
            }
        }
        if (ink == 0) return {};
        const Rect box{double(x0), double(y0), double(x1 - x0 + 1), double(y1 - y0 + 1)};
        const std::string text = numbered ? "read" + std::to_string(reads) : "ink" + std::to_string(ink);
        return {{OcrWord{text, 96.0f, box}}};
    }
};

TEST(Ocr, ReadsEachTextRegionOnItsOwnWithTopLeftBoxesInReadingOrder) {
    Canvas c(800, 400, PAPER);
    word(c, 500, 300, 6);
    word(c, 100, 60, 4);
    InkRecognizer r;
    const auto out = ocr(r, c.image());
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(r.reads, 2);
    // The upper label first; its box in the whole picture's terms.
    EXPECT_NEAR(out[0].box.x, 100.0 / 800, 0.01);
    EXPECT_NEAR(out[0].box.y, 60.0 / 400, 0.01);
    EXPECT_NEAR(out[0].box.height, 26.0 / 400, 0.01);
    EXPECT_NEAR(out[1].box.x, 500.0 / 800, 0.01);
    EXPECT_NE(out[0].text, out[1].text);
}

TEST(Ocr, AFaintLineTheEngineReadsNothingOfIsReadInTwoTones) {
    Canvas c(800, 400, PAPER);
    word(c, 100, 60, 8, Rgba{150, 150, 150, 255});
    InkRecognizer r;
    const auto out = ocr(r, c.image());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NEAR(out[0].box.x, 100.0 / 800, 0.01);
}

TEST(Ocr, NothingLikeTextIsNoTextAndAFailedRecognitionIsThrown) {
    InkRecognizer r;
    EXPECT_TRUE(ocr(r, Canvas(300, 200, PAPER).image()).empty());
    EXPECT_EQ(r.reads, 0);
    Canvas c(400, 200, PAPER);
    word(c, 50, 50, 5);
    EXPECT_TRUE(ocr(r, Image::blank(2, 2)).empty());
    r.fail = true;
    EXPECT_THROW(ocr(r, c.image()), std::runtime_error);
}

// Two labels far apart on a light picture; `second` letters in the second.
Image twoLabels(int64_t second, Rgba paper = PAPER) {
    Canvas c(800, 400, paper);
    word(c, 100, 60, 4);
    word(c, 500, 300, second);
    return c.image();
}

std::vector<std::string> texts(const std::vector<TextObservation>& lines) {
    std::vector<std::string> out;
    for (const TextObservation& l : lines) out.push_back(l.text);
    return out;
}

// A recogniser of two lanes, each an InkRecognizer; the first takes its time, so the second
// is given parts while it reads.
struct TwoLaneRecognizer : InkRecognizer {
    InkRecognizer second;
    std::vector<std::vector<OcrWord>> read(const GreyImage& g, TextLayout layout) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return InkRecognizer::read(g, layout);
    }
    size_t lanes() override { return 2; }
    TextRecognizer* lane(size_t i) override { return i == 0 ? this : &second; }
};

TEST(Ocr, TwoLanesReadWhatOneReadsAndEitherLanesFailureIsThrown) {
    Canvas c(800, 600, PAPER);
    for (int64_t i = 0; i < 6; ++i) word(c, 60 + (i % 2) * 400, 60 + (i / 2) * 180, 3 + i);
    InkRecognizer one;
    TwoLaneRecognizer two;
    const auto alone = ocr(one, c.image());
    const auto shared = ocr(two, c.image());
    ASSERT_EQ(alone.size(), 6u);
    EXPECT_EQ(texts(shared), texts(alone));
    EXPECT_EQ(two.reads + two.second.reads, one.reads);
    EXPECT_GT(two.second.reads, 0);
    two.second.fail = true;
    EXPECT_THROW(ocr(two, c.image()), std::runtime_error);
}

TEST(RegionCache, OnlyAChangedRegionIsReadAgainAndAnswersItsNewText) {
    InkRecognizer r;
    RegionCache cache;
    const auto first = texts(ocr(r, twoLabels(5), cache, 7));
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(texts(ocr(r, twoLabels(5), cache, 7)), first);
    EXPECT_EQ(r.reads, 2);  // the repeat read nothing
    // Light and camera noise shining through: every pixel moved, none by much.
    EXPECT_EQ(texts(ocr(r, twoLabels(5, Rgba{215, 215, 215, 255}), cache, 7)), first);
    EXPECT_EQ(r.reads, 2);
    // One letter more in the second label, in the same place: that label alone is read again.
    const auto changed = texts(ocr(r, twoLabels(6), cache, 7));
    EXPECT_EQ(r.reads, 3);
    ASSERT_EQ(changed.size(), 2u);
    EXPECT_EQ(changed[0], first[0]);
    EXPECT_NE(changed[1], first[1]);
    EXPECT_EQ(changed, texts(ocr(r, twoLabels(6), cache, 7)));
}

TEST(RegionCache, NothingCrossesWindowsOrSizesAndMemoryIsBounded) {
    InkRecognizer r;
    r.numbered = true;
    RegionCache cache(2);
    Canvas c(400, 200, PAPER);
    word(c, 50, 50, 5);
    const auto a = texts(ocr(r, c.image(), cache, 1));
    // Another window of the same size showing the same pixels is read for itself.
    const auto b = texts(ocr(r, c.image(), cache, 2));
    EXPECT_EQ(r.reads, 2);
    EXPECT_NE(a, b);
    EXPECT_EQ(texts(ocr(r, c.image(), cache, 1)), a);
    EXPECT_EQ(r.reads, 2);
    // A third window pushes out the least recently read (2); window 1 is still known.
    (void)ocr(r, c.image(), cache, 3);
    (void)ocr(r, c.image(), cache, 1);
    EXPECT_EQ(r.reads, 3);
    (void)ocr(r, c.image(), cache, 2);
    EXPECT_EQ(r.reads, 4);
    // The same window at another size is read again.
    Canvas wider(420, 200, PAPER);
    word(wider, 50, 50, 5);
    (void)ocr(r, wider.image(), cache, 1);
    EXPECT_EQ(r.reads, 5);
    // No more than the budget of pixels is kept.
    RegionCache tiny(4, 100);
    (void)ocr(r, c.image(), tiny, 1);
    EXPECT_EQ(tiny.bytes(), 0u);
    (void)ocr(r, c.image(), tiny, 1);
    EXPECT_EQ(r.reads, 7);
}

TEST(Ocr, TextOnAPanelOfTheOtherPolarityIsReadAsDarkOnLight) {
    // A light dialog in a dark window: the picture is turned light, the dialog dark, and its
    // words must be turned back to be read as strokes and not the panel round them.
    Canvas c(800, 400, Rgba{30, 30, 30, 255});
    c.fill({200, 100, 599, 299}, PAPER);
    word(c, 300, 190, 5);
    InkRecognizer r;
    const auto out = ocr(r, c.image());
    EXPECT_TRUE(std::any_of(out.begin(), out.end(), [](const TextObservation& o) {
        return std::abs(o.box.x - 300.0 / 800) < 0.01 && std::abs(o.box.width - 66.0 / 800) < 0.01;
    }));
}

TEST(OcrPrep, ThinLinesOfStrongColourAreErasedAndNothingElse) {
    struct Case {
        const char* name;
        void (*draw)(Canvas&);
        bool erased;  // the pixel (200, 21), on the frame's top side
    };
    const Case cases[] = {
        {"a ring round a tile", [](Canvas& c) { c.outline({20, 20, 380, 180}, 3, GREEN); }, true},
        {"a frame run into a coloured shirt",
         [](Canvas& c) {
             c.outline({20, 20, 380, 180}, 3, GREEN);
             c.fill({20, 60, 380, 180}, GREEN);
         },
         false},
        {"a grey frame", [](Canvas& c) { c.outline({20, 20, 380, 180}, 3, INK); }, false},
        {"a coloured stroke of a letter", [](Canvas& c) { c.fill({180, 20, 220, 23}, GREEN); }, false},
    };
    for (const Case& k : cases) {
        Canvas c(400, 200, PAPER);
        k.draw(c);
        const GreyImage grey = toOcrGrey(c.image());
        GreyImage erased = grey;
        EXPECT_EQ(eraseColourLines(c.image(), erased), k.erased) << k.name;
        EXPECT_EQ(erased.pixels[21 * 400 + 200] == grey.pixels[0], k.erased) << k.name;
        GreyImage other;  // not the picture's grey: left alone
        EXPECT_FALSE(eraseColourLines(c.image(), other));
    }
}

// An engine that reads nothing of a word cut at the picture's edge.
struct WholeWordRecognizer : InkRecognizer {
    std::vector<std::vector<OcrWord>> read(const GreyImage& g, TextLayout layout) override {
        for (int64_t y = 0; y < g.height; ++y)
            if (g.pixels[static_cast<size_t>(y * g.width)] < 128 ||
                g.pixels[static_cast<size_t>(y * g.width + g.width - 1)] < 128)
                return {};
        return InkRecognizer::read(g, layout);
    }
};

TEST(Ocr, AWordARegionCutsIsReadWholeByTheRegionHoldingItsMiddle) {
    Canvas c(400, 100, PAPER);
    word(c, 100, 40, 6);  // 100 to 180
    const GreyImage grey = toOcrGrey(c.image());
    WholeWordRecognizer r;
    const auto lines = readRegion(r, grey, PixelArea{96, 30, 80, 40});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NEAR(lines[0].box.maxX(), 180.0 / 400, 0.01);
    EXPECT_TRUE(readRegion(r, grey, PixelArea{176, 30, 60, 40}).empty());
}

TEST(Ocr, TheLabelBandOfATileIsReadWhereNoTextRegionReachedIt) {
    // A bar of ink has no strokes side by side: the region finder passes it by.
    Canvas c(800, 400, PAPER);
    c.fill({120, 270, 180, 273}, INK);
    const std::vector<Rect> tiles = {{100.0 / 800, 100.0 / 400, 400.0 / 800, 200.0 / 400}};
    InkRecognizer r;
    RegionCache cache;
    EXPECT_TRUE(ocr(r, c.image(), cache, 1).empty());
    const auto out = ocr(r, c.image(), cache, 1, tiles);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NEAR(out[0].box.y, 270.0 / 400, 0.01);
}

// An engine that reads nothing where a line runs across what it is given.
struct LineShyRecognizer : InkRecognizer {
    std::vector<std::vector<OcrWord>> read(const GreyImage& g, TextLayout layout) override {
        for (int64_t y = 0; y < g.height; ++y) {
            const auto row = g.pixels.begin() + y * g.width;
            if (std::count_if(row, row + g.width, [](uint8_t p) { return p < 128; }) * 5 >= g.width * 4) return {};
        }
        return InkRecognizer::read(g, layout);
    }
};

TEST(Ocr, ALabelAgainstASpeakersRingIsReadWithoutTheRing) {
    Canvas c(800, 400, PAPER);
    c.outline({100, 100, 500, 300}, 3, Rgba{40, 80, 230, 255});
    c.fill({120, 285, 180, 288}, INK);
    const std::vector<Rect> tiles = {{100.0 / 800, 100.0 / 400, 400.0 / 800, 200.0 / 400}};
    LineShyRecognizer r;
    const auto out = readTiled(r, c, tiles);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NEAR(out[0].box.y, 285.0 / 400, 0.01);
}

TEST(Ocr, AWhiteLabelOverALightPictureIsReadFromItsLightPixels) {
    // Brightness alone: white on light grey is no ink. Its white pixels alone are.
    Canvas c(800, 400, PAPER);
    c.fill({100, 100, 499, 299}, Rgba{180, 180, 180, 255});
    c.fill({120, 270, 180, 273}, Rgba{255, 255, 255, 255});
    const std::vector<Rect> tiles = {{100.0 / 800, 100.0 / 400, 400.0 / 800, 200.0 / 400}};
    InkRecognizer r;
    const auto out = readTiled(r, c, tiles);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NEAR(out[0].box.x, 120.0 / 800, 0.01);
    EXPECT_NEAR(out[0].box.y, 270.0 / 400, 0.01);
}

// An engine that sees letters of 12 to 40 px only: no small ones, and no dark picture.
struct NearsightedRecognizer : InkRecognizer {
    std::vector<std::vector<OcrWord>> read(const GreyImage& g, TextLayout layout) override {
        std::vector<std::vector<OcrWord>> lines = InkRecognizer::read(g, layout);
        if (!lines.empty() && (lines[0][0].box.height < 12 || lines[0][0].box.height > 40)) return {};
        return lines;
    }
};

TEST(Ocr, ASmallTilesLabelBesideBigTextIsReadEnlarged) {
    // The big words keep the picture at its size; the tile's 8 px label is read at 16.
    Canvas c(800, 400, PAPER);
    for (int64_t row = 0; row < 3; ++row) word(c, 40, 40 + 60 * row, 8);
    c.fill({520, 200, 799, 399}, Rgba{90, 90, 90, 255});
    for (int64_t i = 0; i < 8; ++i) c.fill({530 + i * 5, 380, 531 + i * 5, 387}, Rgba{255, 255, 255, 255});
    const std::vector<Rect> tiles = {{520.0 / 800, 200.0 / 400, 280.0 / 800, 200.0 / 400}};
    NearsightedRecognizer r;
    const auto out = readTiled(r, c, tiles);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_NEAR(out[3].box.y, 380.0 / 400, 0.01);
}

// A recogniser unsure of every reading: the same word for any ink, or a new one each time.
struct UnsureRecognizer : InkRecognizer {
    bool same = true;
    std::string prefix = "Jo";
    std::vector<std::vector<OcrWord>> read(const GreyImage& g, TextLayout layout) override {
        std::vector<std::vector<OcrWord>> lines = InkRecognizer::read(g, layout);
        for (std::vector<OcrWord>& line : lines) {
            for (OcrWord& w : line) {
                w.text = same ? "Jonas" : prefix + std::to_string(reads) + "nas";
                w.conf = 55.0f;
            }
        }
        return lines;
    }
};

TEST(Ocr, AnUnsureLabelStandsOnlyWhereItsLightPixelsReadTheSame) {
    Canvas c(800, 400, PAPER);
    c.fill({100, 100, 499, 299}, Rgba{100, 100, 100, 255});
    c.fill({120, 270, 180, 273}, Rgba{255, 255, 255, 255});
    const std::vector<Rect> tiles = {{100.0 / 800, 100.0 / 400, 400.0 / 800, 200.0 / 400}};
    for (const bool same : {true, false}) {
        SCOPED_TRACE(same);
        UnsureRecognizer r;
        r.same = same;
        const auto out = readTiled(r, c, tiles);
        EXPECT_EQ(out.size(), same ? 1u : 0u);
    }
}

TEST(Ocr, ALongWordInALabelsLightStrokesStandsUnconfirmedOnlyWhereItsLettersNeededNoEnlarging) {
    // A user name is no word the engine knows: it doubts it, and its readings differ. Doubted
    // words apart are pieces of a label.
    const struct {
        bool large;
        const char* prefix;
        size_t lines;
    } cases[] = {{true, "ccnex_pub_", 1}, {false, "ccnex_pub_", 0}, {true, "ame Mer s", 0}};
    for (const auto& [large, prefix, lines] : cases) {
        SCOPED_TRACE(prefix);
        SCOPED_TRACE(large);
        Canvas c(800, 400, PAPER);
        c.fill({100, 100, 499, 299}, Rgba{100, 100, 100, 255});
        if (large) {
            word(c, 120, 262, 4, Rgba{255, 255, 255, 255});
        } else {
            // Small print round it makes the picture one read enlarged.
            for (int64_t y = 30; y < 90; y += 20)
                for (int64_t x = 520; x < 604; x += 7) {
                    c.fill({x, y, x, y + 6}, INK);
                    c.fill({x + 3, y, x + 3, y + 6}, INK);
                    if (x % 3 == 0) c.fill({x, y - 3, x, y}, INK);
                }
            c.fill({120, 270, 180, 273}, Rgba{255, 255, 255, 255});
        }
        const std::vector<Rect> tiles = {{100.0 / 800, 100.0 / 400, 400.0 / 800, 200.0 / 400}};
        UnsureRecognizer r;
        r.same = false;
        r.prefix = prefix;
        EXPECT_EQ(readTiled(r, c, tiles).size(), lines);
    }
}

// A recogniser that reads the ink left of a wide gap as "John", unsure of it while more ink
// (an icon) lies beside it; read alone it is sure, and reads `alone`.
struct IconRecognizer : TextRecognizer {
    std::string alone = "John";
    std::vector<std::vector<OcrWord>> read(const GreyImage& g, TextLayout) override {
        std::vector<int64_t> columns;
        int64_t y0 = g.height, y1 = -1;
        for (int64_t x = 0; x < g.width; ++x)
            for (int64_t y = 0; y < g.height; ++y)
                if (g.pixels[static_cast<size_t>(y * g.width + x)] < 128) {
                    if (columns.empty() || columns.back() != x) columns.push_back(x);
                    y0 = std::min(y0, y), y1 = std::max(y1, y);
                }
        if (columns.empty()) return {};
        size_t end = 1;
        while (end < columns.size() && columns[end] - columns[end - 1] < 10) ++end;
        const bool icon = end < columns.size();
        const Rect box{double(columns.front()), double(y0), double(columns[end - 1] - columns.front() + 1),
                       double(y1 - y0 + 1)};
        return {{OcrWord{icon ? "John" : alone, icon ? 4.0f : 96.0f, box}}};
    }
};

TEST(Ocr, AWordTheEngineDoubtsBesideAnIconStandsWhenReadAloneAlike) {
    for (const char* alone : {"John", "Jahn"}) {
        SCOPED_TRACE(alone);
        Canvas c(400, 200, PAPER);
        word(c, 100, 80, 4);
        c.fill({170, 82, 185, 104}, INK);  // a crossed-out microphone
        IconRecognizer r;
        r.alone = alone;
        const auto out = texts(ocr(r, c.image()));
        EXPECT_EQ(out, std::string(alone) == "John" ? std::vector<std::string>{"John"} : std::vector<std::string>{});
    }
}

// An engine that passes over every line of a part taller than a few lines, and over letters
// under 14 px.
struct PageSkippingRecognizer : InkRecognizer {
    std::vector<std::vector<OcrWord>> read(const GreyImage& g, TextLayout layout) override {
        if (g.height > 200) return {};
        auto lines = InkRecognizer::read(g, layout);
        if (!lines.empty() && lines[0][0].box.height < 14) return {};
        return lines;
    }
};

TEST(Ocr, ALineInARegionGrownToPageSizeIsReadAloneAndEnlargedWhereTheRegionsReadingMissedIt) {
    // A column and a row of strokes (an avatar's edge, a dialog) make one region whose box
    // holds the label; the label's letters are 9 px, the captions' below 25 px.
    Canvas c(800, 600, PAPER);
    for (int64_t x = 20; x < 700; x += 7) c.fill({x, 20, x + 2, 45}, INK);
    for (int64_t x = 20; x < 90; x += 7) c.fill({x, 20, x + 2, 380}, INK);
    for (int64_t x = 400; x < 480; x += 4) c.fill({x, 300, x + 1, 308}, INK);
    word(c, 120, 450, 10);
    word(c, 120, 520, 10);
    PageSkippingRecognizer r;
    const auto out = ocr(r, c.image());
    ASSERT_EQ(out.size(), 3u);
    const auto label = std::find_if(out.begin(), out.end(), [](const TextObservation& l) { return l.box.y < 0.6; });
    ASSERT_NE(label, out.end());
    EXPECT_NEAR(label->box.x, 400.0 / 800, 0.01);
    EXPECT_NEAR(label->box.y, 300.0 / 600, 0.01);
    EXPECT_NEAR(label->box.height, 9.0 / 600, 0.004);
}

// A recogniser that reads a tile's label band (a part as wide as the tile) as `band`,
// `bandConf` sure, its light pixels alone (a two-tone picture) as `light` where given, the band
// turned dark as `turned` where given, and the label read in its own region as `region`,
// `regionConf` sure, `regionX` into the part.
struct BandRecognizer : TextRecognizer {
    std::string region, band, light, turned;
    float regionConf = 72.0f, bandConf = 95.0f, lightConf = 96.0f;
    double regionX = 12.0;
    std::vector<std::vector<OcrWord>> read(const GreyImage& g, TextLayout) override {
        const bool isBand = g.width == 400;
        const bool twoTone =
            std::all_of(g.pixels.begin(), g.pixels.end(), [](uint8_t p) { return p == 0 || p == 255; });
        if (isBand && twoTone && !light.empty()) return {{OcrWord{light, lightConf, {20, 10, 80, 25}}}};
        if (isBand && !twoTone && g.pixels.front() < 128 && !turned.empty())
            return {{OcrWord{turned, 96.0f, {20, 10, 80, 25}}}};
        return {{OcrWord{isBand ? band : region, isBand ? bandConf : regionConf,
                         {isBand ? 20.0 : regionX, 10, 80, 25}}}};
    }
};

// What `r` reads of a tile as wide as BandRecognizer's band, with a 6-letter label.
std::vector<std::string> readLabelledTile(TextRecognizer& r) {
    Canvas c(800, 400, PAPER);
    word(c, 120, 260, 6);
    return texts(readTiled(r, c, {{100.0 / 800, 100.0 / 400, 400.0 / 800, 200.0 / 400}}));
}

TEST(Ocr, ALabelReadDoubtedOrInPartGivesWayToItsBandsReadingOnlyWhereThatReadsItWhole) {
    struct Case {
        const char* region;
        const char* band;
        const char* read;
        float regionConf = 72.0f;
        double regionX = 12.0;
    };
    for (const Case& k : {Case{"mma Schi midt", "Emma Schmidt", "Emma Schmidt"},
                          Case{"phie Berger", "Sophie Berger", "Sophie Berger"},
                          Case{"Ana Ferreira", "Ana Fer reira", "Ana Ferreira"},
                          Case{"Håkon Berg", "Hàkon Berg", "Håkon Berg"},
                          // A sure line far into the band is the end of a label, or of its
                          // end word.
                          Case{"Okafor", "Amara Okafor", "Amara Okafor", 96.0f, 72.0},
                          Case{"phie Berger", "Sophie Berger", "Sophie Berger", 96.0f, 72.0}}) {
        SCOPED_TRACE(k.band);
        BandRecognizer r;
        r.region = k.region;
        r.band = k.band;
        r.regionConf = k.regionConf;
        r.regionX = k.regionX;
        EXPECT_EQ(readLabelledTile(r), std::vector<std::string>{k.read});
    }
}

TEST(Ocr, ABandReadAsNothingIsReadTurnedOverAndThatStandsOnlyThen) {
    for (const char* band : {"", "Mia Wagner"}) {
        SCOPED_TRACE(band);
        BandRecognizer r;
        r.band = band;
        r.turned = "Leilani Kahale";
        EXPECT_EQ(readLabelledTile(r), std::vector<std::string>{*band ? band : r.turned});
    }
}

TEST(Ocr, ALineOfNoLettersBesideALabelDoesNotHideTheBandsReadingOfIt) {
    // A row of icons beside the label reads as a sure "000000".
    for (const std::string icons : {"000000", "00000A"}) {
        SCOPED_TRACE(icons);
        BandRecognizer r;
        r.region = icons;
        r.regionConf = 96.0f;
        r.regionX = 72.0;
        r.band = "Anna Klein";
        const std::vector<std::string> read = readLabelledTile(r);
        EXPECT_EQ(std::count(read.begin(), read.end(), "Anna Klein"), icons == "000000" ? 1 : 0);
    }
}

TEST(Ocr, ABandReadWithDoubtGivesWayToItsLightPixelsReadingOnlyWhereThatIsSurerAndLonger) {
    struct Case {
        float bandConf;
        const char* light;
        float lightConf;
        const char* read;
    };
    for (const Case& k : {Case{71.0f, "Mia Wagner", 96.0f, "Mia Wagner"}, Case{71.0f, "Mia Wagner", 70.5f, "Mia Wagn"},
                          Case{90.0f, "Mia Wagner", 96.0f, "Mia Wagn"}, Case{71.0f, "Mia", 96.0f, "Mia Wagn"}}) {
        SCOPED_TRACE(testing::Message() << k.bandConf << " " << k.light << " " << k.lightConf);
        BandRecognizer r;
        r.region = r.band = "Mia Wagn";
        r.bandConf = k.bandConf;
        r.light = k.light;
        r.lightConf = k.lightConf;
        EXPECT_EQ(readLabelledTile(r), std::vector<std::string>{k.read});
    }
}

enum class Cut { None, Half, FirstLetter, Split };

// An engine whose reading of a part stops at the first half of its strokes ("Ana Fer"), loses
// its first letter ("na Ferreira") or splits a word ("Ana Fer reira"), and that reads a line
// given alone as `alone`. Counts the lines given alone.
struct CuttingRecognizer : InkRecognizer {
    std::string alone = "Ana Ferreira";
    Cut cut = Cut::Half;
    int lonely = 0;
    std::vector<std::vector<OcrWord>> read(const GreyImage& g, TextLayout layout) override {
        auto lines = InkRecognizer::read(g, layout);
        if (lines.empty()) return lines;
        OcrWord& w = lines[0][0];
        if (layout == TextLayout::SingleLine) {
            ++lonely;
            w.text = alone;
        } else if (cut == Cut::Half) {
            w.text = "Ana Fer";
            w.box.width /= 2;
        } else if (cut == Cut::FirstLetter || cut == Cut::Split) {
            w.text = cut == Cut::Split ? "Ana Fer reira" : "na Ferreira";
            w.box.x += 0.75 * w.box.height;
            w.box.width -= 0.75 * w.box.height;
        } else {
            w.text = "Ana Ferreira";
        }
        return lines;
    }
};

TEST(Ocr, ALineWhoseStrokesRunOnPastItsReadingIsReadAgainAloneAndStandsOnlyWhereThatAddsLetters) {
    struct Case {
        const char* what;
        Cut cut;
        const char* alone;
        bool chipEdge;
        std::string want;
        int lonely;
    };
    for (const Case& k : {Case{"cut short, read whole alone", Cut::Half, "Ana Ferreira", false, "Ana Ferreira", 1},
                          Case{"cut short, read otherwise alone", Cut::Half, "Anna Ferreira", false, "Ana Fer", 1},
                          Case{"cut short, an icon read with it", Cut::Half, "B4 Ana Fer", false, "Ana Fer", 1},
                          Case{"first letter lost, read whole alone", Cut::FirstLetter, "Ana Ferreira", false,
                               "Ana Ferreira", 1},
                          Case{"first letter lost, an icon read apart", Cut::FirstLetter, "Bi na Ferreira", false,
                               "na Ferreira", 1},
                          Case{"a word split, read whole alone", Cut::Split, "Ana Ferreira", false, "Ana Ferreira", 1},
                          Case{"a word split, read otherwise alone", Cut::Split, "Ana Ferreiro", false,
                               "Ana Fer reira", 1},
                          Case{"read whole, a chip's edge after it", Cut::None, "", true, "Ana Ferreira", 0}}) {
        SCOPED_TRACE(k.what);
        Canvas c(600, 200, PAPER);
        word(c, 100, 80, 6);
        if (k.chipEdge) c.fill({191, 76, 192, 109}, INK);
        CuttingRecognizer r;
        r.cut = k.cut;
        r.alone = k.alone;
        EXPECT_EQ(texts(ocr(r, c.image())), std::vector<std::string>{k.want});
        EXPECT_EQ(r.lonely, k.lonely);
    }
}

}  // namespace
}  // namespace tessival
