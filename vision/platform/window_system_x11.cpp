// The window system of an X server, through XCB. XCB reports protocol errors as values, so a
// window that vanishes halfway through a query is a skipped entry or a thrown PlatformError,
// never a process exit.
#include "platform/window_system_x11.h"

#include <poll.h>
#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/res.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "codec/image_codec.h"
#include "base/unicode_text.h"

namespace tessival {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Titles longer than this many bytes are cut (and the cut repaired to valid UTF-8).
constexpr uint32_t TITLE_MAX_BYTES = 256 * 1024;

// After redirecting a window to off-screen storage its owner must repaint what was covered
// (see waitForRepaint).
constexpr milliseconds REPAINT_QUIET{150};
constexpr milliseconds REPAINT_MAX{1500};

constexpr int64_t IMAGE_STRIP_BYTES = 8 << 20;

// Windows of one application whose exposures are followed after a redirect.
constexpr size_t MAX_TRACKED_WINDOWS = 256;

// Layers of windows that are not ordinary application windows. Any non-zero value keeps an
// off-screen window out of the search; the values only need to differ from 0.
constexpr int64_t LAYER_DOCK = 20;
constexpr int64_t LAYER_NOTIFICATION = 23;
constexpr int64_t LAYER_TOOLTIP = 25;
constexpr int64_t LAYER_MENU = 101;
constexpr int64_t LAYER_SPLASH = 102;

template <typename T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

// A server-side resource this client created (a pixmap, a damage object), released and the
// release sent when it goes out of scope.
template <auto Release>
class Owned {
  public:
    Owned(xcb_connection_t* c, uint32_t id) : c_(c), id_(id) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() {
        Release(c_, id_);
        xcb_flush(c_);
    }
    uint32_t id() const { return id_; }

  private:
    xcb_connection_t* c_;
    uint32_t id_;
};
using OwnedPixmap = Owned<xcb_free_pixmap>;
using OwnedDamage = Owned<xcb_damage_destroy>;

std::string hexId(uint32_t id) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", id);
    return buf;
}

// ISO 8859-1 (the STRING type of ICCCM text properties) to UTF-8.
std::string latin1ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char ch : s) {
        const auto u = static_cast<unsigned char>(ch);
        if (u < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    return out;
}

std::optional<std::string> propertyBytes(const xcb_get_property_reply_t* r) {
    if (r == nullptr || r->type == XCB_ATOM_NONE || r->format != 8) return std::nullopt;
    const int len = xcb_get_property_value_length(r);
    return std::string(static_cast<const char*>(xcb_get_property_value(r)),
                       static_cast<size_t>(std::max(len, 0)));
}

std::vector<uint32_t> property32(const xcb_get_property_reply_t* r) {
    if (r == nullptr || r->type == XCB_ATOM_NONE || r->format != 32) return {};
    const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r));
    const int len = xcb_get_property_value_length(r) / 4;
    return std::vector<uint32_t>(v, v + std::max(len, 0));
}

std::optional<std::string> processName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!comm || !std::getline(comm, name) || name.empty()) return std::nullopt;
    return unicode::repairUtf8(name);
}

// Bit position and width of a channel mask of a visual.
struct Channel {
    int shift = 0;
    int bits = 0;
};
Channel channelOf(uint32_t mask) {
    Channel c;
    if (mask == 0) return c;
    while (((mask >> c.shift) & 1u) == 0) ++c.shift;
    while (c.shift + c.bits < 32 && ((mask >> (c.shift + c.bits)) & 1u) != 0) ++c.bits;
    return c;
}
uint8_t channelValue(uint32_t pixel, Channel c) {
    if (c.bits == 0) return 0;
    const uint32_t v = (pixel >> c.shift) & ((1u << c.bits) - 1u);
    if (c.bits >= 8) return static_cast<uint8_t>(v >> (c.bits - 8));
    return static_cast<uint8_t>(v * 255u / ((1u << c.bits) - 1u));
}

class X11WindowSystem final : public WindowSystem {
  public:
    ShareableContent shareableContent(bool onScreenOnly) override {
        Connection& x = connection();
        ShareableContent content;
        content.displays = displays(x);
        content.windows = windows(x, content.displays, onScreenOnly);
        ensureAlive();
        return content;
    }

