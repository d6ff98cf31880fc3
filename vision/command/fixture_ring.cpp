#include "command/fixture_ring.h"

#include <cmath>

#include "codec/image_codec.h"
#include "codec/image_ops.h"
#include "analysis/ring_scan.h"

namespace tessival {

std::string ringPosition(const Rect& rect) {
    const double cx = rect.x + rect.width * 0.5;
    const double cy = rect.y + rect.height * 0.5;
    const char* horizontal = cx < 0.38 ? "left" : cx > 0.62 ? "right" : "center";
    const char* vertical = cy < 0.5 ? "top" : "bottom";
    return std::string(vertical) + "-" + horizontal;
}

bool detectRingFromFixture(const std::string& path, Output& out) {
    // Every file is decoded to red-first RGBA with premultiplied alpha, so the format and
    // channel order of the file cannot change the answer.
    const std::optional<Image> img = readImageFile(path);
    if (!img) {
        out.emit(Answer{{"ok", false}, {"error", "cannot read image at " + path}});
        return false;
    }
    const std::optional<Bitmap> bm = makeBitmap(*img);
    if (!bm) {
        out.emit(Answer{{"ok", false}, {"error", "bitmap conversion failed"}});
        return false;
    }
    const RingScan scan = scanForGreenRing(*bm);
    const int64_t W = img->width, H = img->height;
    Answer answer{{"ok", true}, {"blobs", scan.blobs}, {"image", {W, H}}};
    if (scan.best) {
        const Rect& r = scan.best->rect;
        answer["rect"] = {r.x, r.y, r.width, r.height};
        answer["score"] = scan.best->score;
        answer["bbox_px"] = {std::llround(r.x * double(W)), std::llround(r.y * double(H)),
                             std::llround(r.width * double(W)),
                             std::llround(r.height * double(H))};
        answer["pos"] = ringPosition(r);
        // The crop is a bonus: any failure here only leaves it out.
        if (const std::optional<Rect> cropRect = paddedCropRect(r, W, H)) {
            if (const std::optional<Image> crop = cropImage(*img, *cropRect)) {
                const Image small = downscaleIfNeeded(*crop, RING_CROP_MAX_SIDE);
                if (const std::optional<std::string> png = pngBase64(small)) {
                    answer["crop_px"] = {small.width, small.height};
                    answer["ring_crop"] = *png;
                }
            }
        }
    }
    out.emit(answer);
    return true;
}

}  // namespace tessival
