// The X11 window list: stacking from the root's children, each managed window by its client's properties.
#include "platform/linux/X11WindowList.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "base/Geometry.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/XcbUtil.h"

namespace velaro {

namespace {

bool has(const std::vector<std::string>& list, const char* name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

const std::vector<std::string> kAtomNames = {
    "_NET_CLIENT_LIST_STACKING",
    "_NET_WM_PID",
    "_NET_WM_STATE",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_OPACITY",
    X11WindowList::kLevelProperty,
    "WM_CLASS",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_DND",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_STATE_ABOVE",
    "_NET_WM_STATE_HIDDEN",
};

}  // namespace

std::optional<int> windowLevelFor(const WindowTraits& t) {
    if (has(t.types, "_NET_WM_WINDOW_TYPE_DESKTOP")) return std::nullopt;
    if (t.declaredLevel) return *t.declaredLevel;
    if (has(t.types, "_NET_WM_WINDOW_TYPE_DOCK") || has(t.types, "_NET_WM_WINDOW_TYPE_NOTIFICATION"))
        return WindowLevel::status;
    for (const char* menu :
         {"_NET_WM_WINDOW_TYPE_MENU", "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", "_NET_WM_WINDOW_TYPE_POPUP_MENU",
          "_NET_WM_WINDOW_TYPE_COMBO", "_NET_WM_WINDOW_TYPE_TOOLTIP", "_NET_WM_WINDOW_TYPE_DND"})
        if (has(t.types, menu)) return WindowLevel::popUpMenu;
    // Unmanaged windows that name no type are toolkits' menus and pop-ups.
    if (t.overrideRedirect && t.types.empty()) return WindowLevel::popUpMenu;
    if (has(t.states, "_NET_WM_STATE_ABOVE")) return WindowLevel::floating;
    return WindowLevel::normal;
}

X11WindowList::X11WindowList(X11Session& session) : session_(session) {
    auto& connection = session_.desktop();
    connection.intern(kAtomNames);
    for (const auto& n : kAtomNames) atomNames_[connection.atom(n)] = n;
}

X11WindowList::~X11WindowList() = default;

std::vector<WindowInfo> X11WindowList::snapshot() {
    std::lock_guard lock(mutex_);
    if (session_.desktop().broken()) return {};
    return read();
}

std::vector<WindowInfo> X11WindowList::read() {
    auto& connection = session_.desktop();
    auto* c = connection.get();
    const xcb_window_t root = connection.root();
    auto atom = [&connection](const std::string& n) { return connection.atom(n); };

    // Round trip 1: the root's children (bottom to top) and the managed clients.
    auto treeAsk = xcb_query_tree(c, root);
    auto stackingAsk = x11::askProperty(c, root, atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW, 8192);
    auto tree = x11::own(xcb_query_tree_reply(c, treeAsk, nullptr));
    auto stacking = x11::own(xcb_get_property_reply(c, stackingAsk, nullptr));
    if (!tree) return {};
    const auto* children = xcb_query_tree_children(tree.get());
    const int childCount = xcb_query_tree_children_length(tree.get());
    const auto clients = x11::values32(stacking.get());

    // Round trip 2: attributes of every top-level window, and the parent of each client not seen before
    // (or whose frame is gone, as after a window-manager restart).
    std::vector<xcb_get_window_attributes_cookie_t> topAttrAsks(childCount);
    for (int i = 0; i < childCount; ++i) topAttrAsks[i] = xcb_get_window_attributes(c, children[i]);
    const std::unordered_set<xcb_window_t> rootChildren(children, children + childCount);
    std::vector<std::pair<xcb_window_t, xcb_query_tree_cookie_t>> parentAsks;
    std::unordered_map<xcb_window_t, xcb_window_t> clientOfTopLevel;
    for (auto client : clients) {
        if (auto it = known_.find(client); it != known_.end() && rootChildren.count(it->second.topLevel))
            clientOfTopLevel[it->second.topLevel] = client;
        else
            parentAsks.emplace_back(client, xcb_query_tree(c, client));
    }
    struct TopLevel {
        bool viewable = false;
        bool overrideRedirect = false;
    };
    std::unordered_map<xcb_window_t, TopLevel> topLevels;
    for (int i = 0; i < childCount; ++i) {
        auto a = x11::own(xcb_get_window_attributes_reply(c, topAttrAsks[i], nullptr));
        if (a) topLevels[children[i]] = {a->map_state == XCB_MAP_STATE_VIEWABLE, a->override_redirect != 0};
    }
    // A client's top-level window is its frame (the window manager's parent), or itself when not reparented.
    // Iconified windows and those on other desktops have unmapped frames and drop out below.
    std::vector<std::pair<xcb_window_t, xcb_window_t>> pending;  // (client, ancestor still below the root)
    for (auto& [client, ask] : parentAsks) {
        auto t = x11::own(xcb_query_tree_reply(c, ask, nullptr));
        if (!t) continue;
        if (topLevels.count(client))
            clientOfTopLevel[client] = client;
        else if (topLevels.count(t->parent))
            clientOfTopLevel[t->parent] = client;
        else if (t->parent != XCB_WINDOW_NONE && t->parent != root)
            pending.emplace_back(client, t->parent);
    }
    // Window managers that reparent twice: walk up a few more levels, one pipelined round trip each.
    for (int depth = 0; depth < 4 && !pending.empty(); ++depth) {
        std::vector<xcb_query_tree_cookie_t> asks;
        for (auto& [client, ancestor] : pending) asks.push_back(xcb_query_tree(c, ancestor));
        std::vector<std::pair<xcb_window_t, xcb_window_t>> next;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            auto t = x11::own(xcb_query_tree_reply(c, asks[i], nullptr));
            if (!t) continue;
            if (topLevels.count(t->parent) || t->parent == root)
                clientOfTopLevel[t->parent == root ? pending[i].second : t->parent] = pending[i].first;
            else if (t->parent != XCB_WINDOW_NONE)
                next.emplace_back(pending[i].first, t->parent);
        }
        pending = std::move(next);
    }

