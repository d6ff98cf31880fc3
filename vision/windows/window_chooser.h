#pragma once

#include <string>

#include "windows/window_system.h"

namespace tessival {

// What became of asking the user for a window.
struct WindowChoice {
    enum class Outcome { Chosen, Cancelled, Unavailable };
    Outcome outcome = Outcome::Unavailable;
    std::string
        reason;  // Unavailable: why, a short phrase ("no desktop portal on the session bus")
    WindowFacts window;  // Chosen: the window as its window system now lists it
};

// The user's own pick of the window to read, on desktops that show a program only the
// window the user chose in the desktop's dialog. Present only where that is the route.
class WindowChooser {
  public:
    virtual ~WindowChooser() = default;

    // Opens the choice, restoring the stored one without a dialog when it can, and waits
    // for the user's answer. Throws PlatformError only for faults of our own side.
    virtual WindowChoice choose() = 0;

    // Whether a window is chosen and still open. Never opens a dialog.
    virtual bool hasChoice() = 0;
};

}  // namespace tessival
