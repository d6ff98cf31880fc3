#include "platform/window_system_sway.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fstream>

#include "codec/image_codec.h"
#include "platform/sway_tree.h"
#include "platform/wayland_screencopy.h"

namespace tessival {
namespace {

constexpr uint32_t IPC_GET_OUTPUTS = 3;
constexpr uint32_t IPC_GET_TREE = 4;
// The compositor answers in milliseconds; a wedged one must not wedge the sidecar.
constexpr int IPC_TIMEOUT_S = 3;

class Socket {
  public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool readAll(int fd, char* into, size_t size) {
    while (size > 0) {
        const ssize_t n = recv(fd, into, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        into += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// One request on a fresh connection; throws PlatformError.
std::string ipcRequest(const std::string& path, uint32_t type) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        throw PlatformError("the sway IPC socket path is empty or too long");
    }
    std::copy(path.begin(), path.end(), addr.sun_path);
    Socket s(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (s.fd() < 0) throw PlatformError("cannot open a socket for sway IPC");
    timeval tv{IPC_TIMEOUT_S, 0};
    setsockopt(s.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(s.fd(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (connect(s.fd(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        throw PlatformError("cannot connect to sway at " + path + " (not running?)");
    }
    std::string header(IPC_HEADER_SIZE, '\0');
    if (!writeAll(s.fd(), encodeIpcMessage(type, {})) ||
        !readAll(s.fd(), header.data(), header.size())) {
        throw PlatformError("sway at " + path + " did not answer");
    }
    const std::optional<IpcHeader> h = decodeIpcHeader(header);
    // A tree of hundreds of windows is well under a few MB; anything larger is not sway.
    if (!h || h->type != type || h->length > (64u << 20)) {
        throw PlatformError("sway at " + path + " gave an answer that is not sway IPC");
    }
    std::string payload(h->length, '\0');
    if (!readAll(s.fd(), payload.data(), payload.size())) {
        throw PlatformError("sway at " + path + " broke off its answer");
    }
    return payload;
}

std::string processName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

class SwayWindowSystem final : public WindowSystem {
  public:
    SwayWindowSystem(Output& out, std::string socket) : out_(out), socket_(std::move(socket)) {}

    ShareableContent shareableContent(bool onScreenOnly) override {
        const State st = state();
        ShareableContent content;
        for (const SwayWindow& w : st.tree.windows) {
            if (w.xwayland || (onScreenOnly && !w.facts.onScreen)) continue;
            content.windows.push_back(withAppName(w.facts));
        }
        for (const SwayOutput& o : st.outputs) content.displays.push_back(o.display);
        return content;
    }

    std::optional<pid_t> frontmostPid() override {
        const SwayTree tree = treeNow();
        for (const SwayWindow& w : tree.windows) {
            if (w.focused && w.facts.app) return w.facts.app->pid;
        }
        return std::nullopt;
    }

    uint32_t mainDisplayId() override {
        const std::vector<SwayOutput> outputs = state().outputs;
        for (const SwayOutput& o : outputs) {
            if (o.focused) return o.display.id;
        }
        return outputs.empty() ? 0 : outputs.front().display.id;
    }

    Image capture(const WindowFacts& window, const DisplayFacts& display, const Rect& sourceRect,
                  int64_t outWidth, int64_t outHeight) override {
        if (outWidth < 1 || outHeight < 1) {
            throw PlatformError("cannot capture a window into an empty image");
        }
        const State st = state();
        const std::string name = "sway window " + std::to_string(window.id);
        const auto it = std::find_if(
            st.tree.windows.begin(), st.tree.windows.end(),
            [&](const SwayWindow& w) { return w.facts.id == window.id && !w.xwayland; });
        if (it == st.tree.windows.end()) {
            throw PlatformError(name + " no longer exists; cannot capture it");
        }
        if (!it->facts.onScreen) {
            throw PlatformError(name +
                                " is not viewable (on a hidden workspace or tab); cannot capture "
                                "it");
        }
        const auto output =
            std::find_if(st.outputs.begin(), st.outputs.end(),
                         [&](const SwayOutput& o) { return o.display.id == display.id; });
        if (output == st.outputs.end()) {
            throw PlatformError(name + ": its output is gone; cannot capture it");
        }

        // The compositor clips a region to its output: ask for the part on it and keep the
        // rest black, rather than stretch that part over the whole picture.
        const Rect onOutput = sourceRect.intersection(
            {0, 0, output->display.frame.width, output->display.frame.height});
        if (onOutput.width < 1 || onOutput.height < 1) {
            throw PlatformError(name + " lies outside its output; cannot capture it");
        }
        Image img = placed(screencopyArea(output->name, onOutput), onOutput, sourceRect);
        const std::vector<Rect> covered = coveredParts(st.tree, *it);
        if (!covered.empty()) {
            out_.log("[tessival] " + name +
                     " is partly covered by other windows: captured as shown on screen, the "
                     "covered parts blanked");
            blank(img, covered, display.frame.x + sourceRect.x, display.frame.y + sourceRect.y,
                  static_cast<double>(img.width) / std::max(sourceRect.width, 1.0),
                  static_cast<double>(img.height) / std::max(sourceRect.height, 1.0));
        }
        if (img.width == outWidth && img.height == outHeight) return img;
        std::optional<Image> scaled = resizeImage(img, outWidth, outHeight);
        if (!scaled) throw PlatformError(name + ": scaling the capture failed");
        return std::move(*scaled);
    }

  private:
    struct State {
        SwayTree tree;
        std::vector<SwayOutput> outputs;
    };

    SwayTree parseTree(const std::string& json) const {
        std::optional<SwayTree> tree = parseSwayTree(json);
        if (!tree) throw PlatformError("sway at " + socket_ + " sent a layout tree we cannot read");
        return std::move(*tree);
    }

    SwayTree treeNow() const { return parseTree(ipcRequest(socket_, IPC_GET_TREE)); }

    std::vector<SwayOutput> outputsNow(const std::string& treeJson) const {
        std::optional<std::vector<SwayOutput>> outputs =
            parseSwayOutputs(ipcRequest(socket_, IPC_GET_OUTPUTS), treeJson);
        if (!outputs) throw PlatformError("sway at " + socket_ + " sent outputs we cannot read");
        return std::move(*outputs);
    }

    State state() const {
        const std::string treeJson = ipcRequest(socket_, IPC_GET_TREE);
        return State{parseTree(treeJson), outputsNow(treeJson)};
    }

    // Without an app id the process's name stands for the application, as on X11.
    static WindowFacts withAppName(WindowFacts w) {
        if (w.app && w.app->name.empty() && w.app->pid) w.app->name = processName(*w.app->pid);
        return w;
    }

    // `part`, the picture of `shown`, at its place in a black picture of all of `wanted`.
    static Image placed(Image part, const Rect& shown, const Rect& wanted) {
        if (shown == wanted) return part;
        const double scale = static_cast<double>(part.width) / shown.width;
        Image img = Image::blank(
            std::max<int64_t>(std::llround(wanted.width * scale), part.width),
            std::max<int64_t>(std::llround(wanted.height * scale), part.height), part.order);
        for (size_t i = 3; i < img.bytes.size(); i += 4) img.bytes[i] = 255;
        const int64_t dx =
            std::min<int64_t>(std::llround((shown.x - wanted.x) * scale), img.width - part.width);
        const int64_t dy =
            std::min<int64_t>(std::llround((shown.y - wanted.y) * scale), img.height - part.height);
        for (int64_t y = 0; y < part.height; ++y) {
            std::copy_n(part.bytes.data() + y * part.bytesPerRow, part.width * 4,
                        img.bytes.data() + (y + dy) * img.bytesPerRow + dx * 4);
        }
        return img;
    }

    // Paints the covered parts (layout coordinates) black: they show other windows, whose
    // names or rings must not count as this window's.
    static void blank(Image& img, const std::vector<Rect>& parts, double originX, double originY,
                      double scaleX, double scaleY) {
        for (const Rect& r : parts) {
            const auto x0 =
                std::clamp<int64_t>(std::llround((r.x - originX) * scaleX), 0, img.width);
            const auto y0 =
                std::clamp<int64_t>(std::llround((r.y - originY) * scaleY), 0, img.height);
            const auto x1 =
                std::clamp<int64_t>(std::llround((r.x + r.width - originX) * scaleX), 0, img.width);
            const auto y1 = std::clamp<int64_t>(std::llround((r.y + r.height - originY) * scaleY),
                                                0, img.height);
            for (int64_t y = y0; y < y1; ++y) {
                uint8_t* row = img.bytes.data() + y * img.bytesPerRow;
                for (int64_t x = x0; x < x1; ++x) {
                    std::fill_n(row + x * img.bytesPerPixel, 3, uint8_t{0});
                }
            }
        }
    }

    Output& out_;
    std::string socket_;
};

class SwayVisibility final : public WindowSystem {
  public:
    SwayVisibility(std::unique_ptr<WindowSystem> x11, std::string socket)
        : x11_(std::move(x11)), socket_(std::move(socket)) {}

    ShareableContent shareableContent(bool onScreenOnly) override {
        ShareableContent content = x11_->shareableContent(onScreenOnly);
        std::optional<SwayTree> tree;
        try {
            tree = parseSwayTree(ipcRequest(socket_, IPC_GET_TREE));
        } catch (const PlatformError&) {
            return content;  // sway gone: X11's own view is all there is
        }
        if (!tree) return content;
        std::vector<uint32_t> hidden;
        for (const SwayWindow& w : tree->windows) {
            if (w.xwayland && !w.facts.onScreen) hidden.push_back(w.x11Window);
        }
        std::vector<WindowFacts> kept;
        for (WindowFacts& w : content.windows) {
            if (std::find(hidden.begin(), hidden.end(), w.id) != hidden.end()) {
                if (onScreenOnly) continue;
                w.onScreen = false;
            }
            kept.push_back(std::move(w));
        }
        content.windows = std::move(kept);
        return content;
    }
    std::optional<pid_t> frontmostPid() override { return x11_->frontmostPid(); }
    uint32_t mainDisplayId() override { return x11_->mainDisplayId(); }
    Image capture(const WindowFacts& window, const DisplayFacts& display, const Rect& sourceRect,
                  int64_t outWidth, int64_t outHeight) override {
        return x11_->capture(window, display, sourceRect, outWidth, outHeight);
    }

  private:
    std::unique_ptr<WindowSystem> x11_;
    std::string socket_;
};

}  // namespace

std::unique_ptr<WindowSystem> withSwayVisibility(std::unique_ptr<WindowSystem> x11,
                                                 std::string ipcSocket) {
    return std::make_unique<SwayVisibility>(std::move(x11), std::move(ipcSocket));
}

std::unique_ptr<WindowSystem> makeSwayWindowSystem(Output& out, std::string ipcSocket) {
    return std::make_unique<SwayWindowSystem>(out, std::move(ipcSocket));
}

bool swayAnswers(const std::string& ipcSocket) {
    try {
        return parseSwayOutputs(ipcRequest(ipcSocket, IPC_GET_OUTPUTS)).has_value();
    } catch (const PlatformError&) {
        return false;
    }
}

}  // namespace tessival
