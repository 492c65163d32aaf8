// Tray icons and the clock beside them, read from the X server's window tree.
#include "platform/linux/X11MenuBarItems.h"

#include <xcb/damage.h>
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

// Asks over a connection and waits for the answers while a reading goes on: a reading made off the main
// loop stops between two answers once its owner ends.
struct Asker {
    xcb_connection_t* c;
    const std::atomic<bool>& stop;
    operator xcb_connection_t*() const { return c; }
    template <class Reply, class Cookie>
    x11::Owned<Reply> reply(Cookie ask) const {
        return x11::awaitReply<Reply>(c, ask.sequence, stop);
    }
};

std::optional<Rect> rootRectOf(const Asker& c, xcb_window_t root, xcb_window_t window) {
    auto geometryAsk = xcb_get_geometry(c, window);
    auto translateAsk = xcb_translate_coordinates(c, window, root, 0, 0);
    auto geometry = c.reply<xcb_get_geometry_reply_t>(geometryAsk);
    auto translated = c.reply<xcb_translate_coordinates_reply_t>(translateAsk);
    if (!geometry || !translated) return std::nullopt;
    return Rect(translated->dst_x, translated->dst_y, geometry->width, geometry->height);
}

bool isViewable(const Asker& c, xcb_window_t window) {
    auto attributes = c.reply<xcb_get_window_attributes_reply_t>(xcb_get_window_attributes(c, window));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

std::vector<xcb_window_t> childrenOf(const Asker& c, xcb_window_t window) {
    auto tree = c.reply<xcb_query_tree_reply_t>(xcb_query_tree(c, window));
    if (!tree) return {};
    const auto* children = xcb_query_tree_children(tree.get());
    return {children, children + xcb_query_tree_children_length(tree.get())};
}

double rightEnd(const std::vector<Rect>& rects) {
    double right = 0;
    for (const auto& r : rects) right = std::max(right, r.maxX());
    return right;
}

double leftEnd(const std::vector<Rect>& rects) {
    double left = rects.front().minX();
    for (const auto& r : rects) left = std::min(left, r.minX());
    return left;
}

bool hasProperty(const Asker& c, xcb_window_t window, xcb_atom_t property) {
    auto reply = c.reply<xcb_get_property_reply_t>(x11::askProperty(c, window, property, XCB_ATOM_ANY, 1));
    return reply && reply->type != XCB_ATOM_NONE;
}

// An embedded icon carries the XEmbed info itself or, where the panel wraps each icon in a frame of its
// own, in the frame's child.
bool holdsEmbeddedIcon(const Asker& c, xcb_window_t window, xcb_atom_t xembedInfo) {
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

// The panel window's own pixels from x `from` to `to` (root pixels), masked to the depth's bits, so that
// nothing under a translucent panel (our band included) counts; empty when they cannot be read.
std::vector<std::uint32_t> panelPixels(const Asker& c, xcb_window_t panel, const Rect& panelRect, double from,
                                       double to, int* width, int* height) {
    const int x = int(from - panelRect.x());
    *width = int(to - from);
    *height = int(panelRect.height());
    if (x < 0 || *width <= 0 || *height <= 0) return {};
    auto image =
        c.reply<xcb_get_image_reply_t>(xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, panel, std::int16_t(x), 0,
                                                     std::uint16_t(*width), std::uint16_t(*height), ~0u));
    if (!image) return {};
    // Panels are 24- or 32-bit; other depths do not come in whole 32-bit pixels.
    if (image->depth != 24 && image->depth != 32) return {};
    if (xcb_get_image_data_length(image.get()) < *width * *height * 4) return {};
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(image.get()));
    const std::uint32_t mask = image->depth == 32 ? 0xffffffffu : 0x00ffffffu;
    std::vector<std::uint32_t> masked(pixels, pixels + std::size_t(*width) * std::size_t(*height));
    for (auto& p : masked) p &= mask;
    return masked;
}

