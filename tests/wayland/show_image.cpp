// A native Wayland window showing an image, for tests: the compositor sees the title and
// app id given, and the window's pixels are the image (scaled to the size the compositor
// asks for, or the given size). Runs until killed or the compositor goes away.
//
// usage: wayland_show_image TITLE APP_ID IMAGE [WIDTHxHEIGHT]
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec/image_codec.h"
#include "xdg-shell-client-protocol.h"

namespace {

struct App {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* wm = nullptr;
    wl_surface* surface = nullptr;
    xdg_surface* xsurface = nullptr;
    int32_t width = 0, height = 0;  // the size to draw at
    int32_t asked_w = 0, asked_h = 0;
    bool configured = false;
    bool closed = false;
    tessival::Image image;
    wl_buffer* buffer = nullptr;
    int32_t buffer_w = 0, buffer_h = 0;
};

void global(void* data, wl_registry* r, uint32_t name, const char* iface, uint32_t) {
    auto* a = static_cast<App*>(data);
    if (std::strcmp(iface, wl_compositor_interface.name) == 0) {
        a->compositor =
            static_cast<wl_compositor*>(wl_registry_bind(r, name, &wl_compositor_interface, 4));
    } else if (std::strcmp(iface, wl_shm_interface.name) == 0) {
        a->shm = static_cast<wl_shm*>(wl_registry_bind(r, name, &wl_shm_interface, 1));
    } else if (std::strcmp(iface, xdg_wm_base_interface.name) == 0) {
        a->wm = static_cast<xdg_wm_base*>(wl_registry_bind(r, name, &xdg_wm_base_interface, 1));
    }
}
void global_remove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener REGISTRY = {global, global_remove};

void ping(void*, xdg_wm_base* wm, uint32_t serial) { xdg_wm_base_pong(wm, serial); }
const xdg_wm_base_listener WM = {ping};

void toplevel_configure(void* data, xdg_toplevel*, int32_t w, int32_t h, wl_array*) {
    auto* a = static_cast<App*>(data);
    a->asked_w = w;
    a->asked_h = h;
}
void toplevel_close(void* data, xdg_toplevel*) { static_cast<App*>(data)->closed = true; }
void toplevel_bounds(void*, xdg_toplevel*, int32_t, int32_t) {}
void toplevel_capabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener TOPLEVEL = {toplevel_configure, toplevel_close, toplevel_bounds,
                                        toplevel_capabilities};

// Draws the image at the current size into a fresh shared-memory buffer.
void draw(App& a) {
    if (a.buffer != nullptr && a.buffer_w == a.width && a.buffer_h == a.height) {
        wl_surface_commit(a.surface);
        return;
    }
    const auto scaled = tessival::resizeImage(a.image, a.width, a.height);
    if (!scaled) std::exit(1);
    const int32_t stride = a.width * 4;
    const size_t size = size_t(stride) * a.height;
    const int fd = memfd_create("show-image", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, off_t(size)) != 0) std::exit(1);
    auto* px =
        static_cast<uint8_t*>(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    for (int32_t y = 0; y < a.height; ++y) {
        const uint8_t* s = scaled->bytes.data() + y * scaled->bytesPerRow;
        uint8_t* d = px + size_t(y) * stride;
        for (int32_t x = 0; x < a.width; ++x) {  // red-first RGBA to XRGB8888 (B, G, R, X)
            d[x * 4] = s[x * 4 + 2];
            d[x * 4 + 1] = s[x * 4 + 1];
            d[x * 4 + 2] = s[x * 4];
            d[x * 4 + 3] = 255;
        }
    }
    munmap(px, size);
    wl_shm_pool* pool = wl_shm_create_pool(a.shm, fd, int32_t(size));
    if (a.buffer != nullptr) wl_buffer_destroy(a.buffer);
    a.buffer =
        wl_shm_pool_create_buffer(pool, 0, a.width, a.height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    a.buffer_w = a.width;
    a.buffer_h = a.height;
    wl_surface_attach(a.surface, a.buffer, 0, 0);
    wl_surface_damage(a.surface, 0, 0, a.width, a.height);
    wl_surface_commit(a.surface);
}

void surface_configure(void* data, xdg_surface* s, uint32_t serial) {
    auto* a = static_cast<App*>(data);
    xdg_surface_ack_configure(s, serial);
    if (a->asked_w > 0 && a->asked_h > 0) {
        a->width = a->asked_w;
        a->height = a->asked_h;
    }
    a->configured = true;
    draw(*a);
}
const xdg_surface_listener SURFACE = {surface_configure};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s TITLE APP_ID IMAGE [WIDTHxHEIGHT]\n", argv[0]);
        return 2;
    }
    App a;
    auto img = tessival::readImageFile(argv[3]);
    if (!img) {
        std::fprintf(stderr, "cannot read %s\n", argv[3]);
        return 1;
    }
    a.image = std::move(*img);
    a.width = int32_t(a.image.width);
    a.height = int32_t(a.image.height);
    if (argc > 4 && std::sscanf(argv[4], "%dx%d", &a.width, &a.height) != 2) return 2;

    wl_display* d = wl_display_connect(nullptr);
    if (d == nullptr) {
        std::fprintf(stderr, "no Wayland compositor\n");
        return 1;
    }
    wl_registry* r = wl_display_get_registry(d);
    wl_registry_add_listener(r, &REGISTRY, &a);
    wl_display_roundtrip(d);
    if (a.compositor == nullptr || a.shm == nullptr || a.wm == nullptr) return 1;
    xdg_wm_base_add_listener(a.wm, &WM, &a);
    a.surface = wl_compositor_create_surface(a.compositor);
    a.xsurface = xdg_wm_base_get_xdg_surface(a.wm, a.surface);
    xdg_surface_add_listener(a.xsurface, &SURFACE, &a);
    xdg_toplevel* top = xdg_surface_get_toplevel(a.xsurface);
    xdg_toplevel_add_listener(top, &TOPLEVEL, &a);
    xdg_toplevel_set_title(top, argv[1]);
    xdg_toplevel_set_app_id(top, argv[2]);
    wl_surface_commit(a.surface);
    while (!a.closed && wl_display_dispatch(d) >= 0) {
    }
    return 0;
}
