#include "command_reader.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/unistr.h>

#include <array>

namespace sondrel {
namespace {

bool isTrimmed(UChar32 c) { return c == 0x09 || u_charType(c) == U_SPACE_SEPARATOR; }

}  // namespace

struct CommandDecoder::State {
    UConverter* converter = nullptr;
    icu::UnicodeString buffer;
};

CommandDecoder::CommandDecoder() : state_(std::make_unique<State>()) {
    UErrorCode status = U_ZERO_ERROR;
    state_->converter = ucnv_open("UTF-8", &status);
    if (state_->converter != nullptr) {
        // Drop ill-formed bytes and carry on with the next byte.
        ucnv_setToUCallBack(state_->converter, UCNV_TO_U_CALLBACK_SKIP, nullptr, nullptr, nullptr,
                            &status);
    }
}

CommandDecoder::~CommandDecoder() {
    if (state_->converter != nullptr) ucnv_close(state_->converter);
}

std::vector<std::string> CommandDecoder::feed(std::string_view bytes) {
    std::vector<std::string> lines;
    if (state_->converter == nullptr) return lines;
    icu::UnicodeString& buffer = state_->buffer;

    // Not flushing keeps an incomplete trailing sequence inside the converter for the next
    // read.
    std::array<UChar, 1024> chunk;
    const char* source = bytes.data();
    const char* const sourceEnd = bytes.data() + bytes.size();
    for (;;) {
        UChar* target = chunk.data();
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(state_->converter, &target, chunk.data() + chunk.size(), &source, sourceEnd,
                       nullptr, false, &status);
        buffer.append(chunk.data(), static_cast<int32_t>(target - chunk.data()));
        if (status != U_BUFFER_OVERFLOW_ERROR) break;
    }

    int32_t lf;
    while ((lf = buffer.indexOf(u'\n')) >= 0) {
        int32_t end = lf;
        if (end > 0 && buffer.charAt(end - 1) == u'\r') --end;
        std::string line;
        buffer.tempSubString(0, end).toUTF8String(line);
        buffer.remove(0, lf + 1);
        lines.push_back(std::move(line));
    }
    if (static_cast<std::size_t>(buffer.countChar32()) > COMMAND_BUFFER_LIMIT) buffer.remove();
    return lines;
}

std::string normalizeCommand(std::string_view line) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(line.data(), static_cast<int32_t>(line.size())));
    int32_t start = 0;
    int32_t end = text.length();
    while (start < end && isTrimmed(text.char32At(start))) start = text.moveIndex32(start, 1);
    while (end > start) {
        const int32_t before = text.moveIndex32(end, -1);
        if (!isTrimmed(text.char32At(before))) break;
        end = before;
    }
    icu::UnicodeString trimmed = text.tempSubStringBetween(start, end);
    trimmed.toUpper(icu::Locale::getRoot());
    std::string out;
    trimmed.toUTF8String(out);
    return out;
}

void readCommands(SidecarIo& io, const std::function<void()>& onRestart) {
    CommandDecoder decoder;
    for (;;) {
        const std::string bytes = io.readInput();
        if (bytes.empty()) return;
        for (const std::string& raw : decoder.feed(bytes)) {
            const std::string line = normalizeCommand(raw);
            if (line.empty()) continue;
            if (line == "RESTART") {
                onRestart();
            } else {
                io.logErr("[sondrel] unknown command " + line + "\n");
            }
        }
    }
}

}  // namespace sondrel
