// tessival: the vision sidecar. Reads capture commands on standard input and answers each
// with one JSON line on standard output; diagnostics go to standard error.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "analysis/ocr.h"
#include "command/fixture_ring.h"
#include "platform/text_recognizer_tesseract.h"
#include "command/analyze_mode.h"
#include "command/capture_handlers.h"
#include "command/command_loop.h"
#include "base/output.h"
#include "command/selftest.h"
#include "windows/window_search.h"
#include "platform/portal_choice.h"
#include "platform/session_windows.h"

// The build passes the project version; a build without it still compiles.
#ifndef SIDECARS_VERSION
#define SIDECARS_VERSION "unknown"
#endif

namespace {

constexpr const char* VERSION_LINE = "tessival " SIDECARS_VERSION "\n";

constexpr const char* USAGE =
    "Usage: tessival [--state-dir DIR]  read commands on standard input (the sidecar)\n"
    "       tessival --analyze IMAGE [--title TITLE] [--slide] [--lines] [--annotate OUT.png]\n"
    "       tessival --selftest\n"
    "       tessival --detect-ring IMAGE\n"
    "       tessival --help | --version\n"
    "\n"
    "Finds the meeting window (X11, XWayland, sway, or the window chosen through the\n"
    "desktop portal on other Wayland desktops), captures it, reads it with\n"
    "Tesseract and answers each command line on standard input with one JSON line on\n"
    "standard output.\n"
    "Diagnostics go to standard error. Standard input closed ends the program (status 0).\n"
    "\n"
    "Commands (one per line; an optional query after one space picks the window):\n"
    "  CAPTURE [query]        participant names, their tiles, the speaker and a crop of it\n"
    "  CAPTURE_FRAME [query]  a PNG of the meeting window or its gallery\n"
    "  CAPTURE_SLIDE [query]  the text of a shared screen or slide window\n"
    "  CHOOSE_WINDOW          let the user pick the meeting window (GNOME, KDE and other\n"
    "                         desktops that show a program only a window the user chose)\n"
    "\n"
    "Options:\n"
    "  --analyze IMAGE    read a saved window image (PNG, JPEG, BMP) as CAPTURE would and\n"
    "                     print the answer; --title gives the window title it had,\n"
    "                     --slide reads it as a slide, --lines logs every line read,\n"
    "                     --annotate draws the name boxes, tiles, scores and the ring\n"
    "                     onto a copy of the image\n"
    "  --state-dir DIR    where the desktop portal's restore token is kept (default\n"
    "                     $XDG_STATE_HOME/tessival, else ~/.local/state/tessival)\n"
    "  --selftest         run the built-in checks; one JSON verdict line, status 0 or 1\n"
    "  --detect-ring IMAGE  run the speaker-ring detector on an image file\n"
    "  --help             show this text\n"
    "  --version          show the version\n";

// Writes `text` to standard output; false when it could not all be written.
bool writeStdout(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The recogniser reads its model into buffers of tens of megabytes, and faulting them in page
// by page was most of its load time. Asked to, the C library backs large allocations with
// huge pages (where the system leaves that to programs, as most do); that is read once at
// start, so the program starts itself again with the setting, once.
void restartWithHugePages(char** argv) {
    constexpr const char* TUNABLE = "glibc.malloc.hugetlb=1";
    const char* current = std::getenv("GLIBC_TUNABLES");
    const std::string tunables = current == nullptr ? std::string() : std::string(current);
    if (tunables.find("glibc.malloc.hugetlb") != std::string::npos) return;
    const std::string wanted = tunables.empty() ? TUNABLE : tunables + ":" + TUNABLE;
    if (setenv("GLIBC_TUNABLES", wanted.c_str(), 1) != 0) return;
    execv("/proc/self/exe", argv);
    // Not restarted: go on as we are (the setting only saves time).
    if (current == nullptr) {
        unsetenv("GLIBC_TUNABLES");
    } else {
        setenv("GLIBC_TUNABLES", current, 1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tessival;
    restartWithHugePages(argv);
    // A reader that closes our output must end us through a failed write we can see,
    // not through a signal.
    std::signal(SIGPIPE, SIG_IGN);

    Output out(STDOUT_FILENO, STDERR_FILENO);
    WindowLock lock;
    const std::vector<std::string> args(argv + 1, argv + argc);

    for (const std::string& a : args) {
        if (a == "--selftest") return selftest(out) ? 0 : 1;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--detect-ring") {
            if (i + 1 < args.size()) return detectRingFromFixture(args[i + 1], out) ? 0 : 1;
            break;
        }
    }

    for (const std::string& a : args) {
        if (a == "--help") return writeStdout(USAGE) ? 0 : 1;
        if (a == "--version") return writeStdout(VERSION_LINE) ? 0 : 1;
    }

    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--analyze" && i + 1 < args.size()) {
            AnalyzeOptions options;
            options.imagePath = args[i + 1];
            for (size_t j = 0; j < args.size(); ++j) {
                const bool hasValue = j + 1 < args.size();
                if (args[j] == "--annotate" && hasValue) options.annotatePath = args[j + 1];
                if (args[j] == "--title" && hasValue) options.windowTitle = args[j + 1];
                if (args[j] == "--slide") options.slide = true;
                if (args[j] == "--lines") options.listLines = true;
            }
            // A saved picture is read once while someone waits: worth a second engine's memory.
            std::unique_ptr<TextRecognizer> recognizer = makeTesseractRecognizer(true);
            return analyzeImageFile(options, *recognizer, out) ? 0 : 1;
        }
    }

    // The engine loads on its own thread from here, alongside the window system's set-up. One
    // engine: the sidecar lives beside the meeting app for hours, and its warm captures reread
    // little.
    std::unique_ptr<TextRecognizer> recognizer = makeTesseractRecognizer(false);
    std::string stateDirOption;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--state-dir") stateDirOption = args[i + 1];
    }
    const char* xdgState = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    SessionWindows session = makeSessionWindowSystem(
        out, stateDirectory(stateDirOption, xdgState != nullptr ? xdgState : "", home != nullptr ? home : ""));
    RegionTextReader reader(*recognizer);
    CaptureHandlers handlers(Services{*session.windows, reader, out, lock, session.chooser});
    return runCommandLoop(STDIN_FILENO, out, handlers);
}
