// Tray icons and the clock beside them, read from the X server's window tree.
#include "platform/linux/X11MenuBarItems.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <unordered_map>
#include <utility>

#include "base/MainLoop.h"
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

double rightEnd(const std::vector<Rect>& rects) {
    double right = 0;
    for (const auto& r : rects) right = std::max(right, r.maxX());
    return right;
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

// A pixel that differs from the background by more than this in some channel is drawn: anti-aliased glyph
// edges fade into it, noise of a gradient does not reach it.
constexpr int kDrawnDifference = 48;

bool differs(std::uint32_t a, std::uint32_t b) {
    for (int shift = 0; shift < 32; shift += 8) {
        const int d = int((a >> shift) & 0xff) - int((b >> shift) & 0xff);
        if (std::abs(d) > kDrawnDifference) return true;
    }
    return false;
}

// Where the panel's drawing ends right of `fromX` (root pixels), read from the panel window's own pixels, so
// that nothing under a translucent panel (our band included) counts.
std::optional<double> contentRightOf(xcb_connection_t* c, xcb_window_t panel, const Rect& panelRect,
                                     double fromX) {
    const int x = int(fromX - panelRect.x());
    const int width = int(panelRect.width()) - x;
    const int height = int(panelRect.height());
    if (x < 0 || width <= 0 || height <= 0) return std::nullopt;
    auto image = x11::own(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, panel, std::int16_t(x), 0, std::uint16_t(width),
                      std::uint16_t(height), ~0u),
        nullptr));
    if (!image) return std::nullopt;
    // Panels are 24- or 32-bit; other depths do not come in whole 32-bit pixels.
    if (image->depth != 24 && image->depth != 32) return std::nullopt;
    if (xcb_get_image_data_length(image.get()) < width * height * 4) return std::nullopt;
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(image.get()));
    const std::uint32_t mask = image->depth == 32 ? 0xffffffffu : 0x00ffffffu;
    std::vector<std::uint32_t> masked(pixels, pixels + width * height);
    for (auto& p : masked) p &= mask;
    return fromX + drawnColumnsEnd(masked.data(), width, height, width);
}

}  // namespace

int drawnColumnsEnd(const std::uint32_t* pixels, int width, int height, int stride) {
    int end = 0;
    std::unordered_map<std::uint32_t, int> counts;
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* row = pixels + std::size_t(y) * std::size_t(stride);
        counts.clear();
        std::uint32_t background = row[0];
        int most = 0;
        for (int x = 0; x < width; ++x)
            if (const int n = ++counts[row[x]]; n > most) {
                most = n;
                background = row[x];
            }
        for (int x = width - 1; x >= end; --x)
            if (differs(row[x], background)) {
                end = x + 1;
                break;
            }
    }
    return end;
}

std::vector<MenuBarItemWindow> statusWindowsOfTray(const TrayLayout& tray, const x11::ScreenSpace& space) {
    // Measured in root pixels, the panel's own unit; each frame becomes points once made.
    const double pad = X11MenuBarItems::kItemPadding * space.pixelsPerPoint();
    std::vector<MenuBarItemWindow> out;
    auto item = [&](double left, double right, const Rect& icon) {
        // A status item's frame spans its bar from top to bottom, however small what it shows.
        const Rect& rows = tray.panel ? *tray.panel : icon;
        out.push_back({OverlayWindowLevel::panel,
                       space.topLeftFromRoot(Rect(left, rows.y(), right - left, rows.height()))});
    };
    std::optional<Rect> last;
    for (const auto& icon : tray.icons) {
        if (icon.isEmpty()) continue;
        item(icon.minX() - pad, icon.maxX() + pad, icon);
        if (!last || icon.maxX() > last->maxX()) last = icon;
    }
    if (!last) return out;
    if (tray.contentRight) {
        // What the panel draws beside the icons is one more item, padded like the others.
        if (*tray.contentRight > last->maxX()) item(last->maxX(), *tray.contentRight + pad, *last);
    } else if (tray.panel) {
        // The clock sits right of the tray; a wider gap holds other things.
        const double gap = tray.panel->maxX() - last->maxX();
        if (gap > 0 && gap <= X11MenuBarItems::kClockAreaWidth) item(last->maxX(), tray.panel->maxX(), *last);
    }
    return out;
}

