// One xcb connection that reads pixels for capture: monitors, the stacked top-level windows, the desktop
// picture, and strips of the screen with the content filter applied. Used from one thread at a time.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/CaptureService.h"
#include "platform/linux/X11CaptureCompose.h"

namespace velaro::x11capture {

// What the session knows of the program behind a window, for naming its application.
struct AppIdentity {
    std::int64_t processID = 0;
    std::string windowClass;
    std::string instanceName;
};
using BundleIdentifierResolver = std::function<std::string(const AppIdentity&)>;

struct SessionOptions {
    std::string displayName;  // empty: $DISPLAY
    // Root pixels per point (the screens' device pixel ratio).
    double pixelsPerPoint = 1;
    // Our own process's application identifier.
    std::string ownBundleIdentifier = "com.quornet.Velaro";
    // Gives other programs their identifier (desktop-file id); empty or an empty answer: the window class.
    BundleIdentifierResolver bundleIdentifierFor;
    // Switches for the paths a desktop may lack: false acts as if the server had no MIT-SHM, or as if no
    // compositor kept window pictures, so those paths can be checked on any desktop.
    bool allowShm = true;
    bool allowCompositorPictures = true;
};

struct TopLevel {
    xcb_window_t frame = 0;   // the child of the root (the window manager's frame, or the window itself)
    xcb_window_t client = 0;  // the application's window inside it
    PixelRect bounds;         // root pixels, border included
    std::uint8_t depth = 0;
    bool viewable = false;
    bool managed = false;  // carries WM_STATE: a window the window manager handles
    std::int64_t pid = 0;
    bool isDesktop = false;
    bool isDock = false;
    std::string title;
    std::string windowClass;
    std::string instanceName;
};

class Session {
public:
    // A connected session, or null with `error` filled in.
    static std::unique_ptr<Session> open(const SessionOptions& options, CaptureError* error);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    xcb_connection_t* connection() const { return c_; }
    xcb_window_t root() const { return root_; }
    bool usesShm() const { return shmUsable_; }
    double pixelsPerPoint() const { return options_.pixelsPerPoint; }

    // Takes the server's change notices; false once the connection has failed.
    bool pollEvents();
    // True when monitors changed since the last call of monitors().
    bool monitorsChanged() const { return monitorsDirty_; }
    // The monitors, the primary first; the whole root as one monitor when RandR has none.
    std::vector<Monitor> monitors();
    std::optional<Monitor> monitor(std::uint32_t displayID);

    // Top-level windows, lowest first, re-read only after the server reported a change.
    const std::vector<TopLevel>& topLevels();
    bool compositorRunning();

    // Pixels of `rect` (in the drawable's coordinates); with `opaque` the alpha bytes are set to 255.
    std::optional<BgraImage> grab(xcb_drawable_t drawable, const PixelRect& rect, bool opaque);
    // The root pixels of `area` as the filter sees them: the excluded windows are replaced by what lies
    // beneath them (compositor) or by the nearest clean pixels.
    std::optional<BgraImage> grabFiltered(const PixelRect& area, const ContentFilter& filter);
    // One top-level window alone, as if nothing covered it where a compositor keeps its picture.
    std::optional<BgraImage> grabWindow(const TopLevel& window);
    // The desktop picture under `area` (root coordinates), when the root names one that covers it.
    std::optional<BgraImage> grabRootPicture(const PixelRect& area);

    ShareableContent shareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly);
    // Root pixels to top-left global points of the given monitor list.
    Rect pointsFromRoot(const PixelRect& r, const std::vector<Monitor>& monitors) const;
    const TopLevel* findWindow(std::uint32_t windowID);

private:
    explicit Session(SessionOptions options);
    bool connect(CaptureError* error);
    void refreshTopLevels();
    bool ensureSegment(std::size_t bytes);
    void releaseSegment();
    xcb_pixmap_t rootPicture(PixelRect* extent);
    bool composeBeneath(BgraImage& image, const PixelRect& area, const std::vector<std::uint8_t>& mask,
                        const std::vector<const TopLevel*>& shown);
    std::string bundleIdentifier(const TopLevel& t) const;

    SessionOptions options_;
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    int screenNumber_ = 0;
    std::uint8_t randrEventBase_ = 0;
    bool hasRandr_ = false;
    bool hasComposite_ = false;
    bool hasRes_ = false;
    bool shmUsable_ = false;
    bool treeDirty_ = true;
    bool monitorsDirty_ = true;
    bool compositorKnown_ = false;
    bool compositor_ = false;
    bool rootPictureKnown_ = false;
    xcb_pixmap_t rootPicture_ = 0;
    PixelRect rootPictureExtent_;
    std::vector<TopLevel> topLevels_;
    struct Atoms;
    std::unique_ptr<Atoms> atoms_;
    // The shared-memory segment the server writes grabs into.
    std::uint32_t shmSeg_ = 0;
    std::uint8_t* shmAddr_ = nullptr;
    std::size_t shmSize_ = 0;
};

}  // namespace velaro::x11capture