    std::optional<pid_t> frontmostPid() override {
        Connection& x = connection();
        Reply<xcb_get_property_reply_t> active(xcb_get_property_reply(
            x.c, xcb_get_property(x.c, 0, x.root, x.ewmh._NET_ACTIVE_WINDOW, XCB_ATOM_WINDOW, 0, 1),
            nullptr));
        ensureAlive();
        const std::vector<uint32_t> ids = property32(active.get());
        if (ids.empty() || ids[0] == XCB_WINDOW_NONE) return std::nullopt;
        const xcb_window_t w = ids[0];
        auto pidCookie = xcb_get_property(x.c, 0, w, x.ewmh._NET_WM_PID, XCB_ATOM_CARDINAL, 0, 1);
        std::optional<xcb_res_query_client_ids_cookie_t> resCookie = queryClientPid(x, w);
        Reply<xcb_get_property_reply_t> pidReply(xcb_get_property_reply(x.c, pidCookie, nullptr));
        std::optional<pid_t> pid = resCookie ? clientPid(x, *resCookie) : std::nullopt;
        ensureAlive();
        if (!pid) {
            const std::vector<uint32_t> v = property32(pidReply.get());
            if (!v.empty() && v[0] != 0) pid = static_cast<pid_t>(v[0]);
        }
        return pid;
    }

    uint32_t mainDisplayId() override {
        Connection& x = connection();
        const std::vector<Monitor> monitors = queryMonitors(x);
        ensureAlive();
        // A server may name no monitor primary (Xvfb never does): then the first monitor
        // listed is the main display, which is also where RandR lists a primary one.
        for (const Monitor& m : monitors) {
            if (m.primary) return m.display.id;
        }
        return monitors.front().display.id;
    }

    Image capture(const WindowFacts& window, const DisplayFacts& display, const Rect& sourceRect,
                  int64_t outWidth, int64_t outHeight) override {
        if (outWidth < 1 || outHeight < 1) {
            throw PlatformError("cannot capture a window into an empty image");
        }
        Connection& x = connection();
        const xcb_window_t w = window.id;
        const std::string name = "window " + hexId(w);

        auto attrCookie = xcb_get_window_attributes(x.c, w);
        auto geomCookie = xcb_get_geometry(x.c, w);
        Reply<xcb_get_window_attributes_reply_t> attr(
            xcb_get_window_attributes_reply(x.c, attrCookie, nullptr));
        Reply<xcb_get_geometry_reply_t> geom(xcb_get_geometry_reply(x.c, geomCookie, nullptr));
        ensureAlive();
        if (!attr || !geom) throw PlatformError(name + " no longer exists; cannot capture it");
        if (attr->map_state != XCB_MAP_STATE_VIEWABLE) {
            throw PlatformError(name +
                                " is not viewable (minimised or on another workspace); cannot "
                                "capture it");
        }
        if (!x.hasComposite) {
            throw PlatformError(
                "the X server has no Composite extension; cannot capture a window's own pixels");
        }

        // The crop in the window's own coordinates: the source rectangle is display-local.
        const double localX = sourceRect.x + display.frame.x - window.frame.x;
        const double localY = sourceRect.y + display.frame.y - window.frame.y;
        const int64_t cropX = std::llround(localX) + geom->border_width;
        const int64_t cropY = std::llround(localY) + geom->border_width;
        const int64_t cropW = std::max<int64_t>(std::llround(sourceRect.width), 1);
        const int64_t cropH = std::max<int64_t>(std::llround(sourceRect.height), 1);
        const int64_t pixW = geom->width + 2 * int64_t{geom->border_width};
        const int64_t pixH = geom->height + 2 * int64_t{geom->border_width};

        redirect(x, w, geom->width, geom->height);
        const xcb_pixmap_t pixmap = xcb_generate_id(x.c);
        Reply<xcb_generic_error_t> err(
            xcb_request_check(x.c, xcb_composite_name_window_pixmap_checked(x.c, w, pixmap)));
        if (err && err->error_code == XCB_MATCH) {
            // Not redirected after all: the id was reused by a new window since we redirected.
            x.redirected.erase(w);
            redirect(x, w, geom->width, geom->height);
            err.reset(
                xcb_request_check(x.c, xcb_composite_name_window_pixmap_checked(x.c, w, pixmap)));
        }
        ensureAlive();
        if (err) throw PlatformError(name + " vanished or cannot be captured");

        Image img = Image::blank(cropW, cropH, PixelOrder::BlueFirst);
        // Parts of the crop outside the window stay black.
        const int64_t x0 = std::clamp<int64_t>(cropX, 0, pixW);
        const int64_t y0 = std::clamp<int64_t>(cropY, 0, pixH);
        const int64_t x1 = std::clamp<int64_t>(cropX + cropW, 0, pixW);
        const int64_t y1 = std::clamp<int64_t>(cropY + cropH, 0, pixH);
        std::string failure;
        {
            const OwnedPixmap named(x.c, pixmap);
            if (x1 > x0 && y1 > y0) {
                failure = readPixels(x, pixmap, attr->visual, geom->depth, x0, y0, x1 - x0, y1 - y0,
                                     img, x0 - cropX, y0 - cropY);
            }
        }
        ensureAlive();
        if (!failure.empty()) throw PlatformError(name + ": " + failure);
        for (size_t i = 3; i < img.bytes.size(); i += 4) img.bytes[i] = 255;

        if (img.width == outWidth && img.height == outHeight) return img;
        std::optional<Image> scaled = resizeImage(img, outWidth, outHeight);
        if (!scaled) throw PlatformError(name + ": scaling the capture failed");
        return std::move(*scaled);
    }

