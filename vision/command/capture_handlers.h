#pragma once

#include <optional>
#include <string>

#include "analysis/ocr.h"
#include "analysis/participants.h"
#include "base/answer.h"
#include "command/command_loop.h"
#include "base/output.h"
#include "windows/window_chooser.h"
#include "windows/window_search.h"
#include "windows/window_system.h"

namespace tessival {

// What the handlers reach the world through; main builds the real ones, tests fakes.
struct Services {
    WindowSystem& windows;
    TextReader& text;
    Output& out;
    WindowLock& lock;
    // Where the user must pick the window (the desktop portal); null where windows are listed.
    WindowChooser* chooser = nullptr;
};

// Every line of text in `img` of window `source`; a recognition that fails is logged and read
// as no text, so the answer still carries what the pixels show. `lastFailure` holds the last
// failure said, so that a failure repeated on every capture is logged once. `tiles` are the
// participant tiles found in its pixels, whose label bands are read where no text was found.
std::vector<TextObservation> readText(TextReader& reader, const Image& img, uint64_t source, Output& out,
                                      std::string& lastFailure, const std::vector<Rect>& tiles = {});

// The key under which a window's reused text and crops are kept: its id within its window
// system, and the system (ids repeat across systems).
uint64_t windowKey(const WindowFacts& window);

// A tile cut out with padding, shrunk to RING_CROP_MAX_SIDE and PNG-encoded as Base64.
struct EncodedCrop {
    std::string base64;
    int64_t width = 0;
    int64_t height = 0;
};

// The last speaker crop of a window and its encoding, reused while the crop is the same
// rectangle with the same pixels (a speaker who stays still while a parent polls).
struct CropMemo {
    uint64_t source = 0;
    Rect rect;
    Image pixels;
    EncodedCrop encoded;
};

// With a memo, the encoding of the memo's crop when `source` and the crop are unchanged;
// a new encoding is kept in it.
std::optional<EncodedCrop> cropAndEncode(const Image& img, const Rect& tile, CropMemo* memo = nullptr,
                                         uint64_t source = 0);

// The picture of the speaking participant: from the ring, else from the highlighted tile.
struct SpeakerCrop {
    std::string base64;
    Rect rect;
    double score = 0;
    std::string label;  // for the summary line
};

// Logs the ring diagnostics and cuts the speaker crop, if any.
std::optional<SpeakerCrop> speakerCrop(const Image& img, const ParticipantAnalysis& a, Output& out,
                                       CropMemo* memo = nullptr, uint64_t source = 0);

// The participant answer without its "window" key; logs the summary line.
Answer participantAnswer(const ParticipantAnalysis& a, const std::optional<SpeakerCrop>& crop, Output& out);

// The gallery's pixel rectangle (unrounded) framing the tiles with padding, or nothing
// when there are fewer than 2 tiles or it is too small or covers most of the image.
std::optional<Rect> galleryRect(const std::vector<Rect>& tiles, int64_t imgW, int64_t imgH);

// CAPTURE, CAPTURE_FRAME, CAPTURE_SLIDE and CHOOSE_WINDOW.
class CaptureHandlers final : public CommandHandlers {
public:
    explicit CaptureHandlers(Services services) : s_(services) {}
    Answer capture(const std::optional<std::string>& query) override;
    Answer captureFrame(const std::optional<std::string>& query) override;
    Answer captureSlide(const std::optional<std::string>& query) override;
    Answer chooseWindow() override;

private:
    // The answer when no window was found: where only a chosen window can be read and none
    // is, the parent must ask the user first.
    Answer nothingFound(const char* error);

    Services s_;
    CropMemo cropMemo_;
    std::string lastTextFailure_;  // logged once until reading works again
};

}  // namespace tessival
