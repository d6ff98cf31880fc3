#include "analysis/ocr.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <numeric>
#include <optional>
#include <thread>

#include "analysis/ocr_prep.h"
#include "analysis/ocr_words.h"
#include "analysis/text_height.h"
#include "base/unicode_text.h"

namespace tessival {
namespace {

bool insideBox(const PixelArea& b, double x, double y) {
    return x >= static_cast<double>(b.x) && y >= static_cast<double>(b.y) &&
           x < static_cast<double>(b.x + b.width) && y < static_cast<double>(b.y + b.height);
}

std::vector<TextObservation> observations(std::vector<RecognizedLine> lines) {
    std::vector<TextObservation> out;
    out.reserve(lines.size());
    for (RecognizedLine& line : lines) {
        out.push_back(TextObservation{std::move(line.text), line.confidence, line.box});
    }
    return out;
}

}  // namespace

namespace {

// A word the engine doubts is looked at again alone when it is a word of this many letters
// or more: an icon beside a label (a crossed-out microphone) drags the confidence of a
// plainly drawn name to nothing ("John" at 0.04 beside one, 0.96 alone).
constexpr size_t SECOND_LOOK_MIN_LETTERS = 3;
// Only a word the engine all but rejects is looked at again (a reading it half trusts is
// weighed with its line's other words): each look is one more reading.
constexpr float SECOND_LOOK_BELOW = 40.0f;
// Only a word of a line as short as a label is looked at again: a page of prose holds a
// hundred doubted words, and no name.
constexpr size_t SECOND_LOOK_MAX_WORDS = 5;
// Room left round the word: less than the gap to an icon beside it.
constexpr double SECOND_LOOK_MARGIN = 0.25;

// The words of a line's reading, which the engine joins with single spaces.
size_t wordCount(std::string_view text) { return static_cast<size_t>(std::count(text.begin(), text.end(), ' ')) + 1; }

bool isPlainWord(const std::string& text) {
    size_t letters = 0;
    for (const std::string_view ch : unicode::characters(text)) {
        if (unicode::isLetter(ch)) {
            ++letters;
        } else if (ch != "-" && ch != "'" && ch != ".") {
            return false;
        }
    }
    return letters >= SECOND_LOOK_MIN_LETTERS;
}

// The pixels of `picture` inside `area` on a canvas of their own shade (the mean of their top
// and bottom rows), with room of the area's height each way: the engine reads a part cut
// close round its letters worse than one with room round them.
GreyImage onOwnShade(const GreyImage& picture, const PixelArea& area) {
    const GreyImage alone = cropGrey(picture, area);
    uint64_t sum = 0;
    for (int64_t c = 0; c < alone.width; ++c)
        sum += alone.pixels[static_cast<size_t>(c)] +
               alone.pixels[static_cast<size_t>((alone.height - 1) * alone.width + c)];
    const auto shade = static_cast<uint8_t>(sum / static_cast<uint64_t>(2 * alone.width));
    const int64_t pad = alone.height;
    GreyImage canvas;
    canvas.width = std::max(alone.width + 2 * pad, MIN_PART_SIDE);
    canvas.height = std::max(alone.height + 2 * pad, MIN_PART_SIDE);
    canvas.inverted = picture.inverted;
    canvas.pixels.assign(static_cast<size_t>(canvas.width * canvas.height), shade);
    for (int64_t row = 0; row < alone.height; ++row)
        std::copy_n(alone.pixels.data() + row * alone.width, alone.width,
                    canvas.pixels.data() + (row + pad) * canvas.width + pad);
    return canvas;
}

// `word` (a box in pixels of `picture`) with the confidence of its reading alone, on the
// shade of its surroundings, when that reading gives the same word more surely.
void secondLook(TextRecognizer& recognizer, const GreyImage& picture, OcrWord& word) {
    if (word.conf >= SECOND_LOOK_BELOW || !isPlainWord(word.text)) return;
    const double margin = SECOND_LOOK_MARGIN * word.box.height;
    const int64_t x0 = std::max<int64_t>(0, std::llround(word.box.minX() - margin));
    const int64_t y0 = std::max<int64_t>(0, std::llround(word.box.minY() - margin));
    const int64_t x1 = std::min<int64_t>(picture.width, std::llround(word.box.maxX() + margin));
    const int64_t y1 = std::min<int64_t>(picture.height, std::llround(word.box.maxY() + margin));
    if (x1 - x0 < 2 || y1 - y0 < 2) return;
    const GreyImage canvas = onOwnShade(picture, PixelArea{x0, y0, x1 - x0, y1 - y0});
    const std::vector<std::vector<OcrWord>> again = recognizer.read(canvas, TextLayout::SingleLine);
    if (again.size() == 1 && again.front().size() == 1 && again.front().front().text == word.text)
        word.conf = std::max(word.conf, again.front().front().conf);
}

// The cleaned lines of `picture`, which shows the part of a `width` x `height` capture from
// (`x`, `y`), keeping the words whose middles fall inside `core`; boxes normalised to the
// capture.
std::vector<RecognizedLine> readPart(TextRecognizer& recognizer, const GreyImage& picture, int64_t x, int64_t y,
                                     const PixelArea& core, int64_t width, int64_t height, TextLayout layout,
                                     float minConfidence = LINE_MIN_CONFIDENCE, double scale = 1.0) {
    std::vector<RecognizedLine> lines;
    for (std::vector<OcrWord>& words : recognizer.read(picture, layout)) {
        const bool labelSized = words.size() <= SECOND_LOOK_MAX_WORDS;
        std::erase_if(words, [&](OcrWord& word) {
            if (!insideBox(core, word.box.midX() / scale + static_cast<double>(x),
                           word.box.midY() / scale + static_cast<double>(y)))
                return true;
            if (labelSized) secondLook(recognizer, picture, word);
            const Rect& b = word.box;
            word.box = Rect{b.x / scale + static_cast<double>(x), b.y / scale + static_cast<double>(y), b.width / scale,
                            b.height / scale};
            return false;
        });
        std::optional<RecognizedLine> line =
            assembleLine(words, static_cast<double>(width), static_cast<double>(height), minConfidence);
        if (line) lines.push_back(std::move(*line));
    }
    return lines;
}

// The lines of `part` of `grey` read as one line on its own shade (see onOwnShade()), turned
// to dark strokes on light when most of the part is dark: the engine reads a lone line best
// so. The part's edge does not tell: a light ring under a label's dark chip lightens it.
std::vector<RecognizedLine> readAlone(TextRecognizer& recognizer, const GreyImage& grey, const PixelArea& part) {
    GreyImage canvas = onOwnShade(grey, part);
    if (canvas.pixels.empty()) return {};
    std::vector<uint8_t> inside = cropGrey(grey, part).pixels;
    const auto middle = inside.begin() + static_cast<std::ptrdiff_t>(inside.size() / 2);
    std::nth_element(inside.begin(), middle, inside.end());
    if (*middle < 128) turnOver(canvas);
    const int64_t pad = part.height;
    return readPart(recognizer, canvas, part.x - pad, part.y - pad, part, grey.width, grey.height,
                    TextLayout::SingleLine);
}

// A part's ground is dark under this level, and plain where this share of its edge is within
// the tolerance of the edge's median.
constexpr int GROUND_DARK_MAX = 100;
constexpr int GROUND_TOLERANCE = 24;
constexpr double GROUND_PLAIN_SHARE = 0.9;

// A line read alone is enlarged when its letters are this much under the best height: a
// dialog's 12 px caption beside avatars read "araya stenar" at its size, "Anaiya Stewart"
// at 16.
constexpr double FIT_LETTERS_BELOW = 1.2;

// A region is read with this much room either side, in pixels at reading size (under a
// letter's height): a label the region finder split at a wide gap ("Mwan" and "gi") is read
// whole, each word kept by the region its middle lies in.
constexpr int64_t REGION_SIDE_ROOM = 12;

// Whether the edge of `part` is one dark shade: text on a plain panel whose polarity is not
// the picture's (a light dialog in a dark window, a dark toolbar in a light one), which the
// engine reads only turned to dark strokes on light.
bool onDarkGround(const GreyImage& part) {
    std::vector<uint8_t> edge;
    for (int64_t c = 0; c < part.width; ++c) {
        edge.push_back(part.pixels[static_cast<size_t>(c)]);
        edge.push_back(part.pixels[static_cast<size_t>((part.height - 1) * part.width + c)]);
    }
    for (int64_t r = 1; r + 1 < part.height; ++r) {
        edge.push_back(part.pixels[static_cast<size_t>(r * part.width)]);
        edge.push_back(part.pixels[static_cast<size_t>(r * part.width + part.width - 1)]);
    }
    std::nth_element(edge.begin(), edge.begin() + static_cast<std::ptrdiff_t>(edge.size() / 2), edge.end());
    const int median = edge[edge.size() / 2];
    if (median >= GROUND_DARK_MAX) return false;
    const auto plain = std::count_if(edge.begin(), edge.end(),
                                     [&](uint8_t p) { return std::abs(int{p} - median) <= GROUND_TOLERANCE; });
    return static_cast<double>(plain) >= GROUND_PLAIN_SHARE * static_cast<double>(edge.size());
}

}  // namespace

std::vector<RecognizedLine> readRegion(TextRecognizer& recognizer, const GreyImage& grey, const PixelArea& core,
                                       std::optional<TextLayout> layout, bool fitLetters, bool twoTone) {
    const int64_t x0 = std::max<int64_t>(0, core.x - REGION_SIDE_ROOM);
    const int64_t x1 = std::min(grey.width, core.x + core.width + REGION_SIDE_ROOM);
    const PixelArea part = atLeast(PixelArea{x0, core.y, x1 - x0, core.height}, MIN_PART_SIDE, grey.width, grey.height);
    GreyImage crop = cropGrey(grey, part);
    if (crop.pixels.empty()) return {};
    if (onDarkGround(crop)) turnOver(crop);
    double scale = 1.0;
    if (fitLetters) {
        const std::optional<double> h = textHeight(crop);
        if (h && *h > 0 && *h * FIT_LETTERS_BELOW < BEST_TEXT_HEIGHT) {
            scale = std::min(BEST_TEXT_HEIGHT / *h, MAX_READING_SCALE);
            const bool inverted = crop.inverted;
            crop = scaleGrey(crop, scale);
            crop.inverted = inverted;
        }
    }
    if (twoTone) binarise(crop);
    return readPart(recognizer, crop, part.x, part.y, core, grey.width, grey.height,
                    layout.value_or(TextLayout::Sparse), LINE_MIN_CONFIDENCE, scale);
}

namespace {

// A band's lines down to this confidence are read; under LINE_MIN_CONFIDENCE they stand only
// where the band's light pixels read alone give the same words (see readRegions).
constexpr float BAND_UNSURE_MIN_CONFIDENCE = 0.4f;

// readRegion() of a label band, turned so its brighter side is the background: a label on a
// tile is drawn light on the darker picture or chip under it, and the engine reads dark
// strokes on light best (a dark meeting's slide can make the whole picture count as light).
// With `fitLetters`, small letters are first enlarged as a picture's are: a shared slide's big
// letters keep a standard-density window at its size, and the 7 px label of a filmstrip tile
// under its speaker's ring read as nothing there ("Kwame Mensah" at 0.96 enlarged).
std::vector<RecognizedLine> readBand(TextRecognizer& recognizer, const GreyImage& grey, const PixelArea& core,
                                     const GreyImage& pixels, bool fitLetters) {
    uint64_t sum = 0;
    for (const uint8_t p : pixels.pixels) sum += p;
    const PixelArea part = atLeast(core, MIN_PART_SIDE, grey.width, grey.height);
    GreyImage crop = cropGrey(grey, part);
    if (crop.pixels.empty()) return {};
    if (sum < uint64_t{128} * pixels.pixels.size()) turnOver(crop);
    const double scale = fitLetters ? readingScale(textHeight(crop)) : 1.0;
    if (scale != 1.0) {
        const bool inverted = crop.inverted;
        crop = scaleGrey(crop, scale);
        crop.inverted = inverted;
    }
    return readPart(recognizer, crop, part.x, part.y, core, grey.width, grey.height, TextLayout::Sparse,
                    BAND_UNSURE_MIN_CONFIDENCE, scale);
}

// Calls work(lane, k) for each k below `count`, spread over the lanes of `recognizer`, the
// largest parts (`sizes`) first so the lanes end together; what a lane throws is thrown here
// once every lane has stopped.
template <typename Work>
void inLanes(TextRecognizer& recognizer, const std::vector<int64_t>& sizes, Work work) {
    const size_t count = sizes.size();
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return sizes[a] > sizes[b]; });
    const size_t lanes = count < 2 ? 1 : std::min(recognizer.lanes(), count);
    std::atomic<size_t> next{0};
    std::vector<std::exception_ptr> failed(lanes);
    const auto run = [&](size_t lane) {
        try {
            TextRecognizer* reader = recognizer.lane(lane);
            if (reader == nullptr) return;
            for (size_t k = next++; k < count; k = next++) work(*reader, order[k]);
        } catch (...) {
            failed[lane] = std::current_exception();
            next = count;
        }
    };
    std::vector<std::thread> threads;
    for (size_t lane = 1; lane < lanes; ++lane) threads.emplace_back(run, lane);
    run(0);
    for (std::thread& t : threads) t.join();
    for (const std::exception_ptr& e : failed)
        if (e) std::rethrow_exception(e);
}

