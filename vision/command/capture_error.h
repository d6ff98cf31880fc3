#pragma once

#include <stdexcept>

namespace tessival {

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
