#include "command/capture_handlers.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "analysis/tile_inference.h"
#include "testing/canvas.h"
#include "testing/fake_window_chooser.h"
#include "testing/fake_window_system.h"
#include "testing/log_capture.h"

namespace tessival {
namespace {

// A reader that reads what the test scripted.
struct ScriptedReader : TextReader {
    std::vector<TextObservation> lines;
    int calls = 0;
    bool fail = false;
    void add(std::string text, Rect topLeftBox, float conf = 0.9f) {
        lines.push_back({std::move(text), conf, topLeftBox});
    }
    std::vector<TextObservation> read(const Image&, uint64_t, const std::vector<Rect>&) override {
        ++calls;
        if (fail) throw PlatformError("engine failed");
        return lines;
    }
};

constexpr Rgba DARK{30, 30, 30, 255};
constexpr Rgba GREEN{53, 194, 107, 255};

WindowFacts window(uint32_t id, std::string app, std::string title, Rect frame = {100, 100, 400, 250}) {
    return testWindow(id, frame, std::move(app), std::move(title), 500 + static_cast<pid_t>(id));
}

class CaptureHandlerTest : public ::testing::Test {
protected:
    CaptureHandlerTest() { ws.displays = {{1, {0, 0, 1920, 1080}}}; }

    CaptureHandlers handlers() { return CaptureHandlers(Services{ws, ocr, log.out, lock}); }

    // A 2x capture of a 400 x 250 window: two tiles side by side, the left one ringed.
    static Image galleryWithRing(bool ring) {
        Canvas c(800, 500, DARK, PixelOrder::BlueFirst);
        // Two tiles, each with an avatar.
        c.fill({20, 40, 390, 260}, Rgba{70, 80, 90, 255});
        c.fill({410, 40, 780, 260}, Rgba{90, 80, 70, 255});
        c.ring(205, 150, 0, 50, Rgba{200, 120, 60, 255});
        c.ring(595, 150, 0, 50, Rgba{60, 120, 200, 255});
        if (ring) c.outline({16, 36, 394, 264}, 4, GREEN);
        return c.image();
    }

    void nameLabels() {
        ocr.add("Ana Silva", {0.05, 0.47, 0.12, 0.03});
        ocr.add("Tom Okafor", {0.55, 0.47, 0.14, 0.03});
    }

    bool logged(const std::string& prefix) const {
        const auto lines = log.logLines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }

