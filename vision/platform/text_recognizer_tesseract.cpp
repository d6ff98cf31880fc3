#include "platform/text_recognizer_tesseract.h"

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#if defined(_OPENMP)
#include <omp.h>
#endif

#include "analysis/ocr_prep.h"
#include "base/unicode_text.h"

namespace tessival {
namespace {

// The Latin script model reads names with diacritics (García, Łukasz, Søren) exactly.
constexpr const char* MODEL = "Latin";

// Captures are twice the window's size. Of the resolutions tried on the generated meeting
// scenes (100 to 250 and the engine's own estimate), this one read the most names.
constexpr int SOURCE_DPI = 144;

// The lean model (the packaged Latin model with its word list cut down to what labels are made
// of, see cmake/ocr_model.cmake) lives in share/meeting-sidecars/tessdata of the prefix the
// program is installed to (<prefix>/bin/tessival), or of the build tree; programs built one
// folder deeper (the benchmarks) find the same one a level up. The first such folder that exists,
// else the installed place; empty when the program's own path is unknown.
std::string leanModelDir() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    const std::filesystem::path installed = exe.parent_path().parent_path();
    for (const std::filesystem::path& prefix : {installed, installed.parent_path()}) {
        const std::filesystem::path dir = prefix / "share" / "meeting-sidecars" / "tessdata";
        if (std::filesystem::is_directory(dir, ec)) return dir.string();
    }
    return (installed / "share" / "meeting-sidecars" / "tessdata").string();
}

// Whether `path` is a whole language-data file with a network in it. The engine trusts the
// offsets of the file's table of contents, so a cut or foreign file is refused before it reads one.
bool wholeModelFile(const std::string& path) {
    constexpr int32_t MAX_ENTRIES = 64;
    constexpr int32_t LSTM_ENTRY = 17;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const auto size = static_cast<int64_t>(in.tellg());
    in.seekg(0);
    int32_t entries = 0;
    if (!in.read(reinterpret_cast<char*>(&entries), sizeof entries)) return false;
    if (entries <= LSTM_ENTRY || entries > MAX_ENTRIES) return false;
    const int64_t header = static_cast<int64_t>(sizeof entries) + int64_t{8} * entries;
    std::vector<int64_t> offsets(static_cast<size_t>(entries));
    if (!in.read(reinterpret_cast<char*>(offsets.data()), static_cast<std::streamsize>(header - 4))) return false;
    for (const int64_t o : offsets) {
        if (o != -1 && (o < header || o > size)) return false;
    }
    return offsets[LSTM_ENTRY] != -1;
}

void logLine(const std::string& text) {
    const std::string line = text + "\n";
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
}

// An engine over the model in `dataDir` (nullptr: the packaged one, or TESSDATA_PREFIX).
std::unique_ptr<tesseract::TessBaseAPI> initEngine(const char* dataDir) {
    auto api = std::make_unique<tesseract::TessBaseAPI>();
    // A global setting: it holds from here on, for the loading too.
    api->SetVariable("debug_file", "/dev/null");
    // The older engine's word lists are not needed (the network's decoder keeps its own).
    // Sauvola's local threshold keeps a label on a video tile apart from the picture
    // round it, where one global threshold merges them.
    const std::vector<std::string> names = {"load_system_dawg", "load_freq_dawg", "thresholding_method"};
    const std::vector<std::string> values = {"0", "0", "2"};
    if (api->Init(dataDir, MODEL, tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values, false) != 0) return nullptr;
    return api;
}

// The engine over the lean model, else the packaged one (TESSDATA_PREFIX, when set, names the
// model's folder: whoever sets it gets that model, as before); `quiet` says nothing of a fallback.
std::unique_ptr<tesseract::TessBaseAPI> loadEngine(bool quiet) {
    // The image library's complaints about tiny parts would land on our diagnostic channel,
    // and so would the engine's own about a file it cannot use (we say it once, below).
    setMsgSeverity(L_SEVERITY_NONE);
    std::unique_ptr<tesseract::TessBaseAPI> api;
    const char* prefix = std::getenv("TESSDATA_PREFIX");
    if (prefix != nullptr && *prefix != '\0') {
        api = initEngine(nullptr);
    } else {
        const std::string lean = leanModelDir();
        const std::string leanFile = lean + "/" + MODEL + ".traineddata";
        if (!lean.empty() && wholeModelFile(leanFile)) api = initEngine(lean.c_str());
        if (!api) {
            if (!quiet)
                logLine("[tessival] lean OCR model missing or unreadable (" + leanFile + "), loading the packaged one");
            api = initEngine(nullptr);
        }
    }
    if (!api) {
        throw PlatformError(std::string("cannot load the OCR model '") + MODEL +
                            "' (install tesseract-ocr-script-latn or set TESSDATA_PREFIX)");
    }
    return api;
}

// The words of the engine's current line.
std::vector<OcrWord> lineWords(tesseract::ResultIterator& it) {
    std::vector<OcrWord> words;
    do {
        std::unique_ptr<char[]> raw(it.GetUTF8Text(tesseract::RIL_WORD));
        int left = 0, top = 0, right = 0, bottom = 0;
        if (raw && it.BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom)) {
            words.push_back(OcrWord{unicode::repairUtf8(raw.get()), it.Confidence(tesseract::RIL_WORD),
                                    Rect{double(left), double(top), double(right - left), double(bottom - top)}});
        }
        if (it.IsAtFinalElement(tesseract::RIL_TEXTLINE, tesseract::RIL_WORD)) break;
    } while (it.Next(tesseract::RIL_WORD));
    return words;
}

