#include "analysis/participants.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/canvas.h"

namespace tessival {
namespace {

constexpr Rgba BG{24, 26, 30, 255};
constexpr Rgba GREEN{53, 194, 107, 255};

struct Line {
    std::string text;
    Rect box;
};

std::vector<TextObservation> observations(const std::vector<Line>& lines) {
    std::vector<TextObservation> out;
    for (const Line& l : lines) out.push_back({l.text, 0.95f, l.box});
    return out;
}

std::vector<std::string> texts(const ParticipantAnalysis& a) {
    std::vector<std::string> out;
    for (const TextObservation& n : a.names) out.push_back(n.text);
    return out;
}

struct PlaceCase {
    const char* name;
    std::vector<Rect> tiles;
    std::vector<Line> lines;
    std::vector<std::string> names;
};

TEST(Participants, NamesAreTheLabelsPlacedWhereTilesCarryThem) {
    const std::vector<Rect> grid = {{0.05, 0.05, 0.44, 0.44}, {0.51, 0.05, 0.44, 0.44},
                                    {0.05, 0.51, 0.44, 0.44}, {0.51, 0.51, 0.44, 0.44}};
    const std::vector<Line> prose = {{"Roadmap", {0.2, 0.15, 0.2, 0.03}},
                                     {"Offline mode for the field app", {0.2, 0.45, 0.5, 0.03}},
                                     {"Sync conflicts resolved on the server", {0.2, 0.52, 0.5, 0.03}},
                                     {"Faster start on old phones", {0.2, 0.59, 0.5, 0.03}}};
    std::vector<Line> page = prose;
    for (const char* word : {"Cloud", "Pricing", "Docs", "Community"})
        page.push_back({word, {0.3 + 0.1 * double(page.size() - prose.size()), 0.08, 0.06, 0.02}});
    // A page whose navigation was read word by word: more words than lines of prose.
    std::vector<Line> nav(prose.begin() + 1, prose.begin() + 3);
    for (const char* word : {"Cases", "Cloud", "Pricing", "Docs", "Community"})
        nav.push_back({word, {0.3 + 0.1 * double(nav.size()), 0.08, 0.06, 0.02}});
    const PlaceCase cases[] = {
        {"corner labels name their tiles (an icon after one read as a comma, one cut short, brackets misread)",
         grid,
         {{"Ana Silva", {0.06, 0.45, 0.1, 0.02}}, {"Ben Okafor,", {0.52, 0.45, 0.1, 0.02}},
          {"Cai Wen {Host}", {0.06, 0.91, 0.1, 0.02}}, {"Dora Lindqv..", {0.52, 0.91, 0.1, 0.02}}},
         {"Ana Silva", "Ben Okafor", "Cai Wen (Host)", "Dora Lindqv\u2026"}},
        {"a label at the top of a tile names it, not the tile right above it",
         {{0.1, 0.0, 0.4, 0.45}, {0.1, 0.45, 0.4, 0.45}},
         {{"Martina", {0.11, 0.02, 0.08, 0.02}}, {"Michael", {0.11, 0.46, 0.08, 0.02}}},
         {"Martina", "Michael"}},
        {"a label on a letterbox bar names the tile of its row",
         {{0.0, 0.05, 0.46, 0.44}, {0.56, 0.05, 0.4, 0.9}, {0.0, 0.51, 0.46, 0.44}},
         {{"Lewis", {0.5, 0.06, 0.03, 0.02}}, {"Nick", {0.5, 0.52, 0.03, 0.02}}},
         {"Lewis", "Nick"}},
        {"a label on the bar left of a gallery's first column names its tile",
         {{0.04, 0.05, 0.42, 0.44}, {0.54, 0.05, 0.42, 0.9}, {0.04, 0.51, 0.42, 0.44}},
         {{"Martina", {0.005, 0.06, 0.04, 0.02}}, {"Michael", {0.005, 0.52, 0.04, 0.02}}},
         {"Martina", "Michael"}},
        {"a chat's lines beside a stage's top name nobody",
         {{0.04, 0.1, 0.72, 0.75}},
         {{"John", {0.795, 0.11, 0.02, 0.01}}, {"Hello", {0.795, 0.13, 0.02, 0.01}}},
         {}},
        {"a row of names on a block without tiles is a stage",
         {{0.02, 0.05, 0.96, 0.8}},
         {{"Cdr. Addison", {0.14, 0.38, 0.06, 0.015}}, {"Rogers", {0.15, 0.4, 0.03, 0.015}},
          {"Maj. Sarah Reynolds", {0.25, 0.38, 0.09, 0.015}}, {"Lt. Leo Riley", {0.45, 0.38, 0.06, 0.015}},
          {"HOST", {0.16, 0.44, 0.02, 0.01}}},
         {"Cdr. Addison Rogers", "Maj. Sarah Reynolds", "Lt. Leo Riley"}},
        {"a row of short words on a page is no stage", {{0.02, 0.05, 0.96, 0.8}}, page, {}},
        {"nor are more such words than lines of prose", {{0.02, 0.05, 0.96, 0.8}}, nav, {}},
        {"lines outside every tile name nobody", grid, {{"Ana Silva", {0.4, 0.965, 0.1, 0.02}}}, {}},
        {"in the window's bottom-right corner, a tile's corner label names it; other text there nobody",
         {{0.01, 0.5, 0.24, 0.48}, {0.26, 0.5, 0.24, 0.48}, {0.51, 0.5, 0.24, 0.48}, {0.76, 0.5, 0.23, 0.48}},
         {{"Ana Silva", {0.02, 0.93, 0.1, 0.02}}, {"Ben Okafor", {0.77, 0.93, 0.1, 0.02}},
          {"Cai Wen", {0.89, 0.95, 0.08, 0.02}}},
         {"Ana Silva", "Ben Okafor"}},
        {"words in a row along a picture's bottom are a chart's axis, not its label",
         grid,
         {{"may", {0.1, 0.45, 0.03, 0.02}}, {"Sep", {0.25, 0.45, 0.03, 0.02}}, {"Ben Okafor", {0.52, 0.45, 0.1, 0.02}}},
         {"Ben Okafor"}},
        {"a status icon in a tile's other corner read as a word leaves its label alone on its level",
         grid,
         {{"rtjmk_pub_0", {0.06, 0.45, 0.1, 0.02}}, {"all", {0.46, 0.45, 0.02, 0.02}},
          {"Ben Okafor", {0.52, 0.45, 0.1, 0.02}}},
         {"rtjmk_pub_0", "Ben Okafor"}},
        {"a block full of other text (a banner, a name in a box on it) names nobody",
         grid,
         {{"Start and join meetings for free", {0.06, 0.1, 0.3, 0.03}}, {"No account needed", {0.06, 0.2, 0.15, 0.02}},
          {"Start meeting", {0.3, 0.3, 0.1, 0.02}}, {"Wendy Park", {0.06, 0.45, 0.1, 0.02}},
          {"Ben Okafor", {0.52, 0.45, 0.1, 0.02}}},
         {"Ben Okafor"}},
        {"a label where a filmstrip's next tile would be names that tile; a banner level with it, nobody",
         {{0.04, 0.25, 0.15, 0.125}, {0.04, 0.385, 0.15, 0.125}, {0.04, 0.52, 0.15, 0.125}, {0.2, 0.25, 0.76, 0.59}},
         {{"ocupe", {0.07, 0.215, 0.03, 0.01}}, {"Introducing Cloud Plans", {0.45, 0.218, 0.15, 0.012}}},
         {"ocupe"}},
        {"a name bar under a thumbnail floating on the speaker's picture names the thumbnail",
         {{0.3, 0.0, 0.7, 1.0}, {0.8, 0.31, 0.2, 0.2}},
         {{"Frank Zappa", {0.845, 0.517, 0.06, 0.015}}},
         {"Frank Zappa"}},
        {"a label under a tile found short, level with the labels on the tiles beside it, names it",
         {{0.1, 0.6, 0.2, 0.3}, {0.32, 0.6, 0.2, 0.25}, {0.54, 0.6, 0.2, 0.3}},
         {{"Ana Silva", {0.11, 0.87, 0.08, 0.02}}, {"Ben Okafor", {0.33, 0.87, 0.08, 0.02}},
          {"Cai Wen", {0.55, 0.87, 0.08, 0.02}}},
         {"Ana Silva", "Ben Okafor", "Cai Wen"}},
        {"a corner label read with a colon names its tile; a caption's speaker over the caption, nobody",
         grid,
         {{"Ana Silva:", {0.06, 0.45, 0.1, 0.02}}, {"Ben Okafor:", {0.52, 0.4, 0.1, 0.02}},
          {"Thanks, see you all tomorrow.", {0.52, 0.444, 0.3, 0.02}}},
         {"Ana Silva"}},
        {"a name heading a sentence is its author, not a label",
         grid,
         {{"Ana Silva", {0.06, 0.4, 0.1, 0.02}}, {"Thanks, see you all tomorrow.", {0.06, 0.444, 0.3, 0.02}},
          {"Ben Okafor", {0.52, 0.45, 0.1, 0.02}}},
         {"Ben Okafor"}},
        {"a card with a button on it names nobody",
         grid,
         {{"Blazing", {0.22, 0.25, 0.08, 0.02}}, {"Join Activity", {0.21, 0.29, 0.1, 0.02}},
          {"Ben Okafor", {0.52, 0.45, 0.1, 0.02}}},
         {"Ben Okafor"}},
        {"a header beside a side panel the window's height names nobody",
         {{0.0, 0.0, 0.2, 1.0}, {0.22, 0.2, 0.76, 0.6}},
         {{"vc-general", {0.25, 0.03, 0.06, 0.02}}},
         {}},
        {"a browser's tab title over its address bar names nobody, though a tile was found round it",
         {{0.1, 0.02, 0.12, 0.05}, {0.05, 0.12, 0.44, 0.4}, {0.51, 0.12, 0.44, 0.4}},
         {{"LiveKit Meet", {0.11, 0.03, 0.06, 0.01}}, {"meet.example.app/rooms/qoad", {0.12, 0.075, 0.3, 0.012}},
          {"Ana Silva", {0.06, 0.49, 0.1, 0.02}}},
         {"Ana Silva"}},
        {"a header level with a tile's top but away from it names nobody",
         {{0.3, 0.0, 0.7, 0.98}, {0.02, 0.5, 0.2, 0.3}},
         {{"room-htrljzgyqg", {0.03, 0.02, 0.08, 0.02}}},
         {}},
    };
    for (const PlaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Canvas canvas(800, 500, BG);
        const TileLayout layout{c.tiles, std::vector<uint32_t>(c.tiles.size(), 0x1e1a18)};
        const ParticipantAnalysis a = analyzeParticipants(canvas.image(), observations(c.lines), "", layout);
        EXPECT_EQ(texts(a), c.names);
    }
}

TEST(Participants, LabelsOnTheBarsOfTwoPicturesOfOneSizeProveACall) {
    const Canvas canvas(800, 500, BG);
    const std::vector<Line> labels = {{"Martina", {0.005, 0.06, 0.04, 0.02}}, {"Michael", {0.005, 0.52, 0.04, 0.02}}};
    const auto proven = [&](const std::vector<Rect>& tiles) {
        const TileLayout layout{tiles, std::vector<uint32_t>(tiles.size(), 0x1e1a18)};
        return analyzeParticipants(canvas.image(), observations(labels), "", layout).evidence;
    };
    EXPECT_TRUE(proven({{0.04, 0.05, 0.42, 0.44}, {0.04, 0.51, 0.42, 0.44}}));
    // A photo and a picture of another size with captions beside them are a page.
    EXPECT_FALSE(proven({{0.04, 0.05, 0.42, 0.44}, {0.04, 0.51, 0.3, 0.3}}));
}

TEST(Participants, LabelsAtTheSamePlaceInEachCellOfABlockSplitItIntoTiles) {
    // Four cameras drawn edge to edge: one block in the pixels, a label at each quarter's
    // top-left corner. A row of names on a stage is not split (see above).
    const Canvas canvas(800, 500, BG);
    const TileLayout layout{{{0.4, 0.2, 0.4, 0.6}}, {0x1e1a18}};
    const std::vector<Line> lines = {{"Alice", {0.401, 0.202, 0.03, 0.02}}, {"Bob", {0.601, 0.202, 0.02, 0.02}},
                                     {"Charlie", {0.402, 0.502, 0.04, 0.02}}, {"Diana", {0.601, 0.503, 0.03, 0.02}}};
    const ParticipantAnalysis a = analyzeParticipants(canvas.image(), observations(lines), "", layout);
    ASSERT_EQ(texts(a), (std::vector<std::string>{"Alice", "Bob", "Charlie", "Diana"}));
    EXPECT_TRUE(a.evidence);
    EXPECT_EQ(a.drawnTiles.size(), 4u);
    EXPECT_NEAR(a.tiles[3].x, 0.6, 1e-9);
    EXPECT_NEAR(a.tiles[3].y, 0.5, 1e-9);

    // Two labels split a block only where its halves are of a gallery tile's size.
    const std::vector<Line> pair = {{"Charlie", {0.401, 0.502, 0.04, 0.02}}, {"Diana", {0.601, 0.503, 0.03, 0.02}}};
    const TileLayout row{{{0.4, 0.2, 0.2, 0.3}, {0.4, 0.5, 0.4, 0.3}}, {0x1e1a18, 0x1e1a18}};
    const ParticipantAnalysis twins = analyzeParticipants(canvas.image(), observations(pair), "", row);
    ASSERT_EQ(texts(twins), (std::vector<std::string>{"Charlie", "Diana"}));
    EXPECT_NEAR(twins.tiles[1].x, 0.6, 1e-9);
    EXPECT_NEAR(twins.tiles[1].width, 0.2, 1e-9);
    const TileLayout unlike{{{0.05, 0.05, 0.1, 0.1}, row.tiles[1]}, {0x1e1a18, 0x1e1a18}};
    EXPECT_EQ(analyzeParticipants(canvas.image(), observations(pair), "", unlike).drawnTiles.size(), 2u);
}

TEST(Participants, ATileOnAStageEndsWhereTheStageDoesAndItsCornerLabelNamesIt) {
    const Canvas canvas(800, 500, BG);
    const Rect stage{0.04, 0.1, 0.72, 0.7};
    const TileLayout layout{{stage}, {0x1e1a18}};
    const std::vector<Line> lines = {{"John", {0.05, 0.77, 0.02, 0.015}}, {"You", {0.64, 0.77, 0.02, 0.015}}};
    const ParticipantAnalysis a = analyzeParticipants(canvas.image(), observations(lines), "", layout);
    ASSERT_EQ(texts(a), (std::vector<std::string>{"John", "You"}));
    for (const Rect& t : a.tiles) EXPECT_NEAR(t.intersection(stage).area(), t.area(), 1e-9);
    // The label in its lower left corner is the stage's own.
    EXPECT_EQ(a.tiles[0], stage);
    EXPECT_LT(a.tiles[1].area(), stage.area() / 2);
}

TEST(Participants, ADoubtedNameTakesTheSpellingOfASureReadingOfItElsewhere) {
    const Canvas canvas(800, 500, BG);
    const std::vector<Rect> grid = {{0.05, 0.05, 0.44, 0.44}, {0.51, 0.05, 0.44, 0.44}};
    const TileLayout layout{grid, {0x1e1a18, 0x1e1a18}};
    struct Case {
        const char* name;
        float conf;
        std::vector<std::string> elsewhere;  // sure lines in a panel beside the tiles
        std::string want;
        std::string neighbour = "Ana Silva";  // the other tile's label
    };
    const Case cases[] = {
        {"damo", 0.82f, {"demo at 22:46, 9 May 2021"}, "demo"},
        {"Vaten Fernandez", 0.8f, {"Valen Fernandez"}, "Valen Fernandez"},
        {"damo", 0.95f, {"demo at 22:46"}, "damo"},                  // a sure reading stands
        {"Anna", 0.8f, {"Anne Berg", "Ana Lopez"}, "Anna"},          // the others disagree
        {"Dan", 0.8f, {"Dana"}, "Dan"},                              // too short to tell
        {"user_pub_0", 0.8f, {"user_pub_2"}, "user_pub_0"},          // a digit tells people apart
        {"Anne", 0.8f, {}, "Anne", "Anna"},                          // another tile's label is another person
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TextObservation> lines = {{c.neighbour, 0.95f, {0.06, 0.45, 0.1, 0.02}},
                                              {c.name, c.conf, {0.52, 0.45, 0.1, 0.02}}};
        for (size_t i = 0; i < c.elsewhere.size(); ++i)
            lines.push_back({c.elsewhere[i], 0.96f, {0.97, 0.1 + 0.1 * double(i), 0.02, 0.02}});
        const ParticipantAnalysis a = analyzeParticipants(canvas.image(), lines, "", layout);
        ASSERT_EQ(a.names.size(), 2u);
        EXPECT_EQ(a.names[1].text, c.want);
    }
}

TEST(Participants, TheRingNamesTheTileItSurroundsAndNothingAcrossATileEdge) {
    const std::vector<PixelBox> tiles = {{40, 40, 380, 240}, {420, 40, 760, 240}, {40, 260, 380, 460}, {420, 260, 760, 460}};
    const std::vector<std::string> names = {"Ana Silva", "Ben Okafor", "Cai Wen", "Dora Lind"};
    struct RingCase {
        const char* name;
        PixelBox ring;
        std::string speaker;  // empty: nobody
        bool dorasLabelRead = true;
        bool anaFramed = false;  // a blue frame round the first tile
    } cases[] = {
        {"round a tile", {420, 260, 760, 460}, "Dora Lind"},
        {"across two tiles' edge", {200, 120, 560, 360}, ""},
        {"round a tile whose label was not read, beside another tile's frame", {420, 260, 760, 460}, "", false, true},
    };
    for (const RingCase& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(800, 500, BG);
        std::vector<Rect> normalised;
        std::vector<Line> lines;
        for (size_t i = 0; i < tiles.size(); ++i) {
            const PixelBox& t = tiles[i];
            canvas.fill(t, Rgba{uint8_t(90 + 25 * i), uint8_t(90 + 25 * i), uint8_t(90 + 25 * i), 255});
            normalised.push_back({t.x0 / 800.0, t.y0 / 500.0, (t.x1 - t.x0 + 1) / 800.0, (t.y1 - t.y0 + 1) / 500.0});
            if (c.dorasLabelRead || names[i] != "Dora Lind")
                lines.push_back({names[i], {(t.x0 + 6) / 800.0, (t.y1 - 20) / 500.0, 0.1, 0.03}});
        }
        if (c.anaFramed) canvas.outline(tiles[0], 3, Rgba{60, 140, 255, 255});
        canvas.outline(c.ring, 4, GREEN);
        const TileLayout layout{normalised, std::vector<uint32_t>(normalised.size(), 0x1e1a18)};
        const ParticipantAnalysis a = analyzeParticipants(canvas.image(), observations(lines), "", layout);
        ASSERT_TRUE(a.ring.best.has_value());
        if (c.speaker.empty()) {
            EXPECT_EQ(a.speaker, -1);
        } else {
            ASSERT_GE(a.speaker, 0);
            EXPECT_EQ(a.names[static_cast<size_t>(a.speaker)].text, c.speaker);
            EXPECT_EQ(a.speakerSource, SpeakerSource::Ring);
        }
    }
}

TEST(Participants, ABorderMarksATileOfAGalleryOrStripNotAPictureOfItsOwnSize) {
    // Two thumbnails and a smaller picture (a chart posted in the chat), each with a label.
    const std::vector<PixelBox> tiles = {{500, 40, 760, 190}, {500, 210, 760, 360}, {40, 100, 240, 200}};
    for (const size_t framed : {size_t{1}, size_t{2}}) {
        SCOPED_TRACE(framed);
        Canvas canvas(800, 500, BG);
        std::vector<Rect> normalised;
        std::vector<Line> lines;
        for (size_t i = 0; i < tiles.size(); ++i) {
            const PixelBox& t = tiles[i];
            canvas.fill(t, Rgba{uint8_t(90 + 25 * i), 90, 90, 255});
            normalised.push_back({t.x0 / 800.0, t.y0 / 500.0, (t.x1 - t.x0 + 1) / 800.0, (t.y1 - t.y0 + 1) / 500.0});
            lines.push_back({"Name " + std::string(1, char('A' + i)), {(t.x0 + 6) / 800.0, (t.y1 - 20) / 500.0, 0.1, 0.03}});
        }
        canvas.outline(tiles[framed], 3, Rgba{235, 235, 235, 255});
        const TileLayout layout{normalised, std::vector<uint32_t>(normalised.size(), 0x1e1a18)};
        const ParticipantAnalysis a = analyzeParticipants(canvas.image(), observations(lines), "", layout);
        EXPECT_EQ(a.speaker < 0 ? "" : a.names[static_cast<size_t>(a.speaker)].text, framed == 1 ? "Name B" : "");
    }
}

TEST(Participants, AGreenRingRoundNobodyIsNoProofOfACall) {
    // A page with a green-ringed logo and a few short lines, and no tiles.
    Canvas canvas(800, 500, Rgba{245, 245, 245, 255});
    canvas.outline({370, 60, 429, 119}, 4, GREEN);
    const std::vector<Line> lines = {{"Public Chat", {0.05, 0.3, 0.1, 0.03}}, {"Shared Notes", {0.05, 0.4, 0.1, 0.03}}};
    const ParticipantAnalysis a = analyzeParticipants(canvas.image(), observations(lines), "", std::nullopt);
    ASSERT_TRUE(a.ring.best.has_value());
    EXPECT_EQ(a.speaker, -1);
    EXPECT_FALSE(a.evidence);
}

TEST(Participants, OnePersonAloneWithNoTilesDrawnFillsTheStageAndIsNoSpeakerByTheWindowsFrame) {
    // A camera-off call of one: an initial on the window's own colour, the label at the
    // bottom-left, a light frame round the window.
    Canvas canvas(800, 500, BG);
    canvas.fill({360, 180, 440, 260}, Rgba{220, 60, 120, 255});
    canvas.outline({0, 0, 799, 499}, 3, Rgba{235, 235, 235, 255});
    const std::vector<Line> lines = {{"Henry Lin", {0.01, 0.8, 0.08, 0.03}}};
    const ParticipantAnalysis a = analyzeParticipants(canvas.image(), observations(lines), "", std::nullopt);
    ASSERT_EQ(a.tiles.size(), 1u);
    EXPECT_NEAR(a.tiles[0].x, 0.0, 1e-9);
    EXPECT_NEAR(a.tiles[0].width, 1.0, 1e-9);
    EXPECT_NEAR(a.tiles[0].maxY(), 0.86, 1e-9);
    EXPECT_EQ(a.speaker, -1);
}

TEST(Participants, AClearRingInsideALargerTileNamesTheLabelWithinIt) {
    // A letterboxed camera on a stage found as one large tile: the ring is the camera's.
    Canvas canvas(800, 500, BG);
    canvas.fill({40, 40, 760, 460}, Rgba{90, 90, 90, 255});
    canvas.outline({200, 100, 600, 420}, 4, GREEN);
    const TileLayout layout{{{40 / 800.0, 40 / 500.0, 721 / 800.0, 421 / 500.0}}, {0x1e1a18}};
    const std::vector<Line> lines = {{"Dora Lind", {210 / 800.0, 395 / 500.0, 0.1, 0.03}}};
    const ParticipantAnalysis a = analyzeParticipants(canvas.image(), observations(lines), "", layout);
    ASSERT_TRUE(a.ring.best.has_value());
    EXPECT_EQ(a.speaker, 0);
    EXPECT_EQ(a.speakerSource, SpeakerSource::Ring);
}

TEST(Participants, CallControlsCountOnlyInARowOfThem) {
    const struct {
        const char* what;
        std::vector<Line> lines;
        int hits;
    } cases[] = {
        {"captions level with each other", {{"Mute", {0.1, 0.9, 0.04, 0.02}}, {"Leave", {0.8, 0.905, 0.04, 0.02}}}, 2},
        {"one line running controls together", {{"Mute Participants Reactions", {0.1, 0.9, 0.3, 0.02}}}, 3},
        {"a code editor's words alone on their lines",
         {{"Share", {0.3, 0.2, 0.04, 0.02}}, {"leave", {0.3, 0.5, 0.04, 0.02}}, {"Mute", {0.3, 0.7, 0.04, 0.02}}},
         0},
        {"one control twice on a level", {{"Mute", {0.1, 0.9, 0.04, 0.02}}, {"Mute", {0.5, 0.9, 0.04, 0.02}}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(toolbarHits(observations(c.lines)), c.hits);
    }
}

}  // namespace
}  // namespace tessival
