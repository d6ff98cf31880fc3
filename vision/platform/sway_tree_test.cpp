#include "platform/sway_tree.h"

#include <gtest/gtest.h>

namespace tessival {
namespace {

// Output HEADLESS-1 shows workspace 1: a tiled native meeting window, a tiled XWayland
// window, and a floating terminal over the meeting; workspace 2 is hidden.
constexpr const char* TREE = R"({
  "id": 1, "type": "root", "name": "root", "nodes": [
    {"id": 2147483647, "type": "output", "name": "__i3", "nodes": [
      {"id": 2147483646, "type": "workspace", "name": "__i3_scratch", "nodes": [], "floating_nodes": []}]},
    {"id": 3, "type": "output", "name": "HEADLESS-1", "nodes": [
      {"id": 4, "type": "workspace", "name": "1", "nodes": [
        {"id": 5, "type": "con", "name": "Meet - Weekly sync", "app_id": "meetapp", "pid": 41,
         "shell": "xdg_shell", "visible": true, "focused": false, "fullscreen_mode": 0,
         "rect": {"x": 0, "y": 25, "width": 640, "height": 695},
         "window_rect": {"x": 2, "y": 0, "width": 636, "height": 693}, "nodes": []},
        {"id": 6, "type": "con", "name": "Zoom Meeting", "app_id": null, "pid": 42,
         "shell": "xwayland", "window": 2097155, "visible": true, "focused": true,
         "window_properties": {"class": "zoom", "instance": "zoom"},
         "rect": {"x": 640, "y": 25, "width": 640, "height": 695},
         "window_rect": {"x": 2, "y": 0, "width": 636, "height": 693}, "nodes": []}],
       "floating_nodes": [
        {"id": 7, "type": "floating_con", "name": "notes", "app_id": "foot", "pid": 43,
         "shell": "xdg_shell", "visible": true, "focused": false,
         "rect": {"x": 100, "y": 100, "width": 300, "height": 200},
         "window_rect": {"x": 2, "y": 2, "width": 296, "height": 196}, "nodes": []},
        {"id": 8, "type": "floating_con", "name": "top", "app_id": "foot", "pid": 44,
         "shell": "xdg_shell", "visible": true,
         "rect": {"x": 150, "y": 150, "width": 100, "height": 100},
         "window_rect": {"x": 0, "y": 0, "width": 100, "height": 100}, "nodes": []}]},
      {"id": 9, "type": "workspace", "name": "2", "nodes": [
        {"id": 10, "type": "con", "name": "Hidden call", "app_id": "meetapp", "pid": 45,
         "shell": "xdg_shell", "visible": false,
         "rect": {"x": 0, "y": 0, "width": 1280, "height": 720},
         "window_rect": {"x": 0, "y": 0, "width": 1280, "height": 720}, "nodes": []}],
       "floating_nodes": []}]}]})";

const SwayWindow* byId(const SwayTree& t, uint32_t id) {
    for (const SwayWindow& w : t.windows) {
        if (w.facts.id == id) return &w;
    }
    return nullptr;
}

TEST(SwayTree, WindowsFrontToBackWithTheirFacts) {
    const std::optional<SwayTree> tree = parseSwayTree(TREE);
    ASSERT_TRUE(tree);
    std::vector<uint32_t> order;
    for (const SwayWindow& w : tree->windows) order.push_back(w.facts.id);
    EXPECT_EQ(order, (std::vector<uint32_t>{8, 7, 5, 6, 10}));

    const SwayWindow& meet = *byId(*tree, 5);
    EXPECT_EQ(meet.facts.frame, (Rect{2, 25, 636, 693}));
    EXPECT_EQ(meet.facts.title, "Meet - Weekly sync");
    EXPECT_EQ(meet.facts.app->name, "meetapp");
    EXPECT_EQ(meet.facts.app->pid, 41);
    EXPECT_EQ(meet.facts.source, "sway");
    EXPECT_TRUE(meet.facts.onScreen);
    EXPECT_FALSE(meet.xwayland);

    const SwayWindow& zoom = *byId(*tree, 6);
    EXPECT_TRUE(zoom.xwayland);
    EXPECT_EQ(zoom.x11Window, 2097155u);
    EXPECT_TRUE(zoom.focused);
    EXPECT_EQ(zoom.facts.app->name, "zoom");
    EXPECT_FALSE(byId(*tree, 10)->facts.onScreen);
}

TEST(SwayTree, CoveredPartsAreWhatWindowsAboveDraw) {
    const SwayTree tree = *parseSwayTree(TREE);
    // The tiled meeting lies under both floating windows; the lower floating window under
    // the upper one; the upper one under nothing; a hidden window under nothing.
    EXPECT_EQ(coveredParts(tree, *byId(tree, 5)),
              (std::vector<Rect>{{150, 150, 100, 100}, {100, 100, 300, 200}}));
    EXPECT_EQ(coveredParts(tree, *byId(tree, 7)), (std::vector<Rect>{{150, 150, 100, 100}}));
    EXPECT_TRUE(coveredParts(tree, *byId(tree, 8)).empty());
    EXPECT_TRUE(coveredParts(tree, *byId(tree, 10)).empty());

    SwayTree full = tree;
    for (SwayWindow& w : full.windows) w.fullscreen = w.facts.id == 6;
    EXPECT_EQ(coveredParts(full, *byId(full, 5)), (std::vector<Rect>{{2, 25, 636, 693}}));
    EXPECT_TRUE(coveredParts(full, *byId(full, 6)).empty());
}

TEST(SwayTree, OutputsActiveOnlyWithTreeIds) {
    const char* outputs = R"([
      {"name": "HEADLESS-1", "active": true, "focused": false, "scale": 2.0,
       "rect": {"x": 0, "y": 0, "width": 1280, "height": 720}},
      {"name": "HEADLESS-9", "active": false, "rect": {"x": 0, "y": 0, "width": 0, "height": 0}},
      {"name": "HEADLESS-2", "active": true, "focused": true,
       "rect": {"x": 1280, "y": 0, "width": 1024, "height": 768}}])";
    const auto list = parseSwayOutputs(outputs, TREE);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ((*list)[0].display.id, 3u);  // the tree's node id
    EXPECT_EQ((*list)[0].scale, 2.0);
    EXPECT_EQ((*list)[1].display.id, 2u);  // not in the tree: its place in the list
    EXPECT_EQ((*list)[1].display.frame, (Rect{1280, 0, 1024, 768}));
    EXPECT_TRUE((*list)[1].focused);
}

TEST(SwayTree, MalformedAnswersGiveNothing) {
    for (const char* bad : {"", "{", "[]", R"({"type": "con"})", "null"}) {
        EXPECT_FALSE(parseSwayTree(bad)) << bad;
    }
    for (const char* bad : {"", "{}", "[", "42"}) EXPECT_FALSE(parseSwayOutputs(bad)) << bad;
    // Odd members are skipped, not fatal.
    EXPECT_TRUE(parseSwayTree(R"({"type": "root", "nodes": [{"type": "output", "nodes": 5}]})"));
}

TEST(SwayIpc, FrameRoundTrip) {
    const std::string msg = encodeIpcMessage(4, "{}");
    ASSERT_EQ(msg.size(), IPC_HEADER_SIZE + 2);
    const std::optional<IpcHeader> h = decodeIpcHeader(msg);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->length, 2u);
    EXPECT_EQ(h->type, 4u);
    EXPECT_FALSE(decodeIpcHeader("i3-ip"));
    EXPECT_FALSE(decodeIpcHeader("x3-ipc00000000"));
}

}  // namespace
}  // namespace tessival