// The lines of `parts` (`pictures` of them; an empty one is skipped), each from `lookup` when
// it knows the part and its picture, else read(lane, index) on one of the recogniser's lanes;
// `seen` is then told each part, its picture (moved out of `pictures`) and its lines, in order.
template <typename Lookup, typename Seen, typename Read>
std::vector<RecognizedLine> readParts(TextRecognizer& recognizer, const std::vector<PixelArea>& parts,
                                      std::vector<GreyImage>& pictures, Lookup& lookup, Seen& seen, Read read) {
    std::vector<std::vector<RecognizedLine>> found(parts.size());
    std::vector<size_t> unknown;
    std::vector<int64_t> sizes;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (pictures[i].pixels.empty()) continue;
        if (const std::vector<RecognizedLine>* known = lookup(parts[i], pictures[i])) {
            found[i] = *known;
        } else {
            unknown.push_back(i);
            sizes.push_back(parts[i].width * parts[i].height);
        }
    }
    inLanes(recognizer, sizes, [&](TextRecognizer& lane, size_t k) { found[unknown[k]] = read(lane, unknown[k]); });
    std::vector<RecognizedLine> lines;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (pictures[i].pixels.empty()) continue;
        lines.insert(lines.end(), found[i].begin(), found[i].end());
        seen(parts[i], std::move(pictures[i]), std::move(found[i]));
    }
    return lines;
}

