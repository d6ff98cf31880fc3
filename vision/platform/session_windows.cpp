#include "platform/session_windows.h"

#include <cstdlib>
#include <string>

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

std::unique_ptr<WindowSystem> makeSessionWindowSystem(Output& out) {
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
    std::unique_ptr<WindowSystem> x11 =
        makeX11WindowSystem(out, /*waylandCovered=*/!swaySocket.empty());
    try {
        x11->mainDisplayId();
        note("x11");
    } catch (const PlatformError&) {
    }
    if (!swaySocket.empty()) x11 = withSwayVisibility(std::move(x11), swaySocket);
    sources.push_back({"x11", std::move(x11)});

    out.log("[tessival] window systems: " +
            (found.empty() ? std::string("none reachable") : found));
    return std::make_unique<CombinedWindowSystem>(std::move(sources));
}

}  // namespace tessival