// Where the task lists drew their buttons: the _NET_WM_ICON_GEOMETRY each panel gives the windows it
// lists (root pixels). A reading stopped half-way knows only some.
std::vector<Rect> taskButtonsOf(const Asker& c, xcb_atom_t iconGeometry,
                                const std::vector<xcb_window_t>& windows) {
    std::vector<xcb_get_property_cookie_t> asks;
    asks.reserve(windows.size());
    for (auto window : windows)
        asks.push_back(x11::askProperty(c, window, iconGeometry, XCB_ATOM_CARDINAL, 4));
    std::vector<Rect> buttons;
    for (const auto& ask : asks) {
        const auto reply = c.reply<xcb_get_property_reply_t>(ask);
        const auto values = x11::values32(reply.get());
        if (values.size() < 4 || values[2] == 0 || values[3] == 0) continue;
        buttons.emplace_back(double(std::int32_t(values[0])), double(std::int32_t(values[1])),
                             double(values[2]), double(values[3]));
    }
    return buttons;
}

// The docks a reading of the client list lists, in its order.
std::vector<xcb_window_t> docksOf(const x11::ClientReading& clients, xcb_atom_t dockType) {
    std::vector<xcb_window_t> docks;
    for (auto client : clients.windows)
        if (const auto* facts = clients.find(client))
            if (std::find(facts->types.begin(), facts->types.end(), dockType) != facts->types.end())
                docks.push_back(client);
    return docks;
}

}  // namespace

std::vector<bool> drawnColumns(const std::uint32_t* pixels, int width, int height, int stride) {
    std::vector<bool> drawn(std::size_t(std::max(width, 0)), false);
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
        for (int x = 0; x < width; ++x)
            if (!drawn[x] && differs(row[x], background)) drawn[x] = true;
    }
    return drawn;
}

int besideExtent(const std::vector<bool>& drawn, int gap, bool open) {
    const int n = int(drawn.size());
    int extent = 0;
    for (int i = 0; i < n; ++i) {
        if (drawn[i])
            extent = i + 1;
        else if (i + 1 - extent >= gap)
            break;
    }
    if (open && extent > 0 && extent > n - gap) return 0;
    return extent;
}

int drawnColumnsEnd(const std::uint32_t* pixels, int width, int height, int stride) {
    // A run that no gap breaks ends at the last drawn column.
    return besideExtent(drawnColumns(pixels, width, height, stride), width + 1, false);
}

int drawnRunStart(const std::uint32_t* pixels, int width, int height, int stride, int gap) {
    auto drawn = drawnColumns(pixels, width, height, stride);
    std::reverse(drawn.begin(), drawn.end());
    const int extent = besideExtent(drawn, gap, false);
    return extent > 0 ? width - extent : -1;
}

std::optional<double> besideEnd(double edge, double limit, bool rightward,
                                const DrawnColumnsReader& drawnAt) {
    constexpr int gap = X11MenuBarItems::kBesideGap;
    constexpr double widest = X11MenuBarItems::kClockAreaWidth + gap;
    const double from = rightward ? edge : std::max(limit, edge - widest);
    const double to = rightward ? std::min(limit, edge + widest) : edge;
    // A task button right against the icons: nothing of the panel's own lies between.
    if (!(to - from >= 1)) return edge;
    auto drawn = drawnAt(from, to);
    if (!drawn) return std::nullopt;
    if (!rightward) std::reverse(drawn->begin(), drawn->end());
    // The strip stops short of the limit where the drawing may go on past it.
    const int extent = besideExtent(*drawn, gap, rightward ? to < limit : from > limit);
    return rightward ? from + extent : from + (int(drawn->size()) - extent);
}

