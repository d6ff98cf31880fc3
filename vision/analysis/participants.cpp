#include "analysis/participants.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>

#include "analysis/border_score.h"
#include "analysis/label_mark.h"
#include "analysis/line_blocks.h"
#include "analysis/name_filters.h"
#include "analysis/tile_frame.h"
#include "analysis/tile_inference.h"
#include "analysis/meeting_text.h"
#include "analysis/tile_layout.h"
#include "base/unicode_text.h"

namespace tessival {
namespace {

// Where on a tile a name label sits: its centre within this share of the tile's height
// from the top or bottom edge, or within this share of its width from the middle.
constexpr double NAME_EDGE_BAND = 0.3;
constexpr double NAME_CENTRE_BAND = 0.12;
// Tiles of one gallery or strip have one size to this share (a frame found with its tile adds
// a few pixels a side).
constexpr double HIGHLIGHT_TWIN_SLACK = 0.1;
// A corner label starts within this share of its tile's width from the tile's left edge.
constexpr double LABEL_LEFT_INSET = 0.1;
// A name bar under a tile starts within this many label heights of the tile's bottom.
constexpr double NAME_BAR_REACH = 1.5;
// How far beside a tile (share of its width) a label level with its top may sit and still
// name it, and one level with its bottom (in the slot of the next tile of its row).
constexpr double BAR_TOP_REACH = 0.25;
constexpr double BAR_BOTTOM_REACH = 1.2;
// Such a tile is at least this wide for its height (a phone's camera upright).
constexpr double BAR_TILE_MIN_ASPECT = 0.45;
// Tiles of one row have their tops level to this share of a tile's height.
constexpr double ROW_SLACK = 0.1;
// A ring round a tile is at least this share of the picture's width and height.
constexpr double RING_MIN_WIDTH = 0.04;
constexpr double RING_MIN_HEIGHT = 0.06;
// The ring surrounds the tile that shares this much of its area with it and is not more than
// twice or under half its size.
constexpr double RING_TILE_OVERLAP = 0.5;
// A ring round no tile names the avatar it surrounds from this score, and is at most this
// share of the picture each way (a larger one is a green picture or page).
constexpr double RING_AVATAR_MIN_SCORE = 0.3;
constexpr double RING_AVATAR_MAX_SIDE = 0.4;
// A lone block found in the pixels is a participant's tile from this share of the picture.
constexpr double LONE_TILE_MIN_AREA = 0.2;
// A name whose line is followed within this many of its heights, at its left edge, by a
// sentence is the sentence's author (a chat message, a live caption), not a tile's label.
constexpr double AUTHOR_GAP_HEIGHTS = 1.5;
// A tile holding this many different lines is a panel, a page or a slide, not a person.
constexpr size_t CONTENT_MIN_LINES = 4;
// A browser's address bar sits in this top share of its window.
constexpr double ADDRESS_BAR_MAX_Y = 0.2;

// Whether `box` is a label in the lower left corner of `tile`.
bool inLowerLeftCorner(const Rect& tile, const Rect& box) {
    return box.x >= tile.x && box.x - tile.x <= tile.width * LABEL_LEFT_INSET && box.midY() < tile.maxY() &&
           box.midY() >= tile.maxY() - tile.height * NAME_EDGE_BAND;
}

double overlapShare(const Rect& a, const Rect& b) {
    const double smaller = std::min(a.area(), b.area());
    return smaller > 0 ? a.intersection(b).area() / smaller : 0.0;
}

// Whether `ring` surrounds one of `tiles`: it shares most of its area and is of its size.
bool ringAroundDrawnTile(const Rect& ring, const std::vector<Rect>& tiles) {
    return std::any_of(tiles.begin(), tiles.end(), [&](const Rect& t) {
        return overlapShare(t, ring) >= RING_TILE_OVERLAP &&
               std::min(t.area(), ring.area()) >= RING_TILE_OVERLAP * std::max(t.area(), ring.area());
    });
}

// The name the ring marks: the name on the tile (drawn or inferred) the ring surrounds, of
// about the ring's size, else the one name inside it, else the name nearest the ring's bottom
// centre just under it (an avatar ring with the name below).
int nameUnderRing(const Rect& ring, double score, const ParticipantAnalysis& a) {
    for (size_t i = 0; i < a.names.size(); ++i)
        if (ringAroundDrawnTile(ring, {a.tiles[i]})) return static_cast<int>(i);
    // A clear ring round a picture that was not found as a tile of its own (a letterboxed
    // camera on a larger stage): the one label inside it names it. A faint one is green
    // picture or page.
    if (score < RING_AVATAR_MIN_SCORE) return -1;
    // Such a ring lies inside a tile or a block, or outside them all; one across a tile's
    // edge is a picture's colour, not a mark.
    for (const std::vector<Rect>* tiles : {&a.drawnTiles, &a.tiles}) {
        for (const Rect& t : *tiles) {
            const double shared = t.intersection(ring).area();
            if (shared > 0 && shared < RING_TILE_OVERLAP * ring.area()) return -1;
        }
    }
    int holding = -1;
    for (size_t i = 0; i < a.names.size(); ++i) {
        if (!ring.contains(a.names[i].box.midX(), a.names[i].box.midY())) continue;
        if (holding >= 0) return -1;
        holding = static_cast<int>(i);
    }
    if (holding >= 0) return holding;
    // Else an avatar's ring over its name.
    if (ring.width > RING_AVATAR_MAX_SIDE || ring.height > RING_AVATAR_MAX_SIDE) return -1;
    int best = -1;
    double bestDistance = 0;
    const Rect reach{ring.x, ring.y, ring.width, ring.height * 1.6};
    for (size_t i = 0; i < a.names.size(); ++i) {
        const Rect& b = a.names[i].box;
        if (!reach.contains(b.midX(), b.midY())) continue;
        const double d = std::hypot(b.midX() - ring.midX(), b.midY() - ring.maxY());
        if (best < 0 || d < bestDistance) {
            best = static_cast<int>(i);
            bestDistance = d;
        }
    }
    return best;
}

// Whether two label boxes stand side by side on one row: apart, their tops level (a name
// wrapped under a round avatar is two lines high beside one of one line).
bool sideBySide(const Rect& a, const Rect& b) {
    const double h = std::min(a.height, b.height);
    const double gap = std::max(b.minX() - a.maxX(), a.minX() - b.maxX());
    return std::abs(a.minY() - b.minY()) <= 0.5 * h && h >= 0.3 * std::max(a.height, b.height) && gap > 0;
}

// For each name line (`boxes`), whether it is one of a row of names side by side inside a
// drawn block that names nobody as one tile: a stage where participants without tiles of
// their own (round avatars on the call's background, or cameras drawn edge to edge) each
// stand by their name. On a stage the names are most of the lines written (`all`: every line
// read) and, where some line reads as prose (live captions), most of the letters too: a page
// or a slide with a row of short words is no stage, however many of its words were read apart.
std::vector<bool> onStage(const std::vector<Rect>& tiles, const std::vector<TextObservation>& names,
                          const std::vector<TextObservation>& all) {
    std::vector<Rect> boxes;
    for (const TextObservation& n : names) boxes.push_back(n.box);
    std::vector<bool> out(boxes.size(), false);
    for (size_t i = 0; i < boxes.size(); ++i) {
        const int t = tileHolding(tiles, boxes[i]);
        if (t < 0) continue;
        for (size_t j = 0; j < boxes.size() && !out[i]; ++j) {
            out[i] = j != i && tileHolding(tiles, boxes[j]) == t && sideBySide(boxes[i], boxes[j]);
        }
    }
    for (size_t t = 0; t < tiles.size(); ++t) {
        // A stage is the main part of the window; a picture inside it (a chart's axis
        // labels) is none.
        const bool main = tiles[t].area() >= LONE_TILE_MIN_AREA;
        size_t staged = 0, written = 0, stagedLetters = 0, writtenLetters = 0;
        bool prose = false;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (!out[i] || tileHolding(tiles, boxes[i]) != static_cast<int>(t)) continue;
            ++staged;
            stagedLetters += unicode::letterCount(names[i].text);
        }
        for (const TextObservation& l : all) {
            if (tileHolding(tiles, l.box) != static_cast<int>(t)) continue;
            ++written;
            writtenLetters += unicode::letterCount(l.text);
            prose = prose || readsAsProse(l.text);
        }
        if (main && 2 * staged > written && (!prose || 2 * stagedLetters > writtenLetters)) continue;
        for (size_t i = 0; i < boxes.size(); ++i)
            if (tileHolding(tiles, boxes[i]) == static_cast<int>(t)) out[i] = false;
    }
    return out;
}

// How far apart (share of a cell) the labels of an edge-to-edge grid may sit from the same
// place in their cells, and the most rows or columns looked for.
constexpr double GRID_LABEL_SLACK = 0.06;
constexpr size_t GRID_MAX_SIDE = 8;
// A cell of such a grid is no thinner than this, width to height in pixels either way.
constexpr double GRID_CELL_MAX_ASPECT = 2.5;

// The cells of `block` split evenly into `rows` x `cols` when every cell holds exactly one
// of `boxes`, each at the same place in its cell (left-aligned or centred, at the same
// height): cameras drawn edge to edge with no gutter between them, found from their labels.
std::optional<std::vector<Rect>> gridOfLabels(const Rect& block, const std::vector<Rect>& boxes, size_t rows,
                                              size_t cols, double aspect) {
    const double cw = block.width / double(cols), ch = block.height / double(rows);
    const double ratio = cw * aspect / ch;
    if (ratio > GRID_CELL_MAX_ASPECT || ratio < 1 / GRID_CELL_MAX_ASPECT) return std::nullopt;
    std::vector<int> owner(rows * cols, -1);
    for (size_t i = 0; i < boxes.size(); ++i) {
        const double fx = (boxes[i].midX() - block.x) / cw, fy = (boxes[i].midY() - block.y) / ch;
        if (fx < 0 || fy < 0 || fx >= double(cols) || fy >= double(rows)) return std::nullopt;
        const size_t cell = size_t(fy) * cols + size_t(fx);
        if (owner[cell] >= 0) return std::nullopt;
        owner[cell] = int(i);
    }
    if (std::find(owner.begin(), owner.end(), -1) != owner.end()) return std::nullopt;
    const auto same = [&](auto offset, double side) {
        double lo = 1e9, hi = -1e9;
        for (size_t c = 0; c < owner.size(); ++c) {
            const double o = offset(boxes[size_t(owner[c])], c);
            lo = std::min(lo, o);
            hi = std::max(hi, o);
        }
        return hi - lo <= GRID_LABEL_SLACK * side;
    };
    const auto cellX = [&](size_t c) { return block.x + double(c % cols) * cw; };
    const auto cellY = [&](size_t c) { return block.y + double(c / cols) * ch; };
    const bool level = same([&](const Rect& b, size_t c) { return b.y - cellY(c); }, ch);
    const bool aligned = same([&](const Rect& b, size_t c) { return b.x - cellX(c); }, cw) ||
                         same([&](const Rect& b, size_t c) { return b.midX() - cellX(c); }, cw);
    if (!level || !aligned) return std::nullopt;
    std::vector<Rect> cells;
    for (size_t c = 0; c < owner.size(); ++c) cells.push_back(Rect{cellX(c), cellY(c), cw, ch});
    return cells;
}

// Cells of a split block match another tile's size to this share of their side.
constexpr double GRID_TWIN_SLACK = 0.05;

// `layout` with each block that holds the labels of an edge-to-edge grid (see gridOfLabels;
// at least two rows and columns, or three in a line, or two whose cells are of another
// tile's size: two cameras of a gallery that met without an edge) split into its cells.
// `aspect` is the picture's width over its height.
TileLayout splitLabelledGrids(const TileLayout& layout, const std::vector<TextObservation>& candidates,
                              double aspect) {
    TileLayout out;
    for (size_t t = 0; t < layout.tiles.size(); ++t) {
        const Rect& block = layout.tiles[t];
        std::vector<Rect> inside;
        for (const TextObservation& c : candidates)
            if (block.contains(c.box.midX(), c.box.midY())) inside.push_back(c.box);
        const auto twinned = [&](const std::vector<Rect>& cells) {
            const Rect& c = cells.front();
            return std::any_of(layout.tiles.begin(), layout.tiles.end(), [&](const Rect& o) {
                return &o != &block && std::abs(o.width - c.width) <= GRID_TWIN_SLACK * c.width &&
                       std::abs(o.height - c.height) <= GRID_TWIN_SLACK * c.height;
            });
        };
        std::optional<std::vector<Rect>> cells;
        for (size_t rows = 1; rows <= GRID_MAX_SIDE && !cells; ++rows) {
            for (size_t cols = 1; cols <= GRID_MAX_SIDE && !cells; ++cols) {
                if (rows * cols != inside.size() || rows * cols < 2) continue;
                cells = gridOfLabels(block, inside, rows, cols, aspect);
                if (cells && rows * cols == 2 && !twinned(*cells)) cells.reset();
            }
        }
        const std::vector<Rect> pieces = cells ? *cells : std::vector<Rect>{block};
        for (const Rect& piece : pieces) {
            out.tiles.push_back(piece);
            out.backgrounds.push_back(layout.backgrounds[t]);
        }
    }
    return out;
}

// Tiles of a strip that match in size and place to this share of their side, and follow
// each other at most this many sides apart (the gutter under a fifth of a tile).
constexpr double STRIP_SLACK = 0.03;
constexpr double STRIP_MAX_PITCH = 1.2;
// A tile this much inside a larger one floats on it.
constexpr double FLOAT_INSIDE_SHARE = 0.9;

bool floatsOn(const Rect& tile, const Rect& host) {
    return host.area() > tile.area() && host.intersection(tile).area() >= FLOAT_INSIDE_SHARE * tile.area();
}

// `layout` with each strip of tiles (two or more of one size in a row or a column, at one
// pitch) continued by a slot at either end that holds a label on no tile found: a camera-off
// tile in a colour near the window's has no edge to be found by, but its label sits where
// the strip's next tile would.
TileLayout continueStrips(const TileLayout& layout, const std::vector<TextObservation>& candidates) {
    TileLayout out = layout;
    const std::vector<Rect>& tiles = layout.tiles;
    const auto near = [](double a, double b, double side) { return std::abs(a - b) <= STRIP_SLACK * side; };
    const auto tileAt = [&](const Rect& r) {
        return std::any_of(tiles.begin(), tiles.end(), [&](const Rect& t) {
            return near(t.x, r.x, r.width) && near(t.y, r.y, r.height) && near(t.width, r.width, r.width) &&
                   near(t.height, r.height, r.height);
        });
    };
    for (size_t i = 0; i < tiles.size(); ++i) {
        const Rect& t = tiles[i];
        for (const bool columns : {true, false}) {
            for (const double dir : {1.0, -1.0}) {
                // The neighbour on one side gives the pitch; the slot lies on the other side.
                for (const Rect& n : tiles) {
                    const double pitch = columns ? n.y - t.y : n.x - t.x;
                    const bool neighbour = columns ? near(n.x, t.x, t.width) : near(n.y, t.y, t.height);
                    if (!neighbour || pitch * dir <= 0 || !near(n.width, t.width, t.width) ||
                        !near(n.height, t.height, t.height))
                        continue;
                    const double side = columns ? t.height : t.width;
                    if (std::abs(pitch) > side * STRIP_MAX_PITCH) continue;
                    const Rect slot = columns ? Rect{t.x, t.y - pitch, t.width, t.height}
                                              : Rect{t.x - pitch, t.y, t.width, t.height};
                    if (slot.x < 0 || slot.y < 0 || slot.maxX() > 1 || slot.maxY() > 1 || tileAt(slot)) continue;
                    const bool free = std::none_of(out.tiles.begin(), out.tiles.end(), [&](const Rect& o) {
                        return o.intersection(slot).area() > 0.1 * slot.area();
                    });
                    const auto labels = [&](const TextObservation& c) {
                        return slot.contains(c.box.midX(), c.box.midY()) && nameSitsOnTile(slot, c.box) &&
                               tileOfName(tiles, c.box) < 0;
                    };
                    const bool labelled = std::any_of(candidates.begin(), candidates.end(), labels);
                    if (free && labelled) {
                        out.tiles.push_back(slot);
                        out.backgrounds.push_back(layout.backgrounds[i]);
                    }
                }
            }
        }
    }
    return out;
}

// Whether two tiles are of one size, as a gallery's are.
bool sameSize(const Rect& a, const Rect& b) {
    return std::abs(a.width - b.width) <= HIGHLIGHT_TWIN_SLACK * std::max(a.width, b.width) &&
           std::abs(a.height - b.height) <= HIGHLIGHT_TWIN_SLACK * std::max(a.height, b.height);
}

// Names on the tiles drawn in the picture: a line that sits on no tile is not a name, and
// a tile showing its name twice (centred and in the corner) gives it once.
void namesOnDrawnTiles(const Bitmap& bm, const TileLayout& layout, const std::vector<TextObservation>& candidates,
                       const std::vector<TextObservation>& lines, ParticipantAnalysis& a) {
    a.drawnTiles = layout.tiles;
    std::vector<Rect> boxes;
    for (const TextObservation& line : candidates) boxes.push_back(line.box);
    const std::vector<int> tileOf = assignNamesToTiles(layout.tiles, boxes, lines);
    // The region the tiles span: a label in it on no tile found names a tile drawn in the
    // window's own colour (a camera-off tile); lines beyond it are toolbars, titles, panels.
    Rect span = layout.tiles.front();
    for (const Rect& t : layout.tiles) {
        const double x1 = std::max(span.maxX(), t.maxX()), y1 = std::max(span.maxY(), t.maxY());
        span.x = std::min(span.x, t.x);
        span.y = std::min(span.y, t.y);
        span.width = x1 - span.x;
        span.height = y1 - span.y;
    }
    const std::vector<bool> staged = onStage(layout.tiles, candidates, joinWrappedNames(lines));
    std::vector<int> tileOfNames;
    std::vector<const Rect*> barred;  // pictures with a label on the bar beside their top
    std::vector<size_t> stageNames;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const Rect& box = candidates[i].box;
        if (staged[i]) {
            stageNames.push_back(a.names.size());
            a.names.push_back(candidates[i]);
            a.tiles.push_back(box);
            tileOfNames.push_back(-1);
            continue;
        }
        if (tileOf[i] < 0) {
            if (tileOfName(layout.tiles, box) >= 0 || tileHolding(layout.tiles, box) >= 0) continue;
            const bool inSpan = span.contains(box.midX(), box.midY());
            // It must sit where the labels of a row of tiles sit: level with the bottom or the
            // top band of a tile of that row (a letterboxed picture leaves its label on the bar).
            const Rect* near = nullptr;
            bool top = false;
            for (const Rect& t : layout.tiles) {
                // A side panel the window's height is found as a block too; a camera is wider.
                if (t.width * double(bm.w) < BAR_TILE_MIN_ASPECT * t.height * double(bm.h)) continue;
                const bool bottom = box.midY() >= t.maxY() - t.height * NAME_EDGE_BAND && box.midY() < t.maxY();
                const bool atTop = box.midY() >= t.y && box.midY() < t.y + t.height * NAME_EDGE_BAND;
                const bool level = bottom || atTop;
                if (level && (!near || std::abs(t.midX() - box.midX()) < std::abs(near->midX() - box.midX()))) {
                    near = &t;
                    top = !bottom;
                }
            }
            // Only a top label may lie beyond the span: on the bar left of a gallery's first
            // column, right against its picture (a chat's lines beside a stage stand off it).
            const double letter = box.height * double(bm.h) / double(bm.w);
            if (!near || (!inSpan && (!top || box.midX() > near->x || near->x - box.maxX() > letter))) continue;
            // A top label sits on the bar right beside its picture (one further off is a
            // panel's or a window's header); a bottom one may name a tile of the row whose
            // picture was found shorter than its cell, or the next one, not found at all.
            const auto gapTo = [&](const Rect& t) { return std::max({t.x - box.maxX(), box.x - t.maxX(), 0.0}); };
            double gap = gapTo(*near);
            if (!top)
                for (const Rect& t : layout.tiles)
                    if (std::abs(t.y - near->y) <= near->height * ROW_SLACK) gap = std::min(gap, gapTo(t));
            if (gap > near->width * (top ? BAR_TOP_REACH : BAR_BOTTOM_REACH)) continue;
            if (top && std::find(barred.begin(), barred.end(), near) == barred.end()) barred.push_back(near);
            const double x = std::clamp(box.x - near->width * 0.03, 0.0, 1.0 - near->width);
            const double y = std::clamp(top ? box.y - near->height * 0.03 : box.maxY() + near->height * 0.03 - near->height,
                                        0.0, 1.0 - near->height);
            a.names.push_back(candidates[i]);
            a.tiles.push_back(Rect{x, y, near->width, near->height});
            tileOfNames.push_back(-1);
            continue;
        }
        a.names.push_back(candidates[i]);
        a.tiles.push_back(layout.tiles[static_cast<size_t>(tileOf[i])]);
        tileOfNames.push_back(tileOf[i]);
    }
    // Labels on the bars beside the tops of two pictures of one size are a letterboxed gallery's:
    // a page of photos puts its captions under them, a chat its authors beside small avatars.
    for (const Rect* t : barred)
        if (std::any_of(barred.begin(), barred.end(), [&](const Rect* o) { return o != t && sameSize(*o, *t); }))
            ++a.barNamedTiles;
    if (!stageNames.empty()) {
        std::vector<Rect> stageBoxes;
        for (const size_t i : stageNames) stageBoxes.push_back(a.names[i].box);
        const std::vector<Rect> inferred = inferTiles(stageBoxes);
        // A tile on a stage ends where the stage does; the label in the stage's lower left
        // corner is the stage's own (the one remote camera, a self view floating on it).
        for (size_t k = 0; k < stageNames.size() && k < inferred.size(); ++k) {
            const int stage = tileHolding(layout.tiles, stageBoxes[k]);
            if (stage < 0) {
                a.tiles[stageNames[k]] = inferred[k];
                continue;
            }
            const Rect& block = layout.tiles[size_t(stage)];
            const Rect clipped = inferred[k].intersection(block);
            a.tiles[stageNames[k]] = inLowerLeftCorner(block, stageBoxes[k]) ? block
                                     : clipped.area() > 0                    ? clipped
                                                                             : inferred[k];
        }
    }
    // A frame only one tile has is a highlight; one every tile has is the app's style, and
    // on a lone tile it singles out nobody.
    if (layout.tiles.size() < 2) {
        a.highlightScores.assign(a.names.size(), 0.0);
        return;
    }
    std::vector<TileFrame> frames;
    for (size_t t = 0; t < layout.tiles.size(); ++t)
        frames.push_back(tileFrame(bm, layout.tiles[t], layout.backgrounds[t]));
    std::vector<double> unique(frames.size(), 0.0);
    // A speaker's tile is one of a gallery or a strip: a picture of its own size (a chart posted
    // in the call's chat, in a light frame) is no participant marked.
    const auto hasTwin = [&](size_t t) {
        const Rect& a = layout.tiles[t];
        return std::any_of(layout.tiles.begin(), layout.tiles.end(),
                           [&](const Rect& b) { return &b != &a && sameSize(a, b); });
    };
    for (size_t t = 0; t < frames.size(); ++t) {
        if (frames[t].score < FRAME_MIN_SCORE || !hasTwin(t)) continue;
        bool shared = false;
        for (size_t o = 0; o < frames.size(); ++o)
            shared = shared || (o != t && frames[o].score >= FRAME_MIN_SCORE &&
                                sameFrameColour(frames[o].colour, frames[t].colour));
        if (!shared) unique[t] = frames[t].score;
    }
    for (const int t : tileOfNames) a.highlightScores.push_back(t < 0 ? 0.0 : unique[static_cast<size_t>(t)]);
}

