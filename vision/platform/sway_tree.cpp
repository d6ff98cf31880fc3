#include "platform/sway_tree.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>

namespace tessival {
namespace {

using nlohmann::json;

std::optional<json> parse(std::string_view text) {
    json j = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (j.is_discarded()) return std::nullopt;
    return j;
}

double num(const json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_number() ? it->get<double>() : 0.0;
}

std::optional<std::string> str(const json& j, const char* key) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

bool flag(const json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_boolean() && it->get<bool>();
}

Rect rectOf(const json& j, const char* key) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_object()) return {};
    return {num(*it, "x"), num(*it, "y"), num(*it, "width"), num(*it, "height")};
}

const json& children(const json& j, const char* key) {
    static const json empty = json::array();
    const auto it = j.find(key);
    return it != j.end() && it->is_array() ? *it : empty;
}

// A view (a client window), as opposed to a split container, workspace or output.
bool isView(const json& node) {
    const std::optional<std::string> type = str(node, "type");
    return (type == "con" || type == "floating_con") && node.contains("shell") &&
           children(node, "nodes").empty();
}

SwayWindow windowOf(const json& node, int64_t workspace, bool floating, int64_t order) {
    SwayWindow w;
    const std::optional<std::string> shell = str(node, "shell");
    w.xwayland = shell == "xwayland";
    w.x11Window = static_cast<uint32_t>(num(node, "window"));
    w.focused = flag(node, "focused");
    w.workspace = workspace;
    w.floating = floating;
    w.floatingOrder = order;
    w.fullscreen = num(node, "fullscreen_mode") != 0;
    w.outer = rectOf(node, "rect");
    const Rect inner = rectOf(node, "window_rect");
    w.facts.id = static_cast<uint32_t>(num(node, "id"));
    w.facts.frame = {w.outer.x + inner.x, w.outer.y + inner.y, inner.width, inner.height};
    w.facts.title = str(node, "name");
    OwningApplication app;
    if (std::optional<std::string> appId = str(node, "app_id")) {
        app.name = *appId;
    } else if (node.contains("window_properties") && node["window_properties"].is_object()) {
        app.name = str(node["window_properties"], "class").value_or("");
    }
    if (const double pid = num(node, "pid"); pid > 0) app.pid = static_cast<pid_t>(pid);
    w.facts.app = app;
    w.facts.onScreen = flag(node, "visible");
    w.facts.layer = 0;
    w.facts.source = "sway";
    return w;
}

void collectViews(const json& node, int64_t workspace, bool floating, int64_t& order,
                  std::vector<SwayWindow>& out) {
    if (isView(node)) {
        out.push_back(windowOf(node, workspace, floating, order++));
        return;
    }
    for (const json& c : children(node, "nodes")) collectViews(c, workspace, floating, order, out);
    for (const json& c : children(node, "floating_nodes")) {
        collectViews(c, workspace, true, order, out);
    }
}

void collectWorkspaces(const json& node, std::vector<const json*>& out) {
    if (str(node, "type") == "workspace") {
        out.push_back(&node);
        return;
    }
    for (const json& c : children(node, "nodes")) collectWorkspaces(c, out);
}

bool overlaps(const Rect& a, const Rect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

Rect intersection(const Rect& a, const Rect& b) {
    const double x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    const double x1 = std::min(a.x + a.width, b.x + b.width);
    const double y1 = std::min(a.y + a.height, b.y + b.height);
    return {x0, y0, x1 - x0, y1 - y0};
}

}  // namespace

