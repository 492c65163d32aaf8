// The xcb side of capture: connection, extensions, monitors, the window stack, SHM grabs and filtering.
#include "platform/linux/X11CaptureSession.h"

#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>
#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/res.h>
#include <xcb/shm.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <unordered_map>

#include "platform/linux/X11Session.h"
#include "platform/linux/XcbUtil.h"

namespace velaro::x11capture {

namespace {

using x11::own;

// Sleeps until one of `fds` is readable or `timeoutSeconds` passed (negative: no limit); whether one was.
bool sleepOn(pollfd* fds, nfds_t count, double timeoutSeconds) {
    timespec limit{};
    if (timeoutSeconds >= 0) {
        const double whole = std::floor(timeoutSeconds);
        limit.tv_sec = static_cast<time_t>(whole);
        limit.tv_nsec = static_cast<long>((timeoutSeconds - whole) * 1e9);
    }
    return ppoll(fds, count, timeoutSeconds >= 0 ? &limit : nullptr, nullptr) > 0;
}

std::string propertyText(xcb_get_property_reply_t* r) {
    if (!r || r->format != 8) return {};
    const int len = xcb_get_property_value_length(r);
    return std::string(static_cast<const char*>(xcb_get_property_value(r)), static_cast<std::size_t>(len));
}

}  // namespace

struct Session::Atoms {
    xcb_atom_t wmState = 0, netWmPid = 0, netWmWindowType = 0, typeDesktop = 0, typeDock = 0, netWmName = 0,
               utf8String = 0, rootPmapId = 0, esetrootPmapId = 0, compositorSelection = 0;
};

Session::Session(X11Session& x11, x11::Connection& connection, CaptureOptions options)
    : x11_(x11),
      connection_(connection),
      options_(options),
      c_(connection.get()),
      root_(connection.root()),
      atoms_(std::make_unique<Atoms>()) {}

Session::~Session() {
    for (xcb_generic_event_t* ev : waiting_) std::free(ev);
    forgetPictures();
    releaseSegment();
    setFollowing(false);
}

std::unique_ptr<Session> Session::open(X11Session& x11, const CaptureOptions& options, CaptureError* error) {
    x11::Connection* connection = x11.capture();
    if (!connection) {
        if (error) *error = {CaptureErrorCode::unavailable, "cannot connect to the X display"};
        return nullptr;
    }
    if (connection->broken()) {
        if (error) *error = {CaptureErrorCode::unavailable, "the X display connection was lost"};
        return nullptr;
    }
    std::unique_ptr<Session> s(new Session(x11, *connection, options));
    if (!s->setUp(error)) return nullptr;
    return s;
}

double Session::pixelsPerPoint() const {
    return x11_.pixelsPerPoint();
}

bool Session::setUp(CaptureError* error) {
    // Grabs assume 32 bits per pixel for depths 24 and 32, as every current server lays them out.
    bool bpp32 = false;
    for (auto f = xcb_setup_pixmap_formats_iterator(xcb_get_setup(c_)); f.rem; xcb_format_next(&f))
        if (f.data->depth == connection_.screen().root_depth) bpp32 = f.data->bits_per_pixel == 32;
    if (!bpp32) {
        if (error) *error = {CaptureErrorCode::unavailable, "the X screen does not use 32-bit pixels"};
        return false;
    }

    connection_.intern({"WM_STATE", "_NET_WM_PID", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DESKTOP",
                        "_NET_WM_WINDOW_TYPE_DOCK", "_NET_WM_NAME", "UTF8_STRING", "_XROOTPMAP_ID",
                        "ESETROOT_PMAP_ID"});
    atoms_->wmState = connection_.atom("WM_STATE");
    atoms_->netWmPid = connection_.atom("_NET_WM_PID");
    atoms_->netWmWindowType = connection_.atom("_NET_WM_WINDOW_TYPE");
    atoms_->typeDesktop = connection_.atom("_NET_WM_WINDOW_TYPE_DESKTOP");
    atoms_->typeDock = connection_.atom("_NET_WM_WINDOW_TYPE_DOCK");
    atoms_->netWmName = connection_.atom("_NET_WM_NAME");
    atoms_->utf8String = connection_.atom("UTF8_STRING");
    atoms_->rootPmapId = connection_.atom("_XROOTPMAP_ID");
    atoms_->esetrootPmapId = connection_.atom("ESETROOT_PMAP_ID");
    atoms_->compositorSelection = x11::compositorSelection(connection_);

    // Every extension is looked up, and every version asked, in one round trip each rather than one apiece.
    for (xcb_extension_t* id : {&xcb_shm_id, &xcb_composite_id, &xcb_randr_id, &xcb_res_id, &xcb_damage_id})
        xcb_prefetch_extension_data(c_, id);
    const auto present = [this](xcb_extension_t* id) {
        const auto* ext = x11::extension(c_, id);
        return ext && ext->present ? ext : nullptr;
    };
    const auto* shm = options_.allowShm ? present(&xcb_shm_id) : nullptr;
    const auto* composite = options_.allowCompositorPictures ? present(&xcb_composite_id) : nullptr;
    const auto* randr = present(&xcb_randr_id);
    const auto* res = present(&xcb_res_id);
    const auto* damage = present(&xcb_damage_id);
    const auto shmAsk = shm ? xcb_shm_query_version(c_) : xcb_shm_query_version_cookie_t{0};
    const auto compositeAsk =
        composite ? xcb_composite_query_version(c_, 0, 4) : xcb_composite_query_version_cookie_t{0};
    const auto randrAsk = randr ? xcb_randr_query_version(c_, 1, 5) : xcb_randr_query_version_cookie_t{0};
    const auto resAsk = res ? xcb_res_query_version(c_, 1, 2) : xcb_res_query_version_cookie_t{0};
    const auto damageAsk = damage ? xcb_damage_query_version(c_, 1, 1) : xcb_damage_query_version_cookie_t{0};
    if (shm) shmUsable_ = x11::awaitReply(c_, shmAsk, xcb_shm_query_version_reply) != nullptr;
    if (composite) {
        auto v = x11::awaitReply(c_, compositeAsk, xcb_composite_query_version_reply);
        hasComposite_ = v && (v->major_version > 0 || v->minor_version >= 2);
    }
    if (randr) {
        auto v = x11::awaitReply(c_, randrAsk, xcb_randr_query_version_reply);
        hasRandr_ = v && (v->major_version > 1 || v->minor_version >= 5);
        randrEventBase_ = randr->first_event;
    }
    if (res) {
        auto v = x11::awaitReply(c_, resAsk, xcb_res_query_version_reply);
        hasRes_ = v && (v->server_major > 1 || v->server_minor >= 2);
    }
    if (damage) {
        auto v = x11::awaitReply(c_, damageAsk, xcb_damage_query_version_reply);
        hasDamage_ = v && (v->major_version > 1 || (v->major_version == 1 && v->minor_version >= 1));
        damageEventBase_ = damage->first_event;
    }
    return true;
}

void Session::setFollowing(bool following) {
    if (following == following_) return;
    following_ = following;
    // Our own selection of the root's changes: top-levels appearing, moving, restacking, the desktop picture
    // property, the monitors. Another client's selection is unaffected.
    const std::uint32_t mask =
        following ? std::uint32_t{XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE} : 0u;
    xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
    if (hasRandr_)
        xcb_randr_select_input(c_, root_,
                               following
                                   ? XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                         XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE
                                   : 0);
    // No notice comes for what is not followed: no grab can be vouched for by the watches kept until now.
    if (!following) endWatches();
    xcb_flush(c_);
    ledger_.layoutChanged();
    // What was cached without notices, or is about to lose them, is read afresh.
    forgetPictures();
    treeDirty_ = true;
    rootPictureKnown_ = false;
    compositorKnown_ = false;
    ++monitorsGeneration_;
}

bool Session::pollEvents() {
    ledger_.beginTurn();
    if (!following_) {
        // Nothing told us of changes: whatever is cached may be stale.
        forgetPictures();
        treeDirty_ = true;
        rootPictureKnown_ = false;
        compositorKnown_ = false;
    }
    for (xcb_generic_event_t* ev : std::exchange(waiting_, {})) takeEvent(ev);
    while (xcb_generic_event_t* ev = xcb_poll_for_event(c_)) takeEvent(ev);
    pruneWatches();
    return xcb_connection_has_error(c_) == 0;
}

bool Session::waitForEvents(int wakeFd, double timeoutSeconds) {
    xcb_flush(c_);
    // A reply's wait may have read notices into the connection's queue, where the descriptor no longer
    // shows them: they are taken out here and told by the next pollEvents, with no sleep.
    if (xcb_generic_event_t* ev = xcb_poll_for_queued_event(c_)) {
        waiting_.push_back(ev);
        return false;
    }
    if (xcb_connection_has_error(c_)) return false;
    pollfd fds[2] = {{xcb_get_file_descriptor(c_), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    return sleepOn(fds, wakeFd >= 0 ? 2 : 1, timeoutSeconds) && (fds[1].revents & POLLIN);
}

bool waitForWake(int wakeFd, double timeoutSeconds) {
    pollfd fd{wakeFd, POLLIN, 0};
    return sleepOn(&fd, 1, timeoutSeconds) && (fd.revents & POLLIN);
}

void Session::takeEvent(xcb_generic_event_t* ev) {
    const std::uint8_t type = ev->response_type & 0x7f;
    switch (type) {
        case 0:  // an error of a request whose reply nobody waited for; the grab that needs it checks itself
            break;
        case XCB_CONFIGURE_NOTIFY: {
            // A window of a new size has new storage: its kept picture shows the old one.
            const auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(ev);
            if (auto it = pictures_.find(e->window);
                it != pictures_.end() && (it->second.width != e->width + 2 * e->border_width ||
                                          it->second.height != e->height + 2 * e->border_width))
                forgetPicture(e->window);
            treeDirty_ = true;
            ledger_.layoutChanged();
            break;
        }
        case XCB_DESTROY_NOTIFY: {
            const xcb_window_t window = reinterpret_cast<const xcb_destroy_notify_event_t*>(ev)->window;
            forgetPicture(window);
            // The server ended its damage watch with it.
            if (auto it = watches_.find(window); it != watches_.end()) {
                watchedByDamage_.erase(it->second.damage);
                watches_.erase(it);
                ledger_.watchEnded(window);
            }
            treeDirty_ = true;
            ledger_.layoutChanged();
            break;
        }
        case XCB_MAP_NOTIFY:
            forgetPicture(reinterpret_cast<const xcb_map_notify_event_t*>(ev)->window);
            treeDirty_ = true;
            ledger_.layoutChanged();
            break;
        case XCB_UNMAP_NOTIFY:
            forgetPicture(reinterpret_cast<const xcb_unmap_notify_event_t*>(ev)->window);
            treeDirty_ = true;
            ledger_.layoutChanged();
            break;
        case XCB_CREATE_NOTIFY:
        case XCB_REPARENT_NOTIFY:
        case XCB_CIRCULATE_NOTIFY:
        case XCB_GRAVITY_NOTIFY:
            treeDirty_ = true;
            ledger_.layoutChanged();
            break;
        case XCB_PROPERTY_NOTIFY: {
            const auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(ev);
            if (p->atom == atoms_->rootPmapId || p->atom == atoms_->esetrootPmapId) {
                rootPictureKnown_ = false;
                ledger_.layoutChanged();
            }
            break;
        }
        default:
            if (hasRandr_ && (type == randrEventBase_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                              type == randrEventBase_ + XCB_RANDR_NOTIFY)) {
                ++monitorsGeneration_;
                treeDirty_ = true;
                ledger_.layoutChanged();
            } else if (hasDamage_ && type == damageEventBase_ + XCB_DAMAGE_NOTIFY) {
                takeDamage(*ev);
            }
            break;
    }
    std::free(ev);
}

namespace {
// Turns a watch of a drawable no reading needs any more is kept. A turn comes only with something to do (a
// notice, a frame due, a frame asked for), and a stream that waits for a change vouches for its drawables
// at every turn, so this is long enough for a stream's drawables to stay watched from one grab to its next,
// and short enough that the notices of a drawable nobody reads stop soon.
constexpr std::uint64_t kUnreadWatchTurns = 64;
}  // namespace

void Session::takeDamage(const xcb_generic_event_t& event) {
    const auto& e = reinterpret_cast<const xcb_damage_notify_event_t&>(event);
    const auto it = watchedByDamage_.find(e.damage);
    if (it == watchedByDamage_.end()) return;
    if (it->second == root_) {
        ledger_.rootDamaged({e.area.x, e.area.y, e.area.width, e.area.height});
        return;
    }
    ledger_.drawableChanged(it->second);
    // Told once until the damage is taken away: the next drawing tells again. Grabs sent after this see
    // everything drawn before it.
    xcb_damage_subtract(c_, e.damage, XCB_NONE, XCB_NONE);
}

void Session::watch(xcb_drawable_t drawable) {
    auto [it, added] = watches_.try_emplace(drawable);
    it->second.usedTurn = ledger_.turn();
    if (!added) return;
    it->second.damage = xcb_generate_id(c_);
    // The root's rectangles tell which of its pixels changed; another drawable only whether it did.
    xcb_damage_create(
        c_, it->second.damage, drawable,
        drawable == root_ ? XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES : XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    watchedByDamage_[it->second.damage] = drawable;
    if (drawable == root_)
        ledger_.rootWatchStarted();
    else
        ledger_.watchStarted(drawable);
}

void Session::watchRoot() {
    watch(root_);
}

void Session::unwatch(xcb_drawable_t drawable) {
    const auto it = watches_.find(drawable);
    if (it == watches_.end()) return;
    // A drawable gone meanwhile took its watch with it: the error that comes back is ignored.
    if (!xcb_connection_has_error(c_)) xcb_damage_destroy(c_, it->second.damage);
    watchedByDamage_.erase(it->second.damage);
    watches_.erase(it);
    if (drawable == root_)
        ledger_.rootWatchEnded();
    else
        ledger_.watchEnded(drawable);
}

void Session::endWatches() {
    while (!watches_.empty()) unwatch(watches_.begin()->first);
    keptPicture_.reset();
}

void Session::pruneWatches() {
    const std::uint64_t turn = ledger_.turn();
    std::vector<xcb_drawable_t> unread;
    for (const auto& [drawable, watch] : watches_)
        if (turn - watch.usedTurn > kUnreadWatchTurns) unread.push_back(drawable);
    for (const auto drawable : unread) unwatch(drawable);
}

bool Session::unchangedSince(const Reading& reading) {
    if (!hasDamage_ || !following_ || !ledger_.unchangedSince(reading)) return false;
    const auto keep = [this](xcb_drawable_t drawable) {
        if (auto it = watches_.find(drawable); it != watches_.end()) it->second.usedTurn = ledger_.turn();
    };
    for (const auto drawable : reading.drawables) keep(drawable);
    if (reading.readRoot) keep(root_);
    return true;
}

std::vector<Monitor> Session::monitors() {
    std::vector<Monitor> out;
    if (hasRandr_) {
        if (auto r =
                x11::awaitReply(c_, xcb_randr_get_monitors(c_, root_, 1), xcb_randr_get_monitors_reply)) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(r.get()); it.rem;
                 xcb_randr_monitor_info_next(&it)) {
                const auto* m = it.data;
                Monitor mon;
                // The monitor's first output names it, as the screen list does; a monitor made without
                // outputs is named by its atom.
                mon.displayID = xcb_randr_monitor_info_outputs_length(m) > 0
                                    ? xcb_randr_monitor_info_outputs(m)[0]
                                    : m->name;
                mon.root = {m->x, m->y, m->width, m->height};
                mon.primary = m->primary;
                mon.byClient = xcb_randr_monitor_info_outputs_length(m) == 0;
                out.push_back(mon);
            }
        }
    }
    if (out.empty()) {
        auto g = x11::awaitReply(c_, xcb_get_geometry(c_, root_), xcb_get_geometry_reply);
        if (g) out.push_back({0, {0, 0, g->width, g->height}, true});
    }
    out = primaryFirst(std::move(out));
    return out;
}

std::optional<Monitor> Session::monitor(std::uint32_t displayID) {
    for (const auto& m : monitors())
        if (m.displayID == displayID) return m;
    return std::nullopt;
}

const std::vector<TopLevel>& Session::topLevels() {
    if (treeDirty_) refreshTopLevels();
    return topLevels_;
}

void Session::refreshTopLevels() {
    treeDirty_ = false;
    compositorKnown_ = false;
    topLevels_.clear();
    auto tree = x11::awaitReply(c_, xcb_query_tree(c_, root_), xcb_query_tree_reply);
    if (!tree) return;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int n = xcb_query_tree_children_length(tree.get());

    // Pipelined: every request of a stage goes out before the first reply is read.
    std::vector<xcb_get_window_attributes_cookie_t> attrCookies(n);
    std::vector<xcb_get_geometry_cookie_t> geoCookies(n);
    std::vector<xcb_get_property_cookie_t> stateCookies(n);
    for (int i = 0; i < n; ++i) {
        attrCookies[i] = xcb_get_window_attributes(c_, children[i]);
        geoCookies[i] = xcb_get_geometry(c_, children[i]);
        stateCookies[i] = xcb_get_property(c_, 0, children[i], atoms_->wmState, XCB_ATOM_ANY, 0, 0);
    }
    struct Pending {
        TopLevel t;
        bool overrideRedirect = false;
        xcb_query_tree_cookie_t inner{};
        bool needsInner = false;
    };
    std::vector<Pending> pending;
    pending.reserve(n);
    for (int i = 0; i < n; ++i) {
        auto attr = x11::awaitReply(c_, attrCookies[i], xcb_get_window_attributes_reply);
        auto geo = x11::awaitReply(c_, geoCookies[i], xcb_get_geometry_reply);
        auto state = x11::awaitReply(c_, stateCookies[i], xcb_get_property_reply);
        if (!attr || !geo) continue;  // destroyed meanwhile
        if (attr->_class == XCB_WINDOW_CLASS_INPUT_ONLY) continue;
        Pending p;
        p.t.frame = p.t.client = children[i];
        p.t.bounds = {geo->x, geo->y, geo->width + 2 * geo->border_width,
                      geo->height + 2 * geo->border_width};
        p.t.depth = geo->depth;
        p.t.viewable = attr->map_state == XCB_MAP_STATE_VIEWABLE;
        p.overrideRedirect = attr->override_redirect;
        p.t.managed = state && state->type != XCB_ATOM_NONE;
        p.needsInner = !p.t.managed && !p.overrideRedirect;
        if (p.needsInner) p.inner = xcb_query_tree(c_, children[i]);
        pending.push_back(std::move(p));
    }
    // A frame holds the client directly or one level further down; the client is the one with WM_STATE.
    for (auto& p : pending) {
        if (!p.needsInner) continue;
        auto inner = x11::awaitReply(c_, p.inner, xcb_query_tree_reply);
        if (!inner) continue;
        std::vector<xcb_window_t> level(
            xcb_query_tree_children(inner.get()),
            xcb_query_tree_children(inner.get()) + xcb_query_tree_children_length(inner.get()));
        for (int depth = 0; depth < 2 && !level.empty() && !p.t.managed; ++depth) {
            std::vector<xcb_get_property_cookie_t> cookies;
            std::vector<xcb_query_tree_cookie_t> deeper;
            for (auto w : level) {
                cookies.push_back(xcb_get_property(c_, 0, w, atoms_->wmState, XCB_ATOM_ANY, 0, 0));
                if (depth == 0) deeper.push_back(xcb_query_tree(c_, w));
            }
            std::vector<xcb_window_t> next;
            for (std::size_t i = 0; i < level.size(); ++i) {
                auto r = x11::awaitReply(c_, cookies[i], xcb_get_property_reply);
                if (r && r->type != XCB_ATOM_NONE && !p.t.managed) {
                    p.t.client = level[i];
                    p.t.managed = true;
                }
                if (depth == 0) {
                    if (auto t = x11::awaitReply(c_, deeper[i], xcb_query_tree_reply))
                        next.insert(
                            next.end(), xcb_query_tree_children(t.get()),
                            xcb_query_tree_children(t.get()) + xcb_query_tree_children_length(t.get()));
                }
            }
            level = std::move(next);
        }
    }
    // The client's own properties; pid, type, names. A listed client's process, types and class are those
    // the session's client list read, unless they changed since: only the rest is asked.
    const auto listed = x11_.clients().current();
    struct Props {
        const x11::ClientFacts* facts = nullptr;
        xcb_get_property_cookie_t pid{0}, type{0}, name{0}, legacyName{0}, wmClass{0};
    };
    std::vector<Props> props(pending.size());
    for (std::size_t i = 0; i < pending.size(); ++i) {
        const xcb_window_t w = pending[i].t.client;
        props[i].facts = pending[i].t.managed ? listed.find(w) : nullptr;
        if (!props[i].facts) {
            props[i].pid = xcb_get_property(c_, 0, w, atoms_->netWmPid, XCB_ATOM_CARDINAL, 0, 1);
            props[i].type = xcb_get_property(c_, 0, w, atoms_->netWmWindowType, XCB_ATOM_ATOM, 0, 32);
            props[i].wmClass = xcb_get_property(c_, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 1024);
        }
        props[i].name = xcb_get_property(c_, 0, w, atoms_->netWmName, atoms_->utf8String, 0, 1024);
        props[i].legacyName = xcb_get_property(c_, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 1024);
    }
    const auto isType = [this](TopLevel& t, const xcb_atom_t* types, std::size_t count) {
        for (std::size_t k = 0; k < count; ++k) {
            t.isDesktop = t.isDesktop || types[k] == atoms_->typeDesktop;
            t.isDock = t.isDock || types[k] == atoms_->typeDock;
        }
    };
    for (std::size_t i = 0; i < pending.size(); ++i) {
        TopLevel& t = pending[i].t;
        if (const auto* facts = props[i].facts) {
            t.pid = facts->pid;
            isType(t, facts->types.data(), facts->types.size());
            t.instanceName = facts->instanceName;
            t.windowClass = facts->windowClass;
        } else {
            if (auto r = x11::awaitReply(c_, props[i].pid, xcb_get_property_reply);
                r && r->format == 32 && xcb_get_property_value_length(r.get()) >= 4)
                t.pid = *static_cast<const std::uint32_t*>(xcb_get_property_value(r.get()));
            if (auto r = x11::awaitReply(c_, props[i].type, xcb_get_property_reply); r && r->format == 32)
                isType(t, static_cast<const xcb_atom_t*>(xcb_get_property_value(r.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(r.get()) / 4));
            if (auto r = x11::awaitReply(c_, props[i].wmClass, xcb_get_property_reply))
                std::tie(t.instanceName, t.windowClass) = x11::splitWindowClass(propertyText(r.get()));
        }
        auto name = x11::awaitReply(c_, props[i].name, xcb_get_property_reply);
        auto legacy = x11::awaitReply(c_, props[i].legacyName, xcb_get_property_reply);
        t.title = propertyText(name.get());
        if (t.title.empty()) t.title = propertyText(legacy.get());
    }
    // Windows without _NET_WM_PID: ask the server which process made them.
    if (hasRes_) {
        std::vector<std::pair<std::size_t, xcb_res_query_client_ids_cookie_t>> asks;
        for (std::size_t i = 0; i < pending.size(); ++i)
            if (pending[i].t.pid == 0) asks.emplace_back(i, x11::askClientProcess(c_, pending[i].t.client));
        for (auto& [i, cookie] : asks)
            if (auto pid = x11::clientProcess(c_, cookie)) pending[i].t.pid = *pid;
    }
    for (auto& p : pending) topLevels_.push_back(std::move(p.t));
}

bool Session::compositorRunning() {
    if (!compositorKnown_) {
        compositor_ = x11::compositorRunning(c_, atoms_->compositorSelection);
        compositorKnown_ = true;
    }
    return compositor_;
}

bool Session::ensureSegment(std::size_t bytes) {
    if (shmAddr_ && shmSize_ >= bytes) return true;
    releaseSegment();
    const std::size_t size = (bytes + 65535) / 65536 * 65536;
    // Private to this user (0600), and marked for removal as soon as the server has attached it, so no other
    // process can attach it later and nothing is left behind if we crash.
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) return false;
    void* addr = shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    const std::uint32_t seg = xcb_generate_id(c_);
    const auto err = x11::checkRequest(c_, xcb_shm_attach_checked(c_, seg, id, 0));
    shmctl(id, IPC_RMID, nullptr);
    if (err) {
        shmdt(addr);
        return false;
    }
    shmSeg_ = seg;
    shmAddr_ = static_cast<std::uint8_t*>(addr);
    shmSize_ = size;
    return true;
}

void Session::releaseSegment() {
    if (!shmAddr_) return;
    if (c_ && !xcb_connection_has_error(c_)) xcb_shm_detach(c_, shmSeg_);
    shmdt(shmAddr_);
    shmAddr_ = nullptr;
    shmSize_ = 0;
}

std::optional<BgraImage> Session::grab(xcb_drawable_t drawable, const PixelRect& rect, bool opaque) {
    return std::move(grabAll({{drawable, rect, opaque}}).front());
}

std::vector<std::optional<BgraImage>> Session::grabAll(const std::vector<GrabAsk>& asks) {
    std::vector<std::optional<BgraImage>> out(asks.size());
    // Where each grab's pixels go in the segment; SIZE_MAX for a grab not asked.
    std::vector<std::size_t> offsets(asks.size(), SIZE_MAX);
    std::size_t total = 0;
    for (std::size_t i = 0; i < asks.size(); ++i) {
        const PixelRect& r = asks[i].rect;
        if (r.isEmpty() || r.width > 32767 || r.height > 32767) continue;
        offsets[i] = total;
        total += static_cast<std::size_t>(r.width) * r.height * 4;
    }
    auto bytesOf = [](const PixelRect& r) { return static_cast<std::size_t>(r.width) * r.height * 4; };
    if (shmUsable_ && total > 0 && !ensureSegment(total)) {
        // No segment could be shared (a remote server, or out of segments): plain requests from now on.
        shmUsable_ = false;
    }
    if (shmUsable_) {
        std::vector<xcb_shm_get_image_cookie_t> cookies(asks.size());
        for (std::size_t i = 0; i < asks.size(); ++i) {
            if (offsets[i] == SIZE_MAX) continue;
            const PixelRect& r = asks[i].rect;
            cookies[i] = xcb_shm_get_image(
                c_, asks[i].drawable, static_cast<std::int16_t>(r.x), static_cast<std::int16_t>(r.y),
                static_cast<std::uint16_t>(r.width), static_cast<std::uint16_t>(r.height), ~0u,
                XCB_IMAGE_FORMAT_Z_PIXMAP, shmSeg_, static_cast<std::uint32_t>(offsets[i]));
        }
        for (std::size_t i = 0; i < asks.size(); ++i) {
            if (offsets[i] == SIZE_MAX) continue;
            // Null: outside the drawable, or the drawable is gone.
            auto r = x11::awaitReply(c_, cookies[i], xcb_shm_get_image_reply);
            const PixelRect& rect = asks[i].rect;
            if (!r || r->size != bytesOf(rect)) continue;
            out[i].emplace(rect.width, rect.height);
            copyPixels(out[i]->bytes.data(), shmAddr_ + offsets[i], bytesOf(rect) / 4, asks[i].opaque);
        }
        return out;
    }
    std::vector<xcb_get_image_cookie_t> cookies(asks.size());
    for (std::size_t i = 0; i < asks.size(); ++i) {
        if (offsets[i] == SIZE_MAX) continue;
        const PixelRect& r = asks[i].rect;
        cookies[i] =
            xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, asks[i].drawable, static_cast<std::int16_t>(r.x),
                          static_cast<std::int16_t>(r.y), static_cast<std::uint16_t>(r.width),
                          static_cast<std::uint16_t>(r.height), ~0u);
    }
    for (std::size_t i = 0; i < asks.size(); ++i) {
        if (offsets[i] == SIZE_MAX) continue;
        auto r = x11::awaitReply(c_, cookies[i], xcb_get_image_reply);
        const PixelRect& rect = asks[i].rect;
        if (!r || static_cast<std::size_t>(xcb_get_image_data_length(r.get())) != bytesOf(rect)) continue;
        out[i].emplace(rect.width, rect.height);
        copyPixels(out[i]->bytes.data(), xcb_get_image_data(r.get()), bytesOf(rect) / 4, asks[i].opaque);
    }
    return out;
}

xcb_pixmap_t Session::windowPicture(const TopLevel& window) {
    if (auto it = pictures_.find(window.frame); it != pictures_.end()) {
        if (it->second.width == window.bounds.width && it->second.height == window.bounds.height)
            return it->second.pixmap;
        forgetPicture(window.frame);
    }
    const xcb_pixmap_t pixmap = xcb_generate_id(c_);
    if (x11::checkRequest(c_, xcb_composite_name_window_pixmap_checked(c_, window.frame, pixmap))) {
        // Not redirected (a compositor may unredirect a full-screen window): its picture is not kept.
        return XCB_NONE;
    }
    pictures_[window.frame] = {pixmap, window.bounds.width, window.bounds.height};
    return pixmap;
}

void Session::forgetPicture(xcb_window_t frame) {
    auto it = pictures_.find(frame);
    if (it == pictures_.end()) return;
    if (!xcb_connection_has_error(c_)) xcb_free_pixmap(c_, it->second.pixmap);
    pictures_.erase(it);
}

void Session::forgetPictures() {
    while (!pictures_.empty()) forgetPicture(pictures_.begin()->first);
}

xcb_pixmap_t Session::rootPicture(PixelRect* extent) {
    // Looked up once per change of the properties that name it, not once per frame.
    if (!rootPictureKnown_) {
        rootPictureKnown_ = true;
        rootPicture_ = XCB_NONE;
        for (xcb_atom_t atom : {atoms_->rootPmapId, atoms_->esetrootPmapId}) {
            auto r = x11::awaitReply(c_, xcb_get_property(c_, 0, root_, atom, XCB_ATOM_PIXMAP, 0, 1),
                                     xcb_get_property_reply);
            if (!r || r->format != 32 || xcb_get_property_value_length(r.get()) < 4) continue;
            const xcb_pixmap_t pixmap = *static_cast<const xcb_pixmap_t*>(xcb_get_property_value(r.get()));
            // The property may name a pixmap that its setter has since freed.
            auto g = x11::awaitReply(c_, xcb_get_geometry(c_, pixmap), xcb_get_geometry_reply);
            if (!g) continue;
            rootPicture_ = pixmap;
            rootPictureExtent_ = {0, 0, g->width, g->height};
            break;
        }
    }
    *extent = rootPictureExtent_;
    return rootPicture_;
}

std::optional<Session::GrabAsk> Session::rootPictureAsk(const PixelRect& area) {
    PixelRect extent;
    const xcb_pixmap_t pixmap = rootPicture(&extent);
    if (pixmap == XCB_NONE || area.isEmpty()) return std::nullopt;
    if (extent.intersection(area) == area) return GrabAsk{pixmap, area, true};
    // A smaller picture is a tile the server repeats over the root; a huge one that still misses the area
    // is not worth reading.
    constexpr int kLargestTile = 4096;
    if (extent.width > kLargestTile || extent.height > kLargestTile) return std::nullopt;
    return GrabAsk{pixmap, extent, true};
}

std::optional<BgraImage> Session::rootPictureOf(const GrabAsk& ask, std::optional<BgraImage> pixels,
                                                const PixelRect& area) {
    if (!pixels) {
        rootPictureKnown_ = false;  // freed since: look again next time
        return std::nullopt;
    }
    if (ask.rect == area) return pixels;
    return tiled(*pixels, area);
}

std::optional<BgraImage> Session::grabRootPicture(const PixelRect& area) {
    const auto ask = rootPictureAsk(area);
    if (!ask) return std::nullopt;
    return rootPictureOf(*ask, grab(ask->drawable, ask->rect, ask->opaque), area);
}

std::optional<BgraImage> Session::grabFiltered(const PixelRect& area, const ContentFilter& filter,
                                               Reading* reading) {
    // Only notices that come can vouch for a grab later.
    if (reading) *reading = Reading{};
    Reading* told = hasDamage_ && following_ ? reading : nullptr;
    std::vector<StackedWindow> stack;
    std::vector<const TopLevel*> shown;
    bool anyExcluded = false;
    for (const auto& t : topLevels()) {
        if (!t.viewable || t.bounds.intersection(area).isEmpty()) continue;
        const bool excluded = filter.excludes(t.pid, t.client, t.isDock);
        anyExcluded = anyExcluded || excluded;
        stack.push_back({t.bounds, excluded});
        if (!excluded) shown.push_back(&t);
    }
    // Watched before it is read, so that whatever is drawn after the grab is told.
    const auto readsRoot = [&](std::vector<std::uint8_t> replaced) {
        if (!told) return;
        watchRoot();
        told->readRoot = true;
        told->area = area;
        told->replaced = std::move(replaced);
    };
    const auto done = [&](std::optional<BgraImage> image) {
        if (told && image) told->turn = ledger_.turn();
        return image;
    };
    std::vector<std::uint8_t> mask;
    PixelRect local;
    if (anyExcluded) {
        mask = exclusionMask(area, stack);
        local = maskBounds(mask, area.width, area.height);
    }
    if (local.isEmpty()) {
        readsRoot({});
        return done(grab(root_, area, true));
    }
    if (hasComposite_ && compositorRunning())
        if (auto image = composeBeneath(area, mask, local, shown, told)) return done(std::move(image));
    if (told) *told = Reading{};
    PixelRect extent;
    const xcb_pixmap_t picture = rootPicture(&extent);
    if (told && picture != XCB_NONE) {
        watch(picture);
        told->drawables.push_back(picture);
    }
    readsRoot(mask);
    auto image = grab(root_, area, true);
    if (!image) return std::nullopt;
    const auto fallback = grabRootPicture(area);
    fillFromNearestClean(*image, mask, fallback ? &*fallback : nullptr);
    return done(std::move(image));
}

const BgraImage* Session::keptPictureFor(xcb_pixmap_t pixmap, const PixelRect& region) {
    if (!keptPicture_ || keptPicture_->pixmap != pixmap || keptPicture_->region != region) return nullptr;
    Reading kept;
    kept.drawables = {pixmap};
    kept.turn = keptPicture_->turn;
    return unchangedSince(kept) ? &keptPicture_->image : nullptr;
}

std::optional<BgraImage> Session::composeBeneath(const PixelRect& area, const std::vector<std::uint8_t>& mask,
                                                 const PixelRect& local,
                                                 const std::vector<const TopLevel*>& shown,
                                                 Reading* reading) {
    const PixelRect region{area.x + local.x, area.y + local.y, local.width, local.height};
    // Under a window of ours spanning the whole strip (the band) the screen's own pixels are all replaced:
    // they are not read at all.
    const bool covered = region == area && !std::memchr(mask.data(), 0, mask.size());
    // Everything the frame needs goes out at once and costs one round trip: the screen's pixels, the desktop
    // picture under the masked pixels' bounds (unless the one read before still holds), and the part of
    // every shown window over them, from the picture the compositor keeps of it (kept between frames).
    std::vector<GrabAsk> asks;
    if (!covered) {
        asks.push_back({root_, area, true});
        if (reading) {
            watchRoot();
            reading->readRoot = true;
            reading->area = area;
            reading->replaced = mask;
        }
    }
    auto pictureAsk = rootPictureAsk(region);
    const BgraImage* keptPicture = pictureAsk ? keptPictureFor(pictureAsk->drawable, region) : nullptr;
    // The picture is kept only where its notices come.
    const bool keepsPicture = hasDamage_ && following_;
    if (pictureAsk) {
        if (keepsPicture) watch(pictureAsk->drawable);
        if (reading) reading->drawables.push_back(pictureAsk->drawable);
    }
    const std::size_t pictureAt = asks.size();
    if (pictureAsk && !keptPicture) asks.push_back(*pictureAsk);
    const std::size_t partsAt = asks.size();
    std::vector<const TopLevel*> parts;
    for (const TopLevel* t : shown) {
        const PixelRect part = t->bounds.intersection(region);
        if (part.isEmpty()) continue;
        const xcb_pixmap_t pixmap = windowPicture(*t);
        if (pixmap == XCB_NONE) return std::nullopt;
        if (reading) {
            watch(t->frame);
            reading->drawables.push_back(t->frame);
        }
        asks.push_back(
            {pixmap, {part.x - t->bounds.x, part.y - t->bounds.y, part.width, part.height}, t->depth != 32});
        parts.push_back(t);
    }
    auto pixels = grabAll(asks);
    if (!covered && !pixels.front()) return std::nullopt;
    // The canvas covers the masked pixels' bounds: the desktop picture (black where there is none), then
    // every shown window in stacking order.
    std::optional<BgraImage> canvas;
    if (keptPicture) {
        canvas = *keptPicture;
    } else if (pictureAsk) {
        canvas = rootPictureOf(*pictureAsk, std::move(pixels[pictureAt]), region);
        if (canvas && keepsPicture)
            keptPicture_ = KeptPicture{pictureAsk->drawable, region, *canvas, ledger_.turn()};
    }
    if (!canvas) {
        canvas.emplace(region.width, region.height);
        makeOpaque(*canvas);
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto& part = pixels[partsAt + i];
        if (!part) {
            forgetPicture(parts[i]->frame);  // gone meanwhile: named again next time
            return std::nullopt;
        }
        const PixelRect& at = asks[partsAt + i].rect;
        drawOver(*canvas, *part, at.x + parts[i]->bounds.x - region.x, at.y + parts[i]->bounds.y - region.y,
                 parts[i]->depth == 32);
    }
    if (covered) return canvas;
    replaceMasked(*pixels.front(), *canvas, local, mask);
    return std::move(pixels.front());
}

std::optional<BgraImage> Session::grabWindow(const TopLevel& window) {
    const PixelRect whole{0, 0, window.bounds.width, window.bounds.height};
    if (hasComposite_ && compositorRunning()) {
        if (const xcb_pixmap_t pixmap = windowPicture(window); pixmap != XCB_NONE) {
            if (auto pixels = grab(pixmap, whole, window.depth != 32)) return pixels;
            forgetPicture(window.frame);
        }
    }
    // Without a kept picture the window's own pixels are what is on screen, covering windows included.
    return grab(window.frame, whole, true);
}

const TopLevel* Session::findWindow(std::uint32_t windowID) {
    for (const auto& t : topLevels())
        if (t.client == windowID || t.frame == windowID) return &t;
    return nullptr;
}

std::string Session::appIdOf(const TopLevel& t) const {
    // The id every other service gives the same program.
    return x11_.identity().appIdOf({static_cast<std::int32_t>(t.pid), t.instanceName, t.windowClass});
}

ShareableContent Session::shareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly) {
    ShareableContent content;
    // Points as every service converts them: the session's one conversion.
    const auto space = x11_.space();
    auto points = [&space](const PixelRect& r) {
        return space.topLeftFromRoot(Rect(r.x, r.y, r.width, r.height));
    };
    for (const auto& m : monitors()) content.displays.push_back({m.displayID, points(m.root)});
    const auto& tops = topLevels();
    std::unordered_map<std::int64_t, std::size_t> appIndex;
    // Front to back, as the window list reads.
    for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
        const TopLevel& t = *it;
        // Managed windows, and the unmanaged ones (menus, our own overlays) while they show.
        if (!t.managed && !t.viewable) continue;
        if (onScreenWindowsOnly && !t.viewable) continue;
        if (excludeDesktopWindows && t.isDesktop) continue;
        CaptureWindow w;
        w.windowID = t.client;
        w.frame = points(t.bounds);
        w.title = t.title;
        w.isOnScreen = t.viewable;
        w.isDesktop = t.isDesktop;
        if (t.pid > 0) {
            CaptureApplication app{t.pid, appIdOf(t), t.windowClass};
            if (appIndex.emplace(t.pid, content.applications.size()).second)
                content.applications.push_back(app);
            w.owningApplication = content.applications[appIndex[t.pid]];
        }
        content.windows.push_back(std::move(w));
    }
    return content;
}