// A word beside a label that makes it one of a row has this many letters (an icon read as
// one or two is none).
constexpr size_t AXIS_WORD_MIN_LETTERS = 3;
// A word within this many of its heights of a tile's side sits in its corner.
constexpr double CORNER_ICON_HEIGHTS = 2.0;

// How well a line placed on a tile fits a name label: 0 along the bottom edge or under it
// (where apps put labels), 1 centred (a camera-off tile's big name), 2 along the top edge.
int namePlaceRank(const Rect& tile, const Rect& box) {
    if (box.midY() >= tile.maxY() - tile.height * NAME_EDGE_BAND) return 0;
    if (std::abs(box.midX() - tile.midX()) <= tile.width * NAME_CENTRE_BAND) return 1;
    return 2;
}

// How many drawn tiles carry a name (names placed on tiles of their own making, on a stage or
// a letterbox bar, prove nothing: a chat's or a table's rows look alike).
size_t namedTiles(const ParticipantAnalysis& a) {
    std::vector<Rect> named;
    for (const Rect& t : a.tiles)
        if (std::find(a.drawnTiles.begin(), a.drawnTiles.end(), t) != a.drawnTiles.end() &&
            std::find(named.begin(), named.end(), t) == named.end())
            named.push_back(t);
    return named.size();
}

}  // namespace

