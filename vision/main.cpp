// tessival: the vision sidecar. Reads capture commands on standard input and answers each
// with one JSON line on standard output; diagnostics go to standard error.
#include <csignal>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "analysis/fixture_ring.h"
#include "analysis/text_recognizer_tesseract.h"
#include "command/analyze_mode.h"
#include "command/capture_handlers.h"
#include "command/command_loop.h"
#include "command/output.h"
#include "command/selftest.h"
#include "windows/window_search.h"
#include "windows/window_system_x11.h"

int main(int argc, char** argv) {
    using namespace tessival;
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
            std::unique_ptr<TextRecognizer> recognizer = makeTesseractRecognizer();
            return analyzeImageFile(options, *recognizer, out) ? 0 : 1;
        }
    }

    std::unique_ptr<WindowSystem> windows = makeX11WindowSystem(out);
    std::unique_ptr<TextRecognizer> recognizer = makeTesseractRecognizer();
    CaptureHandlers handlers(Services{*windows, *recognizer, out, lock});
    return runCommandLoop(STDIN_FILENO, out, handlers);
}