  private:
    struct Connection {
        xcb_connection_t* c = nullptr;
        xcb_screen_t* screen = nullptr;
        xcb_window_t root = 0;
        xcb_ewmh_connection_t ewmh{};
        bool ewmhReady = false;
        bool hasRandrMonitors = false;
        bool hasComposite = false;
        bool hasDamage = false;
        uint8_t damageEventBase = 0;
        bool hasRes = false;
        // Windows this connection redirected; the redirection lasts as long as the connection.
        std::set<xcb_window_t> redirected;

        explicit Connection(xcb_connection_t* conn) : c(conn) {}
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;
        // xcb_connect returns a connection object even when it fails; it is freed the same way.
        ~Connection() {
            if (ewmhReady) xcb_ewmh_connection_wipe(&ewmh);
            xcb_disconnect(c);
        }
    };

    struct Monitor {
        DisplayFacts display;
        bool primary = false;
    };

    struct Pending {
        xcb_window_t id;
        xcb_get_window_attributes_cookie_t attr;
        xcb_get_geometry_cookie_t geom;
        xcb_translate_coordinates_cookie_t pos;
        xcb_get_property_cookie_t netName, wmName, netPid, wmType, wmState;
        xcb_get_property_cookie_t wmClass;
        std::optional<xcb_res_query_client_ids_cookie_t> res;
    };

    Connection& connection() {
        if (conn_ && xcb_connection_has_error(conn_->c) != 0) conn_.reset();
        if (!conn_) connect();
        drainEvents(*conn_);
        return *conn_;
    }

    void connect() {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') {
            throw PlatformError("cannot reach the X server: DISPLAY is not set");
        }
        int screenNumber = 0;
        auto x = std::make_unique<Connection>(xcb_connect(nullptr, &screenNumber));
        xcb_connection_t* c = x->c;
        if (xcb_connection_has_error(c) != 0) {
            throw PlatformError(std::string("cannot connect to the X server on display ") +
                                display);
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < screenNumber && it.rem > 0; ++i) xcb_screen_next(&it);
        if (it.rem == 0) {
            throw PlatformError(std::string("the X server on display ") + display +
                                " has no such screen");
        }
        x->screen = it.data;
        x->root = it.data->root;

        xcb_prefetch_extension_data(c, &xcb_randr_id);
        xcb_prefetch_extension_data(c, &xcb_composite_id);
        xcb_prefetch_extension_data(c, &xcb_damage_id);
        xcb_prefetch_extension_data(c, &xcb_res_id);
        xcb_intern_atom_cookie_t* atomCookies = xcb_ewmh_init_atoms(c, &x->ewmh);
        const auto present = [c](xcb_extension_t* ext) {
            const xcb_query_extension_reply_t* r = xcb_get_extension_data(c, ext);
            return r != nullptr && r->present != 0;
        };
        const bool randr = present(&xcb_randr_id);
        const bool composite = present(&xcb_composite_id);
        const xcb_query_extension_reply_t* damageExt = xcb_get_extension_data(c, &xcb_damage_id);
        const bool damage = damageExt != nullptr && damageExt->present != 0;
        const bool res = present(&xcb_res_id);