// The lines of `cores` in `grey` (see readParts), read as `layout` when given.
template <typename Lookup, typename Seen>
std::vector<RecognizedLine> readCores(TextRecognizer& recognizer, const GreyImage& grey,
                                      const std::vector<PixelArea>& cores, std::optional<TextLayout> layout,
                                      Lookup& lookup, Seen& seen, bool bands = false, bool fit = false,
                                      bool twoTone = false, bool turned = false) {
    std::vector<GreyImage> pixels;
    for (const PixelArea& core : cores) {
        pixels.push_back(cropGrey(grey, core));
        // Kept in two tones or turned over too: that reading of a core is told from its first
        // one. A band's pixels turned over turn its reading the other way (see readBand()).
        if (twoTone) binarise(pixels.back());
        if (turned) turnOver(pixels.back());
    }
    return readParts(recognizer, cores, pixels, lookup, seen, [&](TextRecognizer& lane, size_t i) {
        return bands ? readBand(lane, grey, cores[i], pixels[i], fit)
                     : readRegion(lane, grey, cores[i], layout, fit, twoTone);
    });
}

// A group of text cells is one line of text up to this height at reading size (a line's
// cells and their padding), and is this many times as wide as high.
constexpr int64_t MISSED_LINE_MAX_HEIGHT = 56;
constexpr int64_t MISSED_LINE_MIN_ASPECT = 3;
// A region up to this high at reading size and this many times as wide holds a line or two
// and what stands beside them (a name bar with its icons under a thumbnail).
constexpr int64_t SILENT_MAX_HEIGHT = 112;
constexpr int64_t SILENT_MIN_ASPECT = 2;

// A label band at reading size is at most this many best text heights tall: a tall tile's
// bottom fifth is mostly picture, and the engine reads a line best in a strip about its size.
constexpr double BAND_MAX_TEXT_HEIGHTS = 4.5;
constexpr double BAND_TILE_SHARE = 0.2;

