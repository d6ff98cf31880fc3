#include "command/annotate.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "analysis/border_score.h"

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb/stb_truetype.h>

namespace tessival {
namespace {

using Rgb = std::array<uint8_t, 3>;

constexpr Rgb LINE_GREY{170, 170, 170};
constexpr Rgb NAME_CYAN{0, 220, 255};
constexpr Rgb TILE_ORANGE{255, 150, 0};
constexpr Rgb CHOSEN_MAGENTA{255, 0, 200};
constexpr Rgb RING_GREEN{40, 255, 80};
constexpr Rgb CROP_WHITE{255, 255, 255};
constexpr Rgb FOUND_YELLOW{255, 240, 60};
constexpr Rgb TEXT_WHITE{255, 255, 255};
constexpr Rgb BAND_DARK{24, 24, 28};

// Decodes UTF-8 into code points; a broken sequence becomes U+FFFD.
std::vector<uint32_t> codePoints(const std::string& s) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<uint8_t>(s[i]);
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        uint32_t cp = len == 1 ? c : c & (0x7F >> len);
        bool ok = true;
        for (int k = 1; k < len; ++k) {
            const auto d = static_cast<uint8_t>(s[i + k]);
            if ((d & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (d & 0x3F);
        }
        out.push_back(ok ? cp : 0xFFFD);
        i += ok ? len : 1;
    }
    return out;
}

// True when the table directory of the font in `ttf` lies within its bytes. The
// rasteriser trusts these offsets, so anything else is not handed to it.
bool plausibleFont(const std::vector<uint8_t>& ttf) {
    if (ttf.size() < 12) return false;
    const int offset = stbtt_GetFontOffsetForIndex(ttf.data(), 0);
    if (offset < 0 || static_cast<size_t>(offset) + 12 > ttf.size()) return false;
    auto be16 = [&](size_t at) { return static_cast<size_t>(ttf[at] << 8 | ttf[at + 1]); };
    auto be32 = [&](size_t at) { return be16(at) << 16 | be16(at + 2); };
    const size_t tables = be16(static_cast<size_t>(offset) + 4);
    const size_t dir = static_cast<size_t>(offset) + 12;
    if (tables == 0 || dir + 16 * tables > ttf.size()) return false;
    for (size_t i = 0; i < tables; ++i) {
        const size_t entry = dir + 16 * i;
        if (be32(entry + 8) + be32(entry + 12) > ttf.size()) return false;
    }
    return true;
}

class Canvas {
  public:
    Canvas(int64_t w, int64_t h, const LabelFont& font) : img_(Image::blank(w, h)) {
        if (plausibleFont(font.ttf) &&
            stbtt_InitFont(&font_, font.ttf.data(),
                           stbtt_GetFontOffsetForIndex(font.ttf.data(), 0))) {
            hasFont_ = true;
        }
    }

    Image& image() { return img_; }
    bool hasFont() const { return hasFont_; }

    void blend(int64_t x, int64_t y, Rgb c, double alpha) {
        if (x < 0 || y < 0 || x >= img_.width || y >= img_.height || alpha <= 0) return;
        uint8_t* p = &img_.bytes[static_cast<size_t>(y * img_.bytesPerRow + x * 4)];
        for (int k = 0; k < 3; ++k) {
            p[k] = static_cast<uint8_t>(std::lround(p[k] * (1 - alpha) + c[k] * alpha));
        }
        p[3] = 255;
    }

    void fill(int64_t x0, int64_t y0, int64_t x1, int64_t y1, Rgb c, double alpha = 1) {
        for (int64_t y = std::max<int64_t>(y0, 0); y < std::min(y1, img_.height); ++y) {
            for (int64_t x = std::max<int64_t>(x0, 0); x < std::min(x1, img_.width); ++x) {
                blend(x, y, c, alpha);
            }
        }
    }

