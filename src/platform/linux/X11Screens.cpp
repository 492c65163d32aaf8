// RandR monitors and panel struts as screens in global points.
#include "platform/linux/X11Screens.h"

#include <xcb/randr.h>

#include <QByteArray>
#include <QUuid>
#include <algorithm>

#include "platform/linux/XcbUtil.h"

namespace velaro {

namespace {

// What a screen without any panel reports as its status-bar thickness: a common panel height.
constexpr double kDefaultStatusBarThickness = 24;

bool rangesMeet(double start, double endInclusive, double lo, double hi) {
    return start < hi && endInclusive >= lo;
}

}  // namespace

std::optional<Strut> Strut::fromValues(const std::vector<std::uint32_t>& v, double rootWidth,
                                       double rootHeight) {
    Strut s;
    if (v.size() >= 12) {
        s = Strut{double(v[0]), double(v[1]), double(v[2]), double(v[3]), double(v[4]),  double(v[5]),
                  double(v[6]), double(v[7]), double(v[8]), double(v[9]), double(v[10]), double(v[11])};
        return s;
    }
    if (v.size() >= 4) {
        s.left = v[0];
        s.right = v[1];
        s.top = v[2];
        s.bottom = v[3];
        s.leftEndY = s.rightEndY = rootHeight - 1;
        s.topEndX = s.bottomEndX = rootWidth - 1;
        return s;
    }
    return std::nullopt;
}

std::vector<std::pair<std::uint32_t, Strut>> strutsOf(x11::Connection& connection,
                                                      const std::vector<std::uint32_t>& windows,
                                                      double rootWidth, double rootHeight) {
    auto* c = connection.get();
    std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> asks;
    asks.reserve(windows.size());
    for (auto w : windows)
        asks.emplace_back(
            x11::askProperty(c, w, connection.atom("_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL, 12),
            x11::askProperty(c, w, connection.atom("_NET_WM_STRUT"), XCB_ATOM_CARDINAL, 4));
    std::vector<std::pair<std::uint32_t, Strut>> struts;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        auto partial = x11::own(xcb_get_property_reply(c, asks[i].first, nullptr));
        auto plain = x11::own(xcb_get_property_reply(c, asks[i].second, nullptr));
        // The partial form wins; the old four-value form spans whole edges.
        auto strut = Strut::fromValues(x11::values32(partial.get()), rootWidth, rootHeight);
        if (!strut) strut = Strut::fromValues(x11::values32(plain.get()), rootWidth, rootHeight);
        if (strut) struts.emplace_back(windows[i], *strut);
    }
    return struts;
}

Rect visibleAreaOf(const Rect& m, const std::vector<Strut>& struts, double rootWidth, double rootHeight) {
    double left = 0, right = 0, top = 0, bottom = 0;
    for (const auto& s : struts) {
        if (s.top > m.minY() && rangesMeet(s.topStartX, s.topEndX, m.minX(), m.maxX()))
            top = std::max(top, s.top - m.minY());
        const double bottomEdge = rootHeight - s.bottom;
        if (s.bottom > 0 && bottomEdge < m.maxY() &&
            rangesMeet(s.bottomStartX, s.bottomEndX, m.minX(), m.maxX()))
            bottom = std::max(bottom, m.maxY() - bottomEdge);
        if (s.left > m.minX() && rangesMeet(s.leftStartY, s.leftEndY, m.minY(), m.maxY()))
            left = std::max(left, s.left - m.minX());
        const double rightEdge = rootWidth - s.right;
        if (s.right > 0 && rightEdge < m.maxX() && rangesMeet(s.rightStartY, s.rightEndY, m.minY(), m.maxY()))
            right = std::max(right, m.maxX() - rightEdge);
    }
    top = std::min(top, m.height());
    bottom = std::min(bottom, m.height() - top);
    left = std::min(left, m.width());
    right = std::min(right, m.width() - left);
    return {m.minX() + left, m.minY() + top, m.width() - left - right, m.height() - top - bottom};
}

std::vector<RawMonitor> monitorsOf(const xcb_randr_get_monitors_reply_t* reply) {
    std::vector<RawMonitor> out;
    if (!reply) return out;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem;
         xcb_randr_monitor_info_next(&it)) {
        RawMonitor m;
        m.primary = it.data->primary != 0;
        m.root = Rect(it.data->x, it.data->y, it.data->width, it.data->height);
        m.nameAtom = it.data->name;
        if (xcb_randr_monitor_info_outputs_length(it.data) > 0)
            m.output = xcb_randr_monitor_info_outputs(it.data)[0];
        // The output is the display; a monitor without one (set up by hand) is known by its name.
        m.number = m.output ? m.output : m.nameAtom;
        out.push_back(std::move(m));
    }
    return out;
}

std::size_t primaryIndex(const std::vector<RawMonitor>& monitors) {
    for (std::size_t i = 0; i < monitors.size(); ++i)
        if (monitors[i].primary) return i;
    for (std::size_t i = 0; i < monitors.size(); ++i)
        if (monitors[i].root.minX() == 0 && monitors[i].root.minY() == 0) return i;
    return 0;
}

std::string displayIdentifier(const std::string& outputName, const std::string& edid) {
    // A fixed namespace keeps the identifier the same across runs for the same output and monitor.
    static const QUuid ns("{6f1c5a52-2d0e-4b8e-9a4f-5e0b7c1d3a90}");
    QByteArray data = QByteArray::fromStdString(outputName);
    data.append('\0');
    data.append(QByteArray::fromStdString(edid));
    return QUuid::createUuidV5(ns, data).toString(QUuid::WithoutBraces).toUpper().toStdString();
}

std::vector<ScreenInfo> screensFrom(std::vector<RawMonitor> monitors, const std::vector<Strut>& struts,
                                    double rootWidth, double rootHeight, double pixelsPerPoint,
                                    CoordinateSpace* spaceOut) {
    if (monitors.empty()) return {};
    const auto primary = monitors.begin() + primaryIndex(monitors);
    std::rotate(monitors.begin(), primary, primary + 1);

    const double k = pixelsPerPoint > 0 ? pixelsPerPoint : 1;
    auto points = [k](const Rect& r) { return Rect{r.x() / k, r.y() / k, r.width() / k, r.height() / k}; };
    const CoordinateSpace space(points(monitors.front().root));
    if (spaceOut) *spaceOut = space;
    std::vector<ScreenInfo> out;
    for (const auto& m : monitors) {
        ScreenInfo s;
        s.id = displayIdentifier(m.name, m.edid);
        s.name = m.name;
        s.number = m.number;
        s.frame = space.globalFromRoot(points(m.root));
        s.visibleFrame = space.globalFromRoot(points(visibleAreaOf(m.root, struts, rootWidth, rootHeight)));
        s.backingScale = k;
        out.push_back(std::move(s));
    }
    return out;
}

std::unique_ptr<X11Screens> X11Screens::create(double pixelsPerPoint, const char* display) {
    auto connection = x11::Connection::open(display);
    if (!connection) return nullptr;
    return std::unique_ptr<X11Screens>(new X11Screens(std::move(connection), pixelsPerPoint));
}

X11Screens::X11Screens(std::unique_ptr<x11::Connection> connection, double pixelsPerPoint)
    : connection_(std::move(connection)), pixelsPerPoint_(pixelsPerPoint) {
    auto* c = connection_->get();
    connection_->intern({"_NET_CLIENT_LIST", "_NET_WM_STRUT_PARTIAL", "_NET_WM_STRUT", "_NET_WORKAREA",
                         "_NET_ACTIVE_WINDOW", "EDID"});
    if (const auto* ext = xcb_get_extension_data(c, &xcb_randr_id); ext && ext->present) {
        randrEventBase_ = ext->first_event;
        // Monitors need RandR 1.5; the server answers what it supports, and get_monitors fails cleanly below
        // it.
        x11::own(xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        xcb_randr_select_input(c, connection_->root(),
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE);
    }
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, connection_->root(), XCB_CW_EVENT_MASK, &mask);
    pump_ = std::make_unique<x11::EventPump>(*connection_);
    handler_ = pump_->addHandler([this](const xcb_generic_event_t& e) {
        const auto type = e.response_type & 0x7f;
        if (type == XCB_PROPERTY_NOTIFY) {
            const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(e);
            if (p.atom == connection_->atom("_NET_ACTIVE_WINDOW")) {
                updateActiveCentre();
                return;
            }
            if (p.atom == connection_->atom("_NET_CLIENT_LIST") ||
                p.atom == connection_->atom("_NET_WORKAREA") ||
                p.atom == connection_->atom("_NET_WM_STRUT_PARTIAL") ||
                p.atom == connection_->atom("_NET_WM_STRUT"))
                reload();
        } else if (type == XCB_CONFIGURE_NOTIFY && randrEventBase_ == 0) {
            reload();
        } else if (randrEventBase_ && (type == randrEventBase_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                                       type == randrEventBase_ + XCB_RANDR_NOTIFY)) {
            reload();
        }
    });
    reload();
    updateActiveCentre();
    pump_->drainSoon();
}

X11Screens::~X11Screens() {
    handler_.cancel();
    pump_.reset();
}

void X11Screens::reload() {
    auto* c = connection_->get();
    const xcb_window_t root = connection_->root();
    auto geometry = x11::own(xcb_get_geometry_reply(c, xcb_get_geometry(c, root), nullptr));
    if (!geometry) return;
    const double rootWidth = geometry->width, rootHeight = geometry->height;

    std::vector<RawMonitor> monitors;
    if (randrEventBase_) {
        auto reply = x11::own(xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, root, 1), nullptr));
        if (reply) {
            monitors = monitorsOf(reply.get());
            // Names and EDIDs of all monitors in one pipelined round trip.
            std::vector<std::pair<xcb_get_atom_name_cookie_t, xcb_randr_get_output_property_cookie_t>> asks;
            for (const auto& m : monitors)
                asks.emplace_back(xcb_get_atom_name(c, m.nameAtom),
                                  m.output
                                      ? xcb_randr_get_output_property(c, m.output, connection_->atom("EDID"),
                                                                      XCB_ATOM_ANY, 0, 256, 0, 0)
                                      : xcb_randr_get_output_property_cookie_t{0});
            for (std::size_t i = 0; i < monitors.size(); ++i) {
                if (auto name = x11::own(xcb_get_atom_name_reply(c, asks[i].first, nullptr)))
                    monitors[i].name.assign(xcb_get_atom_name_name(name.get()),
                                            xcb_get_atom_name_name_length(name.get()));
                if (asks[i].second.sequence) {
                    auto edid = x11::own(xcb_randr_get_output_property_reply(c, asks[i].second, nullptr));
                    if (edid && edid->format == 8)
                        monitors[i].edid.assign(
                            reinterpret_cast<const char*>(xcb_randr_get_output_property_data(edid.get())),
                            xcb_randr_get_output_property_data_length(edid.get()));
                }
            }
        }
    }
    if (monitors.empty())
        monitors.push_back(RawMonitor{"screen", 0, true, Rect(0, 0, rootWidth, rootHeight), {}});

    // The struts of every managed window (docks and panels set them); watch those windows for changes.
    std::vector<Strut> struts;
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    for (const auto& [window, strut] : strutsOf(
             *connection_, x11::rootWindowList(*connection_, "_NET_CLIENT_LIST"), rootWidth, rootHeight)) {
        struts.push_back(strut);
        xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
    }
    xcb_flush(c);

    CoordinateSpace space;
    auto list = screensFrom(std::move(monitors), struts, rootWidth, rootHeight, pixelsPerPoint_, &space);
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        space_ = space;
        changed = list != screens_;
        screens_ = std::move(list);
    }
    if (changed) changed_.send(++generation_);
}

