#pragma once

#include <optional>
#include <vector>

#include "analysis/ocr_prep.h"
#include "analysis/text_regions.h"

// How big the letters of a part of a picture are, and how much to enlarge the part so the
// recogniser reads it at its best: a label 11 px high on a standard-density screen and the
// same label 22 px high in a 2x capture must read alike.
namespace tessival {

// The letter height the recogniser reads best, in pixels of the picture it is given, as
// textHeight() measures it (the rows that carry most of a line's strokes: about the
// lower-case height). Labels in 2x captures measure 14 to 16 and read well; the same labels
// in a saved standard-density screenshot measure 6 to 9 and are mostly lost. Enlarging such a
// picture until its labels measure 16 lifted names recall on 29 real screenshots read at their
// own size from 0.33 to 0.36 (a 1200 px wide gallery from 0 to 3 of 12 names); enlarging every
// part a second time to 12 or 16 after that gained nothing.
inline constexpr double BEST_TEXT_HEIGHT = 16.0;

// Enlargement stops here: letters under 4 px are not read at any scale.
inline constexpr double MAX_READING_SCALE = 4.0;

// Smaller enlargements are not worth their time and change what reads well: a 2x capture's
// labels measure 12 to 16 and read as well as they can.
inline constexpr double MIN_READING_SCALE = 1.5;

// The height in pixels of the main strokes of the text lines in `part` (a picture that holds
// one line or a few), the median over its lines weighted by their ink; nothing when the
// part shows no line of text.
std::optional<double> textHeight(const GreyImage& part, int* lineCount = nullptr);
// (`lineCount`, when given, receives the number of lines found.)

// A line of text found in a picture: its letters' height (textHeight()) and its width.
struct MeasuredLine {
    double height = 0;
    double width = 0;
};

// The lines of the text regions `regions` of `g` that hold one line and are at least 2.5
// times as wide as high (parts of camera pictures are not line-shaped).
std::vector<MeasuredLine> measuredLines(const GreyImage& g, const std::vector<PixelArea>& regions);

// The letter height of the labels and captions of a picture: the median of
// measuredLines(), weighted by width. Nothing when there is no such line.
std::optional<double> pictureTextHeight(const GreyImage& g, const std::vector<PixelArea>& regions);

// The factor by which to scale a picture whose letters are `height` px high to bring them to
// BEST_TEXT_HEIGHT: 1 when they are big enough or nearly so, never beyond MAX_READING_SCALE.
double readingScale(std::optional<double> height);

// Shrinking needs this many lines measured: a few big titles do not make a picture 2x.
inline constexpr size_t SHRINK_MIN_LINES = 6;
// A picture is shrunk by the height its smaller lines have (this share of the lines' width
// lies under it): a shared slide's big text must not shrink the labels beside it away.
inline constexpr double SHRINK_QUANTILE = 0.25;
// Nor is a picture shrunk that has more than this many lines of letters under this share of
// that height: a standard-density window's labels and captions beside a big slide.
inline constexpr double SMALLER_TEXT_SHARE = 0.6;
inline constexpr long SMALLER_TEXT_MAX_LINES = 2;
// Shrinking stops at half: a 2x capture reads like the standard-density one.
inline constexpr double MIN_SHRINK_SCALE = 0.5;

// The factor by which to scale a picture whose lines are `lines`: enlarged by their median
// height as above, or, when even its smaller letters are at least MIN_READING_SCALE times
// BEST_TEXT_HEIGHT high (a 2x or larger capture), shrunk to bring those to BEST_TEXT_HEIGHT.
// Letters twice the best size read worse, and camera grain at that size is found as text
// (a 2x copy of 29 real screenshots: names recall 0.31 read as it is, 0.36 shrunk).
double readingScale(const std::vector<MeasuredLine>& lines);

// A picture's letters are measured in its text regions where these hold this many lines,
// else in its groups of text cells (textComponents()): a 7 x 7 gallery at 1080 px wide read
// 10 of 49 names unmeasured at its own size, 38 enlarged by its labels' height.
inline constexpr size_t MEASURED_MIN_LINES = 2;

// The factor readingScale(measuredLines(...)) of `native`, a whole picture.
double pictureReadingScale(const GreyImage& native);

// `native` (a whole picture) scaled by pictureReadingScale(), or as it is. A
// picture of a standard-density screen (a saved screenshot) has labels half the size of a
// 2x capture's; its text is found and read at the size read best (at the smaller size the
// letters of small labels and the grain of the camera pictures round them run together).
GreyImage atReadingSize(GreyImage native);

// `g` scaled by `factor`: bilinear when enlarging, the average of the pixels covered when
// shrinking; a copy when the factor is 1 or the result would be empty.
GreyImage scaleGrey(const GreyImage& g, double factor);

}  // namespace tessival
