#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/image.h"
#include "analysis/ocr.h"
#include "base/rect.h"
#include "analysis/ring_scan.h"
#include "analysis/tile_layout.h"

namespace tessival {

// Tiles drawn in the picture that each carry one name prove a call as two call controls
// do: a gallery of labelled participants.
inline constexpr size_t LOCK_MIN_NAMED_TILES = 2;

// How the active speaker was told.
enum class SpeakerSource { None, Ring, Border, Label };

// What one participant capture reads from an image and its OCR lines, before any decision
// about the window lock or the answer.
struct ParticipantAnalysis {
    std::vector<TextObservation> names;  // accepted lines, in recognition order
    std::vector<Rect> tiles;             // one per name
    std::vector<double> highlightScores; // one per name; 0 without a pixel view
    int highlighted = -1;                // index into names, or -1
    double bestHighlight = 0;            // the highlighted tile's score (0 when none)
    RingScan ring;
    int uiHits = 0;                      // distinct call-control words over all lines
    bool evidence = false;               // the image proves a live call (controls, ring or named tiles)
    std::vector<Rect> drawnTiles;        // the tiles found from the pixels (empty: none found)
    size_t barNamedTiles = 0;            // same-sized drawn tiles named on the bar beside their top
    int speaker = -1;                    // index into names of the active speaker, or -1
    SpeakerSource speakerSource = SpeakerSource::None;
    double labelMark = 0;                // the speaker's label colour (0 to 1) when it marks them
};

// Names, tiles, border highlights, the ring scan and the call-UI evidence of a capture of
// the window titled `windowTitle` (empty when unknown).
ParticipantAnalysis analyzeParticipants(const Image& img, const std::vector<TextObservation>& lines,
                                        std::string_view windowTitle);

// The same with the tiles already found in `img` by findTiles().
ParticipantAnalysis analyzeParticipants(const Image& img, const std::vector<TextObservation>& lines,
                                        std::string_view windowTitle, const std::optional<TileLayout>& layout);

// The lines that are participant names: plausible names outside the watermark corner that
// do not repeat the window's title in its title band and do not stand in a block of lines
// (a name wrapped onto two lines is joined first). A label at the bottom-left corner of one
// of `tiles` (normalised) is a name in that corner too: the last tile of a gallery that
// fills its window has its label there.
std::vector<TextObservation> nameLines(const std::vector<TextObservation>& lines,
                                       std::string_view windowTitle, const std::vector<Rect>& tiles = {});

// How many distinct call-control captions `lines` show in a toolbar: each level with another
// control's caption, or on a line that runs several controls together. A caption alone on its
// level is a word of a page ("def leave", "# Share the state" in a code editor).
int toolbarHits(const std::vector<TextObservation>& lines);

// Where a participant's name sits on a tile (both normalised): along its top or bottom
// edge (a label near a corner or the bottom centre), centred on it (the large name of a
// camera-off tile), or as a name bar just under it. -1 when `box` is none of these.
bool nameSitsOnTile(const Rect& tile, const Rect& box);

// The names of the drawn tiles: for each line (boxes and texts in step), the index of the
// tile it names, or -1. A tile shows one participant: of the lines sitting on it, the one
// placed most like a label (along the bottom edge, then centred, then along the top; the
// lowest first) is its name. A tile holding four or more different lines is a panel, a
// page or a slide and names nobody (counted over `read`, every line read, not only those
// that could be names); a line on no tile names nobody.
std::vector<int> assignNamesToTiles(const std::vector<Rect>& tiles, const std::vector<Rect>& boxes,
                                    const std::vector<TextObservation>& read);

// The tile (index into `tiles`) whose name `box` is, by nameSitsOnTile; the smallest such
// tile, or -1.
int tileOfName(const std::vector<Rect>& tiles, const Rect& box);

// A speaker ring surrounds a participant tile: it is at least a tile's size, not a status
// dot or an icon.
bool ringIsTileSized(const Rect& ring);

}  // namespace tessival
