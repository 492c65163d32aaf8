// The end-to-end tests' view of the X stack, over Qt's own connection.
#include "e2e/X11StackProbe.h"

#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

#include "e2e/E2eSupport.h"

namespace velaro::e2e {

namespace {

xcb_connection_t* qtConnection() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow() {
    return xcb_setup_roots_iterator(xcb_get_setup(qtConnection())).data->root;
}

}  // namespace

std::vector<std::uint32_t> mappedStack() {
    auto* c = qtConnection();
    std::vector<std::uint32_t> out;
    auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, rootWindow()), nullptr);
    if (!tree) return out;
    const auto* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
        auto* a = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
        if (a && a->map_state == XCB_MAP_STATE_VIEWABLE) out.push_back(children[i]);
        std::free(a);
    }
    std::free(tree);
    return out;
}

std::uint32_t topLevel(std::uint32_t window) {
    auto* c = qtConnection();
    for (int i = 0; i < 16 && window; ++i) {
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
        if (!tree) return 0;
        const bool top = tree->parent == tree->root;
        const xcb_window_t parent = tree->parent;
        std::free(tree);
        if (top) return window;
        window = parent;
    }
    return 0;
}

namespace {

xcb_atom_t atom(const char* name) {
    auto* c = qtConnection();
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : 0;
    std::free(reply);
    return a;
}

// A property of 32-bit values; empty when unset.
std::vector<std::uint32_t> values32(std::uint32_t window, const char* name, xcb_atom_t type) {
    auto* c = qtConnection();
    auto* reply = xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom(name), type, 0, 64), nullptr);
    std::vector<std::uint32_t> out;
    if (reply && reply->format == 32) {
        const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        out.assign(values, values + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return out;
}

}  // namespace

bool isDock(std::uint32_t client) {
    const auto types = values32(client, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM);
    return std::find(types.begin(), types.end(), atom("_NET_WM_WINDOW_TYPE_DOCK")) != types.end();
}

bool liesRightUnderAPanel(std::uint32_t window) {
    const auto stack = mappedStack();
    const auto at = std::find(stack.begin(), stack.end(), window);
    if (at == stack.end() || at + 1 == stack.end()) return false;
    const auto types = clientWindows();
    for (auto client : types)
        if (topLevel(client) == *(at + 1) && isDock(client)) return true;
    return false;
}


std::optional<TopLevelFrame> frameAround(std::uint32_t client) {
    auto* c = qtConnection();
    const std::uint32_t frame = topLevel(client);
    if (!frame) return std::nullopt;
    auto* attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, frame), nullptr);
    auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, frame), nullptr);
    std::optional<TopLevelFrame> out;
    if (attributes && geometry) {
        const int border = geometry->border_width;
        out = TopLevelFrame{frame,
                            QRect(geometry->x, geometry->y, geometry->width + 2 * border, geometry->height + 2 * border),
                            border, attributes->map_state == XCB_MAP_STATE_VIEWABLE};
    }
    std::free(attributes);
    std::free(geometry);
    return out;
}

QColor colourBeneathWindowsOf(std::int64_t leftOut, QPoint at) {
    std::map<std::uint32_t, std::uint32_t> clientIn;  // frame → the client it holds
    for (const auto client : clientWindows()) clientIn[topLevel(client)] = client;
    const auto stack = mappedStack();
    for (auto frame = stack.rbegin(); frame != stack.rend(); ++frame) {
        const auto held = clientIn.find(*frame);
        if (held == clientIn.end() || isDock(held->second)) continue;
        const auto pid = values32(held->second, "_NET_WM_PID", XCB_ATOM_CARDINAL);
        if (!pid.empty() && pid[0] == static_cast<std::uint32_t>(leftOut)) continue;
        const auto outer = frameAround(held->second);
        // A window's own pixels start inside its border.
        if (outer && outer->outer.contains(at))
            return pixelOf(*frame, at - outer->outer.topLeft() - QPoint(outer->border, outer->border));
    }
    // The desktop picture, which the server repeats from the root's origin when it is a smaller tile.
    const auto picture = values32(rootWindow(), "_XROOTPMAP_ID", XCB_ATOM_PIXMAP);
    if (picture.empty()) return {};
    auto* c = qtConnection();
    auto* tile = xcb_get_geometry_reply(c, xcb_get_geometry(c, picture[0]), nullptr);
    const QPoint inTile = tile && tile->width && tile->height ? QPoint(at.x() % tile->width, at.y() % tile->height)
                                                              : QPoint(-1, -1);
    std::free(tile);
    return inTile.x() < 0 ? QColor() : pixelOf(picture[0], inTile);
}

}  // namespace velaro::e2e
