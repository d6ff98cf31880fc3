#include "platform/window_system_portal.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <pipewire/pipewire.h>
#include <spa/param/buffers.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "codec/image_codec.h"
#include "platform/portal_choice.h"

namespace tessival {
namespace {

constexpr const char* PORTAL_NAME = "org.freedesktop.portal.Desktop";
constexpr const char* PORTAL_PATH = "/org/freedesktop/portal/desktop";
constexpr const char* SCREENCAST = "org.freedesktop.portal.ScreenCast";
constexpr uint32_t PORTAL_DISPLAY_ID = 1;
// Calls that answer at once; the user's answer in a dialog has no time limit.
constexpr int CALL_TIMEOUT_MS = 10000;
// A stream that shows nothing this long after it opened, or when a capture asks, failed.
constexpr int64_t FIRST_FRAME_TIMEOUT_NS = 5'000'000'000;
constexpr int64_t FRAME_TIMEOUT_NS = 2'000'000'000;

// GLib's references, released at scope end.
template <typename T, void (*Free)(T*)>
struct GPtr {
    T* p = nullptr;
    GPtr() = default;
    explicit GPtr(T* q) : p(q) {}
    GPtr(const GPtr&) = delete;
    GPtr& operator=(const GPtr&) = delete;
    GPtr(GPtr&& o) noexcept : p(o.p) { o.p = nullptr; }
    ~GPtr() {
        if (p != nullptr) Free(p);
    }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};
void unrefObject(GDBusConnection* c) { g_object_unref(c); }
void unrefFdList(GUnixFDList* l) { g_object_unref(l); }
using Connection = GPtr<GDBusConnection, unrefObject>;
using Variant = GPtr<GVariant, g_variant_unref>;
using Error = GPtr<GError, g_error_free>;

std::string remoteError(GError* e) {
    gchar* name = g_dbus_error_get_remote_error(e);
    std::string s = name != nullptr ? name : "";
    g_free(name);
    return s;
}

// Our own main context while a call runs, so that the portal's signals are delivered here
// and nowhere else.
class ContextScope {
  public:
    explicit ContextScope(GMainContext* c) : c_(c) { g_main_context_push_thread_default(c_); }
    ~ContextScope() { g_main_context_pop_thread_default(c_); }
    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;

