#include "command/selftest.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "analysis/border_score.h"
#include "base/image.h"
#include "codec/image_codec.h"
#include "codec/image_ops.h"
#include "analysis/name_filters.h"
#include "base/pixel.h"
#include "analysis/ring_scan.h"
#include "analysis/slide_text.h"
#include "analysis/tile_inference.h"
#include "windows/display_geometry.h"
#include "analysis/meeting_text.h"
#include "windows/window_scoring.h"

namespace tessival {

namespace {

// Shortest round-trip decimal, with ".0" on whole numbers so a double reads as one.
std::string num(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, res.ptr);
    if (s.find_first_of(".enai") == std::string::npos) s += ".0";
    return s;
}

std::string num(int64_t v) { return std::to_string(v); }
std::string yesNo(bool b) { return b ? "true" : "false"; }

// A normalised rectangle as a list; a pixel rectangle as a tuple.
std::string listForm(const Rect& r) {
    return "[" + num(r.x) + ", " + num(r.y) + ", " + num(r.width) + ", " + num(r.height) + "]";
}
std::string rectForm(const Rect& r) {
    return "(" + num(r.x) + ", " + num(r.y) + ", " + num(r.width) + ", " + num(r.height) + ")";
}

// A packed red-first RGBA buffer, every byte `fill`, for drawing the synthetic checks.
struct Pixels {
    Image img;
    Pixels(int64_t w, int64_t h, uint8_t fill) {
        img = Image::blank(w, h);
        std::fill(img.bytes.begin(), img.bytes.end(), fill);
    }
    void set(int64_t x, int64_t y, const uint8_t (&rgba)[4]) {
        if (x < 0 || y < 0 || x >= img.width || y >= img.height) return;
        std::copy(rgba, rgba + 4, img.bytes.begin() + y * img.bytesPerRow + x * 4);
    }
    // Columns x0..x1 and rows y0..y1, both ends included.
    void fill(int64_t x0, int64_t y0, int64_t x1, int64_t y1, const uint8_t (&rgba)[4]) {
        for (int64_t y = y0; y <= y1; ++y)
            for (int64_t x = x0; x <= x1; ++x) set(x, y, rgba);
    }
    void outline(int64_t x0, int64_t y0, int64_t x1, int64_t y1, int64_t t,
                 const uint8_t (&rgba)[4]) {
        fill(x0, y0, x1, y0 + t - 1, rgba);
        fill(x0, y1 - t + 1, x1, y1, rgba);
        fill(x0, y0, x0 + t - 1, y1, rgba);
        fill(x1 - t + 1, y0, x1, y1, rgba);
    }
    Bitmap bitmap() const { return *makeBitmap(img); }
};

constexpr uint8_t GREEN[4] = {53, 194, 107, 255};
constexpr uint8_t PURPLE[4] = {91, 95, 199, 255};
constexpr uint8_t OUTLINE_GREEN[4] = {30, 220, 60, 255};

bool near(double a, double b, double tol) { return std::abs(a - b) <= tol; }
bool inBand(double h, double lo, double hi) { return h >= lo && h <= hi; }
bool eitherHueIn(double r, double g, double b, double lo, double hi) {
    return inBand(hueDeg(r, g, b), lo, hi) || inBand(hueDeg(b, g, r), lo, hi);
}

// Window titles of the meeting-text checks. The speaker emoji marks a tab playing audio.
const std::string SPEAKER = "\xF0\x9F\x94\x8A";
const std::string T1 = "Calendar | Dana Whitfield (External unfamiliar) | Microsoft Teams";
const std::string T2 = "Lumora Touchbase on Next Steps | Microsoft Teams";
const std::string T3 = "Calendar | Something";
const std::string T4 = "Company | Lumora " + SPEAKER;
const std::string T5 = "Lumora - Calendar - Week of August 2, 2026";
const std::string T6 = "R\xC3\xA9gime canadien de soins dentaires - services.example.ca " + SPEAKER;
const std::string T7 = "Come meet - our team | Lumora";
const std::string MEET_TITLE = "Meet \xE2\x80\x93 Pr\xC3\xA9sentation Lumora " + SPEAKER;

void checkHues(std::vector<std::string>& f) {
    const double red = hueDeg(255, 0, 0);
    if (std::llround(red) % 360 != 0) f.push_back("hue red " + num(red));
    const double green = hueDeg(0, 255, 0);
    if (!near(green, 120, 1)) f.push_back("hue green " + num(green));
    const double blue = hueDeg(0, 0, 255);
    if (!near(blue, 240, 1)) f.push_back("hue blue " + num(blue));
    if (!(hueDeg(128, 128, 128) < 0)) f.push_back("hue gray not -1");
}

void checkTileCount(std::vector<std::string>& f) {
    const std::vector<Rect> tiles = inferTiles({{0.2, 0.45, 0.1, 0.04},
                                                {0.7, 0.45, 0.1, 0.04},
                                                {0.2, 0.95, 0.1, 0.04},
                                                {0.7, 0.95, 0.1, 0.04}});
    if (tiles.size() != 4) {
        f.push_back("tiles count " + num(int64_t(tiles.size())));
    } else if (!near(tiles[0].width, 0.5, 0.12)) {
        f.push_back("tileW " + num(tiles[0].width));
    }
}

void checkBorderScores(std::vector<std::string>& f) {
    Pixels outlined(200, 200, 40);
    outlined.outline(20, 20, 120, 120, 4, OUTLINE_GREEN);
    const double hi = borderScore(outlined.bitmap(), {0.1, 0.1, 0.5, 0.5});
    if (!(hi > 0.3)) f.push_back("borderScore highlighted=" + num(hi));
    const double plain = borderScore(outlined.bitmap(), {0.62, 0.62, 0.3, 0.3});
    if (!(plain < 0.1)) f.push_back("borderScore plain=" + num(plain));

    Pixels ringed(200, 200, 40);
    ringed.outline(20, 20, 120, 120, 4, GREEN);
    ringed.set(150, 150, GREEN);
    ringed.set(152, 151, GREEN);
    const std::string want = num(HIGHLIGHT_SCORE_THRESH) + ")";
    const double ringHi = borderScore(ringed.bitmap(), {0.1, 0.1, 0.5, 0.5});
    if (!(ringHi >= HIGHLIGHT_SCORE_THRESH))
        f.push_back("greenRing hi=" + num(ringHi) + " (want >= " + want);
    const double ringLo = borderScore(ringed.bitmap(), {0.62, 0.62, 0.3, 0.3});
    if (!(ringLo < HIGHLIGHT_SCORE_THRESH))
        f.push_back("greenRing lo=" + num(ringLo) + " (want < " + want);

    if (!inBand(hueDeg(53, 194, 107), 75, 165) && !inBand(hueDeg(107, 194, 53), 75, 165))
        f.push_back("isGreenRingPixel zoom-green false");
}

void checkRingScans(std::vector<std::string>& f) {
    {
        Pixels p(500, 300, 30);
        p.outline(57, 41, 176, 114, 3, GREEN);
        p.set(400, 250, GREEN);
        p.set(401, 250, GREEN);
        p.set(400, 251, GREEN);
        const RingScan s = scanForGreenRing(p.bitmap());
        if (!s.best) {
            f.push_back("ringBlob hollow ring not detected (blobs=" + num(s.blobs) + ")");
        } else {
            const Rect& r = s.best->rect;
            if (!near(r.x, 0.114, 0.008) || !near(r.y, 0.1367, 0.0133) ||
                !near(r.width, 0.24, 0.016) || !near(r.height, 0.2467, 0.0267))
                f.push_back("ringBlob hollow bbox=" + listForm(r));
            if (!(s.best->score >= 0.3)) f.push_back("ringBlob hollow score=" + num(s.best->score));
        }
        if (s.blobs != 2) f.push_back("ringBlob hollow blobs=" + num(s.blobs) + " want 2");
    }
    {
        Pixels p(500, 300, 30);
        p.fill(57, 41, 176, 114, GREEN);
        const RingScan s = scanForGreenRing(p.bitmap());
        if (s.best) f.push_back("ringBlob filled rect accepted");
        if (s.blobs != 1) f.push_back("ringBlob filled blobs=" + num(s.blobs) + " want 1");
    }
    {
        Pixels p(500, 300, 30);
        p.fill(300, 200, 301, 201, GREEN);
        const RingScan s = scanForGreenRing(p.bitmap());
        if (s.best) f.push_back("ringBlob speck accepted");
        if (s.blobs != 1) f.push_back("ringBlob speck blobs=" + num(s.blobs) + " want 1");
    }
    {
        Pixels p(500, 300, 30);
        const RingScan s = scanForGreenRing(p.bitmap());
        if (s.blobs != 0 || s.best)
            f.push_back("ringBlob gray blobs=" + num(s.blobs) + " best=" + yesNo(s.best.has_value()));
    }
    {
        Pixels p(1400, 800, 30);  // 5600 bytes per row
        p.outline(300, 200, 800, 500, 8, GREEN);
        const RingScan s = scanForGreenRing(p.bitmap());
        if (!s.best) {
            f.push_back("ringBlob strided ring not detected (blobs=" + num(s.blobs) + ")");
        } else {
            const Rect& r = s.best->rect;
            if (!near(r.x, 0.2143, 0.01) || !near(r.y, 0.25, 0.01) ||
                !near(r.width, 0.3579, 0.015) || !near(r.height, 0.3763, 0.015))
                f.push_back("ringBlob strided bbox=" + listForm(r));
            if (!(s.best->score >= RING_PERIM_GREEN_THRESH))
                f.push_back("ringBlob strided score=" + num(s.best->score));
        }
    }
}

void checkPurple(std::vector<std::string>& f) {
    if (!eitherHueIn(91, 95, 199, 220, 262)) f.push_back("teamsPixel #5B5FC7 false");
    if (!eitherHueIn(98, 100, 167, 220, 262)) f.push_back("teamsPixel #6264A7 false");
    if (!eitherHueIn(123, 131, 235, 220, 262)) f.push_back("teamsPixel #7B83EB false");
    if (eitherHueIn(10, 132, 255, 220, 262)) f.push_back("teamsPixel macOS-blue true");
    if (!isRingPixel(53, 194, 107) || !isRingPixel(91, 95, 199))
        f.push_back("isRingPixel misses a platform colour");
    {
        Pixels p(500, 300, 30);
        p.outline(57, 41, 176, 114, 3, PURPLE);
        const RingScan s = scanForGreenRing(p.bitmap());
        if (!s.best)
            f.push_back("purpleRing not detected (blobs=" + num(s.blobs) + ")");
        else if (!(s.best->score >= 0.3))
            f.push_back("purpleRing score=" + num(s.best->score));
    }
    {
        Pixels p(500, 300, 30);
        for (int64_t y = 133; y <= 167; ++y) {
            for (int64_t x = 233; x <= 267; ++x) {
                const double dx = double(x - 250), dy = double(y - 150);
                const double d = std::sqrt(dx * dx + dy * dy);
                if (d >= 14 && d <= 16) p.set(x, y, PURPLE);
            }
        }
        const RingScan s = scanForGreenRing(p.bitmap());
        if (!s.best)
            f.push_back("haloRing (round) not detected (blobs=" + num(s.blobs) +
                        ", rejSize=" + num(s.rejSize) + " rejFill=" + num(s.rejFill) + ")");
        else if (!(s.best->score >= RING_PERIM_GREEN_THRESH))
            f.push_back("haloRing score=" + num(s.best->score));
    }
    {
        Pixels p(500, 300, 30);
        p.outline(100, 100, 114, 114, 1, PURPLE);
        const RingScan s = scanForGreenRing(p.bitmap());
        if (!s.best) {
            f.push_back("smallRing (under old size floor) not detected (blobs=" + num(s.blobs) +
                        ", rejSize=" + num(s.rejSize) + " rejThin=" + num(s.rejThin) +
                        " rejFill=" + num(s.rejFill) + ")");
        } else {
            if (!(s.best->scanW < 20))
                f.push_back("smallRing bbox=" + num(s.best->scanW) +
                            " not under old floor 20 \xE2\x80\x94 test lost its point");
            if (!(s.best->score >= RING_PERIM_GREEN_THRESH))
                f.push_back("smallRing score=" + num(s.best->score));
        }
    }
}

void checkInitialsAndAnchoring(std::vector<std::string>& f) {
    if (!isInitialsChip("VG") || !isInitialsChip("JB") || !isInitialsChip("KD"))
        f.push_back("isInitialsChip rejects real initials");
    if (isInitialsChip("Anna") || isInitialsChip("vg") || isInitialsChip("JPBQ"))
        f.push_back("isInitialsChip accepts non-initials");

    const std::vector<Rect> boxes = {{0.22, 0.47, 0.06, 0.06}, {0.72, 0.47, 0.06, 0.06}};
    const std::vector<Rect> chips = inferTiles(boxes, {"VG", "JB"});
    const std::vector<Rect> labels = inferTiles(boxes, {"Maria K.", "J.R. Okafor"});
    if (chips.size() != 2 || labels.size() != 2) {
        f.push_back("inferTiles anchoring returned " + num(int64_t(chips.size())) + "/" +
                    num(int64_t(labels.size())) + " tiles");
        return;
    }
    const double h = chips[0].height;
    const double chipTop = chips[0].y;
    const double labelTop = labels[0].y;
    if (!near(chipTop, 0.5 - 0.5 * h, 0.01))
        f.push_back("initials tile not centre-anchored: top=" + num(chipTop) + " tileH=" + num(h));
    if (!near(labelTop, 0.5 - 0.85 * h, 0.01))
        f.push_back("label tile not bottom-anchored: top=" + num(labelTop) +
                    " tileH=" + num(labels[0].height));
    if (!(labelTop < chipTop)) f.push_back("centre anchor should sit LOWER than bottom anchor");
}

void checkMeetingText(std::vector<std::string>& f) {
    if (callUiHits({"Mute", "Leave", "Type a message"}) != 2)
        f.push_back("callUiHits toolbar != 2");
    if (callUiHits({"Chats", "Calendar", "please share the doc"}) != 0)
        f.push_back("callUiHits chat window != 0");

    const TeamsWindowKind hub = teamsWindowKind("Microsoft Teams", T1);
    if (!hub.hub || hub.surface) f.push_back("teamsWindowKind hub misclassified");
    const TeamsWindowKind call = teamsWindowKind("Microsoft Teams", T2);
    if (!call.surface || call.hub) f.push_back("teamsWindowKind call misclassified");
    const TeamsWindowKind other = teamsWindowKind("Google Chrome", T3);
    if (other.hub || other.surface) f.push_back("teamsWindowKind non-Teams flagged");

    const std::string hay = normalizeHay("Google Chrome", MEET_TITLE);
    if (hay.find("meet - ") == std::string::npos)
        f.push_back("normalizeHay did not fold the en dash: " + hay);
    if (!hasMeetingHint("Google Chrome", MEET_TITLE))
        f.push_back("Google Meet title still misses every MEETING_HINT");
    if (!hasMeetingHint("Around", "Weekly sync")) f.push_back("the Around app must still hint");
    if (!hasMeetingHint("Microsoft Teams", "Weekly sync"))
        f.push_back("the Teams app must still hint");
    if (!hasMeetingHint("zoom.us", "Zoom Meeting")) f.push_back("zoom must still hint");
    for (const char* title : {"Turnaround plan Q3", "Workaround for the printer",
                              "Getting around Paris", "See all your teams", "Zoomed in view"}) {
        if (hasMeetingHint("Google Chrome", title))
            f.push_back(std::string("hint fired on page text: ") + title);
    }
    for (const std::string& title : {T4, T5, T6}) {
        if (hasMeetingHint("Google Chrome", title))
            f.push_back("hint fired on the wrong window: " + title);
    }
    if (!browserCallSurface(MEET_TITLE)) f.push_back("Meet title not a call surface");
    for (const std::string& title : {T4, T5, T6, T7}) {
        if (browserCallSurface(title)) f.push_back("false call surface: " + title);
    }
    if (pickCandidateIndex({}).has_value()) f.push_back("empty candidate set must be nil");
    const std::vector<std::string> calendarOcr = {
        "August 2026", "\xE2\x80\xA2 Pr\xC3\xA9sentation Lumora", "\xE2\x80\xA2 Maria",
        "Gestion des cong\xC3\xA9s", "Employ\xC3\xA9s"};
    if (!(callUiHits(calendarOcr) < LOCK_MIN_UI_HITS))
        f.push_back("calendar/HRIS OCR must not read as call-UI evidence");
}

void checkNameFilters(std::vector<std::string>& f) {
    const std::string z0om = canonToken("Z0oM");
    if (z0om != "zoom") f.push_back("canon Z0oM=" + z0om);
    const std::string zoom = canonToken("ZooM");
    if (zoom != "zoom") f.push_back("canon ZooM=" + zoom);
    if (!isWatermark("ZooM")) f.push_back("isWatermark ZooM false");
    if (!isWatermark("Z0oM")) f.push_back("isWatermark Z0oM false");
    if (!isWatermark("z o o m")) f.push_back("isWatermark spaced false");
    if (isWatermark("Zoom Okafor")) f.push_back("isWatermark name true");
    if (looksLikeName("ZooM")) f.push_back("looksLikeName watermark true");
    if (!looksLikeName("Priya Raman")) f.push_back("looksLikeName real-name false");
    if (!looksLikeName("Tomasz Nowak")) f.push_back("looksLikeName Tomasz false");
    if (!inWatermarkRegion({0.88, 0.93, 0.08, 0.04})) f.push_back("inWatermarkRegion BR false");
    if (inWatermarkRegion({0.05, 0.93, 0.2, 0.04})) f.push_back("inWatermarkRegion BL true");
    if (inWatermarkRegion({0.4, 0.4, 0.1, 0.04})) f.push_back("inWatermarkRegion centre true");
}

void checkFullscreen(std::vector<std::string>& f) {
    const Rect display{0, 0, 2560, 1440};
    if (!rectIsFullscreen({0, 0, 2560, 1440}, display)) f.push_back("rectIsFullscreen exact=false");
    if (!rectIsFullscreen({1, 2, 2558, 1437}, display))
        f.push_back("rectIsFullscreen tolerance=false");
    if (rectIsFullscreen({0, 38, 2560, 1402}, display))
        f.push_back("rectIsFullscreen zoomed(menu-bar inset)=true");
    if (rectIsFullscreen({0, 0, 1280, 1440}, display)) f.push_back("rectIsFullscreen half=true");
    if (rectIsFullscreen({0, 0, 2560, 1440}, {2560, 0, 1512, 982}))
        f.push_back("rectIsFullscreen wrong-display=true");
}

void checkCrops(std::vector<std::string>& f) {
    if (const auto r = paddedCropRect({0.25, 0.25, 0.5, 0.5}, 1000, 1000); !r) {
        f.push_back("paddedCropRect centred=nil");
    } else if (!near(r->x, 210, 1) || !near(r->y, 210, 1) || !near(r->width, 580, 1) ||
               !near(r->height, 580, 1)) {
        f.push_back("paddedCropRect centred=" + rectForm(*r));
    }
    if (const auto r = paddedCropRect({0, 0, 0.4, 0.4}, 1000, 500); !r) {
        f.push_back("paddedCropRect corner=nil");
    } else {
        if (r->x != 0 || r->y != 0) f.push_back("paddedCropRect corner origin=" + rectForm(*r));
        if (r->maxX() > 1000 || r->maxY() > 500)
            f.push_back("paddedCropRect corner overflow=" + rectForm(*r));
    }
    if (const auto r = paddedCropRect({0.7, 0.7, 0.3, 0.3}, 1000, 1000); !r) {
        f.push_back("paddedCropRect BR=nil");
    } else {
        if (r->maxX() > 1000 || r->maxY() > 1000)
            f.push_back("paddedCropRect BR overflow=" + rectForm(*r));
        if (r->x > 677) f.push_back("paddedCropRect BR pad missing=" + rectForm(*r));
    }
    if (paddedCropRect({0.5, 0.5, 0, 0.3}, 1000, 1000))
        f.push_back("paddedCropRect zero-width accepted");
    if (paddedCropRect({1.2, 1.2, 0.2, 0.2}, 1000, 1000))
        f.push_back("paddedCropRect off-image accepted");
}

void checkPng(std::vector<std::string>& f) {
    // RGB (0.2, 0.8, 0.4) at 8 bits, opaque.
    Pixels p(12, 8, 255);
    p.fill(0, 0, 11, 7, {51, 204, 102, 255});
    if (p.img.empty()) {
        f.push_back("pngBase64 test image construction failed");
        return;
    }
    if (const auto text = pngBase64(p.img); !text) {
        f.push_back("pngBase64 nil");
    } else {
        const auto bytes = base64Decode(*text);
        if (!bytes || bytes->size() < 8 || (*bytes)[0] != 137 || (*bytes)[1] != 80)
            f.push_back("pngBase64 not a PNG");
    }
    const Image small = downscaleIfNeeded(p.img, 6);
    if (small.width != 6 || small.height != 4)
        f.push_back("downscale got " + num(small.width) + "x" + num(small.height));
    const Image same = downscaleIfNeeded(p.img, 100);
    if (same.width != 12 || same.height != 8) f.push_back("downscale no-op resized");
}

void checkSlideText(std::vector<std::string>& f) {
    const std::string text = slideText({{"World", 0.9f, {0.55, 0.1, 0.2, 0.05}},
                                        {"Roadmap", 0.9f, {0.2, 0.5, 0.3, 0.06}},
                                        {"Hello", 0.9f, {0.2, 0.1, 0.2, 0.05}}});
    if (text != "Hello World\nRoadmap") f.push_back("slideText='" + text + "'");
    const std::string symbols =
        slideText({{"\xC2\xB7\xC2\xB7\xC2\xB7", 0.9f, {0.2, 0.2, 0.2, 0.05}}});
    if (!symbols.empty()) f.push_back("slideText symbols='" + symbols + "'");
}

}  // namespace

std::vector<std::string> selftestFailures() {
    std::vector<std::string> f;
    checkHues(f);                   // 1-4
    checkTileCount(f);              // 5
    checkBorderScores(f);           // 6-10
    checkRingScans(f);              // 11-15
    checkPurple(f);                 // 16-23
    checkInitialsAndAnchoring(f);   // 24-26
    checkMeetingText(f);            // 27-42
    checkNameFilters(f);            // 43-51
    checkFullscreen(f);             // 52-56
    checkCrops(f);                  // 57-61
    checkPng(f);                    // 62-64
    checkSlideText(f);              // 65-66
    return f;
}

Answer selftestVerdict(const std::vector<std::string>& failures) {
    if (failures.empty()) return Answer{{"ok", true}, {"selftest", "pass"}};
    return Answer{{"ok", false}, {"selftest", "fail"}, {"failures", failures}};
}

bool selftest(Output& out) {
    const std::vector<std::string> failures = selftestFailures();
    out.emit(selftestVerdict(failures));
    return failures.empty();
}

}  // namespace tessival
