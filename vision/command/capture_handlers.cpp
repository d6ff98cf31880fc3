#include "command/capture_handlers.h"

#include <cmath>
#include <cstdio>

#include "codec/image_codec.h"
#include "codec/image_ops.h"
#include "analysis/ocr.h"
#include "analysis/participants.h"
#include "analysis/slide_text.h"
#include "analysis/tile_inference.h"
#include "analysis/meeting_text.h"
#include "windows/display_geometry.h"
#include "windows/screenshot.h"
#include "windows/slide_window.h"
#include "windows/window_scoring.h"

namespace tessival {
namespace {

// Gallery crop of the frame capture: padding round the tiles, smallest side, largest share.
constexpr double GALLERY_PAD = 0.04;
constexpr double GALLERY_MIN_SIDE = 64;
constexpr double GALLERY_MAX_AREA_SHARE = 0.8;

std::string fmt2(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
}

Answer failure(const std::string& error) { return Answer{{"ok", false}, {"error", error}}; }

Answer rectJson(const Rect& r) { return Answer::array({r.x, r.y, r.width, r.height}); }

}  // namespace

std::vector<TextObservation> readText(TextReader& reader, const Image& img, uint64_t source, Output& out,
                                      std::string& lastFailure, const std::vector<Rect>& tiles) {
    try {
        std::vector<TextObservation> lines = reader.read(img, source, tiles);
        lastFailure.clear();
        return lines;
    } catch (const std::exception& e) {
        // A parent polls every few seconds; the same failure is said once, not every time.
        if (lastFailure != e.what()) {
            lastFailure = e.what();
            out.log("[tessival] text recognition failed, reading no text: " + lastFailure);
        }
        return {};
    }
}

uint64_t windowKey(const WindowFacts& window) {
    return (static_cast<uint64_t>(std::hash<std::string>{}(window.source)) << 32) ^ window.id;
}

std::optional<EncodedCrop> cropAndEncode(const Image& img, const Rect& tile, CropMemo* memo, uint64_t source) {
    const std::optional<Rect> rect = paddedCropRect(tile, img.width, img.height);
    if (!rect) return std::nullopt;
    std::optional<Image> crop = cropImage(img, *rect);
    if (!crop) return std::nullopt;
    if (memo && memo->source == source && memo->rect == *rect && memo->pixels.width == crop->width &&
        memo->pixels.height == crop->height && memo->pixels.bytesPerRow == crop->bytesPerRow &&
        memo->pixels.order == crop->order && memo->pixels.bytes == crop->bytes) {
        return memo->encoded;
    }
    const Image small = downscaleIfNeeded(*crop, RING_CROP_MAX_SIDE);
    std::optional<std::string> png = pngBase64(small);
    if (!png) return std::nullopt;
    EncodedCrop encoded{std::move(*png), small.width, small.height};
    if (memo) *memo = CropMemo{source, *rect, std::move(*crop), encoded};
    return encoded;
}

std::optional<SpeakerCrop> speakerCrop(const Image& img, const ParticipantAnalysis& a, Output& out, CropMemo* memo,
                                       uint64_t source) {
    std::optional<SpeakerCrop> crop;
    if (a.ring.best) {
        const RingBlobDetection& best = *a.ring.best;
        out.log("[ring] blobs=" + std::to_string(a.ring.blobs) + " best=" + std::to_string(best.scanW) +
                "x" + std::to_string(best.scanH) + "@(" + std::to_string(best.scanX) + "," +
                std::to_string(best.scanY) + ") perim_green=" + fmt2(best.score));
        // A ring round nobody, beside a tile whose frame names the speaker, is not what to show.
        const bool ringMarksNobody =
            a.speakerSource == SpeakerSource::Border || a.speakerSource == SpeakerSource::Label;
        if (auto enc = ringMarksNobody ? std::nullopt : cropAndEncode(img, best.rect, memo, source)) {
            const std::string label =
                " crop=" + std::to_string(enc->width) + "x" + std::to_string(enc->height);
            crop = SpeakerCrop{std::move(enc->base64), best.rect, best.score, label};
        }
    } else if (a.ring.blobs < 1) {
        out.log("[ring] no blob");
    } else {
        out.log("[ring] no blob (candidates=" + std::to_string(a.ring.blobs) +
                ", rejected: size=" + std::to_string(a.ring.rejSize) +
                " aspect=" + std::to_string(a.ring.rejAspect) + " thin=" + std::to_string(a.ring.rejThin) +
                " perim=" + std::to_string(a.ring.rejPerim) + " filled=" + std::to_string(a.ring.rejFill) + ")");
    }
    // Without a ring, the tile whose frame or label marks the speaker.
    const bool byLabel = a.speakerSource == SpeakerSource::Label;
    const int marked = byLabel ? a.speaker : a.highlighted;
    if (!crop && marked >= 0) {
        const size_t h = static_cast<size_t>(marked);
        const double score = byLabel ? a.labelMark : a.bestHighlight;
        const char* how = byLabel ? "label" : "tile-highlight";
        if (auto enc = cropAndEncode(img, a.tiles[h], memo, source)) {
            const std::string label = " crop=" + std::to_string(enc->width) + "x" +
                                      std::to_string(enc->height) + " (" + how + ")";
            crop = SpeakerCrop{std::move(enc->base64), a.tiles[h], score, label};
            out.log(std::string("[ring] ") + how + " crop: \"" + a.names[h].text + "\" score=" + fmt2(score));
        }
    }
    return crop;
}

Answer participantAnswer(const ParticipantAnalysis& a, const std::optional<SpeakerCrop>& crop, Output& out) {
    std::string summary = "[tessival] CAPTURE names(" + std::to_string(a.names.size()) + "): ";
    Answer names = Answer::array();
    for (size_t i = 0; i < a.names.size(); ++i) {
        const TextObservation& n = a.names[i];
        if (i > 0) summary += " | ";
        summary += "\"" + n.text + "\" [" + fmt2(n.box.x) + "," + fmt2(n.box.y) +
                   "] ring=" + fmt2(a.highlightScores[i]);
        names.push_back(Answer{{"text", n.text},
                               {"confidence", n.conf},
                               {"bbox", rectJson(n.box)},
                               {"tile", rectJson(a.tiles[i])},
                               {"highlight_score", a.highlightScores[i]},
                               {"highlighted", static_cast<int>(i) == a.highlighted}});
    }
    summary += " -> highlight=";
    summary += a.highlighted < 0 ? "none" : "\"" + a.names[static_cast<size_t>(a.highlighted)].text + "\"";
    if (crop) summary += crop->label;
    const bool speaking = a.speaker >= 0 && a.speaker < static_cast<int>(a.names.size());
    const char* source = a.speakerSource == SpeakerSource::Ring    ? "ring"
                         : a.speakerSource == SpeakerSource::Label ? "label"
                                                                   : "border";
    if (speaking)
        summary += " speaker=\"" + a.names[static_cast<size_t>(a.speaker)].text + "\" (" + source + ")";
    out.log(summary);

    Answer answer{{"ok", true}, {"names", std::move(names)}};
    if (speaking)
        answer["speaker"] = Answer{
            {"text", a.names[static_cast<size_t>(a.speaker)].text}, {"index", a.speaker}, {"source", source}};
    if (crop) {
        answer["ring_crop"] = crop->base64;
        answer["ring_rect"] = rectJson(crop->rect);
        answer["ring_score"] = crop->score;
    }
    return answer;
}

Answer CaptureHandlers::capture(const std::optional<std::string>& query) {
    const std::optional<PickedWindow> picked = findWindow(s_.windows, s_.lock, s_.out, query);
    if (!picked) return nothingFound("no meeting window found");
    const Image image = screenshot(s_.windows, picked->window);
    const std::optional<TileLayout> layout = findTiles(image);
    const std::vector<TextObservation> lines = readText(s_.text, image, windowKey(picked->window), s_.out,
                                                        lastTextFailure_, layout ? layout->tiles : std::vector<Rect>{});
    const ParticipantAnalysis a = analyzeParticipants(image, lines, titleOf(picked->window), layout);

    updateWindowLock(s_.lock, s_.out, picked->window, a.uiHits, a.ring.best.has_value());
    if (picked->unproven && !a.evidence) {
        s_.out.log("[tessival] UNPROVEN window, no call-UI/ring content (call-ui x" + std::to_string(a.uiHits) +
                   ", ocr strings " + std::to_string(lines.size()) + ") \u2014 emitting no names: " +
                   appAndTitle(picked->window));
        return Answer{{"ok", true}, {"window", windowInfo(*picked)}, {"names", Answer::array()}, {"unproven", true}};
    }
    const std::optional<SpeakerCrop> crop = speakerCrop(image, a, s_.out, &cropMemo_, windowKey(picked->window));
    Answer answer = participantAnswer(a, crop, s_.out);
    answer["window"] = windowInfo(*picked);
    return answer;
}

std::optional<Rect> galleryRect(const std::vector<Rect>& tiles, int64_t imgW, int64_t imgH) {
    if (tiles.size() < 2) return std::nullopt;
    double minX = 1.0, minY = 1.0, maxX = 0.0, maxY = 0.0;
    for (const Rect& t : tiles) {
        minX = std::min(minX, t.x);
        minY = std::min(minY, t.y);
        maxX = std::max(maxX, t.x + t.width);
        maxY = std::max(maxY, t.y + t.height);
    }
    const double x0 = std::max(minX - GALLERY_PAD, 0.0), y0 = std::max(minY - GALLERY_PAD, 0.0);
    const double x1 = std::min(maxX + GALLERY_PAD, 1.0), y1 = std::min(maxY + GALLERY_PAD, 1.0);
    const double W = static_cast<double>(imgW), H = static_cast<double>(imgH);
    const Rect r{x0 * W, y0 * H, (x1 - x0) * W, (y1 - y0) * H};
    if (r.width < GALLERY_MIN_SIDE || r.height < GALLERY_MIN_SIDE) return std::nullopt;
    if (!(r.width * r.height < GALLERY_MAX_AREA_SHARE * W * H)) return std::nullopt;
    return r;
}

Answer CaptureHandlers::captureFrame(const std::optional<std::string>& query) {
    const std::optional<PickedWindow> picked = findWindow(s_.windows, s_.lock, s_.out, query);
    if (!picked) return nothingFound("no meeting window found");
    const Image image = screenshot(s_.windows, picked->window);
    const std::vector<TextObservation> lines = readText(s_.text, image, windowKey(picked->window), s_.out, lastTextFailure_);
    const int hits = toolbarHits(lines);
    if (picked->unproven && hits < LOCK_MIN_UI_HITS) {
        s_.out.log("[tessival] CAPTURE_FRAME refused \u2014 UNPROVEN window (call-ui x" + std::to_string(hits) +
                   "): " + appAndTitle(picked->window));
        return Answer{{"ok", true}, {"window", windowInfo(*picked)}, {"unproven", true}};
    }
    std::vector<Rect> boxes;
    std::vector<std::string> nameTexts;
    for (const TextObservation& n : nameLines(lines, titleOf(picked->window))) {
        boxes.push_back(n.box);
        nameTexts.push_back(n.text);
    }
    const std::vector<Rect> tiles = inferTiles(boxes, nameTexts);

    Image frame = image;
    if (const std::optional<Rect> g = galleryRect(tiles, image.width, image.height)) {
        // Whole pixels covering the rectangle, as an image crop of a fractional rectangle does.
        const double left = std::floor(g->x), top = std::floor(g->y);
        const Rect pixels{left, top, std::ceil(g->maxX()) - left, std::ceil(g->maxY()) - top};
        if (std::optional<Image> crop = cropImage(image, pixels)) {
            s_.out.log("[tessival] CAPTURE_FRAME gallery crop " + std::to_string(static_cast<int64_t>(g->width)) +
                       "x" + std::to_string(static_cast<int64_t>(g->height)) + " of " +
                       std::to_string(image.width) + "x" + std::to_string(image.height) +
                       " (tiles=" + std::to_string(tiles.size()) + ")");
            frame = std::move(*crop);
        }
    }
    frame = downscaleIfNeeded(frame, ROSTER_FRAME_MAX_SIDE);
    std::optional<std::string> png = pngBase64(frame);
    if (!png) return failure("frame PNG encode failed");
    s_.out.log("[tessival] CAPTURE_FRAME " + std::to_string(frame.width) + "x" + std::to_string(frame.height) +
               " (roster)");
    return Answer{{"ok", true}, {"window", windowInfo(*picked)}, {"full_frame", std::move(*png)}};
}

Answer CaptureHandlers::captureSlide(const std::optional<std::string>& query) {
    const std::optional<WindowFacts> window = findSlideWindow(s_.windows, query);
    if (!window) return nothingFound("no shared-screen or slide window found");
    const Image image = screenshot(s_.windows, *window);
    const std::string text = slideText(readText(s_.text, image, windowKey(*window), s_.out, lastTextFailure_));
    return Answer{{"ok", true},
                  {"window", Answer{{"app", appName(*window)},
                                     {"title", titleOf(*window)},
                                     {"source", window->source}}},
                  {"text", text}};
}

Answer CaptureHandlers::nothingFound(const char* error) {
    if (s_.chooser != nullptr && !s_.chooser->hasChoice()) return failure("no window chosen");
    return failure(error);
}

Answer CaptureHandlers::chooseWindow() {
    if (s_.chooser == nullptr) return failure("window choice unavailable: not needed on this desktop");
    const WindowChoice choice = s_.chooser->choose();
    switch (choice.outcome) {
        case WindowChoice::Outcome::Cancelled:
            s_.out.log("[tessival] window choice cancelled by the user");
            return failure("window choice cancelled");
        case WindowChoice::Outcome::Unavailable:
            s_.out.log("[tessival] window choice unavailable: " + choice.reason);
            return failure("window choice unavailable: " + choice.reason);
        case WindowChoice::Outcome::Chosen:
            break;
    }
    const WindowFacts& w = choice.window;
    const std::vector<DisplayFacts> displays = s_.windows.shareableContent(false).displays;
    const std::optional<DisplayFacts> display = displayFor(w, displays);
    const PickedWindow picked =
        makePicked(w, displays, display ? std::optional<uint32_t>(display->id) : std::nullopt,
                   s_.windows.mainDisplayId(), {.area = w.frame.width * w.frame.height});
    s_.out.log("[tessival] window chosen: " + describe(w));
    return Answer{{"ok", true}, {"window", windowInfo(picked)}};
}

}  // namespace tessival
