// Overlay windows on X11: frameless override-redirect Qt windows that take no focus, and no input unless
// their owner asks for the mouse, painted through a backing store, ARGB while a compositor runs and cut to
// their painted shape while none does, and kept in their place in the stack by level with ConfigureWindow
// requests.
#include "platform/linux/QtOverlayWindowHost.h"

#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <QtGui/qguiapplication_platform.h>
#include <QBackingStore>
#include <QGuiApplication>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "base/Log.h"
#include "base/MainLoop.h"
#include "platform/linux/QtOverlayGLSurface.h"
#include "platform/linux/QtOverlayInput.h"
#include "platform/linux/QtOverlayShmStore.h"
#include "platform/linux/QtOverlayStorePainter.h"
#include "platform/linux/X11OverlayStack.h"
#include "platform/linux/X11Session.h"

namespace velaro {

namespace {

constexpr const char* kTag = "OVERLAY-WINDOW";
// How long before its display refresh begins a window's picture may go out, as a share of the refresh.
constexpr double kFlushSlack = 0.25;
// How many flushes in a row may wait before the flushes step back in line with the pictures, and the
// shortest wait that counts: one the loop sleeps through (its timers count whole milliseconds), a wake-up
// of its own for every picture.
constexpr int kLateFlushesBeforeStep = 3;
constexpr double kLateWait = 0.0005;
// How soon a paint that found both of a window's buffers still read by the server tries again, in seconds.
constexpr double kBufferRetry = 0.002;

}  // namespace

QRegion overlayShapeFromImage(const QImage& source, double devicePixelRatio) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const double dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    auto toPoints = [dpr](int v, bool up) {
        return static_cast<int>(up ? std::ceil(v / dpr - 1e-9) : std::floor(v / dpr + 1e-9));
    };
    // Rows with the same runs of painted pixels share one band of rectangles, so a plain band or a
    // rectangle becomes a single rectangle and the X server gets few of them.
    std::vector<QRect> rects;
    std::vector<std::pair<int, int>> previousRuns, runs;
    std::size_t bandStart = 0;
    int previousTop = -1;
    for (int y = 0; y <= image.height(); ++y) {
        runs.clear();
        if (y < image.height()) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width();) {
                while (x < image.width() && qAlpha(row[x]) == 0) ++x;
                const int start = x;
                while (x < image.width() && qAlpha(row[x]) != 0) ++x;
                if (x > start) runs.emplace_back(start, x);
            }
        }
        const int top = toPoints(y, false);
        if (runs == previousRuns && y < image.height()) continue;
        // Close the previous band at this row, in points.
        for (std::size_t i = bandStart; i < rects.size(); ++i) rects[i].setBottom(toPoints(y, true) - 1);
        bandStart = rects.size();
        for (const auto& [x0, x1] : runs) {
            const int left = toPoints(x0, false), right = toPoints(x1, true);
            rects.emplace_back(left, top, right - left, 1);
        }
        previousRuns = runs;
        previousTop = top;
    }
    (void)previousTop;
    QRegion region;
    if (dpr == 1.0) {
        region.setRects(rects.data(), static_cast<int>(rects.size()));
    } else {
        // Rounded outwards, neighbouring bands may overlap by a point: let QRegion merge them.
        for (const QRect& r : rects) region += r;
    }
    return region;
}

// MARK: the X side

// Reads what the stacking needs from the X server and watches it change: the root's children, the
// monitors, the docks, the active and the desktop window, and the compositor's selection. Requests go
// over Qt's own connection (the session's toolkit role) so they stay in order with Qt's map and configure
// requests; events arrive through the session's desktop connection, so selecting them never disturbs what
// Qt selected on the root.
class X11OverlayDesktop {
public:
    static std::unique_ptr<X11OverlayDesktop> open(X11Session* session) {
        if (!session || !session->toolkit()) return nullptr;
        return std::unique_ptr<X11OverlayDesktop>(new X11OverlayDesktop(*session));
    }

    std::function<void()> onStackEvent;
    std::function<void(bool)> onCompositorChanged;
    std::function<bool(std::uint32_t)> isOwn;
    std::function<std::vector<std::uint32_t>()> ownWindows;

    bool hasXFixes() const { return xfixes_; }
    bool hasShapeInput() const { return shapeInput_; }
    bool compositorRunning() const { return compositor_; }