    // The windows to describe, front-most first: managed clients at their frames' places, and viewable
    // unmanaged windows (menus, pop-ups, our own overlays).
    struct Entry {
        xcb_window_t window;
        xcb_window_t topLevel;
        bool managed;
    };
    std::vector<Entry> entries;
    for (int i = childCount - 1; i >= 0; --i) {
        const auto it = topLevels.find(children[i]);
        if (it == topLevels.end() || !it->second.viewable) continue;
        if (auto client = clientOfTopLevel.find(children[i]); client != clientOfTopLevel.end())
            entries.push_back({client->second, children[i], true});
        else if (it->second.overrideRedirect)
            entries.push_back({children[i], children[i], false});
    }

    // Round trip 3, pipelined: what changes (geometry, state, opacity) for every window, and what does not
    // (owner, class, type, declared level) only for windows not seen before. A top-level window's geometry
    // is the outer bounds: a frame's includes the decorations, and top-level positions are root coordinates.
    struct Asks {
        xcb_get_geometry_cookie_t geometry;
        xcb_get_property_cookie_t state, opacity;
        bool fresh = false;
        xcb_get_property_cookie_t pid{0}, type{0}, wmClass{0}, level{0};
    };
    std::vector<Asks> asks(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto w = entries[i].window;
        auto& a = asks[i];
        a.geometry = xcb_get_geometry(c, entries[i].topLevel);
        a.state = x11::askProperty(c, w, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32);
        a.opacity = x11::askProperty(c, w, atom("_NET_WM_WINDOW_OPACITY"), XCB_ATOM_CARDINAL, 1);
        if (known_.count(w)) continue;
        a.fresh = true;
        a.pid = x11::askProperty(c, w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 1);
        a.type = x11::askProperty(c, w, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32);
        a.wmClass = x11::askProperty(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256);
        // Only our own overlays declare a level, and they bypass the window manager.
        if (!entries[i].managed) a.level = x11::askProperty(c, w, atom(kLevelProperty), XCB_ATOM_CARDINAL, 1);
    }