X11MenuBarItems::X11MenuBarItems(X11Session& session, MainLoop& loop) : session_(session), loop_(loop) {
    session_.desktop().intern(
        {"_NET_SYSTEM_TRAY_S0", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DOCK", "_XEMBED_INFO"});
    handler_ = session_.addEventHandler([this](const xcb_generic_event_t& e) {
        // Every structure event's first field after the header names the window whose children it is about.
        xcb_window_t parent = XCB_WINDOW_NONE;
        switch (e.response_type & 0x7f) {
            case XCB_MAP_NOTIFY:
                parent = reinterpret_cast<const xcb_map_notify_event_t&>(e).event;
                break;
            case XCB_UNMAP_NOTIFY:
                parent = reinterpret_cast<const xcb_unmap_notify_event_t&>(e).event;
                break;
            case XCB_CONFIGURE_NOTIFY:
                parent = reinterpret_cast<const xcb_configure_notify_event_t&>(e).event;
                break;
            case XCB_DESTROY_NOTIFY:
                parent = reinterpret_cast<const xcb_destroy_notify_event_t&>(e).event;
                break;
            case XCB_REPARENT_NOTIFY:
                parent = reinterpret_cast<const xcb_reparent_notify_event_t&>(e).event;
                break;
            default:
                return;
        }
        if (watched_.contains(parent)) statusAreaMoved();
    });
}

void X11MenuBarItems::watch(const std::vector<TrayLayout>& trays) {
    std::map<xcb_window_t, Subscription> now;
    for (const auto& tray : trays) {
        if (tray.window == 0 || now.contains(tray.window)) continue;
        auto kept = watched_.find(tray.window);
        now.emplace(tray.window, kept != watched_.end()
                                     ? std::move(kept->second)
                                     : session_.selectEvents(tray.window, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY));
    }
    watched_ = std::move(now);
}

void X11MenuBarItems::statusAreaMoved() {
    // An icon docking maps, reparents and configures at once: one notice for the lot, on the next turn.
    if (std::exchange(changePending_, true)) return;
    pendingChange_ = loop_.postAfter(0, [this] {
        changePending_ = false;
        statusAreaChanged_.send(0);
    });
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
    const xcb_window_t owner = ownerReply ? ownerReply->owner : xcb_window_t{XCB_WINDOW_NONE};
    if (owner != XCB_WINDOW_NONE) {
        looked.insert(owner);
        TrayLayout tray;
        for (auto child : childrenOf(c, owner))
            if (isViewable(c, child))
                if (auto r = rootRectOf(c, root, child)) tray.icons.push_back(*r);
        if (!tray.icons.empty()) {
            tray.panel = rootRectOf(c, root, owner);
            tray.window = owner;
            if (tray.panel) tray.contentRight = contentRightOf(c, owner, *tray.panel, rightEnd(tray.icons));
            trays.push_back(std::move(tray));
        }
    }

    const xcb_atom_t typeAtom = conn.atom("_NET_WM_WINDOW_TYPE");
    const xcb_atom_t dockAtom = conn.atom("_NET_WM_WINDOW_TYPE_DOCK");
    // Every client's type is asked at once: a list of thousands of windows costs one round trip.
    const auto clients = x11::rootWindowList(conn, "_NET_CLIENT_LIST");
    std::vector<xcb_get_property_cookie_t> typeAsks;
    typeAsks.reserve(clients.size());
    for (auto client : clients) typeAsks.push_back(x11::askProperty(c, client, typeAtom, XCB_ATOM_ATOM));
    for (std::size_t i = 0; i < clients.size(); ++i) {
        auto types = x11::own(xcb_get_property_reply(c, typeAsks[i], nullptr));
        const xcb_window_t client = clients[i];
        if (!looked.insert(client).second) continue;
        const auto values = x11::values32(types.get());
        if (std::find(values.begin(), values.end(), dockAtom) == values.end()) continue;
        TrayLayout tray;
        for (auto child : childrenOf(c, client))
            if (isViewable(c, child) && holdsEmbeddedIcon(c, child, xembedInfo))
                if (auto r = rootRectOf(c, root, child)) tray.icons.push_back(*r);
        if (tray.icons.empty()) continue;
        tray.panel = rootRectOf(c, root, client);
        tray.window = client;
        if (tray.panel) tray.contentRight = contentRightOf(c, client, *tray.panel, rightEnd(tray.icons));
        trays.push_back(std::move(tray));
    }
    return trays;
}

std::vector<MenuBarItemWindow> X11MenuBarItems::statusItemWindows() {
    const auto trays = readTrays();
    watch(trays);
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