std::vector<Rect> taskButtonsShown(const std::vector<Rect>& buttons, const Rect& panel,
                                   const std::vector<Rect>& icons, const std::vector<bool>& drawn) {
    std::vector<Rect> shown;
    for (const auto& b : buttons) {
        // Another panel's, or one on a monitor this panel does not span.
        if (!(b.maxY() > panel.minY() && b.minY() < panel.maxY() && b.maxX() > panel.minX() &&
              b.minX() < panel.maxX()))
            continue;
        // A task list never draws under the tray: a place left from before.
        if (std::any_of(icons.begin(), icons.end(),
                        [&](const Rect& i) { return b.minX() < i.maxX() && i.minX() < b.maxX(); }))
            continue;
        // A task list draws each button's icon, title or frame from its first columns, and no drawing runs
        // across the edge between a button and what lies before it.
        const int n = int(drawn.size());
        const int from = std::clamp(int(b.minX() - panel.minX()), 0, n);
        const int to = std::clamp(from + X11MenuBarItems::kButtonInset, from, n);
        const bool drawsFirst =
            std::find(drawn.begin() + from, drawn.begin() + to, true) != drawn.begin() + to;
        const bool crossed = from > 0 && from < n && drawn[std::size_t(from - 1)] && drawn[std::size_t(from)];
        if (!drawsFirst || crossed) return {};
        shown.push_back(b);
    }
    return shown;
}

double besideLimit(const Rect& panel, double edge, bool rightward, const std::vector<Rect>& taskButtons) {
    double limit = rightward ? panel.maxX() : panel.minX();
    for (const auto& b : taskButtons) {
        if (rightward && b.minX() >= edge) limit = std::min(limit, b.minX());
        if (!rightward && b.maxX() <= edge) limit = std::max(limit, b.maxX());
    }
    return limit;
}

void measureBeside(TrayLayout& tray, const std::vector<Rect>& taskButtons,
                   const DrawnColumnsReader& drawnAt) {
    if (!tray.panel || tray.icons.empty()) return;
    const Rect& panel = *tray.panel;
    const double right = rightEnd(tray.icons), left = leftEnd(tray.icons);
    const double rightLimit = besideLimit(panel, right, true, taskButtons);
    const double leftLimit = besideLimit(panel, left, false, taskButtons);
    tray.contentRight = besideEnd(right, rightLimit, true, drawnAt);
    if (const auto start = besideEnd(left, leftLimit, false, drawnAt); start && *start < left)
        tray.contentLeft = start;
    if (rightLimit < panel.maxX()) tray.reachRight = rightLimit;
    if (leftLimit > panel.minX()) tray.reachLeft = leftLimit;
}

std::vector<MenuBarItemWindow> statusWindowsOfTray(const TrayLayout& tray, const x11::ScreenSpace& space) {
    // Measured in root pixels, the panel's own unit; each frame becomes points once made.
    const double pad = X11MenuBarItems::kItemPadding * space.pixelsPerPoint();
    struct Frame {
        double left, right;
        Rect rows;  // a status item's frame spans its bar from top to bottom, however small what it shows
    };
    std::vector<Frame> frames;
    auto item = [&](double left, double right, const Rect& shown) {
        frames.push_back({left, right, tray.panel ? *tray.panel : shown});
    };
    std::optional<Rect> first, last;
    for (const auto& icon : tray.icons) {
        if (icon.isEmpty()) continue;
        item(icon.minX() - pad, icon.maxX() + pad, icon);
        if (!last || icon.maxX() > last->maxX()) last = icon;
        if (!first || icon.minX() < first->minX()) first = icon;
    }
    if (!last) return {};
    // What the panel draws right up against the icons' left (a clock before a tray at the panel's end).
    if (tray.contentLeft && *tray.contentLeft < first->minX())
        item(*tray.contentLeft - pad, first->minX(), *first);
    if (tray.contentRight) {
        // What the panel draws beside the icons is one more item, padded like the others.
        if (*tray.contentRight > last->maxX()) item(last->maxX(), *tray.contentRight + pad, *last);
    } else if (tray.panel) {
        // The clock sits right of the tray; a wider gap holds other things.
        const double gap = tray.panel->maxX() - last->maxX();
        if (gap > 0 && gap <= X11MenuBarItems::kClockAreaWidth) item(last->maxX(), tray.panel->maxX(), *last);
    }
    // The frame that ends the status area keeps twice the padding: the right pill's default offset takes one
    // back, and the capsule still ends the padding and its margin past the last thing drawn, not right at it.
    // Widened on both sides, the frame keeps its middle, which is what places it on its screen.
    auto closing = std::max_element(frames.begin(), frames.end(),
                                    [](const Frame& a, const Frame& b) { return a.right < b.right; });
    closing->left -= pad;
    closing->right += pad;
    const auto reach = [&](const std::optional<double>& x) -> std::optional<double> {
        if (!x) return std::nullopt;
        return space.topLeftFromRoot(Point{*x, 0}).x;
    };
    std::vector<MenuBarItemWindow> out;
    for (const auto& f : frames)
        out.push_back({OverlayWindowLevel::panel,
                       space.topLeftFromRoot(Rect(f.left, f.rows.y(), f.right - f.left, f.rows.height())),
                       reach(tray.reachLeft), reach(tray.reachRight)});
    return out;
}