    // An outline `t` pixels thick just inside [x0, x1) x [y0, y1); with `dash` > 0 drawn
    // in dashes of that length. A thin dark edge keeps it visible on light and dark pixels.
    void outline(int64_t x0, int64_t y0, int64_t x1, int64_t y1, int64_t t, Rgb c,
                 int64_t dash = 0) {
        auto on = [&](int64_t along) { return dash <= 0 || (along / dash) % 2 == 0; };
        for (int64_t y = y0; y < y1; ++y) {
            for (int64_t x = x0; x < x1; ++x) {
                const int64_t d = std::min({x - x0, x1 - 1 - x, y - y0, y1 - 1 - y});
                if (d > t) continue;
                const bool horizontal = std::min(y - y0, y1 - 1 - y) <= t;
                if (!on(horizontal ? x - x0 : y - y0)) continue;
                if (d == t) {
                    blend(x, y, Rgb{0, 0, 0}, 0.6);
                } else {
                    blend(x, y, c, 1);
                }
            }
        }
    }

    // Width in pixels of `text` at `px` pixels high (0 without a font).
    int64_t textWidth(const std::string& text, double px) const {
        if (!hasFont_) return 0;
        const float scale = stbtt_ScaleForPixelHeight(&font_, static_cast<float>(px));
        double w = 0;
        const std::vector<uint32_t> cps = codePoints(text);
        for (size_t i = 0; i < cps.size(); ++i) {
            int advance = 0, lsb = 0;
            stbtt_GetCodepointHMetrics(&font_, static_cast<int>(cps[i]), &advance, &lsb);
            w += advance * scale;
            if (i + 1 < cps.size()) {
                w += scale * stbtt_GetCodepointKernAdvance(&font_, static_cast<int>(cps[i]),
                                                           static_cast<int>(cps[i + 1]));
            }
        }
        return static_cast<int64_t>(std::ceil(w));
    }

    // Draws `text` with its top-left corner at (x, y), `px` pixels high. Returns its width.
    int64_t text(int64_t x, int64_t y, const std::string& text, double px, Rgb c) {
        if (!hasFont_) return 0;
        const float scale = stbtt_ScaleForPixelHeight(&font_, static_cast<float>(px));
        int ascent = 0, descent = 0, gap = 0;
        stbtt_GetFontVMetrics(&font_, &ascent, &descent, &gap);
        const double baseline = y + ascent * scale;
        double pen = x;
        const std::vector<uint32_t> cps = codePoints(text);
        for (size_t i = 0; i < cps.size(); ++i) {
            const int cp = static_cast<int>(cps[i]);
            int gw = 0, gh = 0, gx = 0, gy = 0;
            const float shift = static_cast<float>(pen - std::floor(pen));
            unsigned char* glyph = stbtt_GetCodepointBitmapSubpixel(&font_, scale, scale, shift, 0,
                                                                    cp, &gw, &gh, &gx, &gy);
            if (glyph != nullptr) {
                const auto ox = static_cast<int64_t>(std::floor(pen)) + gx;
                const auto oy = static_cast<int64_t>(std::lround(baseline)) + gy;
                for (int row = 0; row < gh; ++row) {
                    for (int col = 0; col < gw; ++col) {
                        blend(ox + col, oy + row, c, glyph[row * gw + col] / 255.0);
                    }
                }
                stbtt_FreeBitmap(glyph, nullptr);
            }
            int advance = 0, lsb = 0;
            stbtt_GetCodepointHMetrics(&font_, cp, &advance, &lsb);
            pen += advance * scale;
            if (i + 1 < cps.size()) {
                pen +=
                    scale * stbtt_GetCodepointKernAdvance(&font_, cp, static_cast<int>(cps[i + 1]));
            }
        }
        return static_cast<int64_t>(std::ceil(pen)) - x;
    }

