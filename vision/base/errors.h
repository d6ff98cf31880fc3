#pragma once

#include <stdexcept>

namespace tessival {

// tessival's errors. Everything that fails outside the pure analysis throws one of these;
// the command wrapper turns what() into the answer's "error" text, so what() is a clear
// sentence. Analysis and heuristics never throw: they answer with an empty result.

// A failure of the machine's services: no display server, a vanished window, a failed
// capture, an OCR engine that cannot load or read.
struct PlatformError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The two reasons tessival itself refuses to capture a chosen window. what() is the exact
// "error" text of the answer.
class CaptureError : public std::runtime_error {
public:
    enum class Kind { degenerateWindow, noDisplay };

    explicit CaptureError(Kind kind) : std::runtime_error(describe(kind)), kind_(kind) {}
    Kind kind() const { return kind_; }
    bool operator==(const CaptureError& o) const { return kind_ == o.kind_; }

    static const char* describe(Kind kind) {
        switch (kind) {
            case Kind::degenerateWindow:
                return "window has zero-size frame; skipping capture";
            case Kind::noDisplay:
                break;
        }
        return "window not on any resolvable display (off-screen?); skipping capture";
    }

private:
    Kind kind_;
};

}  // namespace tessival