        xcb_randr_query_version_cookie_t randrCookie{};
        xcb_composite_query_version_cookie_t compositeCookie{};
        xcb_damage_query_version_cookie_t damageCookie{};
        xcb_res_query_version_cookie_t resCookie{};
        if (randr) randrCookie = xcb_randr_query_version(c, 1, 5);
        if (composite) compositeCookie = xcb_composite_query_version(c, 0, 4);
        if (damage) damageCookie = xcb_damage_query_version(c, 1, 1);
        if (res) resCookie = xcb_res_query_version(c, 1, 2);
        x->ewmhReady = xcb_ewmh_init_atoms_replies(&x->ewmh, atomCookies, nullptr) != 0;
        if (randr) {
            Reply<xcb_randr_query_version_reply_t> v(
                xcb_randr_query_version_reply(c, randrCookie, nullptr));
            x->hasRandrMonitors =
                v && (v->major_version > 1 || (v->major_version == 1 && v->minor_version >= 5));
        }
        if (composite) {
            Reply<xcb_composite_query_version_reply_t> v(
                xcb_composite_query_version_reply(c, compositeCookie, nullptr));
            // NameWindowPixmap arrived in 0.2.
            x->hasComposite = v && (v->major_version > 0 || v->minor_version >= 2);
        }
        if (damage) {
            Reply<xcb_damage_query_version_reply_t> v(
                xcb_damage_query_version_reply(c, damageCookie, nullptr));
            x->hasDamage = v != nullptr;
            x->damageEventBase = damageExt->first_event;
        }
        if (res) {
            Reply<xcb_res_query_version_reply_t> v(
                xcb_res_query_version_reply(c, resCookie, nullptr));
            x->hasRes =
                v && (v->server_major > 1 || (v->server_major == 1 && v->server_minor >= 2));
        }
        if (xcb_connection_has_error(c) != 0 || !x->ewmhReady) {
            throw PlatformError(std::string("lost the connection to the X server on display ") +
                                display + " while setting up");
        }
        conn_ = std::move(x);
    }

    // Throws (and forgets the connection, so the next call reconnects) once the server is gone.
    void ensureAlive() {
        if (conn_ && xcb_connection_has_error(conn_->c) != 0) {
            conn_.reset();
            throw PlatformError("lost the connection to the X server");
        }
    }

    // Errors of unchecked requests and stray events would otherwise pile up in the queue.
    static void drainEvents(Connection& x) {
        while (xcb_generic_event_t* e = xcb_poll_for_event(x.c)) std::free(e);
    }

    std::vector<Monitor> queryMonitors(Connection& x) {
        std::vector<Monitor> monitors;
        if (x.hasRandrMonitors) {
            Reply<xcb_randr_get_monitors_reply_t> r(
                xcb_randr_get_monitors_reply(x.c, xcb_randr_get_monitors(x.c, x.root, 1), nullptr));
            if (r) {
                for (auto it = xcb_randr_get_monitors_monitors_iterator(r.get()); it.rem > 0;
                     xcb_randr_monitor_info_next(&it)) {
                    const xcb_randr_monitor_info_t* m = it.data;
                    if (m->width == 0 || m->height == 0) continue;
                    // The monitor's name atom: stable for as long as the monitor exists.
                    monitors.push_back(
                        Monitor{DisplayFacts{m->name, Rect{double(m->x), double(m->y),
                                                           double(m->width), double(m->height)}},
                                m->primary != 0});
                }
            }
        }
        if (monitors.empty()) {
            // Without RandR monitors the whole screen is the one display.
            monitors.push_back(
                Monitor{DisplayFacts{x.root, Rect{0, 0, double(x.screen->width_in_pixels),
                                                  double(x.screen->height_in_pixels)}},
                        true});
        }
        return monitors;
    }

    std::vector<DisplayFacts> displays(Connection& x) {
        std::vector<DisplayFacts> out;
        for (const Monitor& m : queryMonitors(x)) out.push_back(m.display);
        return out;
    }

    std::optional<xcb_res_query_client_ids_cookie_t> queryClientPid(Connection& x, xcb_window_t w) {
        if (!x.hasRes) return std::nullopt;
        xcb_res_client_id_spec_t clientId{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        return xcb_res_query_client_ids(x.c, 1, &clientId);
    }

    static std::optional<pid_t> clientPid(Connection& x, xcb_res_query_client_ids_cookie_t cookie) {
        Reply<xcb_res_query_client_ids_reply_t> r(
            xcb_res_query_client_ids_reply(x.c, cookie, nullptr));
        if (!r) return std::nullopt;
        for (auto it = xcb_res_query_client_ids_ids_iterator(r.get()); it.rem > 0;
             xcb_res_client_id_value_next(&it)) {
            const auto& [clientId, length] = *it.data;
            if ((clientId.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 && length >= 4) {
                const uint32_t pid = *xcb_res_client_id_value_value(it.data);
                if (pid != 0 && pid != UINT32_MAX) return static_cast<pid_t>(pid);
            }
        }
        return std::nullopt;
    }

    // Client windows front to back: the window manager's stacking list, else its plain
    // client list, else (no EWMH window manager) the root's children.
    std::vector<xcb_window_t> clientWindows(Connection& x, bool& managed) {
        auto stackingCookie = xcb_get_property(x.c, 0, x.root, x.ewmh._NET_CLIENT_LIST_STACKING,
                                               XCB_ATOM_WINDOW, 0, UINT32_MAX / 4);
        auto listCookie = xcb_get_property(x.c, 0, x.root, x.ewmh._NET_CLIENT_LIST, XCB_ATOM_WINDOW,
                                           0, UINT32_MAX / 4);
        Reply<xcb_get_property_reply_t> stacking(
            xcb_get_property_reply(x.c, stackingCookie, nullptr));
        Reply<xcb_get_property_reply_t> list(xcb_get_property_reply(x.c, listCookie, nullptr));
        managed = true;
        if (stacking && stacking->type == XCB_ATOM_WINDOW) {
            std::vector<uint32_t> ids = property32(stacking.get());
            std::reverse(ids.begin(), ids.end());  // listed bottom to top
            return ids;
        }
        if (list && list->type == XCB_ATOM_WINDOW) return property32(list.get());
        managed = false;
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(x.c, xcb_query_tree(x.c, x.root), nullptr));
        if (!tree) return {};
        const xcb_window_t* kids = xcb_query_tree_children(tree.get());
        std::vector<xcb_window_t> ids(kids, kids + xcb_query_tree_children_length(tree.get()));
        std::reverse(ids.begin(), ids.end());
        return ids;
    }

    // Asks everything there is to know about window `w`; the answers are read later, so the
    // questions about every window share one round trip.
    Pending ask(Connection& x, xcb_window_t w) {
        Pending p{};
        p.id = w;
        p.attr = xcb_get_window_attributes(x.c, w);
        p.geom = xcb_get_geometry(x.c, w);
        p.pos = xcb_translate_coordinates(x.c, w, x.root, 0, 0);
        p.netName = xcb_get_property(x.c, 0, w, x.ewmh._NET_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                     TITLE_MAX_BYTES / 4);
        p.wmName = xcb_get_property(x.c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                    TITLE_MAX_BYTES / 4);
        p.netPid = xcb_get_property(x.c, 0, w, x.ewmh._NET_WM_PID, XCB_ATOM_CARDINAL, 0, 1);
        p.wmType = xcb_get_property(x.c, 0, w, x.ewmh._NET_WM_WINDOW_TYPE, XCB_ATOM_ATOM, 0, 64);
        p.wmState = xcb_get_property(x.c, 0, w, x.ewmh._NET_WM_STATE, XCB_ATOM_ATOM, 0, 64);
        p.wmClass = xcb_icccm_get_wm_class(x.c, w);
        p.res = queryClientPid(x, w);
        return p;
    }

    // The answers to `ask`, every one read (an unread reply would stay queued).
    struct Answers {
        Reply<xcb_get_window_attributes_reply_t> attr;
        Reply<xcb_get_geometry_reply_t> geom;
        Reply<xcb_translate_coordinates_reply_t> pos;
        Reply<xcb_get_property_reply_t> netName, wmName, netPid, wmType, wmState;
        std::optional<std::string> className;
        std::optional<pid_t> pid;  // the server's record of the owner
    };

    static Answers answers(Connection& x, const Pending& p) {
        Answers a;
        a.attr.reset(xcb_get_window_attributes_reply(x.c, p.attr, nullptr));
        a.geom.reset(xcb_get_geometry_reply(x.c, p.geom, nullptr));
        a.pos.reset(xcb_translate_coordinates_reply(x.c, p.pos, nullptr));
        a.netName.reset(xcb_get_property_reply(x.c, p.netName, nullptr));
        a.wmName.reset(xcb_get_property_reply(x.c, p.wmName, nullptr));
        a.netPid.reset(xcb_get_property_reply(x.c, p.netPid, nullptr));
        a.wmType.reset(xcb_get_property_reply(x.c, p.wmType, nullptr));
        a.wmState.reset(xcb_get_property_reply(x.c, p.wmState, nullptr));
        xcb_icccm_get_wm_class_reply_t wmClass{};
        const bool hasClass = xcb_icccm_get_wm_class_reply(x.c, p.wmClass, &wmClass, nullptr) != 0;
        a.pid = p.res ? clientPid(x, *p.res) : std::nullopt;
        if (hasClass) {
            if (wmClass.class_name != nullptr)
                a.className = unicode::repairUtf8(wmClass.class_name);
            xcb_icccm_get_wm_class_reply_wipe(&wmClass);
        }
        return a;
    }

    // The layer of a window from its types, or nothing for the desktop.
    static std::optional<int64_t> layerOf(const xcb_ewmh_connection_t& e,
                                          const xcb_get_property_reply_t* wmType) {
        for (uint32_t t : property32(wmType)) {
            if (t == e._NET_WM_WINDOW_TYPE_DESKTOP) return std::nullopt;
            if (t == e._NET_WM_WINDOW_TYPE_DOCK) return LAYER_DOCK;
            if (t == e._NET_WM_WINDOW_TYPE_NOTIFICATION) return LAYER_NOTIFICATION;
            if (t == e._NET_WM_WINDOW_TYPE_TOOLTIP) return LAYER_TOOLTIP;
            if (t == e._NET_WM_WINDOW_TYPE_MENU || t == e._NET_WM_WINDOW_TYPE_DROPDOWN_MENU ||
                t == e._NET_WM_WINDOW_TYPE_POPUP_MENU || t == e._NET_WM_WINDOW_TYPE_COMBO ||
                t == e._NET_WM_WINDOW_TYPE_DND) {
                return LAYER_MENU;
            }
            if (t == e._NET_WM_WINDOW_TYPE_SPLASH) return LAYER_SPLASH;
            if (t == e._NET_WM_WINDOW_TYPE_NORMAL || t == e._NET_WM_WINDOW_TYPE_DIALOG ||
                t == e._NET_WM_WINDOW_TYPE_UTILITY || t == e._NET_WM_WINDOW_TYPE_TOOLBAR) {
                return 0;
            }
            // A type we do not know: the next, less specific one decides. The first known
            // type is the most specific.
        }
        return 0;
    }

    static std::string titleOf(const Answers& a) {
        if (auto t = propertyBytes(a.netName.get())) return unicode::repairUtf8(*t);
        if (auto t = propertyBytes(a.wmName.get())) {
            return a.wmName->type == XCB_ATOM_STRING ? latin1ToUtf8(*t) : unicode::repairUtf8(*t);
        }
        return {};
    }

    // What the search knows of one window, or nothing for a window gone since the list was
    // read, or one nobody sees as an application window.
    static std::optional<WindowFacts> factsOf(const Connection& x, xcb_window_t id,
                                              const Answers& a, bool managed,
                                              const std::vector<DisplayFacts>& displays) {
        if (!a.attr || !a.geom || !a.pos) return std::nullopt;
        if (a.attr->_class == XCB_WINDOW_CLASS_INPUT_ONLY) return std::nullopt;
        if (!managed &&
            (a.attr->override_redirect != 0 || a.attr->map_state != XCB_MAP_STATE_VIEWABLE)) {
            return std::nullopt;
        }
        const std::optional<int64_t> layer = layerOf(x.ewmh, a.wmType.get());
        if (!layer) return std::nullopt;
        const std::vector<uint32_t> states = property32(a.wmState.get());
        const bool hidden =
            std::find(states.begin(), states.end(), x.ewmh._NET_WM_STATE_HIDDEN) != states.end();

        WindowFacts f;
        f.id = id;
        f.frame = Rect{double(a.pos->dst_x), double(a.pos->dst_y), double(a.geom->width),
                       double(a.geom->height)};
        f.layer = *layer;
        f.title = titleOf(a);
        // The server's own record of the owner beats the voluntary _NET_WM_PID, which
        // sandboxed applications fill with a pid of their own namespace.
        std::optional<pid_t> pid = a.pid;
        if (!pid) {
            const std::vector<uint32_t> v = property32(a.netPid.get());
            if (!v.empty() && v[0] != 0) pid = static_cast<pid_t>(v[0]);
        }
        std::optional<std::string> appName = a.className;
        if (!appName && pid) appName = processName(*pid);
        if (appName || pid) f.app = OwningApplication{appName.value_or(""), pid};

        const bool overlapsDisplay = std::any_of(
            displays.begin(), displays.end(),
            [&](const DisplayFacts& d) { return !d.frame.intersection(f.frame).isEmpty(); });
        f.onScreen = a.attr->map_state == XCB_MAP_STATE_VIEWABLE && !hidden && overlapsDisplay;
        return f;
    }

    std::vector<WindowFacts> windows(Connection& x, const std::vector<DisplayFacts>& displays,
                                     bool onScreenOnly) {
        bool managed = true;
        const std::vector<xcb_window_t> ids = clientWindows(x, managed);
        std::vector<Pending> pending;
        pending.reserve(ids.size());
        for (xcb_window_t w : ids) pending.push_back(ask(x, w));

        std::vector<WindowFacts> out;
        out.reserve(pending.size());
        for (const Pending& p : pending) {
            std::optional<WindowFacts> f = factsOf(x, p.id, answers(x, p), managed, displays);
            if (!f || (onScreenOnly && !f->onScreen)) continue;
            out.push_back(std::move(*f));
        }
        return out;
    }

    // Redirects `w` to off-screen storage once per connection, so its own pixels stay
    // readable where other windows cover it, and waits for the owner's repaint of what was
    // covered until then.
    void redirect(Connection& x, xcb_window_t w, int64_t width, int64_t height) {
        if (x.redirected.count(w) != 0) return;
        std::optional<OwnedDamage> damage;
        if (x.hasDamage) {
            damage.emplace(x.c, xcb_generate_id(x.c));
            xcb_damage_create(x.c, damage->id(), w, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
        }
        // Exposures (delivered per window, so on every descendant) tell what the owner was
        // asked to repaint.
        const std::vector<std::pair<xcb_window_t, Offset>> tree = descendants(x, w);
        const uint32_t exposureMask = XCB_EVENT_MASK_EXPOSURE;
        for (const auto& [win, off] : tree) {
            xcb_change_window_attributes(x.c, win, XCB_CW_EVENT_MASK, &exposureMask);
        }
        Reply<xcb_generic_error_t> err(xcb_request_check(
            x.c, xcb_composite_redirect_window_checked(x.c, w, XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
        // BadAccess: this connection redirected the window already (an id we forgot).
        const bool ok = !err || err->error_code == XCB_ACCESS;
        const bool fresh = !err;
        if (ok) x.redirected.insert(w);
        if (fresh && damage) waitForRepaint(x, tree, damage->id(), width, height);
        const uint32_t noEvents = 0;
        for (const auto& [win, off] : tree) {
            xcb_change_window_attributes(x.c, win, XCB_CW_EVENT_MASK, &noEvents);
        }
        xcb_flush(x.c);
    }

    using Offset = std::pair<int64_t, int64_t>;

    // `w` and its descendants, each with its origin in `w`'s coordinates; at most
    // MAX_TRACKED_WINDOWS. One round trip per tree level.
    static std::vector<std::pair<xcb_window_t, Offset>> descendants(Connection& x, xcb_window_t w) {
        std::vector<std::pair<xcb_window_t, Offset>> found{{w, {0, 0}}};
        std::vector<std::pair<xcb_window_t, Offset>> level = found;
        while (!level.empty() && found.size() < MAX_TRACKED_WINDOWS) {
            std::vector<xcb_query_tree_cookie_t> trees;
            for (const auto& [p, off] : level) trees.push_back(xcb_query_tree(x.c, p));
            struct Kid {
                xcb_window_t id;
                Offset parent;
                xcb_get_geometry_cookie_t geom;
            };
            std::vector<Kid> kids;
            for (size_t i = 0; i < level.size(); ++i) {
                Reply<xcb_query_tree_reply_t> t(xcb_query_tree_reply(x.c, trees[i], nullptr));
                if (!t) continue;
                const xcb_window_t* c = xcb_query_tree_children(t.get());
                for (int k = 0; k < xcb_query_tree_children_length(t.get()); ++k) {
                    kids.push_back(Kid{c[k], level[i].second, xcb_get_geometry(x.c, c[k])});
                }
            }
            std::vector<std::pair<xcb_window_t, Offset>> next;
            for (const Kid& k : kids) {
                Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(x.c, k.geom, nullptr));
                if (!g || found.size() >= MAX_TRACKED_WINDOWS) continue;
                const Offset off{k.parent.first + g->x + g->border_width,
                                 k.parent.second + g->y + g->border_width};
                found.emplace_back(k.id, off);
                next.emplace_back(k.id, off);
            }
            level = std::move(next);
        }
        return found;
    }

    // Waits until the owner has drawn over everything the redirect exposed (tracked per
    // pixel from the exposure and damage rectangles), or has drawn and then stayed quiet for
    // REPAINT_QUIET (an owner may leave the server's background standing), at most
    // REPAINT_MAX. Returns at once when nothing was exposed.
    void waitForRepaint(Connection& x, const std::vector<std::pair<xcb_window_t, Offset>>& tree,
                        xcb_damage_damage_t damage, int64_t width, int64_t height) {
        const Clock::time_point start = Clock::now();
        std::vector<uint8_t> unpainted(size_t(width * height), 0);
        int64_t unpaintedCount = 0;
        const auto mark = [&](int64_t rx, int64_t ry, int64_t rw, int64_t rh, uint8_t v) {
            const int64_t x0 = std::clamp<int64_t>(rx, 0, width);
            const int64_t x1 = std::clamp<int64_t>(rx + rw, 0, width);
            const int64_t y0 = std::clamp<int64_t>(ry, 0, height);
            const int64_t y1 = std::clamp<int64_t>(ry + rh, 0, height);
            for (int64_t yy = y0; yy < y1; ++yy) {
                uint8_t* row = unpainted.data() + yy * width;
                for (int64_t xx = x0; xx < x1; ++xx) {
                    unpaintedCount += int64_t(v) - int64_t(row[xx]);
                    row[xx] = v;
                }
            }
        };
        bool damaged = false;
        Clock::time_point lastDamage = start;
        const int fd = xcb_get_file_descriptor(x.c);
        // Damage queued with the redirect's reply comes from the server itself (its copy of
        // the visible part, the background of exposed parts), not from the owner's repaint.
        bool ownerDamage = false;
        for (;;) {
            while (xcb_generic_event_t* e = xcb_poll_for_event(x.c)) {
                const uint8_t type = e->response_type & 0x7f;
                if (type == XCB_EXPOSE) {
                    const auto* ex = reinterpret_cast<xcb_expose_event_t*>(e);
                    const auto at = std::find_if(tree.begin(), tree.end(), [&](const auto& t) {
                        return t.first == ex->window;
                    });
                    if (!ownerDamage && at != tree.end()) {
                        mark(at->second.first + ex->x, at->second.second + ex->y, ex->width,
                             ex->height, 1);
                    }
                } else if (type == x.damageEventBase + XCB_DAMAGE_NOTIFY &&
                           reinterpret_cast<xcb_damage_notify_event_t*>(e)->damage == damage) {
                    const auto* d = reinterpret_cast<xcb_damage_notify_event_t*>(e);
                    if (ownerDamage) {
                        damaged = true;
                        lastDamage = Clock::now();
                        mark(d->area.x, d->area.y, d->area.width, d->area.height, 0);
                    }
                }
                std::free(e);
            }
            ownerDamage = true;
            const Clock::time_point now = Clock::now();
            if (unpaintedCount == 0) return;
            if (damaged && now - lastDamage >= REPAINT_QUIET) return;
            if (now - start >= REPAINT_MAX || xcb_connection_has_error(x.c) != 0) return;
            pollfd pfd{fd, POLLIN, 0};
            const auto left = std::chrono::duration_cast<milliseconds>(
                damaged ? REPAINT_QUIET - (now - lastDamage) : REPAINT_MAX - (now - start));
            poll(&pfd, 1, static_cast<int>(std::max<int64_t>(left.count(), 1)));
        }
    }

    // Copies a rectangle of `pixmap` into `img` at (dx, dy) as blue-first pixels; an error
    // text when the server refuses or the pixel format is one we cannot read.
    std::string readPixels(Connection& x, xcb_pixmap_t pixmap, xcb_visualid_t visual, uint8_t depth,
                           int64_t sx, int64_t sy, int64_t w, int64_t h, Image& img, int64_t dx,
                           int64_t dy) {
        const xcb_setup_t* setup = xcb_get_setup(x.c);
        int bpp = 0;
        for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it)) {
            if (it.data->depth == depth) bpp = it.data->bits_per_pixel;
        }
        const xcb_visualtype_t* vt = nullptr;
        for (auto d = xcb_screen_allowed_depths_iterator(x.screen); d.rem > 0 && !vt;
             xcb_depth_next(&d)) {
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v)) {
                if (v.data->visual_id == visual) {
                    vt = v.data;
                    break;
                }
            }
        }
        if (vt == nullptr || (bpp != 16 && bpp != 24 && bpp != 32)) {
            return "unsupported pixel format (depth " + std::to_string(depth) + ")";
        }
        const Channel red = channelOf(vt->red_mask);
        const Channel green = channelOf(vt->green_mask);
        const Channel blue = channelOf(vt->blue_mask);
        const bool lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
        const bool direct = bpp == 32 && lsbFirst && vt->red_mask == 0xff0000 &&
                            vt->green_mask == 0xff00 && vt->blue_mask == 0xff;

        // Large crops are read in strips so neither side holds one huge reply.
        const int64_t stripRows = std::max<int64_t>(IMAGE_STRIP_BYTES / (w * 4), 1);
        for (int64_t row = 0; row < h; row += stripRows) {
            const int64_t rows = std::min(stripRows, h - row);
            Reply<xcb_generic_error_t> err;
            xcb_generic_error_t* rawErr = nullptr;
            Reply<xcb_get_image_reply_t> r(xcb_get_image_reply(
                x.c,
                xcb_get_image(x.c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, int16_t(sx),
                              int16_t(sy + row), uint16_t(w), uint16_t(rows), UINT32_MAX),
                &rawErr));
            err.reset(rawErr);
            if (!r) return "reading the window's pixels failed";
            const uint8_t* data = xcb_get_image_data(r.get());
            const int64_t len = xcb_get_image_data_length(r.get());
            const int64_t stride = len / rows;
            if (stride < w * (bpp / 8)) return "short image from the X server";
            for (int64_t y = 0; y < rows; ++y) {
                const uint8_t* src = data + y * stride;
                uint8_t* dst = img.bytes.data() + (dy + row + y) * img.bytesPerRow + dx * 4;
                if (direct) {
                    std::memcpy(dst, src, size_t(w) * 4);
                    continue;
                }
                const int bytes = bpp / 8;
                for (int64_t i = 0; i < w; ++i) {
                    uint32_t px = 0;
                    for (int b = 0; b < bytes; ++b) {
                        const uint32_t byte = src[i * bytes + b];
                        px |= lsbFirst ? byte << (8 * b) : byte << (8 * (bytes - 1 - b));
                    }
                    dst[i * 4 + 0] = channelValue(px, blue);
                    dst[i * 4 + 1] = channelValue(px, green);
                    dst[i * 4 + 2] = channelValue(px, red);
                }
            }
        }
        return {};
    }

    std::unique_ptr<Connection> conn_;
};

}  // namespace

std::unique_ptr<WindowSystem> makeX11WindowSystem(Output& out, bool waylandCovered) {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0' && !waylandCovered) {
        out.log(
            "[tessival] WAYLAND_DISPLAY is set: only XWayland windows are visible through X11, "
            "so a meeting in a native Wayland window cannot be found or captured");
    }
    return std::make_unique<X11WindowSystem>();
}

}  // namespace tessival