// A band whose reading has at most this many letters read a fragment of its label, if any.
constexpr size_t BAND_FRAGMENT_LETTERS = 4;
// Unsure readings that agree stand from this many letters (an icon reads alike twice too).
constexpr size_t AGREED_MIN_LETTERS = 3;
// A band's light strokes read alone, unconfirmed, stand from this many letters and this
// confidence (see readRegions).
constexpr size_t LONE_LIGHT_MIN_LETTERS = 6;
constexpr float LONE_LIGHT_MIN_CONFIDENCE = 0.45f;

// A label a region's reading doubts this much is read again in its band: a page-sized region
// of a dense gallery reads labels clipped ("mma Schi midt" at 0.70) that read whole alone.
constexpr float BAND_REREAD_BELOW = 0.8f;

// A label sits within this many of its letters' heights of a side of its tile, or centred
// to this share of its width; a sure line elsewhere in the band may be the end of a label
// whose start the region's reading lost ("Okafor" for "Amara Okafor"), and the band is read.
constexpr double LABEL_INSET_HEIGHTS = 2.0;
constexpr double LABEL_CENTRE_SHARE = 0.1;

// The label bands of `tiles` (normalised) in pixels of `grey` that no sure line placed as a
// label (see LABEL_INSET_HEIGHTS) reaches.
std::vector<PixelArea> unreadBands(const GreyImage& grey, const std::vector<Rect>& tiles,
                                   const std::vector<RecognizedLine>& lines) {
    const double w = static_cast<double>(grey.width), h = static_cast<double>(grey.height);
    std::vector<PixelArea> bands;
    for (const Rect& tile : tiles) {
        const Rect band = labelBand(tile);
        const bool reached = std::any_of(lines.begin(), lines.end(), [&](const RecognizedLine& l) {
            const double inset = LABEL_INSET_HEIGHTS * l.box.height * h / w;
            const bool placed = l.box.x - tile.x <= inset || tile.maxX() - l.box.maxX() <= inset ||
                                std::abs(l.box.midX() - tile.midX()) <= LABEL_CENTRE_SHARE * tile.width;
            return band.intersection(l.box).area() > 0 && l.confidence >= BAND_REREAD_BELOW && placed;
        });
        if (reached) continue;
        const double y1 = band.maxY() * h;
        const double y0 = std::max(band.y * h, y1 - BAND_MAX_TEXT_HEIGHTS * BEST_TEXT_HEIGHT);
        const PixelArea px{std::llround(band.x * w), std::llround(y0), std::llround(band.width * w),
                           std::llround(y1 - y0)};
        if (px.width >= 8 && px.height >= 8) bands.push_back(px);
    }
    return bands;
}

// The lines of the label-light pixels of each of `bands` (pixels of `grey`, the reading-size
// copy of `img`), each from `lookup` when it knows the band and those pixels, else read;
// `seen` is told each.
template <typename Lookup, typename Seen>
std::vector<RecognizedLine> readLightStrokes(TextRecognizer& recognizer, const GreyImage& grey, const Image& img,
                                             const std::vector<PixelArea>& bands, Lookup& lookup, Seen& seen) {
    const double scale = static_cast<double>(grey.width) / static_cast<double>(img.width);
    const auto native = [&](double v) { return std::llround(v / scale); };
    std::vector<GreyImage> pictures;
    for (const PixelArea& band : bands) {
        const GreyImage strokes = lightStrokes(img, native(double(band.x)), native(double(band.y)),
                                               native(double(band.width)), native(double(band.height)));
        GreyImage& picture = pictures.emplace_back();
        if (strokes.pixels.empty()) continue;
        // White round the strokes up to the size the engine reads a part at.
        const GreyImage scaled = scaleGrey(strokes, scale);
        picture.width = std::max(scaled.width, MIN_PART_SIDE);
        picture.height = std::max(scaled.height, MIN_PART_SIDE);
        picture.pixels.assign(static_cast<size_t>(picture.width * picture.height), 255);
        for (int64_t row = 0; row < scaled.height; ++row)
            std::copy_n(scaled.pixels.data() + row * scaled.width, scaled.width,
                        picture.pixels.data() + row * picture.width);
    }
    return readParts(recognizer, bands, pictures, lookup, seen, [&](TextRecognizer& lane, size_t i) {
        const PixelArea& band = bands[i];
        return readPart(lane, pictures[i], std::llround(static_cast<double>(native(double(band.x))) * scale),
                        std::llround(static_cast<double>(native(double(band.y))) * scale), band, grey.width,
                        grey.height, TextLayout::Sparse, BAND_UNSURE_MIN_CONFIDENCE);
    });
}

// The picture at reading size, and a copy with its coloured lines erased (eraseColourLines())
// for the readings beside them, made only when such a reading is: a capture whose regions
// all read as before (a warm one) needs none, and the erasing was a fifth of its cost.
class ReadingPictures {
public:
    explicit ReadingPictures(const Image& img) : img_(img) {
        GreyImage native = toOcrGrey(img);
        scale_ = pictureReadingScale(native);
        if (scale_ == 1.0) {
            layout = std::move(native);
        } else {
            layout = scaleGrey(native, scale_);
            native_ = std::move(native);
        }
    }

    GreyImage layout;

    // The reading-size copy without coloured lines; the layout picture when it had none.
    const GreyImage& clean() const {
        if (!erasing_) {
            erasing_ = true;
            GreyImage erased = native_ ? *native_ : layout;
            if (eraseColourLines(img_, erased)) clean_ = scale_ == 1.0 ? std::move(erased) : scaleGrey(erased, scale_);
        }
        return clean_ ? *clean_ : layout;
    }

private:
    const Image& img_;
    std::optional<GreyImage> native_;  // at its own size, when that is not the reading size
    double scale_ = 1.0;
    mutable bool erasing_ = false;
    mutable std::optional<GreyImage> clean_;
};