void X11Screens::updateActiveCentre() {
    auto* c = connection_->get();
    const auto ids = x11::rootWindowList(*connection_, "_NET_ACTIVE_WINDOW");
    std::optional<Point> centre;
    if (!ids.empty() && ids[0] != 0) {
        auto geometry = xcb_get_geometry(c, ids[0]);
        auto translate = xcb_translate_coordinates(c, ids[0], connection_->root(), 0, 0);
        auto g = x11::own(xcb_get_geometry_reply(c, geometry, nullptr));
        auto t = x11::own(xcb_translate_coordinates_reply(c, translate, nullptr));
        if (g && t) {
            std::lock_guard lock(mutex_);
            const double k = pixelsPerPoint_ > 0 ? pixelsPerPoint_ : 1;
            centre = space_.globalFromRoot(
                Point{(t->dst_x + g->width / 2.0) / k, (t->dst_y + g->height / 2.0) / k});
        }
    }
    std::lock_guard lock(mutex_);
    activeCentre_ = centre;
}

std::vector<ScreenInfo> X11Screens::screens() const {
    std::lock_guard lock(mutex_);
    return screens_;
}

std::optional<ScreenInfo> X11Screens::mainScreen() const {
    std::lock_guard lock(mutex_);
    if (screens_.empty()) return std::nullopt;
    if (activeCentre_) {
        for (const auto& s : screens_)
            if (s.frame.contains(*activeCentre_)) return s;
    }
    return screens_.front();
}

double X11Screens::statusBarThickness() const {
    std::lock_guard lock(mutex_);
    double thickest = 0;
    for (const auto& s : screens_) thickest = std::max(thickest, s.frame.maxY() - s.visibleFrame.maxY());
    return thickest > 0 ? thickest : kDefaultStatusBarThickness;
}

}  // namespace velaro