bool nameSitsOnTile(const Rect& tile, const Rect& box) {
    const double cx = box.midX(), cy = box.midY();
    if (cx < tile.minX() || cx >= tile.maxX() || box.width > tile.width) return false;
    if (box.y >= tile.maxY() - box.height * 0.5 && box.y <= tile.maxY() + box.height * NAME_BAR_REACH)
        return true;
    if (!tile.contains(cx, cy)) return false;
    return cy <= tile.y + tile.height * NAME_EDGE_BAND || cy >= tile.maxY() - tile.height * NAME_EDGE_BAND ||
           std::abs(cx - tile.midX()) <= tile.width * NAME_CENTRE_BAND;
}

std::vector<int> assignNamesToTiles(const std::vector<Rect>& tiles, const std::vector<Rect>& boxes,
                                    const std::vector<TextObservation>& read) {
    std::vector<int> tileOf(boxes.size(), -1);
    for (size_t i = 0; i < boxes.size(); ++i) tileOf[i] = tileOfName(tiles, boxes[i]);
    // A label just under a tile, level with the labels on the tiles beside it, is its label:
    // the tile was found short (a camera-off tile whose lower part shades into the window).
    const auto levelWithLabelsBeside = [&](size_t i, size_t t) {
        for (size_t j = 0; j < boxes.size(); ++j) {
            if (j == i || tileOf[j] < 0 || tileOf[j] == static_cast<int>(t)) continue;
            const Rect& other = tiles[static_cast<size_t>(tileOf[j])];
            if (other.contains(boxes[j].midX(), boxes[j].midY()) &&
                std::abs(boxes[j].midY() - boxes[i].midY()) <= 0.5 * boxes[i].height &&
                std::abs(other.y - tiles[t].y) <= ROW_SLACK * other.height)
                return true;
        }
        return false;
    };
    std::vector<int> out(boxes.size(), -1);
    for (size_t t = 0; t < tiles.size(); ++t) {
        std::vector<std::string> distinct;
        bool control = false;
        int best = -1, bestRank = 0;
        const bool floats =
            std::any_of(tiles.begin(), tiles.end(), [&](const Rect& o) { return floatsOn(tiles[t], o); });
        for (const TextObservation& line : read) {
            if (!tiles[t].contains(line.box.midX(), line.box.midY())) continue;
            const std::string canon = canonToken(line.text);
            if (std::find(distinct.begin(), distinct.end(), canon) == distinct.end()) distinct.push_back(canon);
            control = control || readsAsControlCaption(line.text);
        }
        for (size_t i = 0; i < boxes.size(); ++i) {
            const bool inside = tiles[t].contains(boxes[i].midX(), boxes[i].midY());
            // A name bar under a tile is its label only where the tile floats on a larger
            // one (a thumbnail over the speaker's picture); under a gallery it is a toolbar.
            if (tileOf[i] != static_cast<int>(t) || (!inside && !floats && !levelWithLabelsBeside(i, t))) continue;
            const int rank = namePlaceRank(tiles[t], boxes[i]);
            // A tile's label stands alone on its level; words in a row along the bottom of a
            // picture are a chart's axis. A word right of the label against the tile's right
            // side is a status icon in the corner across from it (signal bars read "all").
            const Rect& tile = tiles[t];
            const bool inRow = rank == 0 && std::any_of(read.begin(), read.end(), [&](const TextObservation& l) {
                const bool icon = l.box.minX() > boxes[i].maxX() &&
                                  tile.maxX() - l.box.maxX() <= CORNER_ICON_HEIGHTS * l.box.height;
                return tile.contains(l.box.midX(), l.box.midY()) && sideBySide(boxes[i], l.box) && !icon &&
                       unicode::letterCount(l.text) >= AXIS_WORD_MIN_LETTERS;
            });
            if (inRow) continue;
            if (best < 0 || rank < bestRank ||
                (rank == bestRank && boxes[i].midY() > boxes[static_cast<size_t>(best)].midY())) {
                best = static_cast<int>(i);
                bestRank = rank;
            }
        }
        // A block with a button on it is a card (an activity to join), not a person.
        if (best >= 0 && distinct.size() < CONTENT_MIN_LINES && !control)
            out[static_cast<size_t>(best)] = static_cast<int>(t);
    }
    return out;
}