bool KeptStrip::stillHolds(Session& session, const PixelRect& area, const ContentFilter& filter, int width,
                           int height) {
    return last_ && vouched_ && area == reading_.area && width == width_ && height == height_ &&
           filter == filter_ && session.unchangedSince(reading_);
}

std::optional<CaptureFrame> KeptStrip::frame(Session& session, const PixelRect& area,
                                             const ContentFilter& filter, int width, int height,
                                             double timestamp) {
    reused_ = repeated_ = stillHolds(session, area, filter, width, height);
    if (reused_) {
        // The same pixels, shared; only the time is the frame's own.
        CaptureFrame frame = *last_;
        frame.timestamp = timestamp;
        return frame;
    }
    std::optional<CaptureFrame> before = std::exchange(last_, std::nullopt);
    vouched_ = false;
    auto image = session.grabFiltered(area, filter, &reading_);
    if (!image) return std::nullopt;
    CaptureFrame frame = toFrame(scaled(std::move(*image), width, height), timestamp);
    // A grab that gives the frame before's pixels (a window beneath drew what it showed already, or
    // something drew beside the strip) is that frame again, pixels shared.
    if (before && before->width == frame.width && before->height == frame.height &&
        before->bytesPerRow == frame.bytesPerRow && *before->pixels == *frame.pixels) {
        frame.pixels = before->pixels;
        repeated_ = true;
    }
    // A reading that reads no root pixels leaves its area unset: the area asked is what is compared.
    reading_.area = area;
    vouched_ = reading_.turn != 0;
    last_ = frame;
    filter_ = filter;
    width_ = width;
    height_ = height;
    return frame;
}

}  // namespace velaro::x11capture
