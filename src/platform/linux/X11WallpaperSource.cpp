// The main display's desktop picture on X11, read on the capture worker and scaled down for previews.
#include "platform/linux/X11WallpaperSource.h"

#include "platform/linux/X11CaptureCompose.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/XcbUtil.h"

namespace velaro {

using namespace x11capture;

namespace {

// A pixmap the root names, and its size.
struct NamedPixmap {
    xcb_pixmap_t pixmap = XCB_NONE;
    PixelRect extent;
};

// The pixmap the wallpaper setter names now, read afresh: each new wallpaper comes in a new pixmap, and a
// property may still name one its setter has freed since.
std::optional<NamedPixmap> namedPixmap(Session& session, const X11WallpaperSource::PictureNames& names) {
    xcb_connection_t* c = session.connection();
    std::array<xcb_get_property_cookie_t, 2> asks{};
    for (std::size_t i = 0; i < names.size(); ++i)
        asks[i] = xcb_get_property(c, 0, session.root(), names[i], XCB_ATOM_PIXMAP, 0, 1);
    std::vector<xcb_pixmap_t> named;
    for (const auto& ask : asks) {
        auto r = x11::awaitReply(c, ask, xcb_get_property_reply);
        if (r && r->format == 32 && xcb_get_property_value_length(r.get()) >= 4)
            named.push_back(*static_cast<const xcb_pixmap_t*>(xcb_get_property_value(r.get())));
    }
    for (const xcb_pixmap_t pixmap : named) {
        if (auto g = x11::awaitReply(c, xcb_get_geometry(c, pixmap), xcb_get_geometry_reply))
            return NamedPixmap{pixmap, {0, 0, g->width, g->height}};
    }
    return std::nullopt;
}

// The root's picture under `area` at `size`. A pixmap that covers the area is read there alone; a smaller one
// is the tile the server repeats over the root, read whole and scaled from itself.
std::optional<BgraImage> rootPicture(Session& session, const X11WallpaperSource::PictureNames& names,
                                     const PixelRect& area, const WallpaperPixelSize& size) {
    const auto named = namedPixmap(session, names);
    if (!named) return std::nullopt;
    if (named->extent.intersection(area) == area) {
        auto pixels = session.grab(named->pixmap, area, true);
        if (!pixels) return std::nullopt;
        return scaled(std::move(*pixels), size.width, size.height);
    }
    // A huge pixmap that still misses the area is no tile.
    constexpr int kLargestTile = 4096;
    if (named->extent.width > kLargestTile || named->extent.height > kLargestTile) return std::nullopt;
    const auto tile = session.grab(named->pixmap, named->extent, true);
    if (!tile) return std::nullopt;
    return scaledTile(*tile, area, size.width, size.height);
}

// The picture under the primary monitor at `size`: the root's named pixmap, else a desktop window of exactly
// the monitor's size that lies on it.
std::optional<BgraImage> readWallpaper(Session& session, const X11WallpaperSource::PictureNames& names,
                                       const Monitor& primary, const WallpaperPixelSize& size) {
    if (auto picture = rootPicture(session, names, primary.root, size)) return picture;
    for (const auto& t : session.topLevels()) {
        if (!t.isDesktop || !t.viewable) continue;
        if (t.bounds.width != primary.root.width || t.bounds.height != primary.root.height) continue;
        if (t.bounds.intersection(primary.root).isEmpty()) continue;
        auto picture = session.grabWindow(t);
        if (!picture) return std::nullopt;
        return scaled(std::move(*picture), size.width, size.height);
    }
    return std::nullopt;
}

}  // namespace

X11WallpaperSource::X11WallpaperSource(MainLoop& loop, X11CaptureService& capture, X11Session& session)
    : loop_(loop), capture_(capture) {
    auto& desktop = session.desktop();
    desktop.intern({"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"});
    names_ = {desktop.atom("_XROOTPMAP_ID"), desktop.atom("ESETROOT_PMAP_ID")};
    rootSelection_ = session.selectEvents(desktop.root(), XCB_EVENT_MASK_PROPERTY_CHANGE);
    handler_ = session.addEventHandler([this, root = desktop.root()](const xcb_generic_event_t& e) {
        if ((e.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return;
        const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(e);
        if (p.window == root && (p.atom == names_[0] || p.atom == names_[1])) changed_.send(0);
    });
    // Another size or place of the main display is another part of the picture.
    screensWatch_ = session.screensChanged().sink([this](int) { changed_.send(0); });
}

void X11WallpaperSource::captureWallpaperImage(double maxPixelSize, bool nativeScale, ImageHandler handler) {
    capture_.onWorker([&loop = loop_, names = names_, maxPixelSize, nativeScale,
                       handler = std::move(handler)](Session* session, const CaptureError&) {
        std::optional<CaptureFrame> result;
        if (session) {
            const auto monitors = session->monitors();
            if (!monitors.empty()) {
                const Monitor& primary = monitors.front();
                const double s = session->pixelsPerPoint();
                const auto size = wallpaperPixelSize(primary.root.width / s, primary.root.height / s, s,
                                                     maxPixelSize, nativeScale);
                if (!size.isEmpty()) {
                    if (auto picture = readWallpaper(*session, names, primary, size))
                        result = toFrame(std::move(*picture), loop.uptime());
                }
            }
        }
        loop.post([handler, result = std::move(result)]() mutable { handler(std::move(result)); });
    });
}

}  // namespace velaro
