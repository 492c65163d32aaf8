// The pointer on an X11 display.
#include "platform/linux/X11PointerSource.h"

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <map>

#include "base/Log.h"

namespace velaro {

struct X11PointerSource::Watchers {
    std::map<int, std::function<void()>> handlers;
    int nextId = 0;
};

X11PointerSource::X11PointerSource(MainLoop& loop, const char* displayName, double pollInterval)
    : loop_(loop),
      pollInterval_(pollInterval > 0 ? pollInterval : 1.0 / 60),
      watchers_(std::make_shared<Watchers>()) {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(displayName, &screenNumber);
    if (!c || xcb_connection_has_error(c)) {
        if (c) xcb_disconnect(c);
        logLine("POINTER", "no X11 display; the pointer reads as unknown");
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(c);
        return;
    }
    connection_ = c;
    root_ = it.data->root;
    space_ = CoordinateSpace(Rect(0, 0, it.data->width_in_pixels, it.data->height_in_pixels));
    refreshPrimary();
}

X11PointerSource::~X11PointerSource() {
    pollTimer_.cancel();
    if (connection_) xcb_disconnect(connection_);
}

bool X11PointerSource::isConnected() const {
    std::lock_guard lock(mutex_);
    return connection_ != nullptr;
}

void X11PointerSource::refreshPrimary() {
    std::lock_guard lock(mutex_);
    if (!connection_) return;
    const auto primaryCookie = xcb_randr_get_output_primary(connection_, root_);
    xcb_randr_get_output_primary_reply_t* primary =
        xcb_randr_get_output_primary_reply(connection_, primaryCookie, nullptr);
    if (!primary) return;  // no RandR: keep the root's extent
    const xcb_randr_output_t output = primary->output;
    std::free(primary);
    if (output == XCB_NONE) return;
    auto* info = xcb_randr_get_output_info_reply(
        connection_, xcb_randr_get_output_info(connection_, output, XCB_CURRENT_TIME), nullptr);
    if (!info) return;
    const xcb_randr_crtc_t crtc = info->crtc;
    std::free(info);
    if (crtc == XCB_NONE) return;
    auto* crtcInfo = xcb_randr_get_crtc_info_reply(
        connection_, xcb_randr_get_crtc_info(connection_, crtc, XCB_CURRENT_TIME), nullptr);
    if (!crtcInfo) return;
    if (crtcInfo->width > 0 && crtcInfo->height > 0) {
        const double s = pixelsPerPoint_;
        space_ = CoordinateSpace(
            Rect(crtcInfo->x / s, crtcInfo->y / s, crtcInfo->width / s, crtcInfo->height / s));
    }
    std::free(crtcInfo);
}

void X11PointerSource::setCoordinateSpace(const CoordinateSpace& space, double pixelsPerPoint) {
    std::lock_guard lock(mutex_);
    space_ = space;
    pixelsPerPoint_ = pixelsPerPoint > 0 ? pixelsPerPoint : 1;
}

std::optional<Point> X11PointerSource::rootLocation(CoordinateSpace& space) const {
    std::lock_guard lock(mutex_);
    if (!connection_) return std::nullopt;
    auto* reply = xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr);
    if (!reply) return std::nullopt;
    const Point p{reply->root_x / pixelsPerPoint_, reply->root_y / pixelsPerPoint_};
    std::free(reply);
    space = space_;
    return p;
}

std::optional<Point> X11PointerSource::location() const {
    CoordinateSpace space;
    const auto root = rootLocation(space);
    if (!root) return std::nullopt;
    return space.globalFromRoot(*root);
}

std::optional<Point> X11PointerSource::topLeftLocation() const {
    CoordinateSpace space;
    const auto root = rootLocation(space);
    if (!root || space.primaryInRoot().isEmpty()) return std::nullopt;
    return space.topLeftFromRoot(*root);
}

Cancellable X11PointerSource::watchMotion(std::function<void()> moved) {
    const int id = ++watchers_->nextId;
    watchers_->handlers.emplace(id, std::move(moved));
    if (!pollTimer_.isActive()) {
        lastPolled_ = location();
        pollTimer_ = loop_.every(pollInterval_, [this] { poll(); });
    }
    return Cancellable([this, weak = std::weak_ptr<Watchers>(watchers_), id] {
        auto w = weak.lock();
        if (!w) return;
        w->handlers.erase(id);
        if (w->handlers.empty()) pollTimer_.cancel();
    });
}

void X11PointerSource::poll() {
    const auto now = location();
    if (now == lastPolled_) return;
    lastPolled_ = now;
    const auto snapshot = watchers_->handlers;  // a handler may end its own watch
    for (const auto& [id, moved] : snapshot) moved();
}

}  // namespace velaro
