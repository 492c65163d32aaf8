// RandR monitors and panel struts as screens in global points.
#include "platform/linux/X11Screens.h"

#include <QByteArray>
#include <QUuid>
#include <algorithm>
#include <limits>

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

std::vector<std::vector<std::uint32_t>> strutValuesOf(x11::Connection& connection,
                                                      const std::vector<std::uint32_t>& windows) {
    auto* c = connection.get();
    const auto partialAtom = connection.atom("_NET_WM_STRUT_PARTIAL");
    const auto plainAtom = connection.atom("_NET_WM_STRUT");
    std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> asks;
    asks.reserve(windows.size());
    for (auto w : windows)
        asks.emplace_back(x11::askProperty(c, w, partialAtom, XCB_ATOM_CARDINAL, 12),
                          x11::askProperty(c, w, plainAtom, XCB_ATOM_CARDINAL, 4));
    std::vector<std::vector<std::uint32_t>> values;
    values.reserve(windows.size());
    for (const auto& [partialAsk, plainAsk] : asks) {
        auto partial = x11::awaitReply(c, partialAsk, xcb_get_property_reply);
        auto plain = x11::awaitReply(c, plainAsk, xcb_get_property_reply);
        values.push_back(x11::strutValues(partial.get(), plain.get()));
    }
    return values;
}

std::vector<std::pair<std::uint32_t, Strut>> strutsOf(x11::Connection& connection,
                                                      const std::vector<std::uint32_t>& windows,
                                                      double rootWidth, double rootHeight) {
    const auto values = strutValuesOf(connection, windows);
    std::vector<std::pair<std::uint32_t, Strut>> struts;
    for (std::size_t i = 0; i < windows.size(); ++i)
        if (auto strut = Strut::fromValues(values[i], rootWidth, rootHeight))
            struts.emplace_back(windows[i], *strut);
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

std::string displayIdentifier(const std::string& outputName, const std::string& edid) {
    // A fixed namespace keeps the identifier the same across runs for the same output and monitor.
    static const QUuid ns("{6f1c5a52-2d0e-4b8e-9a4f-5e0b7c1d3a90}");
    QByteArray data = QByteArray::fromStdString(outputName);
    data.append('\0');
    data.append(QByteArray::fromStdString(edid));
    return QUuid::createUuidV5(ns, data).toString(QUuid::WithoutBraces).toUpper().toStdString();
}

std::vector<ScreenInfo> screensFrom(const x11::ScreenSnapshot& snapshot, const std::vector<Strut>& struts) {
    const auto& space = snapshot.space;
    std::vector<ScreenInfo> out;
    for (const auto& m : snapshot.monitors) {
        ScreenInfo s;
        s.id = displayIdentifier(m.name, m.edid);
        s.name = m.name;
        s.number = m.number;
        s.frame = space.globalFromRoot(m.root);
        s.visibleFrame =
            space.globalFromRoot(visibleAreaOf(m.root, struts, snapshot.rootWidth, snapshot.rootHeight));
        s.backingScale = space.pixelsPerPoint();
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<ScreenInfo> screensFrom(std::vector<RawMonitor> monitors, const std::vector<Strut>& struts,
                                    double rootWidth, double rootHeight, double pixelsPerPoint) {
    if (monitors.empty()) return {};
    return screensFrom(x11::snapshotOf(std::move(monitors), rootWidth, rootHeight, pixelsPerPoint), struts);
}

X11Screens::X11Screens(X11Session& session) : session_(session) {
    auto& connection = session_.desktop();
    connection.intern({"_NET_ACTIVE_WINDOW"});
    rootSelection_ = session_.selectEvents(connection.root(), XCB_EVENT_MASK_PROPERTY_CHANGE);
    activeReads_ = std::make_unique<x11::ReadThread>(
        [this](const std::atomic<bool>& stop) {
            auto centre = readActiveCentre(stop);
            if (!stop) toMain_.post([this, centre] { setActiveCentre(centre); });
            return true;
        },
        std::chrono::milliseconds(0), std::chrono::milliseconds(0));
    handler_ = session_.addEventHandler([this](const xcb_generic_event_t& e) {
        if ((e.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return;
        const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(e);
        if (p.atom == session_.desktop().atom("_NET_ACTIVE_WINDOW")) activeReads_->ask();
    });
    // Panels come and go with the client list, and their struts change with their own notices: the list's
    // reading, made off the main loop, tells of both.
    clientChanges_ = session_.clients().changed().sink([this](int) { reload(); });
    screensChanged_ = session_.screensChanged().sink([this](int) {
        reload();
        activeReads_->ask();
    });
    reload();
    setActiveCentre(readActiveCentre(x11::neverStop));
}

X11Screens::~X11Screens() {
    activeReads_.reset();
}

void X11Screens::reload() {
    const auto snapshot = session_.screens();
    // The struts of every managed window (docks and panels set them); those windows are followed for changes.
    // While a long list is read in parts, windows still to be read again keep the struts last read, so that a
    // panel never drops out of the screens in between.
    const auto reading = session_.clients().reading();
    std::vector<Strut> struts;
    std::map<std::uint32_t, Subscription> selections;
    for (auto window : reading->windows) {
        const auto* facts = reading->find(window);
        const auto strut =
            facts ? Strut::fromValues(facts->strut, snapshot.rootWidth, snapshot.rootHeight) : std::nullopt;
        if (!strut) continue;
        struts.push_back(*strut);
        auto kept = dockSelections_.extract(window);
        selections[window] =
            kept ? std::move(kept.mapped()) : session_.selectEvents(window, XCB_EVENT_MASK_PROPERTY_CHANGE);
    }
    dockSelections_ = std::move(selections);

    auto list = screensFrom(snapshot, struts);
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        changed = list != screens_;
        screens_ = std::move(list);
        if (changed) revision_.fetch_add(1, std::memory_order_acq_rel);
    }
    if (!changed) return;
    changeNotice_.ring();
    changed_.send(++generation_);
}

std::optional<Point> X11Screens::readActiveCentre(const std::atomic<bool>& stop) {
    auto& connection = session_.desktop();
    auto* c = connection.get();
    auto active = x11::awaitReply<xcb_get_property_reply_t>(
        c,
        x11::askProperty(c, connection.root(), connection.atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 1)
            .sequence,
        stop);
    const auto ids = x11::values32(active.get());
    if (ids.empty() || ids[0] == 0) return std::nullopt;
    const auto geometryAsk = xcb_get_geometry(c, ids[0]);
    const auto translateAsk = xcb_translate_coordinates(c, ids[0], connection.root(), 0, 0);
    auto g = x11::awaitReply<xcb_get_geometry_reply_t>(c, geometryAsk.sequence, stop);
    auto t = x11::awaitReply<xcb_translate_coordinates_reply_t>(c, translateAsk.sequence, stop);
    if (!g || !t) return std::nullopt;
    return session_.space().globalFromRoot(Point{t->dst_x + g->width / 2.0, t->dst_y + g->height / 2.0});
}

void X11Screens::setActiveCentre(std::optional<Point> centre) {
    {
        std::lock_guard lock(mutex_);
        if (activeCentre_ == centre) return;
        activeCentre_ = centre;
        revision_.fetch_add(1, std::memory_order_acq_rel);
    }
    changeNotice_.ring();
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