// A line read with doubt next to a coloured line (a speaker's ring under a label reads as
// strokes of its letters: "Leilari Kabale") is read again with the coloured line erased; a
// surer reading with as many letters stands. A sure line keeps its reading: erasing can tip
// the engine's reading of a clear label the wrong way too.
void rereadBesideColourLines(TextRecognizer& recognizer, const ReadingPictures& picture,
                             std::vector<RecognizedLine>& lines) {
    const GreyImage& grey = picture.layout;
    const double w = static_cast<double>(grey.width), h = static_cast<double>(grey.height);
    for (RecognizedLine& line : lines) {
        if (line.confidence >= BAND_REREAD_BELOW) continue;
        const GreyImage& clean = picture.clean();
        if (&clean == &grey) return;
        const double room = line.box.height * h;
        const int64_t x0 = std::max<int64_t>(0, std::llround(line.box.x * w - room));
        const int64_t y0 = std::max<int64_t>(0, std::llround(line.box.y * h - room));
        const int64_t x1 = std::min<int64_t>(grey.width, std::llround(line.box.maxX() * w + room));
        const int64_t y1 = std::min<int64_t>(grey.height, std::llround(line.box.maxY() * h + room));
        if (x1 <= x0 || y1 <= y0) continue;
        bool erased = false;
        for (int64_t y = y0; y < y1 && !erased; ++y)
            erased = !std::equal(grey.pixels.begin() + y * grey.width + x0, grey.pixels.begin() + y * grey.width + x1,
                                 clean.pixels.begin() + y * grey.width + x0);
        if (!erased) continue;
        const std::vector<RecognizedLine> again =
            readRegion(recognizer, clean, PixelArea{x0, y0, x1 - x0, y1 - y0}, TextLayout::SingleLine, false);
        if (again.size() == 1 && again.front().confidence > line.confidence &&
            unicode::letterCount(again.front().text) >= unicode::letterCount(line.text))
            line = again.front();
    }
}

// A line's reading counts as cut short when its strokes run on this many of its letters'
// heights past an end (a chip's edge half a height after the last letter stays under it),
// with no gap of CUT_SHORT_GAP_HEIGHTS between them (a word gap is about a third).
constexpr double CUT_SHORT_HEIGHTS = 1.0;
// Strokes running on less far, down to this, may be one lost letter ("roha Ngata"): a reading
// that only adds letters to the first or last word stands then.
constexpr double CUT_SHORT_GLUED_HEIGHTS = 0.6;
constexpr double CUT_SHORT_GAP_HEIGHTS = 0.6;
// A letter's stroke changes brightness this sharply from one pixel to the next but one.
constexpr int CUT_SHORT_EDGE = 40;
// A line cut short is read again with this much room round it, in its letters' heights.
constexpr double CUT_SHORT_ROOM = 0.5;
// A reading of a line cut short stands where it adds this many letters at least, or letters
// glued to its first or last word.
constexpr size_t CUT_SHORT_MIN_ADDED = 2;

// The column of `grey` where the strokes of the line in rows [y0, y1) that run on from
// column `x` in direction `step` (1 or -1) end: the last with a stroke before a gap of `gap`
// columns.
int64_t strokesEnd(const GreyImage& grey, int64_t x, int64_t step, int64_t y0, int64_t y1, int64_t gap) {
    int64_t last = x;
    const auto within = [&](int64_t c) { return c >= 1 && c + 1 < grey.width && std::abs(c - last) <= gap; };
    for (int64_t c = std::clamp<int64_t>(x, 1, grey.width - 2); within(c); c += step) {
        for (int64_t r = y0; r < y1; ++r) {
            const uint8_t* row = grey.pixels.data() + r * grey.width;
            if (std::abs(int{row[c + 1]} - int{row[c - 1]}) >= CUT_SHORT_EDGE) {
                last = c;
                break;
            }
        }
    }
    return last;
}