    // A label: text on a dark box, its top-left corner at (x, y), kept inside the image.
    void label(int64_t x, int64_t y, const std::string& s, double px, Rgb c) {
        if (!hasFont_) return;
        const int64_t pad = std::max<int64_t>(2, std::lround(px * 0.2));
        const int64_t w = textWidth(s, px) + 2 * pad;
        const int64_t h = std::lround(px * 1.2) + pad;
        x = std::clamp<int64_t>(x, 0, std::max<int64_t>(0, img_.width - w));
        y = std::clamp<int64_t>(y, 0, std::max<int64_t>(0, img_.height - h));
        fill(x, y, x + w, y + h, Rgb{0, 0, 0}, 0.72);
        text(x + pad, y + pad / 2, s, px, c);
    }

  private:
    Image img_;
    stbtt_fontinfo font_{};
    bool hasFont_ = false;
};

struct PixelRect {
    int64_t x0, y0, x1, y1;
};

PixelRect toPixels(const Rect& r, int64_t w, int64_t h) {
    return PixelRect{std::lround(r.x * w), std::lround(r.y * h), std::lround(r.maxX() * w),
                     std::lround(r.maxY() * h)};
}

std::string format(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

bool sameLine(const TextObservation& a, const TextObservation& b) {
    return a.text == b.text && a.box == b.box;
}

// The picture's size and the sizes everything drawn on it scales with.
struct Scale {
    int64_t w, h;
    double px;      // label text height
    int64_t t;      // stroke
    int64_t lineH;  // legend line height
};

// The picture itself, in red-first order, at the top of `out`.
void copyPicture(const Image& img, Image& out) {
    const bool blueFirst = img.order == PixelOrder::BlueFirst;
    for (int64_t y = 0; y < img.height; ++y) {
        for (int64_t x = 0; x < img.width; ++x) {
            const size_t si = static_cast<size_t>(y * img.bytesPerRow + x * img.bytesPerPixel);
            const size_t di = static_cast<size_t>(y * out.bytesPerRow + x * 4);
            if (si + 2 >= img.bytes.size()) continue;
            out.bytes[di] = img.bytes[si + (blueFirst ? 2 : 0)];
            out.bytes[di + 1] = img.bytes[si + 1];
            out.bytes[di + 2] = img.bytes[si + (blueFirst ? 0 : 2)];
            out.bytes[di + 3] = 255;
        }
    }
}

// Tiles first (those found in the pixels under those given to names), so that boxes and
// labels lie on top of them; then the ring and the crop.
void drawAreas(Canvas& c, const AnnotateInput& in, const Scale& s) {
    const ParticipantAnalysis& a = in.analysis;
    const int64_t t = s.t;
    for (const Rect& tile : a.drawnTiles) {
        const PixelRect r = toPixels(tile, s.w, s.h);
        c.outline(r.x0, r.y0, r.x1, r.y1, t, FOUND_YELLOW, 6 * t + 4);
    }
    for (size_t i = 0; i < a.tiles.size(); ++i) {
        if (static_cast<int>(i) == a.highlighted) continue;
        const PixelRect r = toPixels(a.tiles[i], s.w, s.h);
        c.outline(r.x0, r.y0, r.x1, r.y1, t + 1, TILE_ORANGE);
    }
    if (a.highlighted >= 0 && a.highlighted < static_cast<int>(a.tiles.size())) {
        const PixelRect r = toPixels(a.tiles[static_cast<size_t>(a.highlighted)], s.w, s.h);
        c.outline(r.x0, r.y0, r.x1, r.y1, 3 * t + 2, CHOSEN_MAGENTA);
    }
    if (a.ring.best) {
        const PixelRect r = toPixels(a.ring.best->rect, s.w, s.h);
        const int64_t inset = 4 * t + 3;  // inside the tile outline, still on the ring
        c.outline(r.x0 + inset, r.y0 + inset, r.x1 - inset, r.y1 - inset, t + 1, RING_GREEN,
                  8 * t + 4);
    }
    if (in.cropRect) {
        const PixelRect r = toPixels(*in.cropRect, s.w, s.h);
        c.outline(r.x0, r.y0, r.x1, r.y1, t, CROP_WHITE, 3 * t + 1);
    }
}

// Every line read; the names stand out.
void drawLines(Canvas& c, const AnnotateInput& in, const Scale& s) {
    const ParticipantAnalysis& a = in.analysis;
    for (const TextObservation& l : in.lines) {
        const bool isName = std::any_of(a.names.begin(), a.names.end(),
                                        [&](const TextObservation& n) { return sameLine(n, l); });
        const PixelRect r = toPixels(l.box, s.w, s.h);
        const int64_t m = s.t + 1;
        c.outline(r.x0 - m, r.y0 - m, r.x1 + m, r.y1 + m, isName ? s.t + 1 : s.t,
                  isName ? NAME_CYAN : LINE_GREY);
    }
}

// Labels: on each tile its name and score; the ring's score at its bottom.
void drawLabels(Canvas& c, const ParticipantAnalysis& a, const Scale& s) {
    const int64_t t = s.t;
    for (size_t i = 0; i < a.tiles.size() && i < a.names.size(); ++i) {
        const PixelRect r = toPixels(a.tiles[i], s.w, s.h);
        const bool chosen = static_cast<int>(i) == a.highlighted;
        const double score = i < a.highlightScores.size() ? a.highlightScores[i] : 0;
        std::string text =
            std::to_string(i + 1) + " " + a.names[i].text + "  highlight " + format("%.2f", score);
        if (chosen) text += "  SPEAKING";
        const int64_t off = 3 * t + 4;
        c.label(r.x0 + off, r.y0 + off, text, s.px,
                chosen ? Rgb{255, 140, 235} : Rgb{255, 200, 120});
    }
    if (a.ring.best) {
        const PixelRect r = toPixels(a.ring.best->rect, s.w, s.h);
        const int64_t off = 5 * t + 6;
        const std::string text = "ring " + format("%.3f", a.ring.best->score);
        c.label(r.x1 - off - c.textWidth(text, s.px) - s.lineH / 2, r.y0 + off + s.lineH, text,
                s.px, Rgb{140, 255, 160});
    }
}

// A colour key: a small outlined box and its meaning; returns the width drawn.
int64_t drawKey(Canvas& c, int64_t x, int64_t y, Rgb colour, const char* text, const Scale& s) {
    const int64_t top = y + s.lineH / 8;
    const int64_t sw = std::lround(s.px * 1.6);
    c.outline(x, top, x + sw, top + std::lround(s.px), s.t + 1, colour);
    return sw + s.lineH / 4 + c.text(x + sw + s.lineH / 4, y, text, s.px, TEXT_WHITE);
}

// The legend band of a slide: how many lines were read and the one colour key.
void drawSlideLegend(Canvas& c, const AnnotateInput& in, const Scale& s) {
    int64_t y = s.h + s.lineH / 3;
    const int64_t x0 = s.lineH / 2;
    c.text(x0, y,
           "read as a slide: " + std::to_string(in.lines.size()) +
               " lines; text that has no box was not read",
           s.px, TEXT_WHITE);
    y += s.lineH;
    drawKey(c, x0, y, LINE_GREY, "line read", s);
}

// The legend band of a meeting picture: what was found, why blobs were rejected, the
// evidence of a call, and the colour keys.
void drawMeetingLegend(Canvas& c, const AnnotateInput& in, const Scale& s) {
    const ParticipantAnalysis& a = in.analysis;
    int64_t y = s.h + s.lineH / 3;
    const int64_t x0 = s.lineH / 2;
    double highest = 0;
    for (double v : a.highlightScores) highest = std::max(highest, v);
    std::string speaker =
        a.names.empty() ? "none" : "none (highest tile highlight " + format("%.2f", highest) + ")";
    if (a.highlighted >= 0 && a.highlighted < static_cast<int>(a.names.size())) {
        speaker = a.names[static_cast<size_t>(a.highlighted)].text + " (highlight " +
                  format("%.2f", a.bestHighlight) + ")";
    }
    if (a.speaker >= 0 && a.speaker < static_cast<int>(a.names.size())) {
        if (a.speakerSource == SpeakerSource::Ring) speaker = a.names[static_cast<size_t>(a.speaker)].text + " (ring)";
        if (a.speakerSource == SpeakerSource::Label)
            speaker = a.names[static_cast<size_t>(a.speaker)].text + " (label colour " +
                      format("%.2f", a.labelMark) + ")";
    }
    std::string first = std::to_string(a.names.size()) + " names of " +
                        std::to_string(in.lines.size()) + " lines read   speaker: " + speaker;
    if (in.cropRect) {
        first += "   crop from the " + in.cropLabel + " (" + format("%.3f", in.cropScore) + ")";
    } else {
        first += "   no speaker crop";
    }
    c.text(x0, y, first, s.px, TEXT_WHITE);
    y += s.lineH;
    const RingScan& ring = a.ring;
    std::string second = ring.best ? "ring found, score " + format("%.3f", ring.best->score)
                                   : std::string("no ring found");
    second += "   coloured blobs " + std::to_string(ring.blobs) + ", rejected: size " +
              std::to_string(ring.rejSize) + ", aspect " + std::to_string(ring.rejAspect) +
              ", thin " + std::to_string(ring.rejThin) + ", perimeter " +
              std::to_string(ring.rejPerim) + ", filled " + std::to_string(ring.rejFill);
    c.text(x0, y, second, s.px, TEXT_WHITE);
    y += s.lineH;
    std::string third = std::to_string(a.drawnTiles.size()) + " tiles found in the pixels   call controls read: " +
                        std::to_string(a.uiHits) +
                        (a.evidence ? "   the picture shows a call"
                                    : "   no proof of a call");
    third += "   a tile counts as highlighted from " + format("%.2f", HIGHLIGHT_SCORE_THRESH);
    c.text(x0, y, third, s.px, TEXT_WHITE);
    y += s.lineH;

    c.text(x0, y, "text with no box round it was not read at all", s.px, TEXT_WHITE);
    y += s.lineH;

    const std::array<std::pair<Rgb, const char*>, 7> keys{{{LINE_GREY, "line read"},
                                                           {NAME_CYAN, "name"},
                                                           {TILE_ORANGE, "tile"},
                                                           {CHOSEN_MAGENTA, "highlighted tile"},
                                                           {RING_GREEN, "ring"},
                                                           {CROP_WHITE, "speaker crop"},
                                                           {FOUND_YELLOW, "tile found"}}};
    int64_t x = x0;
    for (const auto& [colour, text] : keys) x += drawKey(c, x, y, colour, text, s) + s.lineH;
}

}  // namespace

Image annotateImage(const Image& img, const AnnotateInput& in, const LabelFont& font) {
    if (img.empty() || img.bytesPerPixel < 3) return Image{};
    Scale s{img.width, img.height, 0, 0, 0};
    s.px = std::max(13.0, std::min(s.w, s.h) / 46.0);
    s.t = std::max<int64_t>(1, std::lround(std::min(s.w, s.h) / 400.0));
    s.lineH = std::lround(s.px * 1.45);

    const int legendLines = in.slide ? 2 : 5;
    const int64_t bandH = font.ttf.empty() ? 0 : s.lineH * legendLines + s.lineH / 2;
    Canvas c(s.w, s.h + bandH, font);
    if (bandH > 0 && !c.hasFont()) return annotateImage(img, in, LabelFont{});  // not a font

    Image& out = c.image();
    copyPicture(img, out);
    c.fill(0, s.h, s.w, s.h + bandH, BAND_DARK);
    drawAreas(c, in, s);
    drawLines(c, in, s);
    drawLabels(c, in.analysis, s);
    if (!c.hasFont()) return out;
    if (in.slide) {
        drawSlideLegend(c, in, s);
    } else {
        drawMeetingLegend(c, in, s);
    }
    return out;
}

}  // namespace tessival