    // The desktop as the stacking needs it, and in `foreignTops` the root's child holding each window of
    // `foreign` (0 where none). Every question goes out before any answer is read, so that a check costs
    // one round trip while nothing unforeseen changed since the last one (the docks in the frames they had,
    // the same window active), and a few more when something did: children no notice told of, a dock's new
    // frame, another active window, a frame inside a frame.
    x11::StackEnvironment snapshot(const std::vector<std::uint32_t>& foreign,
                                   std::vector<std::uint32_t>& foreignTops) {
        x11::StackEnvironment env;
        foreignTops.assign(foreign.size(), 0);
        const auto treeAsk = xcb_query_tree(conn_, root_);
        // Our own windows are mapped and unmapped by requests on this connection, ahead of their notices (and
        // their notices start no check): asked every time, together with the children whose notices said
        // they changed. Children no notice told of are asked once the tree names them.
        std::vector<xcb_window_t> guessed = ownWindows ? ownWindows() : std::vector<std::uint32_t>{};
        guessed.insert(guessed.end(), changed_.begin(), changed_.end());
        changed_.clear();
        const auto guessedAsk = askStates(guessed);
        std::optional<AnchorAsk> anchors;
        if (anchorsDirty_) anchors = askAnchors();
        std::vector<Climb> climbs(foreign.size());
        for (std::size_t i = 0; i < foreign.size(); ++i) {
            climbs[i].at = foreign[i];
            ask(climbs[i]);
        }

        auto tree = x11::own(xcb_query_tree_reply(conn_, treeAsk, nullptr));
        const auto guessedStates = readStates(guessedAsk);
        if (anchors) readFirst(*anchors);
        for (auto& climb : climbs) read(climb);
        if (!tree) return env;
        const xcb_window_t* first = xcb_query_tree_children(tree.get());
        const std::vector<xcb_window_t> children(first, first + xcb_query_tree_children_length(tree.get()));
        std::unordered_map<xcb_window_t, ChildState> told;
        for (std::size_t i = 0; i < guessed.size(); ++i) told[guessed[i]] = guessedStates[i];
        std::vector<xcb_window_t> unknown;
        for (auto child : children) {
            if (const auto it = told.find(child); it != told.end())
                childStates_[child] = it->second;
            else if ((isOwn && isOwn(child)) || !childStates_.contains(child))
                unknown.push_back(child);
        }
        // The active window, when another one than last time, is asked with the children left unknown.
        const auto unknownAsk = askStates(unknown);
        if (anchors) askActive(*anchors);
        const auto states = readStates(unknownAsk);
        if (anchors) read(anchors->activeClimb);
        for (std::size_t i = 0; i < unknown.size(); ++i) childStates_[unknown[i]] = states[i];
        if (childStates_.size() > children.size()) {
            const std::unordered_set<xcb_window_t> present(children.begin(), children.end());
            std::erase_if(childStates_, [&](const auto& entry) { return !present.contains(entry.first); });
        }
        for (auto child : children) {
            const auto it = childStates_.find(child);
            const auto* state = it == childStates_.end() ? nullptr : &it->second;
            if (!state || !state->known) continue;  // gone meanwhile
            env.stack.push_back({child, state->viewable, state->overrideRedirect});
        }
        children_.clear();
        for (const auto& child : env.stack) children_.insert(child.id);

        // The rest of each climb, a level a round trip for all of them together.
        std::vector<Climb*> all;
        for (auto& climb : climbs) all.push_back(&climb);
        if (anchors) {
            for (auto& climb : anchors->climbs) all.push_back(&climb);
            all.push_back(&anchors->activeClimb);
        }
        for (;;) {
            bool asked = false;
            for (auto* climb : all) {
                advance(*climb);
                asked = ask(*climb) || asked;
            }
            if (anchors) asked = askFrameGeometries(*anchors) || asked;
            if (!asked) break;
            for (auto* climb : all) read(*climb);
            if (anchors) readFrameGeometries(*anchors);
        }
        for (std::size_t i = 0; i < climbs.size(); ++i) foreignTops[i] = climbs[i].at;
        if (anchors) takeAnchors(*anchors);
        env.monitors = monitors_;
        env.docks = docks_;
        env.activeFrame = activeFrame_;
        env.desktopFrame = desktopFrame_;
        return env;
    }

    void apply(const std::vector<x11::StackOperation>& operations) {
        for (const auto& op : operations) {
            const std::uint32_t mode =
                op.above ? std::uint32_t{XCB_STACK_MODE_ABOVE} : std::uint32_t{XCB_STACK_MODE_BELOW};
            if (op.sibling) {
                const std::uint32_t values[] = {op.sibling, mode};
                xcb_configure_window(conn_, op.window,
                                     XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values);
            } else {
                const std::uint32_t values[] = {mode};
                xcb_configure_window(conn_, op.window, XCB_CONFIG_WINDOW_STACK_MODE, values);
            }
        }
        xcb_flush(conn_);
    }

    // Qt gives the windows an empty XFixes input region; where XFixes is missing, SHAPE's input kind does it.
    void clearInputShape(std::uint32_t window) {
        if (xfixes_ || !shapeInput_) return;
        xcb_shape_rectangles(conn_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED, window,
                             0, 0, 0, nullptr);
    }
    // The whole window takes input again (the SHAPE side of a window that takes the mouse).
    void restoreInputShape(std::uint32_t window) {
        if (xfixes_ || !shapeInput_) return;
        xcb_shape_mask(conn_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, window, 0, 0, XCB_NONE);
        xcb_flush(conn_);
    }

    void flush() { xcb_flush(conn_); }

private:
    explicit X11OverlayDesktop(X11Session& session) : session_(session), conn_(session.toolkit()) {
        auto& desktop = session_.desktop();
        root_ = desktop.root();
        desktop.intern({"_NET_ACTIVE_WINDOW", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DOCK",
                        "_NET_WM_WINDOW_TYPE_DESKTOP"});
        activeAtom_ = desktop.atom("_NET_ACTIVE_WINDOW");
        dockAtom_ = desktop.atom("_NET_WM_WINDOW_TYPE_DOCK");
        desktopAtom_ = desktop.atom("_NET_WM_WINDOW_TYPE_DESKTOP");
        cmAtom_ = x11::compositorSelection(desktop);

        const auto* fixes = xcb_get_extension_data(conn_, &xcb_xfixes_id);
        xfixes_ = fixes && fixes->present;
        const auto* shape = xcb_get_extension_data(conn_, &xcb_shape_id);
        if (shape && shape->present) {
            auto version =
                x11::own(xcb_shape_query_version_reply(conn_, xcb_shape_query_version(conn_), nullptr));
            shapeInput_ = version && (version->major_version > 1 ||
                                      (version->major_version == 1 && version->minor_version >= 1));
        }
        compositor_ = x11::compositorRunning(conn_, cmAtom_);
        startWatching();
    }