// The lines `api` reads in `picture`.
std::vector<std::vector<OcrWord>> readWith(tesseract::TessBaseAPI& api, const GreyImage& picture, TextLayout layout) {
#if defined(_OPENMP)
    // The engine's own threads cost far more than they gain on the small machines these
    // sidecars run beside a meeting app. Its parallel regions ask for a fixed thread count,
    // so only making every region inactive keeps them on this thread.
    omp_set_max_active_levels(0);
#endif
    if (picture.pixels.empty() || static_cast<int64_t>(picture.pixels.size()) < picture.width * picture.height) {
        return {};
    }
    api.SetPageSegMode(layout == TextLayout::SingleLine ? tesseract::PSM_SINGLE_LINE : tesseract::PSM_SPARSE_TEXT);
    api.SetImage(picture.pixels.data(), static_cast<int>(picture.width), static_cast<int>(picture.height), 1,
                 static_cast<int>(picture.width));
    api.SetSourceResolution(SOURCE_DPI);
    if (api.Recognize(nullptr) != 0) {
        api.Clear();
        throw PlatformError("text recognition failed");
    }
    std::vector<std::vector<OcrWord>> lines;
    if (std::unique_ptr<tesseract::ResultIterator> it{api.GetIterator()}) {
        do {
            lines.push_back(lineWords(*it));
        } while (it->Next(tesseract::RIL_TEXTLINE));
    }
    api.Clear();
    return lines;
}

using Loading = std::shared_future<std::unique_ptr<tesseract::TessBaseAPI>>;

// A second engine, for a second core: a picture's parts are read one by one, so two engines
// read a picture full of text in about 0.6 of the time (the engine's own threads divide each
// reading too finely to gain). It loads once the first has, so the two loads' peaks of memory
// do not add up, and says nothing of a failure: the first engine does.
class SecondLane final : public TextRecognizer {
public:
    explicit SecondLane(Loading first)
        : loading_(std::async(std::launch::async, [first] {
              first.wait();
              return loadEngine(true);
          }).share()) {}

    // Whether its engine loaded (waits for the load).
    bool usable() const {
        try {
            return loading_.get() != nullptr;
        } catch (const std::exception&) {
            return false;
        }
    }

    std::vector<std::vector<OcrWord>> read(const GreyImage& picture, TextLayout layout) override {
        return readWith(*loading_.get(), picture, layout);
    }

private:
    Loading loading_;
};

class TesseractRecognizer final : public TextRecognizer {
public:
    explicit TesseractRecognizer(bool twoLanes)
        : loading_(std::async(std::launch::async, loadEngine, false).share()),
          twoLanes_(twoLanes && std::thread::hardware_concurrency() >= 2) {}

    // The second engine is loaded when a picture first has two parts to read.
    size_t lanes() override {
        if (twoLanes_ && !second_) second_ = std::make_unique<SecondLane>(loading_);
        return second_ ? 2 : 1;
    }

    TextRecognizer* lane(size_t i) override {
        if (i == 0) return this;
        return i == 1 && second_ && second_->usable() ? second_.get() : nullptr;
    }

    std::vector<std::vector<OcrWord>> read(const GreyImage& picture, TextLayout layout) override {
        return readWith(engine(), picture, layout);
    }

private:
    tesseract::TessBaseAPI& engine() {
        std::call_once(loaded_, [&] {
            try {
                api_ = loading_.get().get();
            } catch (const std::exception& e) {
                loadError_ = e.what();
                // Said once, in one write to the diagnostic channel: every later recognition
                // fails the same way, and the captures go on without text.
                const std::string line =
                    "[tessival] OCR unavailable, captures read no text: " + loadError_ + "\n";
                [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
            }
        });
        if (api_ == nullptr) throw PlatformError(loadError_);
        return *api_;
    }

    Loading loading_;
    std::once_flag loaded_;
    tesseract::TessBaseAPI* api_ = nullptr;
    std::string loadError_;
    bool twoLanes_ = false;
    // Declared last: destroyed first, it waits for its load, which waits for the first's.
    std::unique_ptr<SecondLane> second_;
};

}  // namespace

std::unique_ptr<TextRecognizer> makeTesseractRecognizer(bool twoLanes) {
    return std::make_unique<TesseractRecognizer>(twoLanes);
}

}  // namespace tessival