    FakeWindowSystem ws;
    ScriptedReader ocr;
    CapturedOutput log;
    WindowLock lock;
};

TEST_F(CaptureHandlerTest, MeetingWindowWithoutEvidenceGetsNamesAndNoLock) {
    ws.windows = {window(7, "zoom.us", "Zoom Meeting")};
    ws.imageFor[7] = galleryWithRing(false);
    nameLabels();
    const Answer a = handlers().capture(std::nullopt);
    EXPECT_EQ(a["ok"], true);
    ASSERT_EQ(a["names"].size(), 2u);
    EXPECT_EQ(a["names"][0]["text"], "Ana Silva");
    EXPECT_EQ(a["names"][1]["text"], "Tom Okafor");
    EXPECT_NEAR(a["names"][0]["bbox"][1].get<double>(), 0.47, 1e-9);
    EXPECT_EQ(a["names"][0].size(), 6u);
    EXPECT_EQ(a["window"]["app"], "zoom.us");
    EXPECT_EQ(a["window"].size(), 10u);
    EXPECT_EQ(a["window"]["source"], "x11");
    EXPECT_FALSE(a.contains("unproven"));
    EXPECT_FALSE(a.contains("ring_crop"));
    EXPECT_FALSE(lock.lockedWindowID);
    EXPECT_FALSE(logged("[tessival] lock engaged"));
    EXPECT_TRUE(logged("[ring] no blob"));
    EXPECT_TRUE(logged("[tessival] CAPTURE names(2): \"Ana Silva\" [0.05,0.47] ring=0.00 | "
                       "\"Tom Okafor\" [0.55,0.47] ring=0.00 -> highlight=none"));
    // The capture is taken at twice the window's size.
    ASSERT_EQ(ws.captures.size(), 1u);
    EXPECT_EQ(ws.captures[0].outWidth, 800);
    EXPECT_EQ(ws.captures[0].outHeight, 500);
}

TEST_F(CaptureHandlerTest, UnprovenWindowProvenByCallControlsEngagesTheLock) {
    ws.windows = {window(3, "Chromium", "Inbox")};
    ws.imageFor[3] = galleryWithRing(false);
    nameLabels();
    ocr.add("Mute", {0.1, 0.9, 0.05, 0.03});
    ocr.add("Leave", {0.8, 0.9, 0.05, 0.03});
    const Answer a = handlers().capture(std::nullopt);
    EXPECT_EQ(a["names"].size(), 2u);
    EXPECT_FALSE(a.contains("unproven"));
    EXPECT_EQ(lock.lockedWindowID, 3u);
    EXPECT_TRUE(logged("[tessival] lock engaged (call-ui x2): app=\"Chromium\" title=\"Inbox\""));
}

TEST_F(CaptureHandlerTest, RingIsTheLockReasonEvenWithCallControls) {
    ws.windows = {window(3, "Chromium", "Inbox")};
    ws.imageFor[3] = galleryWithRing(true);
    nameLabels();
    for (const char* w : {"Mute", "Leave", "Participants"}) ocr.add(w, {0.4, 0.9, 0.05, 0.03});
    const Answer a = handlers().capture(std::nullopt);
    EXPECT_EQ(a["names"].size(), 2u);
    EXPECT_TRUE(logged("[tessival] lock engaged (ring detected): app=\"Chromium\" title=\"Inbox\""));
    EXPECT_TRUE(logged("[ring] blobs="));
    ASSERT_TRUE(a.contains("ring_rect"));
    EXPECT_LT(a["ring_rect"][0].get<double>(), 0.05);
    EXPECT_NEAR(a["ring_rect"][2].get<double>(), 0.5, 0.05);
    EXPECT_TRUE(a.contains("ring_crop"));
    EXPECT_TRUE(a.contains("ring_score"));
}

TEST_F(CaptureHandlerTest, UnprovenWindowWithOneControlAnswersNoNames) {
    ws.windows = {window(3, "Chromium", "Inbox")};
    // No tiles drawn either (two named tiles would prove a call).
    ws.imageFor[3] = Canvas(800, 500, DARK, PixelOrder::BlueFirst).image();
    nameLabels();
    ocr.add("Mute", {0.1, 0.9, 0.05, 0.03});
    const Answer a = handlers().capture(std::nullopt);
    EXPECT_EQ(a, (Answer{{"ok", true}, {"window", a["window"]}, {"names", Answer::array()}, {"unproven", true}}));
    EXPECT_FALSE(lock.lockedWindowID);
    EXPECT_FALSE(logged("[ring]"));
    // A control alone on its level is no toolbar.
    EXPECT_TRUE(logged("[tessival] UNPROVEN window, no call-UI/ring content (call-ui x0, ocr strings 3) "
                       "\u2014 emitting no names: app=\"Chromium\" title=\"Inbox\""));
}

TEST_F(CaptureHandlerTest, LockHeldOnThisWindowIsNotEngagedAgain) {
    ws.windows = {window(3, "Chromium", "Inbox")};
    ws.imageFor[3] = galleryWithRing(true);
    nameLabels();
    handlers().capture(std::nullopt);
    handlers().capture(std::nullopt);
    const auto lines = log.logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("[tessival] lock engaged", 0) == 0; }),
              1);
    EXPECT_TRUE(logged("[tessival] capture window (locked): app=\"Chromium\""));
}

