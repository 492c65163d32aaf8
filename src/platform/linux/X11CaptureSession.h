// Capture's reading of the screen over the session's capture connection: monitors, the stacked top-level
// windows, the desktop picture, and strips of the screen with the content filter applied. One thread only:
// the capture worker's.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/CaptureService.h"
#include "platform/linux/X11CaptureCompose.h"
#include "platform/linux/X11CaptureDamage.h"

namespace velaro {
class X11Session;
namespace x11 {
class Connection;
}
}  // namespace velaro

namespace velaro::x11capture {

// Switches for the paths a desktop may lack: false acts as if the server had no MIT-SHM, or as if no
// compositor kept window pictures, so those paths can be checked on any desktop.
struct CaptureOptions {
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

// Sleeps until `wakeFd` is readable or `timeoutSeconds` passed (negative: no limit), for a reader without a
// display; whether it was readable.
bool waitForWake(int wakeFd, double timeoutSeconds);

class Session {
public:
    // Capture over the X11 session's capture connection, or null with `error` filled in when the server
    // lacks what capture needs. The X11 session names the apps and converts to points; it must outlive this.
    static std::unique_ptr<Session> open(X11Session& x11, const CaptureOptions& options, CaptureError* error);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    xcb_connection_t* connection() const { return c_; }
    xcb_window_t root() const { return root_; }
    bool usesShm() const { return shmUsable_; }
    // The session's ratio now: it follows the screens while capture runs.
    double pixelsPerPoint() const;

    // While followed, the server's change notices keep the window stack and the desktop picture cached
    // between grabs; otherwise nothing is selected (nothing piles up while capture idles) and every read
    // asks the server afresh.
    void setFollowing(bool following);
    // Takes the server's change notices; false once the connection has failed.
    bool pollEvents();
    // Sleeps until the server has sent something to take in, `wakeFd` (an event descriptor, or -1) becomes
    // readable, or `timeoutSeconds` passed (negative: no limit); the requests made so far go out first.
    // Notices a reply's wait already read are told at once. Returns whether `wakeFd` was readable; it is
    // left for the caller to drain.
    bool waitForEvents(int wakeFd, double timeoutSeconds);
    // Sends the requests made so far.
    void flush() { xcb_flush(c_); }
    // Counts the monitor changes the server told of; a reader compares it with the count it last saw.
    std::uint64_t monitorsGeneration() const { return monitorsGeneration_; }
    // The monitors, the primary first; the whole root as one monitor when RandR has none.
    std::vector<Monitor> monitors();
    std::optional<Monitor> monitor(std::uint32_t displayID);

    // Top-level windows, lowest first, re-read only after the server reported a change.
    const std::vector<TopLevel>& topLevels();
    bool compositorRunning();

    // Pixels of `rect` (in the drawable's coordinates); with `opaque` the alpha bytes are set to 255.
    std::optional<BgraImage> grab(xcb_drawable_t drawable, const PixelRect& rect, bool opaque);
    // The root pixels of `area` as the filter sees them: the excluded windows are replaced by what lies
    // beneath them (compositor) or by the nearest clean pixels. With `reading`, what the grab read is told
    // there and followed from now on, so that `unchangedSince` can later judge it.
    std::optional<BgraImage> grabFiltered(const PixelRect& area, const ContentFilter& filter,
                                          Reading* reading = nullptr);
    // Whether a grab told in `reading` would give the same pixels now: the server's damage notices since
    // show no change of anything it read. False where the server has no damage notices or nothing is
    // followed. The watches of a reading vouched for stay, however long no grab reads them.
    bool unchangedSince(const Reading& reading);
    // One top-level window alone, as if nothing covered it where a compositor keeps its picture.
    std::optional<BgraImage> grabWindow(const TopLevel& window);
    // The desktop picture under `area` (root coordinates), when the root names one that covers it.
    std::optional<BgraImage> grabRootPicture(const PixelRect& area);