// A label-sized line whose strokes run on well past either end of its reading (the engine's
// local threshold loses the last letters of a label beside a bright picture: "Ana Lúcia
// Fer"; the first ones beside an avatar: "ottir") is read again alone across them, on its
// own shade; a sure reading that holds the first one and adds letters to it stands, and the
// lines it took in ("Henri" of "Henrik Müller", read apart) go.
void rereadCutShortLines(TextRecognizer& recognizer, const GreyImage& grey, std::vector<RecognizedLine>& lines) {
    const double w = static_cast<double>(grey.width), h = static_cast<double>(grey.height);
    std::vector<bool> grown(lines.size(), false);
    for (size_t i = 0; i < lines.size(); ++i) {
        RecognizedLine& line = lines[i];
        if (wordCount(line.text) > SECOND_LOOK_MAX_WORDS) continue;
        const double lineH = line.box.height * h;
        // The middle half of the line's rows: accents and descenders stand apart there.
        const int64_t y0 = std::clamp<int64_t>(std::llround((line.box.y + 0.25 * line.box.height) * h), 0, grey.height);
        const int64_t y1 = std::clamp<int64_t>(std::llround((line.box.y + 0.75 * line.box.height) * h), 0, grey.height);
        const int64_t x0 = std::llround(line.box.x * w), x1 = std::llround(line.box.maxX() * w);
        if (y1 <= y0 || x1 >= grey.width || grey.width < 3) continue;
        const int64_t gap = std::llround(CUT_SHORT_GAP_HEIGHTS * lineH);
        const int64_t start = strokesEnd(grey, x0, -1, y0, y1, gap), end = strokesEnd(grey, x1, 1, y0, y1, gap);
        const double runOn = static_cast<double>(std::max(end - x1, x0 - start));
        if (runOn < CUT_SHORT_GLUED_HEIGHTS * lineH) continue;
        const bool far = runOn >= CUT_SHORT_HEIGHTS * lineH;
        const double room = CUT_SHORT_ROOM * lineH;
        const int64_t left = std::max<int64_t>(0, std::llround(static_cast<double>(start) - room));
        const int64_t top = std::max<int64_t>(0, std::llround(line.box.y * h - room));
        const int64_t right = std::min<int64_t>(grey.width, std::llround(static_cast<double>(end) + room));
        const int64_t bottom = std::min<int64_t>(grey.height, std::llround(line.box.maxY() * h + room));
        const std::vector<RecognizedLine> again =
            readAlone(recognizer, grey, PixelArea{left, top, right - left, bottom - top});
        if (again.size() != 1 || again.front().confidence < LINE_MIN_CONFIDENCE) continue;
        // What the reading adds is letters: an icon beside a label reads as a sign or a digit ("B4").
        const std::string& longer = again.front().text;
        // The same letters in fewer words: the engine split the words of the region's reading
        // at its letters' gaps ("Al ejand ro Ruiz-Ta gle").
        const auto unspaced = [](std::string t) {
            std::erase(t, ' ');
            return t;
        };
        if (unspaced(longer) == unspaced(line.text) && wordCount(longer) < wordCount(line.text)) {
            line = again.front();
            grown[i] = true;
            continue;
        }
        const size_t at = longer.find(line.text);
        if (at == std::string::npos) continue;
        const std::string added = longer.substr(0, at) + longer.substr(at + line.text.size());
        // Letters glued to the first or last word are no icon beside the label: "A" of "Aroha".
        const bool glued = added.find(' ') == std::string::npos;
        if (unicode::letterCount(added) >= (glued ? size_t{1} : CUT_SHORT_MIN_ADDED) && (glued || far) &&
            std::none_of(added.begin(), added.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            line = again.front();
            grown[i] = true;
        }
    }
    const auto takenIn = [&](size_t j) {
        for (size_t i = 0; i < lines.size(); ++i) {
            const RecognizedLine &a = lines[i], &b = lines[j];
            if (i == j || !grown[i] || !a.box.contains(b.box.midX(), b.box.midY()) ||
                a.text.find(b.text) == std::string::npos)
                continue;
            if (a.text.size() > b.text.size() || i < j) return true;
        }
        return false;
    };
    std::vector<bool> gone(lines.size());
    for (size_t j = 0; j < lines.size(); ++j) gone[j] = takenIn(j);
    std::vector<RecognizedLine> kept;
    for (size_t k = 0; k < lines.size(); ++k)
        if (!gone[k]) kept.push_back(std::move(lines[k]));
    lines = std::move(kept);
}

// The lines of every text region of `picture` (the reading-size copy of `img`, when given)
// and of the label bands of `tiles` no region reached (see readCores).
template <typename Lookup, typename Seen>
std::vector<TextObservation> readRegions(TextRecognizer& recognizer, const ReadingPictures& picture, const Image* img,
                                         const std::vector<Rect>& tiles, Lookup lookup, Seen seen) {
    const GreyImage& grey = picture.layout;
    // Only the parts that look like text are read: the engine's layout pass over camera
    // pictures was most of the time, and a label read alone is read better.
    const std::vector<PixelArea> components = textComponents(grey);
    const std::vector<PixelArea> regions = mergedRegions(components);
    std::vector<RecognizedLine> lines = readCores(recognizer, grey, regions, std::nullopt, lookup, seen);
    // A line-shaped region that read nothing is read again in two tones (see binarise()).
    std::vector<PixelArea> silent;
    std::copy_if(regions.begin(), regions.end(), std::back_inserter(silent), [&](const PixelArea& r) {
        const bool read = std::any_of(lines.begin(), lines.end(), [&](const RecognizedLine& l) {
            return insideBox(r, l.box.midX() * static_cast<double>(grey.width),
                             l.box.midY() * static_cast<double>(grey.height));
        });
        return !read && r.height <= SILENT_MAX_HEIGHT && r.width >= SILENT_MIN_ASPECT * r.height;
    });
    const std::vector<RecognizedLine> toned =
        readCores(recognizer, grey, silent, std::nullopt, lookup, seen, false, false, true);
    lines.insert(lines.end(), toned.begin(), toned.end());
    // The engine's layout pass over a region grown to page size (the edges of avatars and
    // dialogs joining labels to them) passes over some of its lines: a line-shaped group of
    // text cells no reading reached is read alone.
    std::vector<PixelArea> missed;
    for (const PixelArea& c : components) {
        if (std::find(regions.begin(), regions.end(), c) != regions.end()) continue;
        if (c.height > MISSED_LINE_MAX_HEIGHT || c.width < MISSED_LINE_MIN_ASPECT * c.height) continue;
        const bool reached = std::any_of(lines.begin(), lines.end(), [&](const RecognizedLine& l) {
            return insideBox(c, l.box.midX() * static_cast<double>(grey.width),
                             l.box.midY() * static_cast<double>(grey.height));
        });
        if (!reached) missed.push_back(c);
    }
    const std::vector<RecognizedLine> found = readCores(recognizer, grey, missed, std::nullopt, lookup, seen, false, true);
    lines.insert(lines.end(), found.begin(), found.end());
    // A label of a few pixels on a busy picture is not always told from it by its strokes;
    // where tiles are drawn, the place labels sit is read too.
    const std::vector<PixelArea> bands = unreadBands(grey, tiles, lines);
    // A picture enlarged for its letters has its bands at reading size; one read at its own
    // size may have small tiles beside its big text.
    const bool fitBands = img != nullptr && grey.width <= img->width;
    std::vector<RecognizedLine> unsure =
        readCores(recognizer, grey, bands, TextLayout::Sparse, lookup, seen, true, fitBands);
    const auto sure = [](std::vector<RecognizedLine> ls) {
        std::erase_if(ls, [](const RecognizedLine& l) { return l.confidence < LINE_MIN_CONFIDENCE; });
        return ls;
    };
    std::vector<RecognizedLine> banded = sure(unsure);
    // A white label over a light picture reads as nothing there: its light pixels alone do.
    if (img != nullptr) {
        // Bands that read as nothing or as a fragment of a word are read again; the reading
        // with more letters stands.
        const auto inside = [&](const PixelArea& band, const RecognizedLine& l) {
            return insideBox(band, l.box.midX() * static_cast<double>(grey.width),
                             l.box.midY() * static_cast<double>(grey.height));
        };
        const auto letters = [&](const PixelArea& band, const std::vector<RecognizedLine>& ls) {
            size_t n = 0;
            for (const RecognizedLine& l : ls)
                if (inside(band, l)) n += unicode::letterCount(l.text);
            return n;
        };
        // A band read with doubt is read again too ("Mia Wāgn:" at 0.71 beside a bright avatar),
        // its light pixels' reading standing only where it is surer.
        const auto doubt = [&](const PixelArea& band) {
            float least = 1.0f;
            for (const RecognizedLine& l : banded)
                if (inside(band, l)) least = std::min(least, l.confidence);
            return least;
        };
        std::vector<PixelArea> weak;
        for (const PixelArea& band : bands)
            if (letters(band, banded) <= BAND_FRAGMENT_LETTERS || doubt(band) < BAND_REREAD_BELOW)
                weak.push_back(band);
        const std::vector<RecognizedLine> lightAll = readLightStrokes(recognizer, grey, *img, weak, lookup, seen);
        // A speaker's ring drawn against a label hides it from the engine altogether: the band
        // is read again without the ring.
        std::vector<PixelArea> ringed;
        if (!weak.empty()) {
            const GreyImage& clean = picture.clean();
            std::copy_if(weak.begin(), weak.end(), std::back_inserter(ringed), [&](const PixelArea& band) {
                return &clean != &grey && cropGrey(clean, band).pixels != cropGrey(grey, band).pixels;
            });
        }
        const std::vector<RecognizedLine> unringed =
            ringed.empty() ? std::vector<RecognizedLine>{}
                           : sure(readCores(recognizer, picture.clean(), ringed, TextLayout::Sparse, lookup, seen,
                                            true, fitBands));
        const std::vector<RecognizedLine> light = sure(lightAll);
        // A dark chip's light label over a bright picture is read turned the wrong way; a
        // speaker's ring against it thins its light pixels to nothing ("Lell" for "Leilani").
        // Such a band, which nothing read more than a fragment of, is read turned over.
        std::vector<PixelArea> unread;
        std::copy_if(weak.begin(), weak.end(), std::back_inserter(unread), [&](const PixelArea& band) {
            return std::max({letters(band, banded), letters(band, light), letters(band, unringed)}) <=
                   BAND_FRAGMENT_LETTERS;
        });
        const std::vector<RecognizedLine> turned =
            unread.empty() ? std::vector<RecognizedLine>{}
                           : sure(readCores(recognizer, picture.clean(), unread, TextLayout::Sparse, lookup, seen,
                                            true, fitBands, false, true));
        for (const PixelArea& band : weak) {
            const bool fragment = letters(band, banded) <= BAND_FRAGMENT_LETTERS;
            const float doubted = doubt(band);
            for (const std::vector<RecognizedLine>* other : {&light, &unringed, &turned}) {
                if (letters(band, *other) <= letters(band, banded)) continue;
                const bool surer = std::all_of(other->begin(), other->end(), [&](const RecognizedLine& l) {
                    return !inside(band, l) || l.confidence > doubted;
                });
                if (!fragment && !surer) continue;
                std::erase_if(banded, [&](const RecognizedLine& l) { return inside(band, l); });
                for (const RecognizedLine& l : *other)
                    if (inside(band, l)) banded.push_back(l);
            }
            if (letters(band, banded) > 0) continue;
            // Two readings of one label, one of its shading and one of its light pixels alone,
            // that give the same words are its words, however unsure the engine was of each.
            for (const RecognizedLine& l : lightAll) {
                const bool agreed = inside(band, l) && unicode::letterCount(l.text) >= AGREED_MIN_LETTERS &&
                                    std::any_of(unsure.begin(), unsure.end(), [&](const RecognizedLine& u) {
                                        return inside(band, u) && u.text == l.text;
                                    });
                if (agreed) banded.push_back(l);
            }
            // Clean light strokes of letters drawn large enough to need no enlarging, read as
            // one long word, are its label though the engine doubts it: a user name is no word
            // it knows ("ccnex_pub_2" at 0.47). Enlarged small letters read as guesses, and
            // doubted words apart as pieces of a label ("ame Mer sal").
            if (letters(band, banded) > 0 || grey.width > img->width) continue;
            for (const RecognizedLine& l : lightAll)
                if (inside(band, l) && l.text.find(' ') == std::string::npos &&
                    unicode::letterCount(l.text) >= LONE_LIGHT_MIN_LETTERS && l.confidence >= LONE_LIGHT_MIN_CONFIDENCE)
                    banded.push_back(l);
        }
    }
    // A band ends where its tile does; a label running past it was read whole already, and
    // the band's piece of it is no line of its own (a line of no letters beside it, a row of
    // icons read as "000000", is no reading of that label). A doubted line gives way to the band's
    // reading of it when that is surer and whole: more letters in no more words, or as many
    // in fewer ("mma Schi midt" to "Emma Schmidt"; not "Ana Lúcia Ferreira" to "Fer reira");
    // any line gives way to a reading that adds whole words to it ("Amara Okafor") or the
    // letters it lost of its first or last word ("phie Berger").
    const auto near = [](const RecognizedLine& b, const RecognizedLine& l) {
        const Rect around{b.box.x - b.box.height, b.box.y, b.box.width + 2 * b.box.height, b.box.height};
        return around.intersection(l.box).area() > 0;
    };
    const auto wholer = [&](const RecognizedLine& b, const RecognizedLine& l) {
        const size_t bl = unicode::letterCount(b.text), ll = unicode::letterCount(l.text);
        const size_t bw = wordCount(b.text), lw = wordCount(l.text);
        return (bw <= lw && bl > ll) || (bw < lw && bl >= ll);
    };
    const auto extends = [&](const RecognizedLine& b, const RecognizedLine& l) {
        const size_t at = b.text.find(l.text);
        if (at == std::string::npos || unicode::letterCount(b.text) <= unicode::letterCount(l.text)) return false;
        const bool first = at == 0, last = at + l.text.size() == b.text.size();
        return first || last || (b.text[at - 1] == ' ' && b.text[at + l.text.size()] == ' ');
    };
    std::erase_if(lines, [&](const RecognizedLine& l) {
        return std::any_of(banded.begin(), banded.end(), [&](const RecognizedLine& b) {
                   return near(b, l) && ((l.confidence < BAND_REREAD_BELOW && b.confidence > l.confidence && wholer(b, l)) ||
                                         extends(b, l));
               });
    });
    std::erase_if(banded, [&](const RecognizedLine& b) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const RecognizedLine& l) { return near(b, l) && unicode::letterCount(l.text) > 0; });
    });
    lines.insert(lines.end(), banded.begin(), banded.end());
    rereadBesideColourLines(recognizer, picture, lines);
    rereadCutShortLines(recognizer, grey, lines);
    return observations(joinSplitLines(std::move(lines), static_cast<double>(grey.width),
                                       static_cast<double>(grey.height), tiles));
}

}  // namespace