TEST_F(CaptureHandlerTest, NamesAreFilteredButNeverMerged) {
    ws.windows = {window(7, "zoom.us", "Zoom Meeting")};
    // No tiles drawn: the text filters alone decide.
    ws.imageFor[7] = Canvas(800, 500, DARK, PixelOrder::BlueFirst).image();
    ocr.add("Ana Silva", {0.05, 0.47, 0.12, 0.03});
    ocr.add("Ana Silva", {0.55, 0.47, 0.12, 0.03});
    ocr.add("Watermark Name", {0.75, 0.88, 0.10, 0.04});  // centre (0.80, 0.90): dropped
    ocr.add("Centre Name", {0.75, 0.48, 0.10, 0.04});     // centre (0.80, 0.50): kept
    ocr.add("zoom", {0.3, 0.3, 0.05, 0.03});
    ocr.add("Stop Video", {0.1, 0.95, 0.1, 0.03});
    const Answer a = handlers().capture(std::nullopt);
    std::vector<std::string> texts;
    for (const auto& n : a["names"]) texts.push_back(n["text"]);
    EXPECT_EQ(texts, (std::vector<std::string>{"Ana Silva", "Ana Silva", "Centre Name"}));
}

TEST_F(CaptureHandlerTest, RingWithoutNamesStillGivesTheCrop) {
    ws.windows = {window(7, "zoom.us", "Zoom Meeting")};
    ws.imageFor[7] = galleryWithRing(true);
    CaptureHandlers h = handlers();
    for (bool engineFails : {false, true, true}) {
        ocr.fail = engineFails;
        const Answer a = h.capture(std::nullopt);
        EXPECT_TRUE(a["names"].empty()) << engineFails;
        EXPECT_TRUE(a.contains("ring_crop")) << engineFails;
        EXPECT_TRUE(a.contains("ring_rect")) << engineFails;
    }
    const auto lines = log.logLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "[tessival] text recognition failed, reading no text: engine failed"),
              1)
        << "a failure repeated on every capture is logged once";
}

TEST_F(CaptureHandlerTest, TitleWithLineBreaksStaysOneLogLine) {
    ws.windows = {window(3, "Chromium", "Inbox\n[tessival] forged\r")};
    ocr.add("Mute", {0.1, 0.9, 0.05, 0.03});
    handlers().capture(std::nullopt);
    handlers().captureFrame(std::nullopt);
    EXPECT_TRUE(logged("[tessival] UNPROVEN window"));
    EXPECT_TRUE(logged("[tessival] CAPTURE_FRAME refused"));
    for (const std::string& line : log.logLines()) EXPECT_NE(line.rfind("[tessival] forged", 0), 0u) << line;
}

TEST_F(CaptureHandlerTest, HighlightedBorderGivesATileCropBesideARingRoundNobody) {
    ws.windows = {window(7, "zoom.us", "Zoom Meeting")};
    ocr.add("Ana Silva", {0.05, 0.40, 0.12, 0.03});
    ocr.add("Tom Okafor", {0.55, 0.40, 0.14, 0.03});
    // A bright yellow border, not a ring colour, round the tile inferred for the second name,
    // and a green ring round no name (a picture's green) below the first.
    const Rect t = inferTiles({{0.05, 0.40, 0.12, 0.03}, {0.55, 0.40, 0.14, 0.03}})[1];
    Canvas c(800, 500, DARK, PixelOrder::BlueFirst);
    c.outline({static_cast<int64_t>(t.x * 800), static_cast<int64_t>(t.y * 500),
               static_cast<int64_t>(t.maxX() * 800) - 1, static_cast<int64_t>(t.maxY() * 500) - 1},
              6, Rgba{250, 220, 40, 255});
    c.outline({20, 300, 220, 470}, 4, GREEN);
    ws.imageFor[7] = c.image();
    const Answer a = handlers().capture(std::nullopt);
    ASSERT_EQ(a["names"].size(), 2u);
    EXPECT_EQ(a["names"][0]["highlighted"], false);
    EXPECT_EQ(a["names"][1]["highlighted"], true);
    EXPECT_GE(a["names"][1]["highlight_score"].get<double>(), 0.15);
    EXPECT_TRUE(logged("[ring] blobs="));
    ASSERT_TRUE(a.contains("ring_score"));
    EXPECT_EQ(a["ring_score"], a["names"][1]["highlight_score"]);
    EXPECT_TRUE(logged("[ring] tile-highlight crop: \"Tom Okafor\" score="));
    EXPECT_EQ(a["speaker"]["text"], "Tom Okafor");
}

