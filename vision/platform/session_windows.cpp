#include "platform/session_windows.h"

#include <cstdlib>
#include <string>

#include "platform/window_system_portal.h"
#include "platform/window_system_sway.h"
#include "platform/window_system_x11.h"
#include "windows/combined_window_system.h"

namespace tessival {
namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

}  // namespace

SessionWindows makeSessionWindowSystem(Output& out, std::optional<std::string> stateDir) {
    std::vector<CombinedWindowSystem::Source> sources;
    std::string found;
    const auto note = [&](const char* name) {
        found += (found.empty() ? "" : ", ") + std::string(name);
    };

    // The compositor goes first: it owns the outputs and knows the focus across all clients.
    const std::string swaySocket = env("SWAYSOCK");
    if (!swaySocket.empty()) {
        if (swayAnswers(swaySocket)) note("sway");
        sources.push_back({"sway", makeSwayWindowSystem(out, swaySocket)});
    }
    // On other Wayland desktops the portal stands beside XWayland.
    const bool portalRoute = swaySocket.empty() && !env("WAYLAND_DISPLAY").empty();
    std::unique_ptr<WindowSystem> x11 =
        makeX11WindowSystem(out, /*waylandCovered=*/!swaySocket.empty() || portalRoute);
    try {
        x11->mainDisplayId();
        note("x11");
    } catch (const PlatformError&) {
    }
    if (!swaySocket.empty()) x11 = withSwayVisibility(std::move(x11), swaySocket);
    sources.push_back({"x11", std::move(x11)});

    // Other Wayland desktops show a program only the window the user picks through the
    // portal. It goes last: its one window has no place on the X11 monitors' layout.
    WindowChooser* chooser = nullptr;
    if (portalRoute) {
        const std::optional<std::string> unusable = portalUnusable();
        if (unusable) {
            out.log("[tessival] desktop portal: " + *unusable);
        } else {
            note("portal");
        }
        PortalWindowSystem portal = makePortalWindowSystem(out, std::move(stateDir));
        chooser = portal.chooser;
        sources.push_back({"portal", std::move(portal.windows)});
    }

    out.log("[tessival] window systems: " +
            (found.empty() ? std::string("none reachable") : found));
    return SessionWindows{std::make_unique<CombinedWindowSystem>(std::move(sources)), chooser};
}

}  // namespace tessival