    // Atom names seen in types and states; others are of no interest to the levels.
    auto namesOf = [this](const std::vector<std::uint32_t>& atoms) {
        std::vector<std::string> out;
        for (auto a : atoms)
            if (auto it = atomNames_.find(a); it != atomNames_.end()) out.push_back(it->second);
        return out;
    };
    auto reply = [c](xcb_get_property_cookie_t ask) {
        return x11::own(xcb_get_property_reply(c, ask, nullptr));
    };

    std::unordered_map<xcb_window_t, Known> seen;
    std::vector<std::size_t> missingPID;
    std::vector<x11::Owned<xcb_get_geometry_reply_t>> geometries;
    std::vector<std::vector<std::string>> states;
    std::vector<double> alphas;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto& a = asks[i];
        auto geometry = x11::own(xcb_get_geometry_reply(c, a.geometry, nullptr));
        auto state = reply(a.state);
        auto opacity = reply(a.opacity);
        Known k = a.fresh ? Known{} : known_[entries[i].window];
        k.topLevel = entries[i].topLevel;
        if (a.fresh) {
            auto pid = reply(a.pid);
            auto type = reply(a.type);
            auto wmClass = reply(a.wmClass);
            if (auto v = x11::values32(pid.get()); !v.empty() && v[0] != 0)
                k.pid = static_cast<std::int32_t>(v[0]);
            k.types = namesOf(x11::values32(type.get()));
            const auto [instance, cls] = x11::splitWindowClass(x11::bytes8(wmClass.get()));
            k.ownerName = !cls.empty() ? cls : instance;
            if (a.level.sequence) {
                auto level = reply(a.level);
                if (auto v = x11::values32(level.get()); !v.empty())
                    k.declaredLevel = static_cast<std::int32_t>(v[0]);
            }
            if (!k.pid) missingPID.push_back(i);
        }
        seen[entries[i].window] = k;
        geometries.push_back(std::move(geometry));
        states.push_back(namesOf(x11::values32(state.get())));
        const auto opacityValues = x11::values32(opacity.get());
        alphas.push_back(opacityValues.empty() ? 1.0 : opacityValues[0] / double(0xffffffffu));
    }
    // Round trip 4, only for new windows that do not state their process: ask the X-Resource extension.
    std::vector<xcb_res_query_client_ids_cookie_t> pidAsks;
    for (auto i : missingPID) pidAsks.push_back(x11::askClientProcess(c, entries[i].window));
    for (std::size_t j = 0; j < missingPID.size(); ++j) {
        auto& k = seen[entries[missingPID[j]].window];
        k.pid = x11::clientProcess(c, pidAsks[j]);
        if (k.ownerName.empty() && k.pid) k.ownerName = x11::processName(*k.pid);
    }
    // Windows that are gone are forgotten, so the cache never outgrows the desktop.
    known_ = std::move(seen);

    // The session's conversion, so that bounds and screen frames share their origin and ratio.
    const auto space = session_.space();
    std::vector<WindowInfo> out;
    out.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Known& k = known_[entries[i].window];
        WindowTraits traits{k.types, states[i], !entries[i].managed, k.declaredLevel};
        const auto windowLevel = windowLevelFor(traits);
        if (!windowLevel) continue;  // the wallpaper window is no content the scans look at
        if (has(traits.states, "_NET_WM_STATE_HIDDEN")) continue;
        WindowInfo info;
        info.number = entries[i].window;
        info.layer = *windowLevel;
        info.ownerPID = k.pid;
        info.ownerName = k.ownerName;
        info.alpha = alphas[i];
        if (const auto& g = geometries[i]) {
            const double border = g->border_width;
            info.bounds =
                space.topLeftFromRoot(Rect(g->x, g->y, g->width + 2 * border, g->height + 2 * border));
        }
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace velaro
