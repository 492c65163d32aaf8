// Tray icons and the clock beside them, read from the X server's window tree.
#include "platform/linux/X11MenuBarItems.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <set>

#include "platform/OverlayWindowHost.h"
#include "platform/linux/XcbUtil.h"

namespace velaro {

namespace {

std::optional<Rect> rootRectOf(xcb_connection_t* c, xcb_window_t root, xcb_window_t window) {
    auto geometryAsk = xcb_get_geometry(c, window);
    auto translateAsk = xcb_translate_coordinates(c, window, root, 0, 0);
    auto geometry = x11::own(xcb_get_geometry_reply(c, geometryAsk, nullptr));
    auto translated = x11::own(xcb_translate_coordinates_reply(c, translateAsk, nullptr));
    if (!geometry || !translated) return std::nullopt;
    return Rect(translated->dst_x, translated->dst_y, geometry->width, geometry->height);
}

bool isViewable(xcb_connection_t* c, xcb_window_t window) {
    auto attributes =
        x11::own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

std::vector<xcb_window_t> childrenOf(xcb_connection_t* c, xcb_window_t window) {
    auto tree = x11::own(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
    if (!tree) return {};
    const auto* children = xcb_query_tree_children(tree.get());
    return {children, children + xcb_query_tree_children_length(tree.get())};
}

bool hasProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property) {
    auto reply =
        x11::own(xcb_get_property_reply(c, x11::askProperty(c, window, property, XCB_ATOM_ANY, 1), nullptr));
    return reply && reply->type != XCB_ATOM_NONE;
}

// An embedded icon carries the XEmbed info itself or, where the panel wraps each icon in a frame of its
// own, in the frame's child.
bool holdsEmbeddedIcon(xcb_connection_t* c, xcb_window_t window, xcb_atom_t xembedInfo) {
    if (hasProperty(c, window, xembedInfo)) return true;
    for (auto child : childrenOf(c, window))
        if (hasProperty(c, child, xembedInfo)) return true;
    return false;
}

}  // namespace

std::vector<MenuBarItemWindow> statusWindowsOfTray(const TrayLayout& tray, const x11::ScreenSpace& space) {
    auto toPoints = [&](const Rect& root) { return space.topLeftFromRoot(root); };
    std::vector<MenuBarItemWindow> out;
    std::optional<Rect> last;
    for (const auto& icon : tray.icons) {
        if (icon.isEmpty()) continue;
        const Rect r = toPoints(icon);
        out.push_back({OverlayWindowLevel::status, r});
        if (!last || r.maxX() > last->maxX()) last = r;
    }
    if (last && tray.panel) {
        const Rect panel = toPoints(*tray.panel);
        const double gap = panel.maxX() - last->maxX();
        // The clock sits right of the tray; a wider gap holds other things.
        if (gap > 0 && gap <= X11MenuBarItems::kClockAreaWidth)
            out.push_back({OverlayWindowLevel::status, Rect(last->maxX(), last->y(), gap, last->height())});
    }
    return out;
}

X11MenuBarItems::X11MenuBarItems(X11Session& session) : session_(session) {
    session_.desktop().intern(
        {"_NET_SYSTEM_TRAY_S0", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DOCK", "_XEMBED_INFO"});
}

X11MenuBarItems::~X11MenuBarItems() = default;

std::optional<std::vector<std::optional<Rect>>> X11MenuBarItems::frontMenuItemFrames() {
    return std::nullopt;
}

std::vector<TrayLayout> X11MenuBarItems::readTrays() {
    auto& conn = session_.desktop();
    if (conn.broken()) return {};
    xcb_connection_t* c = conn.get();
    const xcb_window_t root = conn.root();
    const xcb_atom_t xembedInfo = conn.atom("_XEMBED_INFO");
    std::vector<TrayLayout> trays;
    std::set<xcb_window_t> looked;

    auto ownerReply = x11::own(xcb_get_selection_owner_reply(
        c, xcb_get_selection_owner(c, conn.atom("_NET_SYSTEM_TRAY_S0")), nullptr));
    const xcb_window_t owner = ownerReply ? ownerReply->owner : XCB_WINDOW_NONE;
    if (owner != XCB_WINDOW_NONE) {
        looked.insert(owner);
        TrayLayout tray;
        for (auto child : childrenOf(c, owner))
            if (isViewable(c, child))
                if (auto r = rootRectOf(c, root, child)) tray.icons.push_back(*r);
        if (!tray.icons.empty()) {
            tray.panel = rootRectOf(c, root, owner);
            trays.push_back(std::move(tray));
        }
    }

    const xcb_atom_t typeAtom = conn.atom("_NET_WM_WINDOW_TYPE");
    const xcb_atom_t dockAtom = conn.atom("_NET_WM_WINDOW_TYPE_DOCK");
    for (auto client : x11::rootWindowList(conn, "_NET_CLIENT_LIST")) {
        if (!looked.insert(client).second) continue;
        auto types = x11::own(
            xcb_get_property_reply(c, x11::askProperty(c, client, typeAtom, XCB_ATOM_ATOM), nullptr));
        const auto values = x11::values32(types.get());
        if (std::find(values.begin(), values.end(), dockAtom) == values.end()) continue;
        TrayLayout tray;
        for (auto child : childrenOf(c, client))
            if (isViewable(c, child) && holdsEmbeddedIcon(c, child, xembedInfo))
                if (auto r = rootRectOf(c, root, child)) tray.icons.push_back(*r);
        if (tray.icons.empty()) continue;
        tray.panel = rootRectOf(c, root, client);
        trays.push_back(std::move(tray));
    }
    return trays;
}

std::vector<MenuBarItemWindow> X11MenuBarItems::statusItemWindows() {
    const auto trays = readTrays();
    if (trays.empty()) return {};
    const auto space = session_.space();
    std::vector<MenuBarItemWindow> out;
    for (const auto& tray : trays) {
        auto windows = statusWindowsOfTray(tray, space);
        out.insert(out.end(), windows.begin(), windows.end());
    }
    return out;
}

}  // namespace velaro
