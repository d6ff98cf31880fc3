#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "windows/window_system.h"

// What sway's IPC answers say about windows and outputs, read from their JSON. Pure: no I/O.
namespace tessival {

// One window of the layout tree, native or XWayland.
struct SwayWindow {
    WindowFacts facts;       // frame: the client's area in layout coordinates
    bool xwayland = false;   // drawn by XWayland: the X11 window system lists it
    uint32_t x11Window = 0;  // its X11 window id when drawn by XWayland
    bool focused = false;
    int64_t workspace = 0;  // id of the workspace holding it
    bool floating = false;
    int64_t floatingOrder = 0;  // among the workspace's floating windows; higher is on top
    bool fullscreen = false;
    Rect outer;  // with borders and title bar: what it draws over others
};

// Windows front to back as far as the tree tells: on shown workspaces a fullscreen window,
// then floating windows topmost first, then tiled ones; then windows on hidden workspaces.
struct SwayTree {
    std::vector<SwayWindow> windows;
};

struct SwayOutput {
    DisplayFacts display;  // id: the output's node id in the tree (its index + 1 if absent)
    std::string name;      // the connector name, e.g. "HEADLESS-1"
    double scale = 1;
    bool focused = false;
};

// The GET_TREE answer; nothing when it is not a tree.
std::optional<SwayTree> parseSwayTree(std::string_view json);

// The GET_OUTPUTS answer, active outputs only, in listing order; ids taken from `tree` json
// nodes of the same name when given. Nothing when it is not a list of outputs.
std::optional<std::vector<SwayOutput>> parseSwayOutputs(std::string_view json,
                                                        std::string_view treeJson = {});

// The parts of `window` drawn over by other windows of the same shown workspace, in layout
// coordinates, clipped to its frame.
std::vector<Rect> coveredParts(const SwayTree& tree, const SwayWindow& window);

// The i3-ipc frame: "i3-ipc", payload length and message type (native byte order), payload.
std::string encodeIpcMessage(uint32_t type, std::string_view payload);
struct IpcHeader {
    uint32_t length = 0;
    uint32_t type = 0;
};
inline constexpr size_t IPC_HEADER_SIZE = 14;
// Nothing when the 14 bytes do not start with the magic.
std::optional<IpcHeader> decodeIpcHeader(std::string_view header);

}  // namespace tessival