X11MenuBarItems::X11MenuBarItems(X11Session& session, MainLoop& loop) : session_(session), loop_(loop) {
    auto& conn = session_.desktop();
    conn.intern({"_NET_SYSTEM_TRAY_S0", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DOCK", "_XEMBED_INFO",
                 "_NET_CLIENT_LIST", "MANAGER", "_NET_WM_ICON_GEOMETRY"});
    dockType_ = conn.atom("_NET_WM_WINDOW_TYPE_DOCK");
    xcb_connection_t* c = conn.get();
    // The panel's drawing beside the icons (a clock) changes without any window moving: its damage tells.
    if (const auto* damage = x11::extension(c, &xcb_damage_id); damage && damage->present) {
        auto version = x11::awaitReply(c, xcb_damage_query_version(c, 1, 1), xcb_damage_query_version_reply);
        hasDamage_ = version != nullptr;
        damageEventBase_ = damage->first_event;
    }
    const xcb_window_t root = conn.root();
    const xcb_atom_t manager = conn.atom("MANAGER");
    const xcb_atom_t traySelection = conn.atom("_NET_SYSTEM_TRAY_S0");
    // A panel that reloads or restarts shows up as a new dock in the client list, its tray as a new owner of
    // the tray selection, announced on the root.
    rootSelection_ = session_.selectEvents(root, XCB_EVENT_MASK_PROPERTY_CHANGE);
    // A panel coming or going is a dock joining or leaving the client list, which is read off the main loop.
    clients_ = session_.clients().reading();
    docks_ = docksOf(*clients_, dockType_);
    clientChanges_ = session_.clients().changed().sink([this](int) {
        auto clients = session_.clients().reading();
        auto docks = docksOf(*clients, dockType_);
        {
            std::lock_guard lock(clientsMutex_);
            clients_ = std::move(clients);
        }
        if (docks == docks_) return;
        docks_ = std::move(docks);
        statusAreaMoved();
    });
    reads_ = std::make_unique<x11::ReadThread>(
        [this](const std::atomic<bool>& stop) {
            Clients clients;
            {
                std::lock_guard lock(clientsMutex_);
                clients = clients_;
            }
            auto reading = read(clients, stop);
            if (!stop)
                loop_.post(lifetime_.guard(
                    [this, reading = std::move(reading)]() mutable { took(std::move(reading)); }));
            return true;
        },
        std::chrono::milliseconds(int(kLookAfter * 1000)), std::chrono::milliseconds(250));
    // The first reading too is made off the main loop: it asks the server about every icon.
    statusAreaMoved();
    handler_ = session_.addEventHandler([this, root, manager, traySelection](const xcb_generic_event_t& e) {
        const int type = e.response_type & 0x7f;
        if (hasDamage_ && type == damageEventBase_ + XCB_DAMAGE_NOTIFY) {
            const auto& d = reinterpret_cast<const xcb_damage_notify_event_t&>(e);
            if (auto it = watched_.find(d.drawable); it != watched_.end() && it->second.damage == d.damage) {
                // Told once until the damage is taken away: the next drawing tells again.
                xcb_damage_subtract(session_.desktop().get(), d.damage, XCB_NONE, XCB_NONE);
                xcb_flush(session_.desktop().get());
                statusAreaMoved();
            }
            return;
        }
        // Every structure event's first field after the header names the window it was selected on: a
        // watched window itself or the parent of the children it is about.
        xcb_window_t on = XCB_WINDOW_NONE;
        switch (type) {
            case XCB_MAP_NOTIFY:
                on = reinterpret_cast<const xcb_map_notify_event_t&>(e).event;
                break;
            case XCB_UNMAP_NOTIFY:
                on = reinterpret_cast<const xcb_unmap_notify_event_t&>(e).event;
                break;
            case XCB_CONFIGURE_NOTIFY:
                on = reinterpret_cast<const xcb_configure_notify_event_t&>(e).event;
                break;
            case XCB_DESTROY_NOTIFY: {
                const auto& d = reinterpret_cast<const xcb_destroy_notify_event_t&>(e);
                // The server forgets a window's selections and damage with it, and may hand its id to the
                // window that replaces it: that one is watched afresh.
                if (d.event == d.window && watched_.contains(d.window)) {
                    unwatch(d.window, true);
                    statusAreaMoved();
                    return;
                }
                on = d.event;
                break;
            }
            case XCB_REPARENT_NOTIFY:
                on = reinterpret_cast<const xcb_reparent_notify_event_t&>(e).event;
                break;
            case XCB_CLIENT_MESSAGE: {
                const auto& m = reinterpret_cast<const xcb_client_message_event_t&>(e);
                if (m.window == root && m.type == manager && m.format == 32 &&
                    m.data.data32[1] == traySelection)
                    statusAreaMoved();
                return;
            }
            default:
                return;
        }
        if (watched_.contains(on)) statusAreaMoved();
    });
}

