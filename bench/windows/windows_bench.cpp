// findWindow and screenshot over the session's real window systems (X11 of $DISPLAY, sway of
// $SWAYSOCK, the desktop portal on another Wayland session). The capture target is the window
// whose title holds "bench capture target" (windows_vs_import.py and sway_vs_grim.py set it
// up), or the window chosen through the portal (portal_vs_png.py sets up a stand-in portal;
// the choice is made once at start and restored from its token by BM_ChooseWithToken).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "base/output.h"
#include "codec/image_codec.h"
#include "windows/screenshot.h"
#include "windows/window_search.h"
#include "platform/session_windows.h"

namespace {

using namespace tessival;

std::optional<std::string> benchStateDir() {
    const char* dir = std::getenv("XDG_STATE_HOME");
    if (dir == nullptr) return std::nullopt;
    return std::string(dir) + "/tessival";
}

struct World {
    World() {
        if (chooser != nullptr) chosen = chooser->choose().outcome == WindowChoice::Outcome::Chosen;
    }
    int devNull = open("/dev/null", O_WRONLY);
    Output out{devNull, devNull};
    SessionWindows session = makeSessionWindowSystem(out, benchStateDir());
    WindowSystem* ws = session.windows.get();
    WindowChooser* chooser = session.chooser;
    bool chosen = false;
    WindowLock lock;
};

// The capture target: the chosen window where the portal is the route.
std::optional<PickedWindow> target(World& w) {
    if (w.chooser != nullptr) {
        const ShareableContent c = w.ws->shareableContent(false);
        if (c.windows.empty()) return std::nullopt;
        PickedWindow chosen;
        chosen.window = c.windows[0];
        return chosen;
    }
    auto picked = findWindow(*w.ws, w.lock, w.out, std::string("bench capture target"));
    if (!picked || picked->unproven) return std::nullopt;
    return picked;
}

World& world() {
    static World w;
    return w;
}

void BM_FindWindow(benchmark::State& state) {
    World& w = world();
    size_t listed = 0;
    for (auto _ : state) {
        auto picked = findWindow(*w.ws, w.lock, w.out, std::nullopt);
        benchmark::DoNotOptimize(picked);
    }
    listed = w.ws->shareableContent(false).windows.size();
    state.counters["windows"] = double(listed);
}
BENCHMARK(BM_FindWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Screenshot2x(benchmark::State& state) {
    World& w = world();
    const auto picked = target(w);
    if (!picked) {
        state.SkipWithError("no window titled \"bench capture target\" and none chosen");
        return;
    }
    // The first capture redirects the window and waits for its repaint; time the steady state.
    screenshot(*w.ws, picked->window);
    for (auto _ : state) {
        Image img = screenshot(*w.ws, picked->window);
        benchmark::DoNotOptimize(img.bytes.data());
    }
    state.counters["out_w"] = 2 * picked->window.frame.width;
    state.counters["out_h"] = 2 * picked->window.frame.height;
}
BENCHMARK(BM_Screenshot2x)->Unit(benchmark::kMillisecond)->UseRealTime();

// What one capture command pays before analysis: the search, then the picture.
void BM_FindAndCapture(benchmark::State& state) {
    World& w = world();
    for (auto _ : state) {
        const auto picked = target(w);
        if (!picked) {
            state.SkipWithError("no window titled \"bench capture target\"");
            return;
        }
        Image img = screenshot(*w.ws, picked->window);
        benchmark::DoNotOptimize(img.bytes.data());
    }
}
BENCHMARK(BM_FindAndCapture)->Unit(benchmark::kMillisecond)->UseRealTime();

// CHOOSE_WINDOW with a stored token: the session closed and reopened without a dialog, up to
// the stream's first frame.
void BM_ChooseWithToken(benchmark::State& state) {
    World& w = world();
    if (w.chooser == nullptr || !w.chosen) {
        state.SkipWithError("no window chosen through the desktop portal");
        return;
    }
    for (auto _ : state) {
        const WindowChoice choice = w.chooser->choose();
        if (choice.outcome != WindowChoice::Outcome::Chosen) {
            static std::string why;
            why = "the stored choice was not restored: " + choice.reason;
            state.SkipWithError(why.c_str());
            return;
        }
    }
}
BENCHMARK(BM_ChooseWithToken)->Unit(benchmark::kMillisecond)->UseRealTime();

// The peer of a portal capture: the same picture decoded from its PNG file and scaled to 2x,
// what a program that had the window's pixels at hand in a file would pay.
void BM_PngFileTo2x(benchmark::State& state) {
    const char* path = std::getenv("BENCH_PNG");
    if (path == nullptr) {
        state.SkipWithError("BENCH_PNG not set");
        return;
    }
    for (auto _ : state) {
        std::optional<Image> img = readImageFile(path);
        if (!img) {
            state.SkipWithError("cannot read BENCH_PNG");
            return;
        }
        std::optional<Image> big = resizeImage(*img, 2 * img->width, 2 * img->height);
        benchmark::DoNotOptimize(big->bytes.data());
    }
}
BENCHMARK(BM_PngFileTo2x)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
