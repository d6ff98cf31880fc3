// Test-only driver of the window search and the screenshot over the real X11 window system.
// Reads one command per line on standard input and answers each with one JSON line, keeping
// one window system (and its X connection) for its whole life, as tessival does:
//
//   find [query]         findWindow; "window" object, id, frame, unproven
//   slide [query]        findSlideWindow; id, app, title
//   shot <id> [file]     screenshot of the listed window with that id (decimal or 0x hex)
//   shot-last [file]     screenshot of the window the last find returned, not looked up again
//   lock <hits> <ring>   updateWindowLock on the last found window
//   list                 every listed window with its facts, and the displays
//   frontmost            frontmostPid
//
// With a file, the capture is written there as a binary PPM (P6) for pixel comparisons.
// Errors answer {"ok": false, "error": ...}; diagnostics go to standard error.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "base/output.h"
#include "windows/screenshot.h"
#include "windows/slide_window.h"
#include "windows/window_scoring.h"
#include "windows/window_search.h"
#include "platform/window_system_x11.h"

namespace {

using namespace tessival;

Answer frameOf(const Rect& r) { return Answer::array({r.x, r.y, r.width, r.height}); }

Answer factsOf(const WindowFacts& w) {
    Answer a{{"id", w.id},          {"frame", frameOf(w.frame)}, {"app", appName(w)},
             {"title", titleOf(w)}, {"on_screen", w.onScreen},   {"layer", w.layer}};
    a["pid"] = (w.app && w.app->pid) ? Answer(*w.app->pid) : Answer(nullptr);
    return a;
}

void writePpm(const Image& img, const std::string& path) {
    std::ofstream f(path, std::ios::binary);
    f << "P6\n" << img.width << " " << img.height << "\n255\n";
    std::string row(static_cast<size_t>(img.width) * 3, '\0');
    const bool blueFirst = img.order == PixelOrder::BlueFirst;
    for (int64_t y = 0; y < img.height; ++y) {
        const uint8_t* p = img.bytes.data() + y * img.bytesPerRow;
        for (int64_t x = 0; x < img.width; ++x, p += img.bytesPerPixel) {
            row[size_t(x) * 3 + 0] = char(blueFirst ? p[2] : p[0]);
            row[size_t(x) * 3 + 1] = char(p[1]);
            row[size_t(x) * 3 + 2] = char(blueFirst ? p[0] : p[2]);
        }
        f.write(row.data(), std::streamsize(row.size()));
    }
}

Answer shotAnswer(WindowSystem& ws, const WindowFacts& w, const std::string& dump) {
    const Image img = screenshot(ws, w);
    if (!dump.empty()) writePpm(img, dump);
    return Answer{{"ok", true}, {"id", w.id}, {"width", img.width}, {"height", img.height}};
}

std::optional<std::string> rest(std::istringstream& in) {
    std::string q;
    std::getline(in >> std::ws, q);
    if (q.empty()) return std::nullopt;
    return q;
}

}  // namespace

int main() {
    std::signal(SIGPIPE, SIG_IGN);
    Output out(STDOUT_FILENO, STDERR_FILENO);
    std::unique_ptr<WindowSystem> ws = makeX11WindowSystem(out);
    WindowLock lock;
    std::optional<WindowFacts> last;

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string cmd;
        in >> cmd;
        if (cmd.empty()) continue;
        try {
            if (cmd == "find") {
                const auto picked = findWindow(*ws, lock, out, rest(in));
                if (!picked) {
                    out.emit(Answer{{"ok", true}, {"found", false}});
                    continue;
                }
                last = picked->window;
                out.emit(Answer{{"ok", true},
                                {"found", true},
                                {"id", picked->window.id},
                                {"frame", frameOf(picked->window.frame)},
                                {"unproven", picked->unproven},
                                {"window", windowInfo(*picked)}});
            } else if (cmd == "slide") {
                const auto w = findSlideWindow(*ws, rest(in));
                Answer a{{"ok", true}, {"found", w.has_value()}};
                if (w) a.update(factsOf(*w));
                out.emit(a);
            } else if (cmd == "shot") {
                std::string id, dump;
                in >> id >> dump;
                const uint32_t want = static_cast<uint32_t>(std::stoul(id, nullptr, 0));
                const ShareableContent c = ws->shareableContent(false);
                const auto it = std::find_if(c.windows.begin(), c.windows.end(),
                                             [&](const WindowFacts& w) { return w.id == want; });
                if (it == c.windows.end()) {
                    out.emit(Answer{{"ok", false}, {"error", "no such window listed"}});
                    continue;
                }
                out.emit(shotAnswer(*ws, *it, dump));
            } else if (cmd == "shot-last") {
                std::string dump;
                in >> dump;
                if (!last) {
                    out.emit(Answer{{"ok", false}, {"error", "no window found yet"}});
                    continue;
                }
                out.emit(shotAnswer(*ws, *last, dump));
            } else if (cmd == "lock") {
                int hits = 0, ring = 0;
                in >> hits >> ring;
                if (last) updateWindowLock(lock, out, *last, hits, ring != 0);
                out.emit(Answer{{"ok", last.has_value()}});
            } else if (cmd == "list") {
                const ShareableContent c = ws->shareableContent(false);
                Answer windows = Answer::array();
                for (const WindowFacts& w : c.windows) windows.push_back(factsOf(w));
                Answer displays = Answer::array();
                for (const DisplayFacts& d : c.displays) {
                    displays.push_back(Answer{{"id", d.id}, {"frame", frameOf(d.frame)}});
                }
                out.emit(Answer{{"ok", true},
                                {"windows", windows},
                                {"displays", displays},
                                {"main_display", ws->mainDisplayId()}});
            } else if (cmd == "frontmost") {
                const auto pid = ws->frontmostPid();
                out.emit(Answer{{"ok", true}, {"pid", pid ? Answer(*pid) : Answer(nullptr)}});
            } else {
                out.emit(Answer{{"ok", false}, {"error", "unknown command"}});
            }
        } catch (const std::exception& e) {
            out.emit(Answer{{"ok", false}, {"error", e.what()}});
        }
    }
    return 0;
}