  private:
    GMainContext* c_;
};

GDBusConnection* connectSessionBus(std::string& why) {
    // Without a session bus GLib would try to launch one through the X server; a sidecar must
    // not start daemons of its own.
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if ((address == nullptr || *address == '\0') &&
        (runtime == nullptr || access((std::string(runtime) + "/bus").c_str(), F_OK) != 0)) {
        why = "no session bus (DBUS_SESSION_BUS_ADDRESS is not set)";
        return nullptr;
    }
    GError* err = nullptr;
    gchar* busAddress = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &err);
    if (busAddress == nullptr) {
        why = std::string("no session bus (") + err->message + ")";
        g_error_free(err);
        return nullptr;
    }
    // A connection of our own: the shared one would end the process when the bus goes away.
    GDBusConnection* c = g_dbus_connection_new_for_address_sync(
        busAddress,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &err);
    g_free(busAddress);
    if (c == nullptr) {
        why = std::string("cannot connect to the session bus (") + err->message + ")";
        g_error_free(err);
    }
    return c;
}

// A ScreenCast property, or the reason it cannot be read.
std::optional<uint32_t> screenCastProperty(GDBusConnection* c, const char* name, std::string& why) {
    Error err;
    Variant reply(g_dbus_connection_call_sync(
        c, PORTAL_NAME, PORTAL_PATH, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", SCREENCAST, name), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
        CALL_TIMEOUT_MS, nullptr, &err.p));
    if (!reply) {
        const std::string remote = remoteError(err.p);
        if (remote == "org.freedesktop.DBus.Error.ServiceUnknown" ||
            remote == "org.freedesktop.DBus.Error.NameHasNoOwner") {
            why = "no desktop portal on the session bus";
        } else if (remote.rfind("org.freedesktop.DBus.Error.Spawn", 0) == 0) {
            why = std::string("the desktop portal failed to start (") + err->message + ")";
        } else if (remote.empty()) {
            why = std::string("the desktop portal did not answer (") + err->message + ")";
        } else {
            why = "the desktop portal has no screen cast";
        }
        return std::nullopt;
    }
    GVariant* boxed = nullptr;
    g_variant_get(reply.p, "(v)", &boxed);
    Variant value(boxed);
    if (!g_variant_is_of_type(value.p, G_VARIANT_TYPE_UINT32)) {
        why = "the desktop portal's screen cast answers an odd " + std::string(name);
        return std::nullopt;
    }
    return g_variant_get_uint32(value.p);
}

std::optional<std::string> screenCastUnusableOn(GDBusConnection* c) {
    std::string why;
    const std::optional<uint32_t> version = screenCastProperty(c, "version", why);
    if (!version) return why;
    const std::optional<uint32_t> types = screenCastProperty(c, "AvailableSourceTypes", why);
    if (!types) return why;
    return screenCastUnusable(*version, *types);
}

std::string errnoText() { return std::strerror(errno); }

FrameFormat frameFormatOf(uint32_t spaFormat) {
    switch (spaFormat) {
        case SPA_VIDEO_FORMAT_BGRA:
            return FrameFormat::BGRA;
        case SPA_VIDEO_FORMAT_RGBx:
            return FrameFormat::RGBx;
        case SPA_VIDEO_FORMAT_RGBA:
            return FrameFormat::RGBA;
        default:
            return FrameFormat::BGRx;
    }
}

// One screen-cast stream: a PipeWire connection on the portal's socket and a video stream
// from the chosen window's node. Its loop thread keeps the newest frame's buffer (returning
// older ones at once), so a capture copies a picture that is already there. The stream
// stays active between commands: pausing it saved the few tenths of a percent of a core
// that taking frames costs, but a capture then waits for the next frame after resuming,
// and a desktop that sends frames only when the window changes may send none.
class CastStream {
  public:
    CastStream(int fd, uint32_t node) {
        loop_ = pw_thread_loop_new("tessival-cast", nullptr);
        if (loop_ == nullptr) {
            close(fd);
            throw PlatformError("cannot start a PipeWire loop");
        }
        context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
        if (context_ == nullptr || pw_thread_loop_start(loop_) != 0) {
            close(fd);
            destroy();
            throw PlatformError("cannot start a PipeWire loop");
        }
        pw_thread_loop_lock(loop_);
        core_ = pw_context_connect_fd(context_, fd, nullptr, 0);  // owns fd from here
        if (core_ == nullptr) {
            pw_thread_loop_unlock(loop_);
            destroy();
            throw PlatformError("cannot connect to PipeWire through the portal's socket");
        }
        static const pw_core_events coreEvents = [] {
            pw_core_events e{};
            e.version = PW_VERSION_CORE_EVENTS;
            e.error = &CastStream::onCoreError;
            return e;
        }();
        pw_core_add_listener(core_, &coreListener_, &coreEvents, this);
        stream_ = pw_stream_new(core_, "tessival",
                                pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                  "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
        static const pw_stream_events streamEvents = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.state_changed = &CastStream::onStateChanged;
            e.param_changed = &CastStream::onParamChanged;
            e.process = &CastStream::onProcess;
            e.remove_buffer = &CastStream::onRemoveBuffer;
            return e;
        }();
        uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        // Explicit formats: a stream offered any format never connects.
        spa_rectangle defSize{1280, 720}, minSize{1, 1}, maxSize{16384, 16384};
        spa_fraction defRate{30, 1}, minRate{0, 1}, maxRate{1000, 1};
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                                   SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx,
                                   SPA_VIDEO_FORMAT_RGBA),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
            SPA_FORMAT_VIDEO_framerate,
            SPA_POD_CHOICE_RANGE_Fraction(&defRate, &minRate, &maxRate)));
        int rc = -1;
        if (stream_ != nullptr) {
            pw_stream_add_listener(stream_, &streamListener_, &streamEvents, this);
            rc = pw_stream_connect(stream_, PW_DIRECTION_INPUT, node,
                                   static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                                PW_STREAM_FLAG_MAP_BUFFERS |
                                                                PW_STREAM_FLAG_DONT_RECONNECT),
                                   params, 1);
        }
        pw_thread_loop_unlock(loop_);
        if (rc < 0) {
            destroy();
            throw PlatformError("cannot open the window's PipeWire stream");
        }
    }
    ~CastStream() { destroy(); }
    CastStream(const CastStream&) = delete;
    CastStream& operator=(const CastStream&) = delete;

    // Waits until the stream shows a picture or ends; its size, or nothing.
    std::optional<std::pair<int64_t, int64_t>> waitForFirstFrame() {
        pw_thread_loop_lock(loop_);
        waitForFrame(FIRST_FRAME_TIMEOUT_NS);
        std::optional<std::pair<int64_t, int64_t>> size;
        if (held_ != nullptr && !ended_) size = std::make_pair(width_, height_);
        pw_thread_loop_unlock(loop_);
        return size;
    }

    // The stream's end, once it ended: why.
    std::optional<std::string> ended() {
        pw_thread_loop_lock(loop_);
        std::optional<std::string> why;
        if (ended_) why = endReason_;
        pw_thread_loop_unlock(loop_);
        return why;
    }

    std::pair<int64_t, int64_t> size() {
        pw_thread_loop_lock(loop_);
        const auto s = std::make_pair(width_, height_);
        pw_thread_loop_unlock(loop_);
        return s;
    }

    // A copy of the newest frame; throws PlatformError when there is none.
    Image newestFrame() {
        pw_thread_loop_lock(loop_);
        waitForFrame(FRAME_TIMEOUT_NS);
        std::optional<Image> img;
        std::string why = ended_ ? "the chosen window's stream ended"
                                 : "the chosen window's stream shows no picture";
        if (held_ != nullptr && !ended_) {
            const spa_data& d = held_->buffer->datas[0];
            const uint32_t offset = std::min(d.chunk->offset, d.maxsize);
            const size_t size = d.chunk->size > 0 ? d.chunk->size : d.maxsize - offset;
            const int64_t stride = d.chunk->stride > 0 ? d.chunk->stride : width_ * 4;
            if (d.data != nullptr) {
                img = frameImage(static_cast<const uint8_t*>(d.data) + offset,
                                 std::min<size_t>(size, d.maxsize - offset), width_, height_,
                                 stride, format_);
            }
            why = "the chosen window's frame does not fit its buffer";
        }
        pw_thread_loop_unlock(loop_);
        if (!img) throw PlatformError(why);
        return std::move(*img);
    }

  private:
    // Called with the loop locked.
    void waitForFrame(int64_t timeoutNs) {
        if (held_ != nullptr || ended_) return;
        timespec deadline{};
        pw_thread_loop_get_time(loop_, &deadline, timeoutNs);
        while (held_ == nullptr && !ended_) {
            if (pw_thread_loop_timed_wait_full(loop_, &deadline) != 0) break;
        }
    }

    void finish(std::string why) {
        if (!ended_) {
            ended_ = true;
            endReason_ = std::move(why);
        }
        pw_thread_loop_signal(loop_, false);
    }

    static void onCoreError(void* data, uint32_t id, int, int, const char* message) noexcept {
        auto* self = static_cast<CastStream*>(data);
        if (id == PW_ID_CORE)
            self->finish(std::string("PipeWire: ") + (message != nullptr ? message : "error"));
    }

    static void onStateChanged(void* data, pw_stream_state, pw_stream_state state,
                               const char* error) noexcept {
        auto* self = static_cast<CastStream*>(data);
        if (state == PW_STREAM_STATE_ERROR) {
            self->finish(std::string("stream error: ") + (error != nullptr ? error : "unknown"));
        } else if (state == PW_STREAM_STATE_UNCONNECTED) {
            self->finish("stream disconnected");
        }
    }

    static void onParamChanged(void* data, uint32_t id, const spa_pod* param) noexcept {
        auto* self = static_cast<CastStream*>(data);
        if (param == nullptr || id != SPA_PARAM_Format) return;
        uint32_t mediaType = 0, mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
            mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw) {
            return;
        }
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) < 0) return;
        self->width_ = info.size.width;
        self->height_ = info.size.height;
        self->format_ = frameFormatOf(info.format);
        // Shared-memory buffers, enough that one can be kept while the producer fills others.
        uint8_t buffer[256];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(4, 3, 16), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
        pw_stream_update_params(self->stream_, params, 1);
    }

    // Buffers go away when the format changes (the window was resized): the kept one with them.
    static void onRemoveBuffer(void* data, pw_buffer* buffer) noexcept {
        auto* self = static_cast<CastStream*>(data);
        if (self->held_ == buffer) self->held_ = nullptr;
    }

    static void onProcess(void* data) noexcept {
        auto* self = static_cast<CastStream*>(data);
        pw_buffer* newest = nullptr;
        while (pw_buffer* b = pw_stream_dequeue_buffer(self->stream_)) {
            const spa_data& d = b->buffer->datas[0];
            const bool usable = d.data != nullptr && d.chunk != nullptr &&
                                (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) == 0;
            if (!usable) {
                pw_stream_queue_buffer(self->stream_, b);
                continue;
            }
            if (newest != nullptr) pw_stream_queue_buffer(self->stream_, newest);
            newest = b;
        }
        if (newest == nullptr) return;
        if (self->held_ != nullptr) pw_stream_queue_buffer(self->stream_, self->held_);
        self->held_ = newest;
        pw_thread_loop_signal(self->loop_, false);
    }

    void destroy() {
        if (loop_ != nullptr) pw_thread_loop_lock(loop_);
        if (stream_ != nullptr) {
            // The kept buffer goes back before the link ends, so the producer gets it back.
            if (held_ != nullptr) pw_stream_queue_buffer(stream_, held_);
            held_ = nullptr;
            pw_stream_disconnect(stream_);
            spa_hook_remove(&streamListener_);
            pw_stream_destroy(stream_);
            stream_ = nullptr;
            held_ = nullptr;
        }
        if (core_ != nullptr) {
            spa_hook_remove(&coreListener_);
            pw_core_disconnect(core_);
            core_ = nullptr;
        }
        if (loop_ != nullptr) {
            pw_thread_loop_unlock(loop_);
            pw_thread_loop_stop(loop_);
        }
        if (context_ != nullptr) pw_context_destroy(context_);
        context_ = nullptr;
        if (loop_ != nullptr) pw_thread_loop_destroy(loop_);
        loop_ = nullptr;
    }

    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    spa_hook coreListener_{};
    spa_hook streamListener_{};
    // Guarded by the loop's lock.
    pw_buffer* held_ = nullptr;
    int64_t width_ = 0, height_ = 0;
    FrameFormat format_ = FrameFormat::BGRx;
    bool ended_ = false;
    std::string endReason_;
};

