// The end-to-end tests' view of the X stack, over Qt's own connection.
#include "e2e/X11StackProbe.h"

#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>

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

bool isDock(std::uint32_t client) {
    auto* c = qtConnection();
    auto atom = [c](const char* name) {
        auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : 0;
        std::free(reply);
        return a;
    };
    const xcb_atom_t type = atom("_NET_WM_WINDOW_TYPE"), dock = atom("_NET_WM_WINDOW_TYPE_DOCK");
    auto* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, client, type, XCB_ATOM_ATOM, 0, 32), nullptr);
    bool found = false;
    if (reply && reply->format == 32) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i) found = found || atoms[i] == dock;
    }
    std::free(reply);
    return found;
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

}  // namespace velaro::e2e