    ShareableContent shareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly);
    const TopLevel* findWindow(std::uint32_t windowID);

private:
    Session(X11Session& x11, x11::Connection& connection, CaptureOptions options);
    bool setUp(CaptureError* error);
    void refreshTopLevels();
    bool ensureSegment(std::size_t bytes);
    void releaseSegment();
    // Several grabs with one round trip: every request goes out (into its own part of the segment) before
    // the first answer is read. Absent entries failed.
    struct GrabAsk {
        xcb_drawable_t drawable = 0;
        PixelRect rect;
        bool opaque = true;
    };
    std::vector<std::optional<BgraImage>> grabAll(const std::vector<GrabAsk>& asks);
    // The compositor's picture of a top-level window, named once and kept while the window keeps its size
    // and stays mapped (a new size or a new mapping gives the window new storage).
    xcb_pixmap_t windowPicture(const TopLevel& window);
    void forgetPicture(xcb_window_t frame);
    void forgetPictures();
    xcb_pixmap_t rootPicture(PixelRect* extent);
    // What the read of the desktop picture under `area` asks (the area, or the whole tile the server
    // repeats).
    std::optional<GrabAsk> rootPictureAsk(const PixelRect& area);
    // The picture under `area` from what that read gave back.
    std::optional<BgraImage> rootPictureOf(const GrabAsk& ask, std::optional<BgraImage> pixels,
                                           const PixelRect& area);
    // The root pixels of `area` with those under the mask (set inside `local`, relative to `area`) taken
    // from the desktop picture and the compositor's pictures of the `shown` windows beneath; nothing when
    // a window's picture cannot be read.
    // With `reading`, what it read is watched and told there.
    std::optional<BgraImage> composeBeneath(const PixelRect& area, const std::vector<std::uint8_t>& mask,
                                            const PixelRect& local, const std::vector<const TopLevel*>& shown,
                                            Reading* reading);
    // The kept desktop picture under `region` when the damage notices vouch that it is still what the
    // picture holds.
    const BgraImage* keptPictureFor(xcb_pixmap_t pixmap, const PixelRect& region);
    std::string appIdOf(const TopLevel& t) const;
    // Damage notices of `drawable` from now on, once; the root's come as rectangles, the others once until
    // taken in.
    void watch(xcb_drawable_t drawable);
    void watchRoot();
    void unwatch(xcb_drawable_t drawable);
    void endWatches();
    // Ends the watches of drawables no grab has read for a while.
    void pruneWatches();
    void takeDamage(const xcb_generic_event_t& event);
    void takeEvent(xcb_generic_event_t* event);

    X11Session& x11_;
    x11::Connection& connection_;
    CaptureOptions options_;
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    bool following_ = false;
    std::uint64_t monitorsGeneration_ = 0;
    std::uint8_t randrEventBase_ = 0;
    bool hasRandr_ = false;
    bool hasComposite_ = false;
    bool hasRes_ = false;
    bool hasDamage_ = false;
    std::uint8_t damageEventBase_ = 0;
    bool shmUsable_ = false;
    bool treeDirty_ = true;
    bool compositorKnown_ = false;
    bool compositor_ = false;
    bool rootPictureKnown_ = false;
    xcb_pixmap_t rootPicture_ = 0;
    PixelRect rootPictureExtent_;
    std::vector<TopLevel> topLevels_;
    struct NamedPicture {
        xcb_pixmap_t pixmap = 0;
        int width = 0, height = 0;
    };
    std::unordered_map<xcb_window_t, NamedPicture> pictures_;
    // The desktop picture under a region as last read, while the damage notices vouch for it.
    struct KeptPicture {
        xcb_pixmap_t pixmap = 0;
        PixelRect region;
        BgraImage image;
        std::uint64_t turn = 0;
    };
    std::optional<KeptPicture> keptPicture_;
    DamageLedger ledger_;
    struct DamageWatch {
        std::uint32_t damage = 0;
        std::uint64_t usedTurn = 0;
    };
    std::unordered_map<xcb_drawable_t, DamageWatch> watches_;
    std::unordered_map<std::uint32_t, xcb_drawable_t> watchedByDamage_;
    // Notices taken out of the connection's queue by a wait, told by the next pollEvents.
    std::vector<xcb_generic_event_t*> waiting_;
    struct Atoms;
    std::unique_ptr<Atoms> atoms_;
    // The shared-memory segment the server writes grabs into.
    std::uint32_t shmSeg_ = 0;
    std::uint8_t* shmAddr_ = nullptr;
    std::size_t shmSize_ = 0;
};

// One stream's strip between its frames: the last frame is handed out again, with the new time, while the
// damage notices show that nothing it was made of changed; otherwise the strip is grabbed anew. A stream
// that waits for a change asks `stillHolds` whenever notices came, and grabs only once it no longer does.
class KeptStrip {
public:
    // Whether the last frame is what a grab of `area` under `filter` at `width` × `height` would give now,
    // as the damage notices vouch; false when they cannot.
    bool stillHolds(Session& session, const PixelRect& area, const ContentFilter& filter, int width,
                    int height);
    // The frame of `area` under `filter`, scaled to `width` × `height`, at `timestamp`; absent when the
    // grab failed.
    std::optional<CaptureFrame> frame(Session& session, const PixelRect& area, const ContentFilter& filter,
                                      int width, int height, double timestamp);
    // Whether the last frame was the kept one.
    bool reused() const { return reused_; }
    // Whether the last frame shows the pixels of the one before it: the kept one, or a grab that found the
    // same pixels (which it then shares).
    bool repeated() const { return repeated_; }
    // Whether the damage notices can tell when the last frame stops holding, so nothing needs grabbing until
    // they do.
    bool vouched() const { return vouched_; }
    void forget() {
        last_.reset();
        vouched_ = false;
    }

private:
    std::optional<CaptureFrame> last_;
    Reading reading_;
    bool vouched_ = false;
    ContentFilter filter_;
    int width_ = 0, height_ = 0;
    bool reused_ = false;
    bool repeated_ = false;
};

}  // namespace velaro::x11capture
