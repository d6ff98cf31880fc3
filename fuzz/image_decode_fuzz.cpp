// Image files as --detect-ring and --analyze read them: arbitrary bytes through decodePng
// and, from a file, through readImageFile (PNG, JPEG, BMP). Checks: a decoded image's
// buffer holds every pixel its size promises.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/image_codec.h"

using namespace tessival;

namespace {

void check(const std::optional<Image>& img) {
    if (!img) return;
    if (img->width <= 0 || img->height <= 0 || img->bytesPerPixel < 3 ||
        img->bytesPerRow < img->width * img->bytesPerPixel ||
        static_cast<int64_t>(img->bytes.size()) < img->bytesPerRow * img->height) {
        fprintf(stderr, "check failed: decoded image smaller than its size\n");
        abort();
    }
}

std::string tempPath() {
    static std::string path = [] {
        char tmpl[] = "/tmp/image_decode_fuzz.XXXXXX";
        const int fd = mkstemp(tmpl);
        if (fd < 0) abort();
        close(fd);
        return std::string(tmpl);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    check(decodePng(bytes));

    const std::string path = tempPath();
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) abort();
    if (size > 0 && fwrite(data, 1, size, f) != size) abort();
    fclose(f);
    check(readImageFile(path));
    return 0;
}