class PortalWindows final : public WindowSystem, public WindowChooser {
  public:
    PortalWindows(Output& out, std::optional<std::string> stateDir)
        : out_(out), stateDir_(std::move(stateDir)), context_(g_main_context_new()) {
        static const bool initialised = [] {
            pw_init(nullptr, nullptr);
            return true;
        }();
        (void)initialised;
    }
    ~PortalWindows() override {
        drop();
        if (bus_) {
            ContextScope scope(context_);
            g_dbus_connection_close_sync(bus_.p, nullptr, nullptr);
        }
        g_main_context_unref(context_);
    }
    PortalWindows(const PortalWindows&) = delete;
    PortalWindows& operator=(const PortalWindows&) = delete;

    ShareableContent shareableContent(bool) override {
        ShareableContent content;
        if (!hasChoice()) return content;
        const auto [w, h] = stream_->size();
        WindowFacts window;
        window.id = choiceId_;
        window.frame = {0, 0, static_cast<double>(w), static_cast<double>(h)};
        window.onScreen = true;
        window.source = "portal";
        content.windows.push_back(window);
        content.displays.push_back({PORTAL_DISPLAY_ID, window.frame});
        return content;
    }

    std::optional<pid_t> frontmostPid() override { return std::nullopt; }
    uint32_t mainDisplayId() override { return PORTAL_DISPLAY_ID; }

