#include "platform/portal_choice.h"

#include <algorithm>
#include <cstring>

namespace tessival {
namespace {

constexpr std::string_view TOKEN_FILE_HEADER = "tessival portal restore token 1\n";
constexpr size_t TOKEN_MAX_LENGTH = 1024;

bool tokenIsSound(std::string_view token) {
    if (token.empty() || token.size() > TOKEN_MAX_LENGTH) return false;
    return std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

}  // namespace

std::optional<std::string> stateDirectory(const std::string& option,
                                          const std::string& xdgStateHome,
                                          const std::string& home) {
    if (!option.empty()) return option;
    if (!xdgStateHome.empty() && xdgStateHome.front() == '/') return xdgStateHome + "/tessival";
    if (!home.empty()) return home + "/.local/state/tessival";
    return std::nullopt;
}

std::string tokenFileText(std::string_view token) {
    return std::string(TOKEN_FILE_HEADER) + std::string(token) + "\n";
}

std::optional<std::string> parseTokenFile(std::string_view text) {
    if (text.substr(0, TOKEN_FILE_HEADER.size()) != TOKEN_FILE_HEADER) return std::nullopt;
    text.remove_prefix(TOKEN_FILE_HEADER.size());
    if (text.empty() || text.back() != '\n') return std::nullopt;
    text.remove_suffix(1);
    if (!tokenIsSound(text)) return std::nullopt;
    return std::string(text);
}

std::optional<std::string> screenCastUnusable(uint32_t version, uint32_t availableSourceTypes) {
    if (version < SCREENCAST_MIN_VERSION) {
        return "the desktop portal's screen cast is version " + std::to_string(version) + ", " +
               std::to_string(SCREENCAST_MIN_VERSION) + " is needed";
    }
    if ((availableSourceTypes & SCREENCAST_WINDOW_SOURCE) == 0) {
        return "the desktop portal offers no window sources";
    }
    return std::nullopt;
}

WindowChoice::Outcome responseOutcome(uint32_t code) {
    if (code == 0) return WindowChoice::Outcome::Chosen;
    if (code == 1) return WindowChoice::Outcome::Cancelled;
    return WindowChoice::Outcome::Unavailable;
}

std::string responseReason(std::string_view step, uint32_t code) {
    return "the desktop portal refused " + std::string(step) + " (response " +
           std::to_string(code) + ")";
}

std::optional<Image> frameImage(const uint8_t* data, size_t size, int64_t width, int64_t height,
                                int64_t stride, FrameFormat format) {
    if (data == nullptr || width <= 0 || height <= 0 || stride < width * 4) return std::nullopt;
    if (static_cast<uint64_t>(stride) * static_cast<uint64_t>(height - 1) +
            static_cast<uint64_t>(width) * 4 >
        size) {
        return std::nullopt;
    }
    const bool blueFirst = format == FrameFormat::BGRx || format == FrameFormat::BGRA;
    Image img =
        Image::blank(width, height, blueFirst ? PixelOrder::BlueFirst : PixelOrder::RedFirst);
    for (int64_t y = 0; y < height; ++y) {
        std::memcpy(img.bytes.data() + y * img.bytesPerRow, data + y * stride,
                    static_cast<size_t>(width * 4));
    }
    // The padding byte of the x formats is undefined; the image promises opaque pixels.
    if (format == FrameFormat::BGRx || format == FrameFormat::RGBx) {
        for (size_t i = 3; i < img.bytes.size(); i += 4) img.bytes[i] = 255;
    }
    return img;
}

}  // namespace tessival
