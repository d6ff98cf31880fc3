// findWindow and screenshot over the session's real window systems (X11 of $DISPLAY, sway of
// $SWAYSOCK). The capture target is the window whose title holds "bench capture target"
// (windows_vs_import.py and sway_vs_grim.py set it up).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include "base/output.h"
#include "windows/screenshot.h"
#include "windows/window_search.h"
#include "platform/session_windows.h"

namespace {

using namespace tessival;

struct World {
    int devNull = open("/dev/null", O_WRONLY);
    Output out{devNull, devNull};
    std::unique_ptr<WindowSystem> ws = makeSessionWindowSystem(out, std::nullopt).windows;
    WindowLock lock;
};

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
    const auto picked = findWindow(*w.ws, w.lock, w.out, std::string("bench capture target"));
    if (!picked || picked->unproven) {
        state.SkipWithError("no window titled \"bench capture target\"");
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
    const std::optional<std::string> query("bench capture target");
    for (auto _ : state) {
        const auto picked = findWindow(*w.ws, w.lock, w.out, query);
        if (!picked) {
            state.SkipWithError("no window titled \"bench capture target\"");
            return;
        }
        Image img = screenshot(*w.ws, picked->window);
        benchmark::DoNotOptimize(img.bytes.data());
    }
}
BENCHMARK(BM_FindAndCapture)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