    Image capture(const WindowFacts& window, const DisplayFacts&, const Rect&, int64_t outWidth,
                  int64_t outHeight) override {
        if (!hasChoice() || window.id != choiceId_) {
            throw PlatformError("the chosen window is closed; choose again with CHOOSE_WINDOW");
        }
        Image frame = stream_->newestFrame();
        if (frame.width == outWidth && frame.height == outHeight) return frame;
        std::optional<Image> scaled = resizeImage(frame, outWidth, outHeight);
        if (!scaled) throw PlatformError("scaling the chosen window's picture failed");
        return std::move(*scaled);
    }

    bool hasChoice() override {
        if (!stream_) return false;
        if (bus_) {
            ContextScope scope(context_);
            while (g_main_context_iteration(context_, FALSE)) {
            }
        }
        std::optional<std::string> why =
            sessionClosed_ ? std::optional<std::string>("the desktop closed the session")
                           : stream_->ended();
        if (!why) return true;
        out_.log("[tessival] the chosen window's stream ended (" + *why +
                 "); no window chosen until CHOOSE_WINDOW");
        drop();
        return false;
    }

    WindowChoice choose() override {
        drop();
        ContextScope scope(context_);
        if (!bus_ || g_dbus_connection_is_closed(bus_.p)) {
            std::string why;
            Connection fresh(connectSessionBus(why));
            if (!fresh) return unavailable(why);
            std::swap(bus_.p, fresh.p);
        }
        if (std::optional<std::string> why = screenCastUnusableOn(bus_.p)) return unavailable(*why);

        std::string sender = g_dbus_connection_get_unique_name(bus_.p) + 1;  // without the ':'
        std::replace(sender.begin(), sender.end(), '.', '_');
        sender_ = sender;

        // The session.
        GVariantBuilder opts;
        g_variant_builder_init(&opts, G_VARIANT_TYPE_VARDICT);
        const std::string sessionToken = "tessival_s" + std::to_string(++tokenCounter_);
        g_variant_builder_add(&opts, "{sv}", "session_handle_token",
                              g_variant_new_string(sessionToken.c_str()));
        Reply created = request("CreateSession", "creating a session", &opts,
                                [](GVariantBuilder* o) { return g_variant_new("(a{sv})", o); });
        if (created.outcome) return *created.outcome;
        Variant handle(g_variant_lookup_value(created.results.p, "session_handle", nullptr));
        if (!handle || !(g_variant_is_of_type(handle.p, G_VARIANT_TYPE_STRING) ||
                         g_variant_is_of_type(handle.p, G_VARIANT_TYPE_OBJECT_PATH))) {
            return unavailable("the desktop portal gave no session");
        }
        session_ = g_variant_get_string(handle.p, nullptr);
        sessionClosed_ = false;
        closedSubscription_ = g_dbus_connection_signal_subscribe(
            bus_.p, nullptr, "org.freedesktop.portal.Session", "Closed", session_.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, &PortalWindows::onSessionClosed, this, nullptr);

        // What may be chosen: one window, kept until the user revokes it.
        const std::optional<std::string> token = readToken();
        g_variant_builder_init(&opts, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&opts, "{sv}", "types",
                              g_variant_new_uint32(SCREENCAST_WINDOW_SOURCE));
        g_variant_builder_add(&opts, "{sv}", "multiple", g_variant_new_boolean(FALSE));
        g_variant_builder_add(&opts, "{sv}", "persist_mode",
                              g_variant_new_uint32(SCREENCAST_PERSIST_UNTIL_REVOKED));
        if (token)
            g_variant_builder_add(&opts, "{sv}", "restore_token",
                                  g_variant_new_string(token->c_str()));
        const std::string session = session_;
        Reply selected = request(
            "SelectSources", "selecting window sources", &opts,
            [&](GVariantBuilder* o) { return g_variant_new("(oa{sv})", session.c_str(), o); });
        if (selected.outcome) return endWith(*selected.outcome);

        // The dialog (or the restored choice).
        g_variant_builder_init(&opts, G_VARIANT_TYPE_VARDICT);
        Reply started = request("Start", "the window choice", &opts, [&](GVariantBuilder* o) {
            return g_variant_new("(osa{sv})", session.c_str(), "", o);
        });
        if (started.outcome) return endWith(*started.outcome);
        const char* nextToken = nullptr;
        if (g_variant_lookup(started.results.p, "restore_token", "&s", &nextToken)) {
            writeToken(nextToken);
        } else if (token) {
            forgetToken();  // spent: a token restores once
        }
        Variant streams(
            g_variant_lookup_value(started.results.p, "streams", G_VARIANT_TYPE("a(ua{sv})")));
        if (!streams || g_variant_n_children(streams.p) == 0) {
            return endWith(unavailable("the desktop portal opened no stream"));
        }
        uint32_t node = 0;
        GVariant* props = nullptr;
        g_variant_get_child(streams.p, 0, "(u@a{sv})", &node, &props);
        g_variant_unref(props);

        // The frames.
        GError* err = nullptr;
        GUnixFDList* fds = nullptr;
        g_variant_builder_init(&opts, G_VARIANT_TYPE_VARDICT);
        Variant remote(g_dbus_connection_call_with_unix_fd_list_sync(
            bus_.p, PORTAL_NAME, PORTAL_PATH, SCREENCAST, "OpenPipeWireRemote",
            g_variant_new("(oa{sv})", session.c_str(), &opts), G_VARIANT_TYPE("(h)"),
            G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS, nullptr, &fds, nullptr, &err));
        GPtr<GUnixFDList, unrefFdList> fdList(fds);
        if (!remote || !fdList) {
            const std::string why = err != nullptr ? err->message : "no socket";
            if (err != nullptr) g_error_free(err);
            return endWith(unavailable("the desktop portal gave no PipeWire socket (" + why + ")"));
        }
        gint32 index = -1;
        g_variant_get(remote.p, "(h)", &index);
        const int fd = g_unix_fd_list_get(fdList.p, index, &err);
        if (fd < 0) {
            const std::string why = err != nullptr ? err->message : "bad index";
            if (err != nullptr) g_error_free(err);
            return endWith(unavailable("the desktop portal gave no PipeWire socket (" + why + ")"));
        }
        try {
            stream_ = std::make_unique<CastStream>(fd, node);
        } catch (const PlatformError& e) {
            return endWith(unavailable(std::string("the stream failed: ") + e.what()));
        }
        const auto size = stream_->waitForFirstFrame();
        if (!size) {
            const std::string why = stream_->ended().value_or("no picture within 5 s");
            return endWith(unavailable("the stream failed: " + why));
        }
        ++choiceId_;
        WindowChoice choice;
        choice.outcome = WindowChoice::Outcome::Chosen;
        choice.window = shareableContent(false).windows.at(0);
        out_.log("[tessival] portal stream " + std::to_string(node) + ": " +
                 std::to_string(size->first) + "x" + std::to_string(size->second) +
                 (token ? " (restore token offered)" : ""));
        return choice;
    }