TEST_F(CaptureHandlerTest, FailuresBecomeAnswers) {
    EXPECT_EQ(handlers().capture(std::nullopt), (Answer{{"ok", false}, {"error", "no meeting window found"}}));
    EXPECT_EQ(handlers().captureFrame(std::nullopt),
              (Answer{{"ok", false}, {"error", "no meeting window found"}}));
    EXPECT_EQ(handlers().captureSlide(std::nullopt),
              (Answer{{"ok", false}, {"error", "no shared-screen or slide window found"}}));
    ws.failContent = true;
    ws.failureText = "cannot connect to the X server";
    const Answer a = runHandler([&] { return handlers().capture(std::nullopt); });
    EXPECT_EQ(a, (Answer{{"ok", false}, {"error", "cannot connect to the X server"}}));
}

TEST_F(CaptureHandlerTest, FrameRefusesUnprovenWindowsWithFewControls) {
    ws.windows = {window(3, "Chromium", "Inbox")};
    ocr.add("Mute", {0.1, 0.9, 0.05, 0.03});
    const Answer refused = handlers().captureFrame(std::nullopt);
    EXPECT_EQ(refused, (Answer{{"ok", true}, {"window", refused["window"]}, {"unproven", true}}));
    EXPECT_TRUE(logged("[tessival] CAPTURE_FRAME refused \u2014 UNPROVEN window (call-ui x0): "
                       "app=\"Chromium\" title=\"Inbox\""));
    ocr.add("Leave", {0.8, 0.9, 0.05, 0.03});
    const Answer accepted = handlers().captureFrame(std::nullopt);
    EXPECT_TRUE(accepted.contains("full_frame"));
    EXPECT_FALSE(lock.lockedWindowID);  // the frame capture never locks
}

TEST_F(CaptureHandlerTest, FrameCropsToTheGalleryWhenNamesFrameIt) {
    ws.windows = {window(7, "zoom.us", "Zoom Meeting", {0, 0, 1600, 1000})};
    ocr.add("Ana Silva", {0.20, 0.30, 0.06, 0.02});
    ocr.add("Tom Okafor", {0.40, 0.30, 0.06, 0.02});
    const Answer a = handlers().captureFrame(std::nullopt);
    ASSERT_TRUE(a.contains("full_frame"));
    EXPECT_TRUE(logged("[tessival] CAPTURE_FRAME gallery crop "));
    EXPECT_TRUE(logged("[tessival] CAPTURE_FRAME "));
}

TEST_F(CaptureHandlerTest, FrameOfALargeWindowIsShrunkTo1280) {
    ws.windows = {window(7, "zoom.us", "Zoom Meeting", {0, 0, 1280, 800})};
    const Answer a = handlers().captureFrame(std::nullopt);
    ASSERT_TRUE(a.contains("full_frame"));
    EXPECT_FALSE(logged("[tessival] CAPTURE_FRAME gallery crop"));
    EXPECT_TRUE(logged("[tessival] CAPTURE_FRAME 1280x800 (roster)"));
}

TEST(GalleryRect, PaddedClampedAndBounded) {
    // Two tiles in the middle: padded by 0.04 each side.
    auto r = galleryRect({{0.3, 0.3, 0.1, 0.1}, {0.5, 0.3, 0.1, 0.1}}, 1000, 1000);
    ASSERT_TRUE(r);
    EXPECT_NEAR(r->x, 260, 1e-9);
    EXPECT_NEAR(r->width, 380, 1e-9);
    // Touching the edges: clamped to the image.
    r = galleryRect({{0.0, 0.0, 0.3, 0.3}, {0.3, 0.0, 0.3, 0.3}}, 1000, 1000);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->x, 0);
    EXPECT_EQ(r->y, 0);
    // Covering 0.8 of the image or more, or fewer than two tiles: no crop.
    EXPECT_FALSE(galleryRect({{0.0, 0.0, 0.5, 0.9}, {0.5, 0.0, 0.5, 0.9}}, 1000, 1000));
    EXPECT_FALSE(galleryRect({{0.3, 0.3, 0.1, 0.1}}, 1000, 1000));
    // 64 pixels high is enough; 63.9 is not.
    const double h64 = 64.0 / 1000 - 0.08, h639 = 63.9 / 1000 - 0.08;
    EXPECT_TRUE(galleryRect({{0.3, 0.5, 0.1, h64}, {0.5, 0.5, 0.1, h64}}, 1000, 1000));
    EXPECT_FALSE(galleryRect({{0.3, 0.5, 0.1, h639}, {0.5, 0.5, 0.1, h639}}, 1000, 1000));
}

