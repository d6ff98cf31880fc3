#pragma once

#include "windows/window_chooser.h"

namespace tessival {

// A chooser for tests: `next` is what the user answers; a chosen window stays chosen until
// `chosen` is cleared (the window closed).
class FakeWindowChooser final : public WindowChooser {
  public:
    WindowChoice next;
    bool chosen = false;
    int chooseCalls = 0;

    WindowChoice choose() override {
        ++chooseCalls;
        chosen = next.outcome == WindowChoice::Outcome::Chosen;
        return next;
    }
    bool hasChoice() override { return chosen; }
};

}  // namespace tessival