  private:
    struct Reply {
        std::optional<WindowChoice> outcome;  // set when the request did not succeed
        Variant results;
    };

    static WindowChoice unavailable(std::string why) {
        return WindowChoice{WindowChoice::Outcome::Unavailable, std::move(why), {}};
    }

    // A choice that did not come about closes what was opened for it.
    WindowChoice endWith(WindowChoice c) {
        drop();
        return c;
    }

    // One portal request: subscribes to its Response, calls `method` with the options plus
    // a handle token, and waits (without a time limit: a dialog waits for the user) for the
    // response or the portal's leaving the bus.
    template <typename MakeArgs>
    Reply request(const char* method, const char* step, GVariantBuilder* opts, MakeArgs makeArgs) {
        const std::string token = "tessival_r" + std::to_string(++tokenCounter_);
        g_variant_builder_add(opts, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
        const std::string path = std::string(PORTAL_PATH) + "/request/" + sender_ + "/" + token;
        struct Wait {
            bool done = false;
            bool gone = false;
            uint32_t code = 2;
            GVariant* results = nullptr;
        } wait;
        const guint response = g_dbus_connection_signal_subscribe(
            bus_.p, nullptr, "org.freedesktop.portal.Request", "Response", path.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* params, gpointer data) {
                auto* w = static_cast<Wait*>(data);
                if (w->done || !g_variant_is_of_type(params, G_VARIANT_TYPE("(ua{sv})"))) return;
                g_variant_get(params, "(u@a{sv})", &w->code, &w->results);
                w->done = true;
            },
            &wait, nullptr);
        const guint owner = g_dbus_connection_signal_subscribe(
            bus_.p, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
            "/org/freedesktop/DBus", PORTAL_NAME, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* params, gpointer data) {
                const gchar* newOwner = "";
                g_variant_get(params, "(&s&s&s)", nullptr, nullptr, &newOwner);
                if (newOwner[0] == '\0') static_cast<Wait*>(data)->gone = true;
            },
            &wait, nullptr);
        Error err;
        Variant called(g_dbus_connection_call_sync(
            bus_.p, PORTAL_NAME, PORTAL_PATH, SCREENCAST, method, makeArgs(opts),
            G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS, nullptr, &err.p));
        Reply reply;
        if (!called) {
            reply.outcome = unavailable(std::string("the desktop portal failed ") + step + " (" +
                                        err->message + ")");
        } else {
            while (!wait.done && !wait.gone && !g_dbus_connection_is_closed(bus_.p)) {
                g_main_context_iteration(context_, TRUE);
            }
            if (!wait.done) {
                reply.outcome =
                    unavailable(std::string("the desktop portal went away during ") + step);
            } else if (responseOutcome(wait.code) == WindowChoice::Outcome::Cancelled) {
                reply.outcome = WindowChoice{WindowChoice::Outcome::Cancelled, "", {}};
            } else if (responseOutcome(wait.code) == WindowChoice::Outcome::Unavailable) {
                reply.outcome = unavailable(responseReason(step, wait.code));
            }
        }
        g_dbus_connection_signal_unsubscribe(bus_.p, response);
        g_dbus_connection_signal_unsubscribe(bus_.p, owner);
        reply.results.p = wait.results;
        if (!reply.outcome && reply.results.p == nullptr)
            reply.outcome = unavailable("the desktop portal answered nothing");
        return reply;
    }

    static void onSessionClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                const gchar*, GVariant*, gpointer data) {
        static_cast<PortalWindows*>(data)->sessionClosed_ = true;
    }

    // Ends the stream and the portal session (which takes the desktop's sharing indicator away).
    void drop() {
        stream_.reset();
        if (!bus_ || session_.empty()) return;
        ContextScope scope(context_);
        g_dbus_connection_signal_unsubscribe(bus_.p, closedSubscription_);
        if (!sessionClosed_) {
            Variant closed(g_dbus_connection_call_sync(
                bus_.p, PORTAL_NAME, session_.c_str(), "org.freedesktop.portal.Session", "Close",
                nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS, nullptr, nullptr));
        }
        session_.clear();
        sessionClosed_ = false;
    }

    std::optional<std::string> tokenPath() const {
        if (!stateDir_) return std::nullopt;
        return *stateDir_ + "/" + std::string(TOKEN_FILE_NAME);
    }

    std::optional<std::string> readToken() {
        const std::optional<std::string> path = tokenPath();
        if (!path) return std::nullopt;
        std::ifstream in(*path, std::ios::binary);
        if (!in) {
            if (errno != ENOENT)
                out_.log("[tessival] cannot read the stored window choice " + *path + ": " +
                         errnoText() + "; asking the user");
            return std::nullopt;
        }
        std::ostringstream text;
        text << in.rdbuf();
        std::optional<std::string> token = in.bad() ? std::nullopt : parseTokenFile(text.str());
        if (!token)
            out_.log("[tessival] ignoring the stored window choice " + *path +
                     ": not a token file; asking the user");
        return token;
    }

    // Written whole: a temporary file readable by the user only, then renamed over the old one.
    void writeToken(std::string_view token) {
        const std::optional<std::string> path = tokenPath();
        if (!path) return;
        std::error_code ec;
        if (std::filesystem::create_directories(*stateDir_, ec)) {
            std::filesystem::permissions(*stateDir_, std::filesystem::perms::owner_all, ec);
        }
        const std::string tmp = *path + ".tmp";
        const std::string text = tokenFileText(token);
        const int fd =
            open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
        bool ok = fd >= 0 && fchmod(fd, 0600) == 0 &&
                  write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                  fsync(fd) == 0;
        const std::string why = errnoText();
        if (fd >= 0) ok = close(fd) == 0 && ok;
        if (ok && rename(tmp.c_str(), path->c_str()) == 0) return;
        out_.log("[tessival] cannot store the window choice in " + *path + ": " +
                 (ok ? errnoText() : why));
        unlink(tmp.c_str());
    }

    void forgetToken() {
        if (const std::optional<std::string> path = tokenPath()) unlink(path->c_str());
    }

    Output& out_;
    std::optional<std::string> stateDir_;
    GMainContext* context_;
    Connection bus_;
    std::string sender_;
    std::string session_;
    guint closedSubscription_ = 0;
    bool sessionClosed_ = false;
    uint64_t tokenCounter_ = 0;
    uint32_t choiceId_ = 0;
    std::unique_ptr<CastStream> stream_;
};

}  // namespace

PortalWindowSystem makePortalWindowSystem(Output& out, std::optional<std::string> stateDir) {
    auto system = std::make_unique<PortalWindows>(out, std::move(stateDir));
    WindowChooser* chooser = system.get();
    return PortalWindowSystem{std::move(system), chooser};
}

std::optional<std::string> portalUnusable() {
    GMainContext* context = g_main_context_new();
    std::optional<std::string> why;
    {
        ContextScope scope(context);
        std::string reason;
        Connection bus(connectSessionBus(reason));
        if (!bus) {
            why = reason;
        } else {
            why = screenCastUnusableOn(bus.p);
            g_dbus_connection_close_sync(bus.p, nullptr, nullptr);
        }
    }
    g_main_context_unref(context);
    return why;
}

}  // namespace tessival
