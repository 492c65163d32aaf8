// The X11 window list: stacking from the root's children, each described window by its client's properties,
// read again on the list's own thread only after the connection's events said something changed.
#include "platform/linux/X11WindowList.h"

#include <algorithm>
#include <chrono>
#include <unordered_set>
#include <utility>

#include "base/Geometry.h"
#include "platform/linux/XcbUtil.h"

namespace velaro {

namespace {

// How long a snapshot waits for the read of a changed list. A read takes a millisecond or two; one that
// takes longer is a busy server (a storm of window changes, every client on the desktop reading the new
// windows), and a reader on the main loop must not wait that out: it gets the last list read.
constexpr std::chrono::milliseconds kReadWait{50};

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

// ---- what the events change ----

void WindowListChanges::note(const xcb_generic_event_t& event) {
    noteChild(event);
    switch (event.response_type & 0x7f) {
        // The root's children map, unmap, move and restack (and, for windows other services follow, the same
        // of theirs: a read too many, never one too few). A window comes unmapped and goes unmapped (a mapped
        // one is unmapped first, with its own notice), so its coming and going alone change nothing on
        // screen: a client making and destroying thousands of windows asks no read.
        case XCB_MAP_NOTIFY:
        case XCB_UNMAP_NOTIFY:
        case XCB_REPARENT_NOTIFY:
        case XCB_CONFIGURE_NOTIFY:
        case XCB_GRAVITY_NOTIFY:
        case XCB_CIRCULATE_NOTIFY:
            break;
        case XCB_PROPERTY_NOTIFY: {
            const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(event);
            if (p.window == root_) {
                if (p.atom != atoms_.stacking) return;
                break;
            }
            const auto& watched = atoms_.windowProperties;
            if (std::find(watched.begin(), watched.end(), p.atom) == watched.end()) return;
            move(true, p.window);
            return;
        }
        default:
            return;
    }
    move(true);
}

void WindowListChanges::noteChild(const xcb_generic_event_t& event) {
    const auto type = event.response_type & 0x7f;
    // Each of these notices names the window it was sent to (the root, for its children) and then the window.
    if (type != XCB_CREATE_NOTIFY && type != XCB_DESTROY_NOTIFY && type != XCB_MAP_NOTIFY &&
        type != XCB_UNMAP_NOTIFY && type != XCB_REPARENT_NOTIFY && type != XCB_CONFIGURE_NOTIFY)
        return;
    const auto& notice = reinterpret_cast<const xcb_map_notify_event_t&>(event);
    if (notice.event != root_) return;
    std::lock_guard lock(mutex_);
    auto& child = children_[notice.window];
    child.notice = ++childNotices_;
    switch (type) {
        case XCB_CREATE_NOTIFY:
            child.state = ChildState{
                false, reinterpret_cast<const xcb_create_notify_event_t&>(event).override_redirect != 0};
            break;
        case XCB_MAP_NOTIFY:
            child.state = ChildState{true, notice.override_redirect != 0};
            break;
        case XCB_UNMAP_NOTIFY:
            if (child.state) child.state->viewable = false;
            break;
        case XCB_CONFIGURE_NOTIFY:
            if (child.state)
                child.state->overrideRedirect =
                    reinterpret_cast<const xcb_configure_notify_event_t&>(event).override_redirect != 0;
            break;
        case XCB_REPARENT_NOTIFY: {
            const auto& r = reinterpret_cast<const xcb_reparent_notify_event_t&>(event);
            // Back under the root in whatever state it had: asked again. (Away from it: gone from the root.)
            if (r.parent == root_)
                child.state.reset();
            else
                children_.erase(notice.window);
            break;
        }
        case XCB_DESTROY_NOTIFY:
            children_.erase(notice.window);
            break;
    }
}

std::uint64_t WindowListChanges::childNotices() const {
    std::lock_guard lock(mutex_);
    return childNotices_;
}

std::vector<std::optional<WindowListChanges::ChildState>> WindowListChanges::childStates(
    const std::vector<std::uint32_t>& children) const {
    std::lock_guard lock(mutex_);
    std::vector<std::optional<ChildState>> states;
    states.reserve(children.size());
    for (auto w : children) {
        const auto it = children_.find(w);
        states.push_back(it != children_.end() ? it->second.state : std::nullopt);
    }
    return states;
}

void WindowListChanges::learnChildStates(const std::vector<std::pair<std::uint32_t, ChildState>>& found,
                                         std::uint64_t since, const std::vector<std::uint32_t>& children) {
    std::lock_guard lock(mutex_);
    for (const auto& [w, state] : found) {
        auto& child = children_[w];
        if (child.notice <= since && !child.state) child.state = state;
    }
    // Children that left without a notice this list heard (there before it began): forgotten, unless a
    // notice about them came after the read began.
    if (children_.size() > children.size()) {
        std::vector<std::uint32_t> sorted(children);
        std::sort(sorted.begin(), sorted.end());
        std::erase_if(children_, [&](const auto& entry) {
            return entry.second.notice <= since &&
                   !std::binary_search(sorted.begin(), sorted.end(), entry.first);
        });
    }
}

void WindowListChanges::move(bool changed, std::optional<std::uint32_t> staleWindow) {
    {
        std::lock_guard lock(mutex_);
        if (staleWindow) stale_.push_back(*staleWindow);
        changed_ = changed_ || changed;
        ++generation_;
    }
    notice_.ring();
}

WindowListChanges::Taken WindowListChanges::take() {
    std::lock_guard lock(mutex_);
    Taken taken{std::exchange(changed_, false), std::move(stale_)};
    stale_.clear();
    return taken;
}

bool WindowListChanges::changed() const {
    std::lock_guard lock(mutex_);
    return changed_;
}

void WindowListChanges::markChanged() {
    move(true);
}

void WindowListChanges::markRead() {
    move(false);
}

std::uint64_t WindowListChanges::generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

// ---- the list ----

X11WindowList::X11WindowList(X11Session& session) : session_(session) {
    auto& connection = session_.desktop();
    connection.intern(kAtomNames);
    for (const auto& n : kAtomNames) atomNames_[connection.atom(n)] = n;
    hiddenAtom_ = connection.atom("_NET_WM_STATE_HIDDEN");
    WindowListChanges::Atoms atoms;
    atoms.stacking = connection.atom("_NET_CLIENT_LIST_STACKING");
    for (const char* name :
         {"_NET_WM_PID", "_NET_WM_STATE", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_OPACITY", kLevelProperty})
        atoms.windowProperties.push_back(connection.atom(name));
    atoms.windowProperties.push_back(XCB_ATOM_WM_CLASS);
    changes_ = std::make_shared<WindowListChanges>(connection.root(), std::move(atoms));
    filter_ = session_.addEventFilter([changes = changes_](x11::EventPump::Batch& batch) {
        for (const auto& event : batch)
            if (event) changes->note(*event);
    });
    // Selected after the filter is in place, so that nothing between the two goes unheard.
    rootSelection_ = session_.selectEvents(
        connection.root(), XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
    // Bounds are converted with the session's screens: new screens, new bounds.
    screens_ = session_.screensChanged().sink([changes = changes_](int) { changes->markChanged(); });
    reader_ = std::thread([this] { readWhenAsked(); });
}

X11WindowList::~X11WindowList() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    asked_.notify_all();
    done_.notify_all();
    reader_.join();
    screens_.cancel();
    rootSelection_.cancel();
    filter_.cancel();
    known_.clear();  // ends the per-window selections while the session is still there
}

std::uint64_t X11WindowList::generation() const {
    return changes_->generation();
}

void X11WindowList::callOnNextChange(std::function<void()> wake) const {
    changes_->callOnNextChange(std::move(wake));
}

std::vector<WindowInfo> X11WindowList::snapshot() {
    std::unique_lock lock(mutex_);
    if (session_.desktop().broken()) return {};
    const bool changed = changes_->changed();
    if (changed || started_ > finished_) {
        // A read that starts after this change, or the one under way, gives the list to answer with.
        const std::uint64_t read = changed ? started_ + 1 : started_;
        if (changed) {
            wanted_ = true;
            asked_.notify_one();
        }
        const auto readIn = [&] { return finished_ >= read || ending_; };
        bool waited = false;
        if (shownReads_ == 0) {
            done_.wait(lock, readIn);  // nothing read yet: nothing else to answer with
            waited = true;
        } else if (!lagging_) {
            // A read that outlasts the wait is late for the next snapshot too.
            waited = done_.wait_for(lock, kReadWait, readIn);
            lagging_ = !waited;
        }
        if (waited && failed_ == read) return {};
        if (!waited) staleAnswers_ = true;
    }
    const auto space = session_.space();
    if (listFrom_ == shownReads_ && space == space_) return list_;
    listFrom_ = shownReads_;
    space_ = space;
    list_.clear();
    list_.reserve(shown_.size());
    for (const auto& shown : shown_) {
        list_.push_back(shown.info);
        if (shown.rootBounds) list_.back().bounds = space_.topLeftFromRoot(*shown.rootBounds);
    }
    return list_;
}

void X11WindowList::readWhenAsked() {
    std::unique_lock lock(mutex_);
    for (;;) {
        asked_.wait(lock, [this] { return wanted_ || ending_; });
        if (ending_) return;
        wanted_ = false;
        const std::uint64_t number = ++started_;
        lock.unlock();
        const auto began = std::chrono::steady_clock::now();
        const bool ok = read(changes_->take().staleWindows);
        std::vector<Shown> shown;
        if (ok) {
            shown.reserve(order_.size());
            for (const auto w : order_) {
                const Known& k = known_[w];
                // The wallpaper window is no content the scans look at; hidden windows are not on screen.
                if (!k.level || k.hidden) continue;
                WindowInfo info;
                info.number = w;
                info.layer = *k.level;
                info.ownerPID = k.pid;
                info.ownerName = k.ownerName;
                info.alpha = k.alpha;
                shown.push_back({std::move(info), k.rootBounds});
            }
        }
        const bool slow = std::chrono::steady_clock::now() - began > kReadWait;
        lock.lock();
        finished_ = number;
        lagging_ = slow;
        if (ok) {
            shown_ = std::move(shown);
            ++shownReads_;
        } else {
            failed_ = number;
        }
        done_.notify_all();
        if (ending_) return;
        // A reader that did not wait for this list has an older one: the move tells it to look again. A
        // failed read is asked again by the next snapshot.
        const bool tell = !ok || std::exchange(staleAnswers_, false);
        if (!tell) continue;
        lock.unlock();
        if (ok)
            changes_->markRead();
        else
            changes_->markChanged();
        lock.lock();
    }
}

std::optional<int> X11WindowList::levelOf(const std::vector<std::uint32_t>& types,
                                          const std::vector<std::uint32_t>& states, bool overrideRedirect,
                                          std::optional<int> declaredLevel) const {
    // Atom names seen in types and states; others are of no interest to the levels.
    auto namesOf = [this](const std::vector<std::uint32_t>& atoms) {
        std::vector<std::string> out;
        for (auto a : atoms)
            if (auto it = atomNames_.find(a); it != atomNames_.end()) out.push_back(it->second);
        return out;
    };
    return windowLevelFor({namesOf(types), namesOf(states), overrideRedirect, declaredLevel});
}

bool X11WindowList::read(const std::vector<std::uint32_t>& staleWindows) {
    auto& connection = session_.desktop();
    auto* c = connection.get();
    const xcb_window_t root = connection.root();
    auto atom = [&connection](const std::string& n) { return connection.atom(n); };

    // Round trip 1: the root's children (bottom to top) and the managed clients, and, asked beside them on
    // the guess that the last read's windows are still there (as after a move or a restack), the geometry of
    // the windows it described. A change that leaves the set of windows as it was, the most common one, then
    // costs this round trip alone; what the guess missed is asked below, what it asked in vain is dropped.
    const auto noticesBefore = changes_->childNotices();
    auto treeAsk = xcb_query_tree(c, root);
    auto stackingAsk = x11::askProperty(c, root, atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW, 8192);
    std::unordered_map<xcb_window_t, xcb_get_geometry_cookie_t> geometryAsks;
    geometryAsks.reserve(order_.size());
    for (auto w : order_)
        if (auto it = known_.find(w); it != known_.end())
            geometryAsks.emplace(it->second.topLevel, xcb_get_geometry(c, it->second.topLevel));
    // Whatever is left unused is dropped unread, however this read ends.
    struct Discard {
        xcb_connection_t* c;
        std::unordered_map<xcb_window_t, xcb_get_geometry_cookie_t>& geometries;
        ~Discard() {
            for (const auto& [w, ask] : geometries) xcb_discard_reply(c, ask.sequence);
        }
    } discard{c, geometryAsks};
    auto tree = x11::awaitReply<xcb_query_tree_reply_t>(c, treeAsk.sequence, ending_);
    auto stacking = x11::awaitReply<xcb_get_property_reply_t>(c, stackingAsk.sequence, ending_);
    // A list that is ending stops between round trips; what the last one asked and nobody read is dropped.
    if (!tree || ending_) return false;
    const auto* first = xcb_query_tree_children(tree.get());
    const std::vector<xcb_window_t> children(first, first + xcb_query_tree_children_length(tree.get()));
    const int childCount = static_cast<int>(children.size());
    const auto clients = x11::values32(stacking.get());

    // Round trip 2, only when there are top-level windows no notice told of or new clients: the attributes
    // of those windows (the others' states come from their notices: a client making thousands of windows
    // costs no request), and the parent of each client not seen before (or whose frame is gone, as after a
    // window-manager restart).
    const auto states = changes_->childStates(children);
    std::vector<std::pair<std::size_t, xcb_get_window_attributes_cookie_t>> attrAsks;
    for (std::size_t i = 0; i < children.size(); ++i)
        if (!states[i]) attrAsks.emplace_back(i, xcb_get_window_attributes(c, children[i]));
    const std::unordered_set<xcb_window_t> rootChildren(children.begin(), children.end());
    std::vector<std::pair<xcb_window_t, xcb_query_tree_cookie_t>> parentAsks;
    std::unordered_map<xcb_window_t, xcb_window_t> clientOfTopLevel;
    for (auto client : clients) {
        if (auto it = known_.find(client); it != known_.end() && rootChildren.count(it->second.topLevel))
            clientOfTopLevel[it->second.topLevel] = client;
        else
            parentAsks.emplace_back(client, xcb_query_tree(c, client));
    }
    using TopLevel = WindowListChanges::ChildState;
    std::unordered_map<xcb_window_t, TopLevel> topLevels;
    for (std::size_t i = 0; i < children.size(); ++i)
        if (states[i]) topLevels[children[i]] = *states[i];
    std::vector<std::pair<std::uint32_t, TopLevel>> learnt;
    for (const auto& [i, ask] : attrAsks) {
        auto a = x11::awaitReply<xcb_get_window_attributes_reply_t>(c, ask.sequence, ending_);
        if (!a) continue;
        const TopLevel state{a->map_state == XCB_MAP_STATE_VIEWABLE, a->override_redirect != 0};
        topLevels[children[i]] = state;
        learnt.emplace_back(children[i], state);
    }
    changes_->learnChildStates(learnt, noticesBefore, children);
    // A client's top-level window is its frame (the window manager's parent), or itself when not reparented.
    // Iconified windows and those on other desktops have unmapped frames and drop out below.
    std::vector<std::pair<xcb_window_t, xcb_window_t>> pending;  // (client, ancestor still below the root)
    for (auto& [client, ask] : parentAsks) {
        auto t = x11::awaitReply<xcb_query_tree_reply_t>(c, ask.sequence, ending_);
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
        if (ending_) return false;
        std::vector<xcb_query_tree_cookie_t> asks;
        for (auto& [client, ancestor] : pending) asks.push_back(xcb_query_tree(c, ancestor));
        std::vector<std::pair<xcb_window_t, xcb_window_t>> next;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            auto t = x11::awaitReply<xcb_query_tree_reply_t>(c, asks[i].sequence, ending_);
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

    if (ending_) return false;
    // Round trip 3, pipelined, only for what the first one did not ask: the geometry of every window (a
    // top-level window's is the outer bounds: a frame's includes the decorations, and top-level positions
    // are root coordinates), and the properties of the windows not seen before or whose properties
    // changed. A new window's property changes are followed from before its properties are asked, so that
    // no change slips between the two. A managed window's process, types and class are those the client
    // list's reading found, unless they changed since: the server is asked only for what it has not read.
    const std::unordered_set<std::uint32_t> stale(staleWindows.begin(), staleWindows.end());
    const auto listed = session_.clients().current();
    struct Asks {
        xcb_get_geometry_cookie_t geometry;
        bool fresh = false;
        const x11::ClientFacts* facts = nullptr;
        xcb_get_property_cookie_t pid{0}, type{0}, wmClass{0}, state{0}, opacity{0}, level{0};
    };
    std::unordered_map<std::uint32_t, Known> seen;
    std::vector<Asks> asks(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto w = entries[i].window;
        auto& a = asks[i];
        if (auto it = geometryAsks.find(entries[i].topLevel); it != geometryAsks.end()) {
            a.geometry = it->second;
            geometryAsks.erase(it);
        } else {
            a.geometry = xcb_get_geometry(c, entries[i].topLevel);
        }
        auto old = known_.find(w);
        Known& k = seen[w];
        if (old != known_.end()) k = old->second;
        a.fresh = old == known_.end() || stale.count(w) || old->second.managed != entries[i].managed;
        if (!k.selection)
            k.selection =
                std::make_shared<Subscription>(session_.selectEvents(w, XCB_EVENT_MASK_PROPERTY_CHANGE));
        k.topLevel = entries[i].topLevel;
        k.managed = entries[i].managed;
        if (!a.fresh) continue;
        a.facts = entries[i].managed ? listed.find(w) : nullptr;
        if (!a.facts) {
            a.pid = x11::askProperty(c, w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 1);
            a.type = x11::askProperty(c, w, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32);
            a.wmClass = x11::askProperty(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256);
        }
        a.state = x11::askProperty(c, w, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32);
        a.opacity = x11::askProperty(c, w, atom("_NET_WM_WINDOW_OPACITY"), XCB_ATOM_CARDINAL, 1);
        // Only our own overlays declare a level, and they bypass the window manager.
        if (!entries[i].managed) a.level = x11::askProperty(c, w, atom(kLevelProperty), XCB_ATOM_CARDINAL, 1);
    }

    auto reply = [this, c](xcb_get_property_cookie_t ask) {
        return ask.sequence ? x11::awaitReply<xcb_get_property_reply_t>(c, ask.sequence, ending_)
                            : x11::Owned<xcb_get_property_reply_t>(nullptr, &std::free);
    };
    std::vector<std::size_t> missingPID;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto& a = asks[i];
        Known& k = seen[entries[i].window];
        if (auto g = x11::awaitReply<xcb_get_geometry_reply_t>(c, a.geometry.sequence, ending_)) {
            const double border = g->border_width;
            k.rootBounds = Rect(g->x, g->y, g->width + 2 * border, g->height + 2 * border);
        } else {
            k.rootBounds.reset();
        }
        if (!a.fresh) continue;
        auto pid = reply(a.pid);
        auto type = reply(a.type);
        auto wmClass = reply(a.wmClass);
        auto state = reply(a.state);
        auto opacity = reply(a.opacity);
        std::vector<std::uint32_t> types;
        std::string instance, cls;
        if (a.facts) {
            if (a.facts->pid != 0) k.pid = a.facts->pid;
            types = a.facts->types;
            instance = a.facts->instanceName;
            cls = a.facts->windowClass;
        } else {
            // A process found through the X-Resource extension stays the window's.
            if (auto v = x11::values32(pid.get()); !v.empty() && v[0] != 0)
                k.pid = static_cast<std::int32_t>(v[0]);
            types = x11::values32(type.get());
            std::tie(instance, cls) = x11::splitWindowClass(x11::bytes8(wmClass.get()));
        }
        if (!cls.empty() || !instance.empty()) k.ownerName = !cls.empty() ? cls : instance;
        std::optional<int> declaredLevel;
        if (a.level.sequence) {
            auto level = reply(a.level);
            if (auto v = x11::values32(level.get()); !v.empty())
                declaredLevel = static_cast<std::int32_t>(v[0]);
        }
        const auto states = x11::values32(state.get());
        k.level = levelOf(types, states, !entries[i].managed, declaredLevel);
        k.hidden = std::find(states.begin(), states.end(), hiddenAtom_) != states.end();
        const auto opacityValues = x11::values32(opacity.get());
        k.alpha = opacityValues.empty() ? 1.0 : opacityValues[0] / double(0xffffffffu);
        if (!k.pid) missingPID.push_back(i);
    }
    if (ending_) return false;
    // Round trip 4, only for new windows that do not state their process: ask the X-Resource extension.
    std::vector<xcb_res_query_client_ids_cookie_t> pidAsks;
    for (auto i : missingPID) pidAsks.push_back(x11::askClientProcess(c, entries[i].window));
    for (std::size_t j = 0; j < missingPID.size(); ++j) {
        auto& k = seen[entries[missingPID[j]].window];
        auto answer = x11::awaitReply<xcb_res_query_client_ids_reply_t>(c, pidAsks[j].sequence, ending_);
        k.pid = x11::clientProcess(answer.get());
        if (k.ownerName.empty() && k.pid) k.ownerName = x11::processName(*k.pid);
    }
    if (ending_) return false;
    // Windows that are gone are forgotten (and no longer followed), so the cache never outgrows the desktop.
    known_ = std::move(seen);
    order_.clear();
    for (const auto& e : entries) order_.push_back(e.window);
    return true;
}

}  // namespace velaro