int tileOfName(const std::vector<Rect>& tiles, const Rect& box) {
    // A label on a tile names it before the tile above whose name bar it could be, unless
    // that tile floats on the one holding the label (a thumbnail over the speaker's picture).
    int best = -1;
    bool bestHolds = false;
    for (size_t i = 0; i < tiles.size(); ++i) {
        if (!nameSitsOnTile(tiles[i], box)) continue;
        const bool holds = tiles[i].contains(box.midX(), box.midY());
        if (best >= 0) {
            const Rect& b = tiles[static_cast<size_t>(best)];
            const bool floatsOnBest = !holds && bestHolds && floatsOn(tiles[i], b);
            const bool bestFloats = holds && !bestHolds && floatsOn(b, tiles[i]);
            if (bestFloats) continue;
            if (!floatsOnBest && (holds != bestHolds ? !holds : tiles[i].area() >= b.area())) continue;
        }
        best = static_cast<int>(i);
        bestHolds = holds;
    }
    return best;
}

bool ringIsTileSized(const Rect& ring) { return ring.width >= RING_MIN_WIDTH && ring.height >= RING_MIN_HEIGHT; }

namespace {

// A name read with less confidence than this takes the spelling of a surer reading of it
// elsewhere in the window (a participants panel, a chat's author, a title), one letter
// apart, from this many letters.
constexpr float SETTLED_CONFIDENCE = 0.9f;
constexpr size_t SETTLED_MIN_LETTERS = 4;

// Whether `a` turns into `b` by changing, adding or dropping one letter (not a digit or a
// mark: "user_1" and "user_2" are two people).
bool oneLetterApart(std::string_view a, std::string_view b) {
    std::vector<std::string_view> x = unicode::characters(a), y = unicode::characters(b);
    if (x.size() > y.size()) std::swap(x, y);
    if (y.size() - x.size() > 1) return false;
    const auto differ = std::mismatch(x.begin(), x.end(), y.begin());
    if (differ.first == x.end()) return x.size() != y.size() && unicode::isLetter(y.back());
    if (!unicode::isLetter(*differ.second) || (x.size() == y.size() && !unicode::isLetter(*differ.first)))
        return false;
    // Past the first difference the rest matches, one character of `y` on.
    const auto rest = x.size() == y.size() ? differ.first + 1 : differ.first;
    return std::equal(rest, x.end(), differ.second + 1);
}

// Each doubted name of `names` spelt as a sure line of `lines` that names nobody, or a sure
// word of one, one letter from it reads, where all of them read alike: a misread letter
// ("damo") seen right elsewhere ("demo at 22:46", a chat's author). Another tile's label is
// another person.
void settleSpellings(std::vector<TextObservation>& names, const std::vector<TextObservation>& lines) {
    const auto isName = [&](const TextObservation& l) {
        return std::any_of(names.begin(), names.end(), [&](const TextObservation& n) { return n.box == l.box; });
    };
    std::vector<TextObservation> others;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(others),
                 [&](const TextObservation& l) { return l.conf >= SETTLED_CONFIDENCE && !isName(l); });
    for (TextObservation& n : names) {
        if (n.conf >= SETTLED_CONFIDENCE || unicode::letterCount(n.text) < SETTLED_MIN_LETTERS) continue;
        std::optional<std::string> spelt;
        bool agreed = true;
        const auto consider = [&](std::string_view text) {
            if (text == n.text || !oneLetterApart(n.text, text)) return;
            agreed = agreed && (!spelt || *spelt == text);
            spelt = std::string(text);
        };
        for (const TextObservation& l : others) {
            consider(l.text);
            if (n.text.find(' ') != std::string::npos) continue;
            std::string_view rest = l.text;
            while (!rest.empty()) {
                const size_t space = rest.find(' ');
                if (space != 0) consider(rest.substr(0, space));
                rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
            }
        }
        if (spelt && agreed) n.text = *spelt;
    }
}