Rect labelBand(const Rect& tile) {
    return Rect{tile.x, tile.maxY() - tile.height * BAND_TILE_SHARE, tile.width, tile.height * BAND_TILE_SHARE};
}

std::vector<TextObservation> ocr(TextRecognizer& recognizer, const Image& img) {
    const ReadingPictures picture(img);
    if (picture.layout.width < 3 || picture.layout.height < 3) return {};
    auto lookup = [](const PixelArea&, const GreyImage&) -> const std::vector<RecognizedLine>* { return nullptr; };
    auto seen = [](const PixelArea&, GreyImage&&, std::vector<RecognizedLine>&&) {};
    return readRegions(recognizer, picture, nullptr, {}, lookup, seen);
}

std::vector<TextObservation> ocr(TextRecognizer& recognizer, const Image& img, RegionCache& cache, uint64_t source,
                                 const std::vector<Rect>& tiles) {
    const ReadingPictures picture(img);
    const GreyImage& grey = picture.layout;
    if (grey.width < 3 || grey.height < 3) return {};
    std::vector<RegionCache::Region> regions;
    std::vector<TextObservation> out = readRegions(
        recognizer, picture, &img, tiles,
        [&](const PixelArea& core, const GreyImage& pixels) {
            return cache.find(source, grey.width, grey.height, core, pixels);
        },
        [&](const PixelArea& core, GreyImage&& pixels, std::vector<RecognizedLine>&& lines) {
            regions.push_back(RegionCache::Region{core, std::move(pixels), std::move(lines)});
        });
    cache.keep(source, grey.width, grey.height, std::move(regions));
    return out;
}