std::optional<SwayTree> parseSwayTree(std::string_view text) {
    const std::optional<json> root = parse(text);
    if (!root || !root->is_object() || str(*root, "type") != "root") return std::nullopt;
    std::vector<const json*> workspaces;
    collectWorkspaces(*root, workspaces);

    SwayTree tree;
    std::vector<SwayWindow> hidden;
    for (const json* ws : workspaces) {
        std::vector<SwayWindow> tiled, floating;
        int64_t order = 0;
        const auto id = static_cast<int64_t>(num(*ws, "id"));
        for (const json& c : children(*ws, "nodes")) collectViews(c, id, false, order, tiled);
        order = 0;
        for (const json& c : children(*ws, "floating_nodes")) {
            collectViews(c, id, true, order, floating);
        }
        const auto shownIn = [](const std::vector<SwayWindow>& v) {
            return std::any_of(v.begin(), v.end(),
                               [](const SwayWindow& w) { return w.facts.onScreen; });
        };
        std::vector<SwayWindow> ordered;
        for (const SwayWindow& w : tiled) {
            if (w.fullscreen) ordered.push_back(w);
        }
        for (auto it = floating.rbegin(); it != floating.rend(); ++it) ordered.push_back(*it);
        for (const SwayWindow& w : tiled) {
            if (!w.fullscreen) ordered.push_back(w);
        }
        std::vector<SwayWindow>& into = shownIn(tiled) || shownIn(floating) ? tree.windows : hidden;
        into.insert(into.end(), ordered.begin(), ordered.end());
    }
    tree.windows.insert(tree.windows.end(), hidden.begin(), hidden.end());
    return tree;
}

std::optional<std::vector<SwayOutput>> parseSwayOutputs(std::string_view text,
                                                        std::string_view treeJson) {
    const std::optional<json> list = parse(text);
    if (!list || !list->is_array()) return std::nullopt;
    std::optional<json> tree;
    if (!treeJson.empty()) tree = parse(treeJson);

    std::vector<SwayOutput> outputs;
    for (const json& o : *list) {
        if (!o.is_object() || !flag(o, "active")) continue;
        SwayOutput out;
        out.name = str(o, "name").value_or("");
        out.display.frame = rectOf(o, "rect");
        out.display.id = static_cast<uint32_t>(outputs.size() + 1);
        out.focused = flag(o, "focused");
        if (const double s = num(o, "scale"); s > 0) out.scale = s;
        if (tree && tree->is_object()) {
            for (const json& n : children(*tree, "nodes")) {
                if (str(n, "type") == "output" && str(n, "name") == out.name) {
                    out.display.id = static_cast<uint32_t>(num(n, "id"));
                }
            }
        }
        outputs.push_back(std::move(out));
    }
    return outputs;
}

std::vector<Rect> coveredParts(const SwayTree& tree, const SwayWindow& window) {
    std::vector<Rect> parts;
    if (window.fullscreen) return parts;
    for (const SwayWindow& other : tree.windows) {
        if (other.facts.id == window.facts.id || other.workspace != window.workspace ||
            !other.facts.onScreen) {
            continue;
        }
        // A fullscreen window is all its workspace shows.
        if (other.fullscreen) return {window.facts.frame};
        const bool above =
            other.floating && (!window.floating || other.floatingOrder > window.floatingOrder);
        if (above && overlaps(other.outer, window.facts.frame)) {
            parts.push_back(intersection(other.outer, window.facts.frame));
        }
    }
    return parts;
}

std::string encodeIpcMessage(uint32_t type, std::string_view payload) {
    std::string msg = "i3-ipc";
    const auto length = static_cast<uint32_t>(payload.size());
    char word[4];
    std::memcpy(word, &length, 4);
    msg.append(word, 4);
    std::memcpy(word, &type, 4);
    msg.append(word, 4);
    msg.append(payload);
    return msg;
}

std::optional<IpcHeader> decodeIpcHeader(std::string_view header) {
    if (header.size() < IPC_HEADER_SIZE || header.substr(0, 6) != "i3-ipc") return std::nullopt;
    IpcHeader h;
    std::memcpy(&h.length, header.data() + 6, 4);
    std::memcpy(&h.type, header.data() + 10, 4);
    return h;
}

}  // namespace tessival