// Whether `line` heads a sentence written under it: a chat message's or a caption's author.
bool headsProse(const TextObservation& line, const std::vector<TextObservation>& all) {
    const double h = line.box.height;
    return std::any_of(all.begin(), all.end(), [&](const TextObservation& o) {
        const double gap = o.box.y - line.box.maxY();
        return gap > -0.3 * h && gap < AUTHOR_GAP_HEIGHTS * h && std::abs(o.box.x - line.box.x) < 2 * h &&
               readsAsProse(o.text);
    });
}

}  // namespace

std::vector<TextObservation> nameLines(const std::vector<TextObservation>& lines,
                                       std::string_view windowTitle, const std::vector<Rect>& tiles) {
    std::vector<TextObservation> names;
    const std::vector<TextObservation> joined = joinWrappedNames(lines);
    const std::vector<bool> block = inLineBlock(joined);
    // A web address at the window's top is a browser's address bar: the tab titles beside and
    // above it are the browser's, not labels ("LiveKit Meet" over a tile the tab strip made).
    double chromeBottom = 0.0;
    for (const TextObservation& line : joined)
        if (line.box.y < ADDRESS_BAR_MAX_Y && readsAsAddress(line.text))
            chromeBottom = std::max(chromeBottom, line.box.maxY());
    // A watermark sits at the window's right, a label at its tile's left.
    const auto cornerLabel = [&](const Rect& box) {
        return std::any_of(tiles.begin(), tiles.end(), [&](const Rect& t) { return inLowerLeftCorner(t, box); });
    };
    for (size_t i = 0; i < joined.size(); ++i) {
        TextObservation line = joined[i];
        // A caption's speaker ends in a colon, with the caption under it; a tile's corner label
        // with nothing under it does not: the picture behind its last letter read as one.
        if (line.text.ends_with(':') && cornerLabel(line.box) && !headsProse(line, joined)) line.text.pop_back();
        if (!block[i] && line.box.midY() > chromeBottom && looksLikeName(line.text) &&
            (!inWatermarkRegion(line.box) || cornerLabel(line.box)) &&
            !echoesWindowTitle(line.text, line.box, windowTitle) && !headsProse(line, joined)) {
            names.push_back(line);
            // No label ends in a comma: an icon after it read as one ("admin,").
            std::string& text = names.back().text;
            while (!text.empty() && (text.back() == ',' || text.back() == ';')) text.pop_back();
            // No name holds curly brackets: small round ones read as such ("(Guest}").
            std::replace(text.begin(), text.end(), '{', '(');
            std::replace(text.begin(), text.end(), '}', ')');
            // A label cut to its tile's width ends in an ellipsis, which reads as dots.
            if (text.ends_with("..")) {
                while (text.ends_with(".")) text.pop_back();
                text += "\u2026";
            }
        }
    }
    return names;
}