TEST_F(CaptureHandlerTest, SlideAnswerHasAppTitleAndSource) {
    WindowFacts bare;
    bare.id = 9;
    bare.frame = {0, 0, 800, 600};
    bare.onScreen = true;
    ws.windows = {window(8, "LibreOffice Impress", "Roadmap presentation.odp"), bare};
    ocr.add("Roadmap", {0.2, 0.1, 0.3, 0.06});
    ocr.add("Q3: launch", {0.2, 0.3, 0.3, 0.04});
    const Answer a = handlers().captureSlide(std::nullopt);
    EXPECT_EQ(a, (Answer{{"ok", true},
                         {"window", {{"app", "LibreOffice Impress"},
                                     {"title", "Roadmap presentation.odp"},
                                     {"source", "x11"}}},
                         {"text", "Roadmap\nQ3: launch"}}));
    const Answer untitled = handlers().captureSlide(std::string("x"));
    EXPECT_EQ(untitled["ok"], true);
    EXPECT_EQ(untitled["window"]["app"], "LibreOffice Impress");
}

TEST_F(CaptureHandlerTest, ChooseWindowAnswersEachOutcome) {
    EXPECT_EQ(handlers().chooseWindow(),
              (Answer{{"ok", false}, {"error", "window choice unavailable: not needed on this desktop"}}));

    FakeWindowChooser chooser;
    const auto choose = [&] { return CaptureHandlers(Services{ws, ocr, log.out, lock, &chooser}).chooseWindow(); };
    chooser.next = {WindowChoice::Outcome::Cancelled, "", {}};
    EXPECT_EQ(choose(), (Answer{{"ok", false}, {"error", "window choice cancelled"}}));
    chooser.next = {WindowChoice::Outcome::Unavailable, "the desktop portal offers no window sources", {}};
    EXPECT_EQ(choose(), (Answer{{"ok", false},
                                {"error", "window choice unavailable: the desktop portal offers no window sources"}}));

    WindowFacts chosen = window(1, "", "", {0, 0, 720, 450});
    chosen.app.reset();
    chosen.source = "portal";
    ws.windows = {chosen};
    chooser.next = {WindowChoice::Outcome::Chosen, "", chosen};
    const Answer a = choose();
    EXPECT_EQ(a["ok"], true);
    EXPECT_EQ(a["window"]["source"], "portal");
    EXPECT_EQ(a["window"]["display_index"], 1);
    EXPECT_EQ(a["window"]["window_area"], 720 * 450);
}

TEST_F(CaptureHandlerTest, WithoutAChoiceCapturesAnswerNoWindowChosen) {
    FakeWindowChooser chooser;
    CaptureHandlers h(Services{ws, ocr, log.out, lock, &chooser});
    const Answer none{{"ok", false}, {"error", "no window chosen"}};
    EXPECT_EQ(h.capture(std::nullopt), none);
    EXPECT_EQ(h.captureFrame(std::nullopt), none);
    EXPECT_EQ(h.captureSlide(std::nullopt), none);
    EXPECT_EQ(chooser.chooseCalls, 0);
    // Once chosen, a window that is no meeting is said as on any desktop.
    chooser.chosen = true;
    EXPECT_EQ(h.capture(std::nullopt), (Answer{{"ok", false}, {"error", "no meeting window found"}}));
}

}  // namespace
}  // namespace tessival
