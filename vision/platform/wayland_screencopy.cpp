#include "platform/wayland_screencopy.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace tessival {
namespace {

constexpr int CAPTURE_TIMEOUT_MS = 5000;

struct OutputEntry {
    wl_output* output = nullptr;
    zxdg_output_v1* xdg = nullptr;
    std::string name;
};

struct Session {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_shm* shm = nullptr;
    zwlr_screencopy_manager_v1* screencopy = nullptr;
    uint32_t screencopyVersion = 0;
    zxdg_output_manager_v1* xdgOutputs = nullptr;
    std::vector<std::unique_ptr<OutputEntry>> outputs;

    ~Session() {
        for (auto& o : outputs) {
            if (o->xdg != nullptr) zxdg_output_v1_destroy(o->xdg);
            if (o->output != nullptr) wl_output_destroy(o->output);
        }
        if (xdgOutputs != nullptr) zxdg_output_manager_v1_destroy(xdgOutputs);
        if (screencopy != nullptr) zwlr_screencopy_manager_v1_destroy(screencopy);
        if (shm != nullptr) wl_shm_destroy(shm);
        if (registry != nullptr) wl_registry_destroy(registry);
        if (display != nullptr) wl_display_disconnect(display);
    }
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
    auto* s = static_cast<Session*>(data);
    const std::string_view iface = interface;
    if (iface == wl_shm_interface.name) {
        s->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (iface == zwlr_screencopy_manager_v1_interface.name) {
        s->screencopyVersion = std::min<uint32_t>(version, 3);
        s->screencopy = static_cast<zwlr_screencopy_manager_v1*>(wl_registry_bind(
            registry, name, &zwlr_screencopy_manager_v1_interface, s->screencopyVersion));
    } else if (iface == zxdg_output_manager_v1_interface.name) {
        s->xdgOutputs = static_cast<zxdg_output_manager_v1*>(wl_registry_bind(
            registry, name, &zxdg_output_manager_v1_interface, std::min<uint32_t>(version, 2)));
    } else if (iface == wl_output_interface.name) {
        auto entry = std::make_unique<OutputEntry>();
        entry->output =
            static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 1));
        s->outputs.push_back(std::move(entry));
    }
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener REGISTRY = {onGlobal, onGlobalRemove};

void xdgPosition(void*, zxdg_output_v1*, int32_t, int32_t) {}
void xdgSize(void*, zxdg_output_v1*, int32_t, int32_t) {}
void xdgDone(void*, zxdg_output_v1*) {}
void xdgName(void* data, zxdg_output_v1*, const char* name) {
    static_cast<OutputEntry*>(data)->name = name;
}
void xdgDescription(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener XDG_OUTPUT = {xdgPosition, xdgSize, xdgDone, xdgName, xdgDescription};

struct Frame {
    bool haveShm = false;
    uint32_t format = 0, width = 0, height = 0, stride = 0;
    bool buffersListed = false;  // all buffer kinds offered (or a version that lists one)
    bool yInvert = false;
    bool ready = false;
    bool failed = false;
};

// The 32-bit formats whose bytes are blue, green, red or red, green, blue.
std::optional<PixelOrder> orderOf(uint32_t format) {
    switch (format) {
        case WL_SHM_FORMAT_ARGB8888:
        case WL_SHM_FORMAT_XRGB8888:
            return PixelOrder::BlueFirst;
        case WL_SHM_FORMAT_ABGR8888:
        case WL_SHM_FORMAT_XBGR8888:
            return PixelOrder::RedFirst;
        default:
            return std::nullopt;
    }
}

void frameBuffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width,
                 uint32_t height, uint32_t stride) {
    auto* f = static_cast<Frame*>(data);
    if (f->haveShm && orderOf(f->format)) return;  // keep the first usable one
    f->haveShm = true;
    f->format = format;
    f->width = width;
    f->height = height;
    f->stride = stride;
}
void frameFlags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
    static_cast<Frame*>(data)->yInvert = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
}
void frameReady(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {
    static_cast<Frame*>(data)->ready = true;
}
void frameFailed(void* data, zwlr_screencopy_frame_v1*) {
    static_cast<Frame*>(data)->failed = true;
}
void frameDamage(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void frameDmabuf(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {}
void frameBufferDone(void* data, zwlr_screencopy_frame_v1*) {
    static_cast<Frame*>(data)->buffersListed = true;
}
const zwlr_screencopy_frame_v1_listener FRAME = {
    frameBuffer, frameFlags, frameReady, frameFailed, frameDamage, frameDmabuf, frameBufferDone};

// Dispatches events until `done` holds; false on timeout or a lost connection.
template <typename Done>
bool dispatchUntil(wl_display* d, Done done, std::chrono::steady_clock::time_point deadline) {
    while (!done()) {
        while (wl_display_prepare_read(d) != 0) {
            if (wl_display_dispatch_pending(d) < 0) return false;
            if (done()) return true;
        }
        wl_display_flush(d);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{wl_display_get_fd(d), POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
            wl_display_cancel_read(d);
            return false;
        }
        if (wl_display_read_events(d) < 0 || wl_display_dispatch_pending(d) < 0) return false;
    }
    return true;
}

struct ShmBuffer {
    int fd = -1;
    void* data = MAP_FAILED;
    size_t size = 0;
    wl_shm_pool* pool = nullptr;
    wl_buffer* buffer = nullptr;
    ~ShmBuffer() {
        if (buffer != nullptr) wl_buffer_destroy(buffer);
        if (pool != nullptr) wl_shm_pool_destroy(pool);
        if (data != MAP_FAILED) munmap(data, size);
        if (fd >= 0) close(fd);
    }
};

}  // namespace

Image screencopyArea(const std::string& outputName, const Rect& area) {
    Session s;
    s.display = wl_display_connect(nullptr);
    if (s.display == nullptr) {
        const char* name = std::getenv("WAYLAND_DISPLAY");
        throw PlatformError(std::string("cannot connect to the Wayland compositor (") +
                            (name != nullptr ? name : "WAYLAND_DISPLAY not set") + ")");
    }
    s.registry = wl_display_get_registry(s.display);
    wl_registry_add_listener(s.registry, &REGISTRY, &s);
    if (wl_display_roundtrip(s.display) < 0) {
        throw PlatformError("lost the connection to the Wayland compositor");
    }
    if (s.screencopy == nullptr || s.shm == nullptr) {
        throw PlatformError(
            "the Wayland compositor offers no wlr-screencopy; cannot capture a window");
    }
    if (s.xdgOutputs != nullptr) {
        for (auto& o : s.outputs) {
            o->xdg = zxdg_output_manager_v1_get_xdg_output(s.xdgOutputs, o->output);
            zxdg_output_v1_add_listener(o->xdg, &XDG_OUTPUT, o.get());
        }
        if (wl_display_roundtrip(s.display) < 0) {
            throw PlatformError("lost the connection to the Wayland compositor");
        }
    }
    wl_output* output = nullptr;
    for (auto& o : s.outputs) {
        if (o->name == outputName) output = o->output;
    }
    if (output == nullptr && s.outputs.size() == 1) output = s.outputs.front()->output;
    if (output == nullptr) {
        throw PlatformError("the Wayland compositor has no output " + outputName +
                            " (unplugged?); cannot capture it");
    }

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(CAPTURE_TIMEOUT_MS);
    Frame f;
    zwlr_screencopy_frame_v1* frame = zwlr_screencopy_manager_v1_capture_output_region(
        s.screencopy, 0, output, static_cast<int32_t>(std::lround(area.x)),
        static_cast<int32_t>(std::lround(area.y)),
        std::max<int32_t>(static_cast<int32_t>(std::lround(area.width)), 1),
        std::max<int32_t>(static_cast<int32_t>(std::lround(area.height)), 1));
    std::unique_ptr<zwlr_screencopy_frame_v1, void (*)(zwlr_screencopy_frame_v1*)> frameGuard(
        frame, zwlr_screencopy_frame_v1_destroy);
    zwlr_screencopy_frame_v1_add_listener(frame, &FRAME, &f);
    // Before version 3 the one shm buffer event is all the compositor lists.
    const bool listed = dispatchUntil(
        s.display,
        [&] { return f.failed || f.buffersListed || (s.screencopyVersion < 3 && f.haveShm); },
        deadline);
    if (!listed || f.failed) throw PlatformError("the Wayland compositor refused the capture");
    const std::optional<PixelOrder> order = orderOf(f.format);
    if (!f.haveShm || !order || f.width == 0 || f.height == 0 || f.stride < f.width * 4) {
        throw PlatformError("the Wayland compositor offers no 32-bit shared-memory capture");
    }

    ShmBuffer shm;
    shm.size = size_t{f.stride} * f.height;
    shm.fd = memfd_create("tessival-screencopy", MFD_CLOEXEC);
    if (shm.fd < 0 || ftruncate(shm.fd, static_cast<off_t>(shm.size)) != 0) {
        throw PlatformError("cannot allocate shared memory for a capture");
    }
    shm.data = mmap(nullptr, shm.size, PROT_READ | PROT_WRITE, MAP_SHARED, shm.fd, 0);
    if (shm.data == MAP_FAILED) throw PlatformError("cannot map shared memory for a capture");
    shm.pool = wl_shm_create_pool(s.shm, shm.fd, static_cast<int32_t>(shm.size));
    shm.buffer = wl_shm_pool_create_buffer(shm.pool, 0, static_cast<int32_t>(f.width),
                                           static_cast<int32_t>(f.height),
                                           static_cast<int32_t>(f.stride), f.format);
    zwlr_screencopy_frame_v1_copy(frame, shm.buffer);
    if (!dispatchUntil(
            s.display, [&] { return f.ready || f.failed; }, deadline) ||
        f.failed) {
        throw PlatformError("the Wayland compositor failed the capture (output gone or timed out)");
    }

    Image img = Image::blank(f.width, f.height, *order);
    const auto* src = static_cast<const uint8_t*>(shm.data);
    for (uint32_t y = 0; y < f.height; ++y) {
        const uint32_t from = f.yInvert ? f.height - 1 - y : y;
        std::memcpy(img.bytes.data() + size_t{y} * img.bytesPerRow, src + size_t{from} * f.stride,
                    size_t{f.width} * 4);
    }
    for (size_t i = 3; i < img.bytes.size(); i += 4) img.bytes[i] = 255;
    return img;
}

}  // namespace tessival