int toolbarHits(const std::vector<TextObservation>& lines) {
    const auto control = [](const std::string& w) { return callUiHits({w}) == 1; };
    std::vector<std::string> inRow;
    std::vector<std::pair<std::string, Rect>> alone;
    for (const TextObservation& line : lines) {
        // A toolbar read as one line runs its controls together.
        std::vector<std::string> run = toolbarRunWords(line.text);
        std::erase_if(run, [&](const std::string& w) { return !control(w); });
        if (run.size() >= 2) inRow.insert(inRow.end(), run.begin(), run.end());
        if (control(line.text)) alone.emplace_back(unicode::lowercased(line.text), line.box);
    }
    for (const auto& caption : alone) {
        const Rect& box = caption.second;
        const bool level = std::any_of(alone.begin(), alone.end(), [&](const auto& other) {
            return other.first != caption.first &&
                   std::abs(other.second.midY() - box.midY()) <= std::max(box.height, other.second.height);
        });
        if (level) inRow.push_back(caption.first);
    }
    return callUiHits(inRow);
}

ParticipantAnalysis analyzeParticipants(const Image& img, const std::vector<TextObservation>& lines,
                                        std::string_view windowTitle) {
    return analyzeParticipants(img, lines, windowTitle, findTiles(img));
}

ParticipantAnalysis analyzeParticipants(const Image& img, const std::vector<TextObservation>& lines,
                                        std::string_view windowTitle, const std::optional<TileLayout>& found) {
    // One small block is a thumbnail or a picture in a page, not a gallery.
    const bool structure = found && (found->tiles.size() > 1 || found->tiles.front().area() >= LONE_TILE_MIN_AREA);
    const std::optional<TileLayout> layout = structure ? found : std::nullopt;
    ParticipantAnalysis a;
    const std::vector<TextObservation> candidates =
        nameLines(lines, windowTitle, found ? found->tiles : std::vector<Rect>{});
    const std::optional<Bitmap> bm = makeBitmap(img);
    double threshold = HIGHLIGHT_SCORE_THRESH;
    if (layout && bm) {
        const TileLayout split = splitLabelledGrids(*layout, candidates, double(bm->w) / double(bm->h));
        namesOnDrawnTiles(*bm, continueStrips(split, candidates), candidates, lines, a);
        threshold = FRAME_MIN_SCORE;
    } else {
        // No tile structure in the picture: tiles inferred from where the labels sit.
        a.names = candidates;
        std::vector<Rect> boxes;
        std::vector<std::string> texts;
        for (const TextObservation& n : a.names) {
            boxes.push_back(n.box);
            texts.push_back(n.text);
        }
        a.tiles = inferTiles(boxes, texts);
        // One person alone in a call fills its stage, from the window's top down to the label;
        // a frame round the whole of it singles out nobody.
        const bool alone = a.names.size() == 1;
        if (alone) a.tiles.front() = Rect{0, 0, 1, std::min(1.0, boxes.front().maxY() + boxes.front().height)};
        a.highlightScores.assign(a.names.size(), 0.0);
        if (bm && !alone)
            for (size_t i = 0; i < a.names.size(); ++i) a.highlightScores[i] = borderScore(*bm, a.tiles[i]);
    }
    if (bm) {
        a.ring = scanForGreenRing(*bm);
        if (a.ring.best && !ringIsTileSized(a.ring.best->rect)) {
            a.ring.best.reset();
            ++a.ring.rejSize;
        }
    }
    double best = 0.0;
    int index = -1;
    for (size_t i = 0; i < a.highlightScores.size(); ++i) {
        if (a.highlightScores[i] > best) {
            best = a.highlightScores[i];
            index = static_cast<int>(i);
        }
    }
    if (best >= threshold) {
        a.highlighted = index;
        a.bestHighlight = best;
    }
    bool ringOnUnnamedTile = false;
    if (a.ring.best) {
        a.speaker = nameUnderRing(a.ring.best->rect, a.ring.best->score, a);
        if (a.speaker >= 0) a.speakerSource = SpeakerSource::Ring;
        ringOnUnnamedTile = a.speaker < 0 && ringAroundDrawnTile(a.ring.best->rect, a.drawnTiles);
    }
    // A ring round a drawn tile whose name was not read marks that person: another tile's
    // frame is then not the speaker.
    if (a.speaker < 0 && a.highlighted >= 0 && !ringOnUnnamedTile) {
        a.speaker = a.highlighted;
        a.speakerSource = SpeakerSource::Border;
    }
    // Without a ring or a frame, a label coloured among plain ones marks the speaker.
    if (a.speaker < 0 && !ringOnUnnamedTile && bm) {
        // Only labels along a tile's edge: a camera-off tile's big centred name and its
        // avatar's initials are drawn in the avatar's colours.
        std::vector<Rect> boxes;
        std::vector<int> named;
        for (size_t i = 0; i < a.names.size(); ++i) {
            if (namePlaceRank(a.tiles[i], a.names[i].box) == 1 || isInitialsChip(a.names[i].text)) continue;
            boxes.push_back(a.names[i].box);
            named.push_back(static_cast<int>(i));
        }
        if (const std::optional<MarkedLabel> marked = colouredLabel(*bm, boxes)) {
            a.speaker = named[marked->index];
            a.speakerSource = SpeakerSource::Label;
            a.labelMark = marked->strength;
        }
    }
    a.uiHits = toolbarHits(lines);
    settleSpellings(a.names, lines);
    // A ring proves a call where it marks someone or rings a tile; one round nobody is a green
    // logo or icon as likely as a speaker.
    const bool ringMarks = (a.speaker >= 0 && a.speakerSource == SpeakerSource::Ring) || ringOnUnnamedTile;
    a.evidence = a.uiHits >= LOCK_MIN_UI_HITS || ringMarks || namedTiles(a) + a.barNamedTiles >= LOCK_MIN_NAMED_TILES;
    return a;
}

}  // namespace tessival