    void startWatching() {
        auto& desktop = session_.desktop();
        auto* watch = desktop.get();
        rootSelection_ =
            session_.selectEvents(root_, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
        const auto* fixes = xcb_get_extension_data(watch, &xcb_xfixes_id);
        if (fixes && fixes->present && cmAtom_ != XCB_ATOM_NONE) {
            // XFixes answers nothing until a client has told it the version it speaks.
            x11::own(xcb_xfixes_query_version_reply(watch, xcb_xfixes_query_version(watch, 5, 0), nullptr));
            fixesEventBase_ = fixes->first_event;
            xcb_xfixes_select_selection_input(watch, root_, cmAtom_,
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                                  XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                                  XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
            xcb_flush(watch);
        }
        handler_ = session_.addEventHandler([this](const xcb_generic_event_t& event) {
            bool stack = false, compositor = false;
            handle(event, &stack, &compositor);
            if (compositor) {
                const bool now = x11::compositorRunning(conn_, cmAtom_);
                if (now != compositor_) {
                    compositor_ = now;
                    if (onCompositorChanged) onCompositorChanged(now);
                }
            }
            if (stack && onStackEvent) onStackEvent();
        });
        screensChanged_ = session_.screensChanged().sink([this](int) {
            anchorsDirty_ = true;
            if (onStackEvent) onStackEvent();
        });
        anchorClients_ = anchorClients();
        clientChanges_ = session_.clients().changed().sink([this](int) {
            auto anchors = anchorClients();
            if (anchors == anchorClients_) return;
            anchorClients_ = std::move(anchors);
            anchorsDirty_ = true;
            if (onStackEvent) onStackEvent();
        });
    }

    void handle(const xcb_generic_event_t& event, bool* stack, bool* compositor) {
        const std::uint8_t type = event.response_type & 0x7f;
        auto foreign = [this](xcb_window_t w) { return !isOwn || !isOwn(w); };
        switch (type) {
            case XCB_CREATE_NOTIFY: {
                // Not in the stack until it is mapped, and its state is told here: a client making thousands
                // of windows costs no round trip and no check.
                const auto& e = reinterpret_cast<const xcb_create_notify_event_t&>(event);
                if (e.parent == root_) childStates_[e.window] = {true, false, e.override_redirect != 0};
                return;
            }
            case XCB_CONFIGURE_NOTIFY: {
                const auto& e = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
                // Only the root's children move in the stack; other windows' notices come for other services.
                if (e.event != root_) return;
                childStates_.erase(e.window);
                if (!foreign(e.window)) return;
                changed_.insert(e.window);
                for (const auto& dock : docks_)
                    if (dock.frame == e.window) anchorsDirty_ = true;
                *stack = true;
                return;
            }
            case XCB_DESTROY_NOTIFY: {
                // A window that was mapped told of its unmapping first: one going unmapped leaves the stack
                // as it was.
                const auto& e = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
                if (e.event != root_) return;
                childStates_.erase(e.window);
                changed_.erase(e.window);
                return;
            }
            case XCB_MAP_NOTIFY:
            case XCB_UNMAP_NOTIFY:
            case XCB_REPARENT_NOTIFY: {
                // All three carry the event window, then the window.
                const auto& e = reinterpret_cast<const xcb_map_notify_event_t&>(event);
                if (e.event != root_) return;
                childStates_.erase(e.window);
                if (!foreign(e.window)) return;
                changed_.insert(e.window);
                anchorsDirty_ = true;
                *stack = true;
                return;
            }
            case XCB_PROPERTY_NOTIFY: {
                const auto& e = reinterpret_cast<const xcb_property_notify_event_t&>(event);
                if (e.window != root_) return;
                if (e.atom == activeAtom_) {
                    anchorsDirty_ = true;
                    *stack = true;
                }
                return;
            }
            default:
                break;
        }
        if (fixesEventBase_ && type == fixesEventBase_ + XCB_XFIXES_SELECTION_NOTIFY) *compositor = true;
    }

    // What the stacking needs of a root child.
    struct ChildState {
        bool known = false;  // false: gone before it was asked
        bool viewable = false;
        bool overrideRedirect = false;
    };
    std::vector<xcb_get_window_attributes_cookie_t> askStates(const std::vector<xcb_window_t>& children) {
        std::vector<xcb_get_window_attributes_cookie_t> cookies;
        cookies.reserve(children.size());
        for (auto child : children) cookies.push_back(xcb_get_window_attributes(conn_, child));
        return cookies;
    }
    std::vector<ChildState> readStates(const std::vector<xcb_get_window_attributes_cookie_t>& cookies) {
        std::vector<ChildState> states(cookies.size());
        for (std::size_t i = 0; i < cookies.size(); ++i) {
            auto attributes = x11::own(xcb_get_window_attributes_reply(conn_, cookies[i], nullptr));
            if (attributes)
                states[i] = {true, attributes->map_state == XCB_MAP_STATE_VIEWABLE,
                             attributes->override_redirect != 0};
        }
        return states;
    }

    // The way up from a window to the root's child that holds it (its window-manager frame, or the window
    // itself): a tree query a level, asked along with the other questions of the same round trip.
    struct Climb {
        enum class Step : std::uint8_t { toAsk, asked, answered, done };
        xcb_window_t at = 0;  // the window whose parent is asked; once done, the root's child (0: none)
        Step step = Step::toAsk;
        int levels = 0;  // parents gone up to
        xcb_query_tree_cookie_t cookie{};
        std::optional<xcb_window_t> parent;  // the answer; absent when the window was gone
    };
    // Asks for the parent where the climb waits for one; whether it did.
    bool ask(Climb& climb) {
        if (climb.step != Climb::Step::toAsk) return false;
        climb.cookie = xcb_query_tree(conn_, climb.at);
        climb.step = Climb::Step::asked;
        return true;
    }
    void read(Climb& climb) {
        if (climb.step != Climb::Step::asked) return;
        auto tree = x11::own(xcb_query_tree_reply(conn_, climb.cookie, nullptr));
        climb.parent = tree ? std::optional<xcb_window_t>(tree->parent) : std::nullopt;
        climb.step = Climb::Step::answered;
    }
    // Goes up as far as the answers read so far and the root's children (as the snapshot found them) take
    // the climb.
    void advance(Climb& climb) const {
        constexpr int kDeepest = 16;
        while (climb.step != Climb::Step::done) {
            if (climb.at == 0 || climb.levels == kDeepest || children_.count(climb.at)) {
                if (climb.at != 0 && climb.levels == kDeepest) climb.at = 0;
                if (climb.step == Climb::Step::asked) xcb_discard_reply(conn_, climb.cookie.sequence);
                climb.step = Climb::Step::done;
                return;
            }
            if (climb.step != Climb::Step::answered) return;
            if (!climb.parent) {
                climb.at = 0;
            } else if (*climb.parent != root_) {
                climb.at = *climb.parent;
                ++climb.levels;
                climb.step = Climb::Step::toAsk;
                continue;
            }
            climb.step = Climb::Step::done;
        }
    }

    // What the stacking takes a client for: its first type of the two that matter, as the client list's
    // reading found it (read off the main loop, when the window was first listed).
    enum class ClientKind : std::uint8_t { other, dock, desktop };
    ClientKind kindOf(const x11::ClientFacts* facts) const {
        if (facts)
            for (const auto type : facts->types)
                if (type == dockAtom_ || type == desktopAtom_)
                    return type == dockAtom_ ? ClientKind::dock : ClientKind::desktop;
        return ClientKind::other;
    }
    // The docks and the desktop window among the listed clients: a new reading of the list moves the
    // anchors only when these changed, not whenever any client rewrote the list.
    std::vector<std::pair<xcb_window_t, ClientKind>> anchorClients() const {
        std::vector<std::pair<xcb_window_t, ClientKind>> anchors;
        const auto reading = session_.clients().reading();
        for (auto client : reading->windows)
            if (const auto kind = kindOf(reading->find(client)); kind != ClientKind::other)
                anchors.emplace_back(client, kind);
        return anchors;
    }

    // The anchors' questions: the active window, the way up from each dock and desktop window, and the
    // geometry of each dock's frame. Asked on the guess that the docks still have the frames they had and
    // the active window is the same, which holds but after a panel restarts or the focus moves.
    struct AnchorAsk {
        std::vector<std::pair<xcb_window_t, ClientKind>> clients;
        std::vector<Climb> climbs;  // one per client
        struct Geometry {
            xcb_window_t of = 0;  // the window asked about, 0 before any
            bool asked = false;
            xcb_get_geometry_cookie_t cookie{};
            x11::Owned<xcb_get_geometry_reply_t> reply{nullptr, &std::free};
        };
        std::vector<Geometry> geometries;  // one per client, docks only
        xcb_get_property_cookie_t activeAsk{};
        xcb_window_t active = 0, guessedActive = 0;
        Climb activeClimb;
    };
    AnchorAsk askAnchors() {
        AnchorAsk a;
        a.clients = anchorClients_;
        a.activeAsk = x11::askProperty(conn_, root_, activeAtom_, XCB_ATOM_WINDOW, 4096);
        a.climbs.resize(a.clients.size());
        a.geometries.resize(a.clients.size());
        for (std::size_t i = 0; i < a.clients.size(); ++i) {
            a.climbs[i].at = a.clients[i].first;
            ask(a.climbs[i]);
            const auto frame = dockFrames_.find(a.clients[i].first);
            if (a.clients[i].second == ClientKind::dock && frame != dockFrames_.end())
                askGeometry(a.geometries[i], frame->second);
        }
        a.guessedActive = active_;
        a.activeClimb.at = active_;
        if (active_) ask(a.activeClimb);
        return a;
    }
    void askGeometry(AnchorAsk::Geometry& geometry, xcb_window_t frame) {
        geometry.of = frame;
        geometry.asked = true;
        geometry.cookie = xcb_get_geometry(conn_, frame);
    }
    void readFirst(AnchorAsk& a) {
        auto reply = x11::own(xcb_get_property_reply(conn_, a.activeAsk, nullptr));
        const auto active = x11::values32(reply.get());
        a.active = active.empty() ? 0 : active.front();
        for (auto& climb : a.climbs) read(climb);
        read(a.activeClimb);
        readFrameGeometries(a);
    }
    // Another window than last time is active: its way up starts now.
    void askActive(AnchorAsk& a) {
        if (a.active == a.guessedActive) return;
        a.activeClimb = Climb{};
        a.activeClimb.at = a.active;
        if (a.active) ask(a.activeClimb);
    }
    // Each dock's frame that is found, and was not the one guessed; whether any was asked.
    bool askFrameGeometries(AnchorAsk& a) {
        bool asked = false;
        for (std::size_t i = 0; i < a.clients.size(); ++i) {
            const auto& climb = a.climbs[i];
            if (a.clients[i].second != ClientKind::dock || climb.step != Climb::Step::done || climb.at == 0 ||
                a.geometries[i].of == climb.at)
                continue;
            askGeometry(a.geometries[i], climb.at);
            asked = true;
        }
        return asked;
    }
    void readFrameGeometries(AnchorAsk& a) {
        for (auto& geometry : a.geometries) {
            if (!geometry.asked) continue;
            geometry.asked = false;
            geometry.reply = x11::own(xcb_get_geometry_reply(conn_, geometry.cookie, nullptr));
        }
    }
    void takeAnchors(AnchorAsk& a) {
        anchorsDirty_ = false;
        monitors_.clear();
        for (const auto& monitor : session_.screens().monitors) monitors_.push_back(monitor.root);

        docks_.clear();
        dockFrames_.clear();
        desktopFrame_ = 0;
        for (std::size_t i = 0; i < a.clients.size(); ++i) {
            const auto frame = a.climbs[i].at;
            if (a.clients[i].second == ClientKind::dock) {
                const auto& geometry = a.geometries[i].reply;
                if (frame && geometry && a.geometries[i].of == frame) {
                    docks_.push_back(
                        {frame, Rect(geometry->x, geometry->y, geometry->width, geometry->height)});
                    dockFrames_[a.clients[i].first] = frame;
                }
            } else if (!desktopFrame_) {
                desktopFrame_ = frame;
            }
        }
        active_ = a.active;
        activeFrame_ = a.active ? a.activeClimb.at : 0;
    }

    X11Session& session_;
    xcb_connection_t* conn_;
    xcb_window_t root_ = 0;
    xcb_atom_t activeAtom_ = 0, dockAtom_ = 0, desktopAtom_ = 0, cmAtom_ = 0;
    bool xfixes_ = false, shapeInput_ = false, compositor_ = false;
    std::uint8_t fixesEventBase_ = 0;
    Subscription rootSelection_;
    Subscription handler_;
    Subscription screensChanged_;
    std::set<std::uint32_t> children_;
    bool anchorsDirty_ = true;
    Subscription clientChanges_;
    std::vector<std::pair<xcb_window_t, ClientKind>> anchorClients_;
    // Each root child's state, told by its creation or read when the child is first seen, and read again
    // after a notice of its own says it changed: with thousands of root children (unmapped windows of a busy
    // session) every check would otherwise ask for each of them.
    std::unordered_map<xcb_window_t, ChildState> childStates_;
    // Children whose notices said they changed since the last snapshot: asked right away by the next.
    std::unordered_set<xcb_window_t> changed_;
    std::vector<Rect> monitors_;
    std::vector<x11::Dock> docks_;
    std::uint32_t activeFrame_ = 0, desktopFrame_ = 0;
    // What the anchors' last reading found, the guess for the next: each dock's frame, the active window.
    std::unordered_map<xcb_window_t, xcb_window_t> dockFrames_;
    xcb_window_t active_ = 0;
};

// MARK: the Qt side

class QtOverlayWindow;

// The native window: paints the owner's content through a backing store, whole, on every update; or, for a
// GL-surface window, leaves the drawing to the owner's OpenGL context.
class QtOverlaySurface final : public QWindow {
public:
    QtOverlaySurface(QtOverlayWindow& owner, const std::string& name, bool translucent,
                     QtOverlayGLSurface* gl);
    void renderNow();
    const QRegion& shape() const { return shape_; }
    bool hasPaintedShape() const { return painted_; }

protected:
    void exposeEvent(QExposeEvent*) override {
        painter_.paintWholeNext();
        if (isExposed()) renderNow();
    }
    // Mouse events arrive only while the owner takes the mouse; a double click's second press comes as a
    // press followed by a double-click event, so its release ends a double click.
    void mousePressEvent(QMouseEvent* event) override {
        clickCount_ = 1;
        deliver(*event);
    }
    void mouseDoubleClickEvent(QMouseEvent*) override { clickCount_ = 2; }
    void mouseMoveEvent(QMouseEvent* event) override { deliver(*event); }
    void mouseReleaseEvent(QMouseEvent* event) override { deliver(*event); }
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override {
        painter_.paintWholeNext();
        if (shm_ && !shm_->resize(devicePixels(), devicePixelRatio())) leaveOwnStore();
        if (store_) store_->resize(event->size());
        if (isExposed()) renderNow();
    }

private:
    void deliver(const QMouseEvent& event);
    // Shows what the backing store holds: once the updates queued now have run, or, when the window was
    // shown less than a display refresh ago, at that refresh's end, with whatever was asked for in between.
    // Each flush is an upload to the server and a repaint of the compositor, so more than one a refresh is
    // work nobody sees.
    void flushPaced();
    void flushNow();
    double refreshInterval() const;
    // Notes a flush against the refresh it belongs to.
    void countFlush();
    // Paints the owner's content into the backing store (translucent windows): the parts it can paint in,
    // and what it could paint in last time; the window's whole after an expose or a resize. Returns what
    // it painted.
    QRegion paintStore();
    // Translucent windows on X11 paint into shared memory of their own (see QtOverlayShmStore), opened at
    // the first paint; where that cannot work they stay with Qt's backing store.
    bool openOwnStore();
    void leaveOwnStore();
    // Paints into the own store and puts the result; false when no buffer is free yet.
    bool paintOwnStore();
    QSize devicePixels() const;

    QtOverlayWindow& owner_;
    std::unique_ptr<QBackingStore> store_;
    std::unique_ptr<QtOverlayShmStore> shm_;
    bool ownStoreTried_ = false;
    QtOverlayGLSurface* gl_;
    bool translucent_;
    int clickCount_ = 1;
    bool painted_ = false;
    QRegion shape_;
    // The display refresh the last flush counted against, as the uptime it began at; < 0 before the first.
    double flushSlot_ = -1;
    double firstAsked_ = 0;  // uptime of the first paint request the waiting flush takes along
    int lateFlushes_ = 0;    // flushes in a row whose first request waited
    bool flushWaits_ = false;
    double flushDue_ = 0;      // uptime the waiting flush goes out at
    Cancellable flushTimer_;   // last: a waiting flush never runs on a half-destroyed window
    bool paintWaits_ = false;  // a paint was asked for: done once, just before the flush
    QtOverlayStorePainter painter_;
};

class QtOverlayWindow final : public OverlayWindow {
public:
    QtOverlayWindow(QtOverlayWindowHost& host, const OverlayWindowOptions& options)
        : OverlayWindow(host, options), qtHost_(host) {
        if (options.surface == OverlaySurfaceKind::gl) gl_ = std::make_unique<QtOverlayGLSurface>();
        buildSurface();
    }
    ~QtOverlayWindow() override {
        detachFromHost();
        if (gl_) gl_->attach(nullptr);
        surface_.reset();
    }

    WindowNumber windowNumber() const override { return static_cast<WindowNumber>(surface_->winId()); }
    OverlayGLSurface* glSurface() override { return gl_.get(); }
    bool ownUploadAllowed() const { return qtHost_.ownUpload_; }

    // Root pixels, y down: Qt keeps a screen's origin and scales distances from it.
    Rect nativeRect() const {
        const QRect g = surface_->geometry();
        const QScreen* screen = QGuiApplication::screenAt(g.center());
        if (!screen) screen = surface_->screen();
        const double dpr = screen ? screen->devicePixelRatio() : 1.0;
        const QPoint origin = screen ? screen->geometry().topLeft() : QPoint();
        return Rect(origin.x() + (g.x() - origin.x()) * dpr, origin.y() + (g.y() - origin.y()) * dpr,
                    g.width() * dpr, g.height() * dpr);
    }

    void rebuildSurface() {
        surface_->hide();
        nativeShown_ = false;
        buildSurface();
        setNeedsDisplay();
        syncNativeVisibility(true);
    }

    void syncNativeVisibility(bool restackFirst) {
        if (qtHost_.inBatch()) return;  // the commit brings every window in line at once
        const bool translucent = qtHost_.supportsTranslucency();
        bool want = isVisible() && !frame().isEmpty() && (translucent || alphaValue() > 0);
        if (gl_) {
            // Without a compositor an ARGB GL surface is an opaque black band: it stays off screen.
            want = want && translucent;
        } else {
            // Cut to shape before the first map, or the whole rectangle would flash opaque.
            if (want && !translucent && !surface_->hasPaintedShape()) surface_->renderNow();
            want = want && (translucent || !surface_->shape().isEmpty());
        }
        if (want == nativeShown_) return;
        nativeShown_ = want;
        if (want) {
            // Placed in the stack before it is mapped, so it never flashes over the panel.
            if (restackFirst) qtHost_.restack(true);
            surface_->show();
            if (qtHost_.desktop_ && !takesMouse()) qtHost_.desktop_->clearInputShape(surface_->winId());
        } else {
            surface_->hide();
        }
    }

    // Lays the native window out again after the screens changed under an unchanged frame.
    void relayout() { surface_->setGeometry(qtHost_.qtGeometryFor(frame())); }

    MainLoop& loop() const { return qtHost_.loop(); }

    void mouse(const OverlayMouseEvent& event) { deliverMouse(event); }
    void wheel(const QWheelEvent& event) {
        if (!wheelGestures_)
            wheelGestures_ = std::make_unique<WheelGestures>(
                qtHost_.loop(), QGuiApplication::platformName() == QLatin1String("xcb"),
                [this](const OverlayMouseEvent& e) { deliverMouse(e); });
        wheelGestures_->wheel(event);
    }

protected:
    void applyFrame(const Rect& frame) override {
        surface_->setGeometry(qtHost_.qtGeometryFor(frame));
        syncNativeVisibility(true);
        if (isVisible()) qtHost_.scheduleCheck();  // it may have moved to another monitor's panel
        flushToolkit();
    }
    void applyAlpha(double alpha) override {
        if (qtHost_.supportsTranslucency()) surface_->setOpacity(alpha);
        syncNativeVisibility(true);
        flushToolkit();
    }
    void applyVisible(bool) override { syncNativeVisibility(false); }
    void paint() override {
        surface_->renderNow();
        syncNativeVisibility(true);  // without a compositor an empty shape hides the window
    }
    void applyTakesMouse(bool takes) override {
        // Qt switches the XFixes input region and the window's event mask together.
        surface_->setFlag(Qt::WindowTransparentForInput, !takes);
        if (qtHost_.desktop_) {
            if (takes)
                qtHost_.desktop_->restoreInputShape(surface_->winId());
            else if (surface_->isVisible())
                qtHost_.desktop_->clearInputShape(surface_->winId());
        }
    }

private:
    // Qt writes a window's geometry and opacity to its connection without flushing it, counting on its
    // loop to flush when it next handles X events. A change made from one of our timers (the last step of
    // a fade or a slide) could then wait in the buffer until something else reached the server.
    void flushToolkit() {
        if (qtHost_.desktop_) qtHost_.desktop_->flush();
    }

    void buildSurface() {
        auto old = std::move(surface_);
        surface_ =
            std::make_unique<QtOverlaySurface>(*this, name(), qtHost_.supportsTranslucency(), gl_.get());
        if (takesMouse()) surface_->setFlag(Qt::WindowTransparentForInput, false);
        surface_->setGeometry(qtHost_.qtGeometryFor(frame()));
        if (qtHost_.supportsTranslucency()) surface_->setOpacity(alphaValue());
        surface_->create();
        // A new native window has a new visual, so the GL side starts over with a new context.
        if (gl_) gl_->attach(surface_.get());
    }

    QtOverlayWindowHost& qtHost_;
    std::unique_ptr<QtOverlayGLSurface> gl_;
    std::unique_ptr<QtOverlaySurface> surface_;
    std::unique_ptr<WheelGestures> wheelGestures_;
    bool nativeShown_ = false;
};

QtOverlaySurface::QtOverlaySurface(QtOverlayWindow& owner, const std::string& name, bool translucent,
                                   QtOverlayGLSurface* gl)
    : owner_(owner), gl_(gl), translucent_(translucent) {
    setSurfaceType(gl ? QSurface::OpenGLSurface : QSurface::RasterSurface);
    setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint |
             Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint);
    if (gl) {
        setFormat(QtOverlayGLSurface::surfaceFormat());
    } else if (translucent) {
        QSurfaceFormat format;
        format.setAlphaBufferSize(8);
        setFormat(format);
    }
    setTitle(QString::fromStdString(name));
    if (!gl) store_ = std::make_unique<QBackingStore>(this);
}

void QtOverlaySurface::flushNow() {
    flushWaits_ = false;
    flushTimer_.cancel();
    if (paintWaits_ && isExposed() && openOwnStore()) {
        if (!paintOwnStore()) {
            // The server still reads both buffers (it lags by more than a frame): try again shortly.
            flushWaits_ = true;
            flushDue_ = owner_.loop().uptime() + kBufferRetry;
            flushTimer_ = owner_.loop().postAfter(kBufferRetry, [this] { flushNow(); });
            return;
        }
        paintWaits_ = false;
        countFlush();
        return;
    }
    if (shm_) return;  // not shown: painted whole at its expose
    QRegion shown(QRect(QPoint(), size()));
    if (std::exchange(paintWaits_, false) && isExposed()) shown = paintStore();
    countFlush();
    // Only what was painted goes to the server: each flush uploads and copies its area, and the
    // compositor repaints it.
    if (isExposed()) store_->flush(shown);
}

double QtOverlaySurface::refreshInterval() const {
    const double hz =
        screen() && screen()->refreshRate() >= 30 ? std::min(screen()->refreshRate(), 240.0) : 60.0;
    return 1 / hz;
}

void QtOverlaySurface::countFlush() {
    const double now = owner_.loop().uptime(), refresh = refreshInterval();
    lateFlushes_ = now - firstAsked_ > kLateWait ? lateFlushes_ + 1 : 0;
    flushSlot_ = flushSlot_ < 0 ? now : std::max(flushSlot_ + refresh, now);
}

void QtOverlaySurface::flushPaced() {
    MainLoop& loop = owner_.loop();
    // A window's first picture goes out at once: at launch the rest of the start-up is queued behind it.
    if (flushSlot_ < 0 && !flushWaits_) {
        firstAsked_ = loop.uptime();
        flushNow();
        return;
    }
    // One flush a refresh, but a picture that comes a little before its refresh begins goes at once and
    // counts against that refresh: frames paced at the display's rate arrive a little early or late, and
    // holding an early one back would cost a wake-up of its own every frame (and let the flushes fall
    // behind the frames for good).
    const double now = loop.uptime(), refresh = refreshInterval();
    double due = std::max(now, flushSlot_ + refresh * (1 - kFlushSlack));
    if (flushWaits_) {
        // The flush already waiting takes this paint along, unless this one may go sooner.
        if (flushDue_ <= due) return;
    } else {
        firstAsked_ = now;
        // Pictures that come once a refresh but always before it begins (the flushes fell out of step
        // with them) would each wait, and wake the loop once more. After a few such waits one goes
        // a refresh later still: the next picture, due by then, takes its place at once and the
        // refreshes are counted from it, in step with the pictures again. Pictures coming faster than
        // the refreshes are not held back by this: the next one brings the flush back to its refresh.
        if (lateFlushes_ >= kLateFlushesBeforeStep && due > now) {
            due += refresh;
            lateFlushes_ = 0;
        }
    }
    // A picture whose refresh has come goes out now: the views paint once their changes are all in (a
    // refresh takes in every change of a turn), and waiting for another turn would cost one more wake of
    // the loop for every picture.
    if (due <= now) {
        flushNow();
        return;
    }
    flushWaits_ = true;
    flushDue_ = due;
    flushTimer_ = loop.postAfter(due - now, [this] { flushNow(); });
}

void QtOverlaySurface::deliver(const QMouseEvent& event) {
    if (const auto converted = overlayMouseEvent(event, clickCount_)) owner_.mouse(*converted);
}

void QtOverlaySurface::wheelEvent(QWheelEvent* event) {
    owner_.wheel(*event);
}

void QtOverlaySurface::renderNow() {
    if (gl_) {
        gl_->clearIfUndrawn();
        return;
    }
    if (!isExposed() && translucent_) return;  // painted on its first expose
    const QSize logical = size();
    if (logical.isEmpty()) return;
    const QRect rect(QPoint(), logical);
    if (translucent_) {
        // Painted once, just before the flush: whatever else changes before it (one frame's results reach
        // the views as several updates in a row) goes into the same paint.
        paintWaits_ = true;
        flushPaced();
        return;
    }
    // Without a compositor the window is cut to what was painted, which needs the painted pixels first.
    const double dpr = devicePixelRatio();
    QImage image((QSizeF(logical) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    paintOverlayContent(image, owner_, logical, QRegion(rect));
    {
        // Without a compositor alpha means nothing: cut the window to what was painted. An empty region
        // would remove the mask altogether, so a region wholly outside the window stands for "nothing".
        QRegion shape = overlayShapeFromImage(image, dpr);
        if (!painted_ || shape != shape_) {
            shape_ = shape;
            setMask(shape.isEmpty() ? QRegion(-1, -1, 1, 1) : shape);
        }
        painted_ = true;
    }
    if (!isExposed()) return;
    store_->beginPaint(rect);
    {
        QPainter painter(store_->paintDevice());
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(rect, image);
    }
    store_->endPaint();
    flushPaced();
}

QRegion QtOverlaySurface::paintStore() {
    // Straight into the backing store: the damaged area is cleared and painted anew. Qt's backing stores
    // clear the painted area of an image with alpha themselves, in beginPaint.
    const QRegion region = painter_.nextRegion(owner_, size());
    store_->beginPaint(region);
    QPaintDevice* device = store_->paintDevice();
    const auto* image = dynamic_cast<const QImage*>(device);
    if (!image || !image->hasAlphaChannel()) {
        QPainter painter(device);
        painter.setClipRegion(region);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(QRect(QPoint(), size()), Qt::transparent);
    }
    paintOverlayContent(*device, owner_, size(), region);
    store_->endPaint();
    return region;
}

bool QtOverlaySurface::openOwnStore() {
    if (ownStoreTried_) return shm_ != nullptr;
    ownStoreTried_ = true;
    if (!translucent_ || !owner_.ownUploadAllowed()) return false;
    shm_ = QtOverlayShmStore::open(*this);
    if (shm_ && !shm_->resize(devicePixels(), devicePixelRatio())) shm_.reset();
    if (shm_) store_.reset();  // Qt's store would keep a segment of its own for nothing
    return shm_ != nullptr;
}

void QtOverlaySurface::leaveOwnStore() {
    shm_.reset();
    store_ = std::make_unique<QBackingStore>(this);
    store_->resize(size());
    painter_.paintWholeNext();
}

QSize QtOverlaySurface::devicePixels() const {
    return (QSizeF(size()) * devicePixelRatio()).toSize();
}

bool QtOverlaySurface::paintOwnStore() {
    return painter_.paint(*shm_, owner_, size(), devicePixelRatio());
}

// MARK: QtOverlayWindowHost

QtOverlayWindowHost::QtOverlayWindowHost(MainLoop& loop, X11Session* session)
    : OverlayWindowHost(loop), session_(session) {
    if (session_) {
        // Frames are global points of the session's snapshot: when it changes, every window is placed again.
        screensChanged_ = session_->screensChanged().sink([this](int) {
            for (auto* window : allWindows()) static_cast<QtOverlayWindow*>(window)->relayout();
            scheduleCheck();
        });
    }
    desktop_ = X11OverlayDesktop::open(session_);
    if (!desktop_) return;
    translucency_ = desktop_->compositorRunning();
    // Clicks pass through the windows unless the server has neither XFixes nor SHAPE input.
    if (!desktop_->hasXFixes())
        qCWarning(lcOverlay) << tagged(
            kTag, desktop_->hasShapeInput()
                      ? "XFixes is missing: clicks pass through by SHAPE input regions"
                      : "XFixes and SHAPE input are missing: overlay windows will catch clicks");
    desktop_->isOwn = [this](std::uint32_t id) { return windowWithNumber(id) != nullptr; };
    desktop_->ownWindows = [this] {
        std::vector<std::uint32_t> ids;
        for (auto* window : allWindows()) ids.push_back(static_cast<std::uint32_t>(window->windowNumber()));
        return ids;
    };
    desktop_->onStackEvent = [this] { scheduleCheck(); };
    desktop_->onCompositorChanged = [this](bool on) { setTranslucency(on); };
}

QtOverlayWindowHost::~QtOverlayWindowHost() {
    lifetime_.end();
}

std::unique_ptr<OverlayWindow> QtOverlayWindowHost::makeWindow(const OverlayWindowOptions& options) {
    return std::make_unique<QtOverlayWindow>(*this, options);
}

QRect QtOverlayWindowHost::qtGeometryFor(const Rect& frame) const {
    Rect r;
    if (session_) {
        // Root pixels from the session's conversion, then Qt's coordinates: Qt keeps each screen's origin in
        // root pixels and scales distances from it by that screen's ratio.
        const Rect root = session_->space().rootFromGlobal(frame);
        const QPointF centre(root.midX(), root.midY());
        const QScreen* screen = QGuiApplication::primaryScreen();
        for (const QScreen* candidate : QGuiApplication::screens()) {
            const QRect g = candidate->geometry();
            if (QRectF(g.topLeft(), QSizeF(g.size()) * candidate->devicePixelRatio()).contains(centre)) {
                screen = candidate;
                break;
            }
        }
        const double dpr = screen ? screen->devicePixelRatio() : 1.0;
        const QPointF origin = screen ? QPointF(screen->geometry().topLeft()) : QPointF();
        r = Rect(origin.x() + (root.x() - origin.x()) / dpr, origin.y() + (root.y() - origin.y()) / dpr,
                 root.width() / dpr, root.height() / dpr);
    } else {
        // Without a session (offscreen) Qt's primary screen is the global space.
        const QScreen* primary = QGuiApplication::primaryScreen();
        const QRect p = primary ? primary->geometry() : QRect(0, 0, 0, 0);
        r = CoordinateSpace(Rect(p.x(), p.y(), p.width(), p.height())).rootFromGlobal(frame);
    }
    const int x0 = static_cast<int>(std::lround(r.minX())), y0 = static_cast<int>(std::lround(r.minY()));
    const int x1 = static_cast<int>(std::lround(r.maxX())), y1 = static_cast<int>(std::lround(r.maxY()));
    // X has no empty windows; an empty frame is hidden instead (see syncNativeVisibility).
    return QRect(x0, y0, std::max(1, x1 - x0), std::max(1, y1 - y0));
}

void QtOverlayWindowHost::stackChanged() {
    // Windows going (the app hiding its windows as it ends, say) leave the rest in order.
    auto now = ordered();
    std::size_t kept = 0;
    for (const auto& window : stacked_)
        if (kept < now.size() && now[kept] == window) ++kept;
    if (kept == now.size() && !inBatch()) {
        stacked_ = std::move(now);
        return;
    }
    restack(true);
}

std::vector<QtOverlayWindowHost::Placed> QtOverlayWindowHost::ordered() const {
    std::vector<Placed> windows;
    for (auto* window : orderedWindows())
        windows.push_back(
            {window->windowNumber(), window->level(), window->orderedBelowForeign().value_or(0)});
    return windows;
}

void QtOverlayWindowHost::batchCommitted() {
    for (auto* window : allWindows()) static_cast<QtOverlayWindow*>(window)->syncNativeVisibility(false);
    if (desktop_) desktop_->flush();
}

void QtOverlayWindowHost::reassertStack() {
    restack(false);
}

void QtOverlayWindowHost::restack(bool force) {
    if (!desktop_ || inBatch()) return;
    const auto windows = orderedWindows();
    // The frames of the other apps' windows ours were ordered below are found along with the snapshot.
    std::vector<std::uint32_t> foreign, frames;
    for (auto* window : windows)
        if (auto other = window->orderedBelowForeign()) foreign.push_back(static_cast<std::uint32_t>(*other));
    const auto env = desktop_->snapshot(foreign, frames);
    std::vector<x11::OwnWindow> ours;
    std::size_t nextFrame = 0;
    for (auto* window : windows) {
        auto* qt = static_cast<QtOverlayWindow*>(window);
        x11::OwnWindow entry;
        entry.id = static_cast<std::uint32_t>(qt->windowNumber());
        entry.level = window->level();
        entry.rect = qt->nativeRect();
        if (window->orderedBelowForeign()) entry.belowFrame = frames[nextFrame++];
        ours.push_back(entry);
    }
    const auto groups = x11::planStack(ours, env);
    stacked_ = ordered();
    if (!force && x11::stackIsIntact(groups, env)) return;
    desktop_->apply(x11::stackOperations(groups));
}

void QtOverlayWindowHost::scheduleCheck() {
    if (checkPosted_) return;
    checkPosted_ = true;
    loop().post(lifetime_.guard([this] {
        checkPosted_ = false;
        restack(false);
    }));
}

void QtOverlayWindowHost::setTranslucency(bool on) {
    if (on == translucency_) return;
    translucency_ = on;
    qCInfo(lcOverlay) << tagged(kTag, on ? "compositor appeared: windows become translucent"
                                         : "compositor left: windows are cut to shape");
    // The visual is chosen when a native window is made, so every window gets a new one.
    for (auto* window : allWindows()) static_cast<QtOverlayWindow*>(window)->rebuildSurface();
    restack(true);
}

}  // namespace velaro