bool samePixels(const GreyImage& a, const GreyImage& b) {
    if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) return false;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        if (std::abs(int{a.pixels[i]} - int{b.pixels[i]}) > REGION_PIXEL_TOLERANCE) return false;
    }
    return true;
}

const std::vector<RecognizedLine>* RegionCache::find(uint64_t source, int64_t width, int64_t height,
                                                     const PixelArea& core, const GreyImage& pixels) const {
    for (const Capture& c : captures_) {
        if (c.source != source || c.width != width || c.height != height) continue;
        for (const Region& r : c.regions) {
            if (r.core == core && samePixels(r.pixels, pixels)) return &r.lines;
        }
        return nullptr;
    }
    return nullptr;
}

size_t RegionCache::bytes() const {
    size_t n = 0;
    for (const Capture& c : captures_) {
        for (const Region& r : c.regions) n += r.pixels.pixels.size();
    }
    return n;
}

void RegionCache::keep(uint64_t source, int64_t width, int64_t height, std::vector<Region> regions) {
    std::erase_if(captures_, [&](const Capture& c) { return c.source == source; });
    // A capture's regions do not overlap, so they hold at most one grey picture's worth; what
    // does not fit the budget is simply read again next time.
    size_t room = maxBytes_;
    std::erase_if(regions, [&](const Region& r) {
        if (r.pixels.pixels.size() > room) return true;
        room -= r.pixels.pixels.size();
        return false;
    });
    captures_.push_back(Capture{source, width, height, std::move(regions)});
    while (captures_.size() > maxSources_ || (captures_.size() > 1 && bytes() > maxBytes_)) {
        captures_.erase(captures_.begin());
    }
}

std::vector<TextObservation> RegionTextReader::read(const Image& img, uint64_t source, const std::vector<Rect>& tiles) {
    return ocr(recognizer_, img, cache_, source, tiles);
}

}  // namespace tessival