void X11MenuBarItems::watch(const std::vector<xcb_window_t>& holders) {
    bool added = false;
    for (auto window : holders) {
        if (watched_.contains(window)) continue;
        Watch w;
        w.events = session_.selectEvents(
            window, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
        if (hasDamage_) {
            w.damage = xcb_generate_id(session_.desktop().get());
            xcb_damage_create(session_.desktop().get(), w.damage, window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
        }
        watched_.emplace(window, std::move(w));
        added = true;
    }
    xcb_flush(session_.desktop().get());
    std::vector<xcb_window_t> gone;
    for (const auto& [window, w] : watched_)
        if (std::find(holders.begin(), holders.end(), window) == holders.end()) gone.push_back(window);
    for (auto window : gone) unwatch(window, false);
    // What changed between the reading and the watch is told by no event: one more look sees it.
    if (added) statusAreaMoved();
}

void X11MenuBarItems::unwatch(xcb_window_t window, bool windowGone) {
    auto it = watched_.find(window);
    if (it == watched_.end()) return;
    if (it->second.damage != 0 && !windowGone)
        xcb_damage_destroy(session_.desktop().get(), it->second.damage);
    watched_.erase(it);
}

void X11MenuBarItems::statusAreaMoved() {
    reads_->ask();
}

void X11MenuBarItems::took(Reading reading) {
    watch(reading.holders);
    const bool first = !std::exchange(read_, true);
    if (!first && reading.trays == lastTrays_) return;
    lastTrays_ = std::move(reading.trays);
    statusAreaChanged_.send(0);
}

X11MenuBarItems::~X11MenuBarItems() {
    // The reading thread hands its readings over guarded by the lifetime, copying its token as it does: it
    // stops before the lifetime ends, not while it may still copy it.
    reads_.reset();
    lifetime_.end();
    if (session_.desktop().broken()) return;
    for (const auto& [window, w] : watched_)
        if (w.damage != 0) xcb_damage_destroy(session_.desktop().get(), w.damage);
}

std::optional<std::vector<std::optional<Rect>>> X11MenuBarItems::frontMenuItemFrames() {
    return std::nullopt;
}

std::vector<TrayLayout> X11MenuBarItems::readTrays() {
    const std::atomic<bool> never{false};
    return read(session_.clients().reading(), never).trays;
}

X11MenuBarItems::Reading X11MenuBarItems::read(const Clients& clients, const std::atomic<bool>& stop) {
    auto& conn = session_.desktop();
    if (conn.broken()) return {};
    const Asker c{conn.get(), stop};
    const xcb_window_t root = conn.root();
    const xcb_atom_t xembedInfo = conn.atom("_XEMBED_INFO");
    Reading reading;
    std::set<xcb_window_t> looked;
    // The tray's icons, once the icons in `holder` are known; what the panel draws beside them comes after.
    auto addTray = [&](TrayLayout tray, xcb_window_t holder) {
        if (tray.icons.empty()) return;
        tray.panel = rootRectOf(c, root, holder);
        tray.window = holder;
        reading.trays.push_back(std::move(tray));
    };

    auto ownerReply = c.reply<xcb_get_selection_owner_reply_t>(
        xcb_get_selection_owner(c, conn.atom("_NET_SYSTEM_TRAY_S0")));
    const xcb_window_t owner = ownerReply ? ownerReply->owner : xcb_window_t{XCB_WINDOW_NONE};
    if (owner != XCB_WINDOW_NONE) {
        looked.insert(owner);
        reading.holders.push_back(owner);
        TrayLayout tray;
        for (auto child : childrenOf(c, owner))
            if (isViewable(c, child))
                if (auto r = rootRectOf(c, root, child)) tray.icons.push_back(*r);
        addTray(std::move(tray), owner);
    }

    std::vector<xcb_window_t> others;  // the listed windows a task list may show
    for (const xcb_window_t client : clients->windows) {
        const auto* facts = clients->find(client);
        if (!facts || std::find(facts->types.begin(), facts->types.end(), dockType_) == facts->types.end()) {
            others.push_back(client);
            continue;
        }
        if (!looked.insert(client).second) continue;
        reading.holders.push_back(client);
        TrayLayout tray;
        for (auto child : childrenOf(c, client))
            if (isViewable(c, child) && holdsEmbeddedIcon(c, child, xembedInfo))
                if (auto r = rootRectOf(c, root, child)) tray.icons.push_back(*r);
        addTray(std::move(tray), client);
    }

    // What the panels draw beside their icons, up to their task lists' buttons.
    const bool onPanels =
        std::any_of(reading.trays.begin(), reading.trays.end(), [](const TrayLayout& t) { return t.panel; });
    const auto buttons =
        onPanels ? taskButtonsOf(c, conn.atom("_NET_WM_ICON_GEOMETRY"), others) : std::vector<Rect>{};
    for (auto& tray : reading.trays) {
        if (!tray.panel) continue;
        // The panel window's own pixels: nothing under a translucent panel (our band included) counts. The
        // whole panel is read, so that its background is what most of each row shows (a few columns beside
        // the icons may be mostly clock), and each task button can be seen to show some of its drawing.
        const Rect panel = *tray.panel;
        int width = 0, height = 0;
        const auto pixels = panelPixels(c, tray.window, panel, panel.minX(), panel.maxX(), &width, &height);
        if (pixels.empty()) continue;
        const auto whole = drawnColumns(pixels.data(), width, height, width);
        const auto shown = taskButtonsShown(buttons, panel, tray.icons, whole);
        const DrawnColumnsReader drawnAt = [&](double from, double to) -> std::optional<std::vector<bool>> {
            const int first = std::clamp(int(from - panel.minX()), 0, int(whole.size()));
            const int last = std::clamp(first + int(to - from), first, int(whole.size()));
            return std::vector<bool>(whole.begin() + first, whole.begin() + last);
        };
        measureBeside(tray, shown, drawnAt);
    }
    return reading;
}

std::vector<MenuBarItemWindow> X11MenuBarItems::statusItemWindows() {
    // Nothing until the first reading, made off the main loop, is told; from then on the trays are kept
    // current by the notices of the windows the readings follow, and every change is told.
    if (lastTrays_.empty()) return {};
    const auto space = session_.space();
    std::vector<MenuBarItemWindow> out;
    for (const auto& tray : lastTrays_) {
        auto windows = statusWindowsOfTray(tray, space);
        out.insert(out.end(), windows.begin(), windows.end());
    }
    return out;
}

}  // namespace velaro
