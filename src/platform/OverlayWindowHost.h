// The borderless, click-through, never-focused windows the overlay draws in: levels, frames, alpha,
// ordering, animated changes and batches of changes that reach the screen together.
//
// Every window a host makes shares one configuration: no border, no shadow, a clear background, never
// takes the keyboard or the focus, lets the mouse through unless its owner switches that off, stays on every
// desktop and out of the taskbar and the window cycle. Frames are in global points (origin at the primary
// screen's bottom-left, y up); the content paints in the window's own points with the origin at its top-left.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Cancellable.h"
#include "base/Geometry.h"
#include "base/Lifetime.h"
#include "base/TimingCurve.h"
#include "platform/ModifierFlags.h"

class QImage;
class QPainter;
class QRegion;

namespace velaro {

class MainLoop;

// A window's number: the id other services (window lists, capture filters) know it by. 0 means none.
using WindowNumber = std::int64_t;

// The layers of the X server's stack an overlay window can lie in, lowest first. Within the host a higher
// layer always lies above a lower one; how each meets other applications' windows is the real host's
// business (X11OverlayStack).
namespace OverlayWindowLevel {
enum Layer : int {
    wallpaper = -1,  // directly above the desktop window, below every application window
    normal = 0,      // among the applications' windows, below the one it is put under (else the active one)
    belowPanel = 1,  // directly below the top panel on its screen, above every application window
    panel = 2,       // the panel's own layer: its tray items lie here, and an overlay window here covers it
    banner = 3,      // above everything
};
}  // namespace OverlayWindowLevel

// Paints a window's content: the painter is clipped to the window and starts cleared to transparent;
// `size` is the window's size in points, origin at the top-left.
using OverlayContent = std::function<void(QPainter& painter, Size size)>;

// Writes a window's device pixels itself, for hosts that keep them in memory of their own: `pixels` is the
// window's size in device pixels (premultiplied ARGB32) and holds an older picture; every pixel of
// `devicePixels` is written. It shows what the content paints, without a painter and without the clear.
using OverlayPixelContent = std::function<void(QImage& pixels, const QRegion& devicePixels)>;

// How a window's pixels are made: painted from its content, or drawn with OpenGL by its owner.
enum class OverlaySurfaceKind { painted, gl };

struct OverlayWindowOptions {
    std::string name;  // a short role ("overlay-bar", "overlay-corner"); the window's title and class
    Rect frame;        // global points
    int level = OverlayWindowLevel::normal;
    double alpha = 1.0;
    OverlayContent content;  // painted windows only
    OverlaySurfaceKind surface = OverlaySurfaceKind::painted;
};

// The OpenGL drawable of a GL-surface window: an ARGB surface with an 8-bit alpha channel and premultiplied
// colour, drawn by its owner on the main thread whenever it likes. The window never draws into it, except
// to show it transparent until the owner first presents. It shows only while translucency is supported:
// without a compositor an ARGB surface would be an opaque black band.
class OverlayGLSurface {
public:
    virtual ~OverlayGLSurface() = default;
    // Makes the surface's OpenGL 3.3 core context current. False when there is none (it could not be made)
    // or it was just lost; a later call may make a new one, which changes the generation.
    virtual bool makeCurrent() = 0;
    // While current: the framebuffer to draw into, and its size in device pixels (the window's size times
    // its device pixel ratio).
    virtual unsigned framebuffer() const = 0;
    virtual int pixelWidth() const = 0;
    virtual int pixelHeight() const = 0;
    virtual double devicePixelRatio() const = 0;
    // Shows what was drawn since makeCurrent(); nothing while the window is off screen.
    virtual void present() = 0;
    // Changes whenever the surface gets a new context: every GL object made in an older one is gone.
    virtual std::uint64_t generation() const = 0;
};

// Where a scroll gesture is: touchpads report the start, the moves and the end of a swipe, and the
// coasting that follows it as a momentum phase of its own.
enum class ScrollPhase { none, began, changed, ended, cancelled };

// A mouse or scroll event that reached a window taking the mouse.
struct OverlayMouseEvent {
    enum class Kind { down, dragged, up, scroll };
    enum class Button { left, right, other };
    Kind kind = Kind::down;
    Button button = Button::left;
    Point location;               // in the window's points, origin at its top-left
    int clickCount = 1;           // for an up: 2 ends a double click
    std::uint32_t modifiers = 0;  // ModifierFlag bits held with the event
    // Scroll events only: the distance in points (positive x: towards the left of the content, as a
    // wheel turned left scrolls), whether it came from a touchpad (precise) rather than wheel notches,
    // the gesture's phase, and whether the desktop inverts the direction ("natural" scrolling).
    double deltaX = 0;
    double deltaY = 0;
    bool hasPreciseDeltas = false;
    ScrollPhase phase = ScrollPhase::none;
    ScrollPhase momentumPhase = ScrollPhase::none;
    bool directionInvertedFromDevice = false;
};

using OverlayMouseHandler = std::function<void(const OverlayMouseEvent&)>;

class OverlayWindowHost;

class OverlayWindow {
public:
    OverlayWindow(const OverlayWindow&) = delete;
    OverlayWindow& operator=(const OverlayWindow&) = delete;
    // Orders the window out; an animation of it ends, and its group's completion still runs.
    virtual ~OverlayWindow();

    const std::string& name() const { return name_; }
    virtual WindowNumber windowNumber() const = 0;

    Rect frame() const { return frame_; }
    // Moves and resizes the window; `display` repaints it now rather than on the next turn of the loop.
    // A running frame animation of this window ends where it is.
    void setFrame(const Rect& frame, bool display);

    int level() const { return level_; }
    void setLevel(int level);

    double alphaValue() const { return alpha_; }
    // Clamped to 0...1 (not-a-number counts as 0). A running alpha animation of this window ends.
    void setAlphaValue(double alpha);

    // Ordered in: on screen unless an alpha of 0 hides it.
    bool isVisible() const { return visible_; }
    // Brings the window in front of every window of its level.
    void orderFrontRegardless();
    void orderOut();
    // Orders the window in, directly below the window numbered `other`: one of this host's windows (then
    // within this window's own level) or another application's window.
    void orderBelow(WindowNumber other);
    // The other application's window this one was last ordered below, until it is ordered front or out.
    std::optional<WindowNumber> orderedBelowForeign() const { return belowForeign_; }

    // The OpenGL drawable of a window made with OverlaySurfaceKind::gl; null for painted windows.
    virtual OverlayGLSurface* glSurface() { return nullptr; }

    // Whether the window takes mouse and scroll events over its whole frame (they go to the mouse handler)
    // instead of letting them through to what lies beneath. Off at first; the window never takes the
    // keyboard focus either way.
    bool takesMouse() const { return takesMouse_; }
    void setTakesMouse(bool takes);
    void setMouseHandler(OverlayMouseHandler handler) { mouseHandler_ = std::move(handler); }

    void setContent(OverlayContent content);
    const OverlayContent& content() const { return content_; }
    // Taken instead of the content by a host that can (see OverlayPixelContent); none by default.
    void setPixelContent(OverlayPixelContent content);
    const OverlayPixelContent& pixelContent() const { return pixelContent_; }
    // Where in a window of `size` (its points) the content can paint; it leaves the rest clear, so a host
    // may repaint and show only these parts. No function, or no parts: anywhere.
    using PaintedArea = std::function<std::vector<Rect>(Size size)>;
    void setPaintedArea(PaintedArea area);
    std::vector<Rect> paintedArea(Size size) const {
        return paintedArea_ ? paintedArea_(size) : std::vector<Rect>{};
    }
    // Where in a window of `size` the content's next paint covers every pixel with opaque paint, whatever
    // lay there before, so a host may leave those pixels uncleared. No function, or no parts: nowhere.
    void setOpaqueArea(PaintedArea area) { opaqueArea_ = std::move(area); }
    std::vector<Rect> opaqueArea(Size size) const {
        return opaqueArea_ ? opaqueArea_(size) : std::vector<Rect>{};
    }
    // Where in a window of `size` the content's next paint lays the same pixels on every device row wholly
    // inside a part as on the first of them, so a host may paint that row only and copy it down the part.
    // The parts do not overlap. No function, or no parts: nowhere.
    void setRepeatedArea(PaintedArea area) { repeatedArea_ = std::move(area); }
    std::vector<Rect> repeatedArea(Size size) const {
        return repeatedArea_ ? repeatedArea_(size) : std::vector<Rect>{};
    }
    // Marks the content for repainting; it is repainted on the next turn of the loop, by
    // displayIfNeeded(), or when a batch commits.
    void setNeedsDisplay();
    bool needsDisplay() const { return needsDisplay_; }
    void displayIfNeeded();
    // Repaints the content now; while a batch is open, when it commits.
    void display();

protected:
    OverlayWindow(OverlayWindowHost& host, const OverlayWindowOptions& options);
    OverlayWindowHost& host() const { return host_; }

    // The host-specific side effects. Each is called after the stored value changed.
    virtual void applyFrame(const Rect& frame) = 0;
    virtual void applyAlpha(double alpha) = 0;
    virtual void applyVisible(bool visible) = 0;
    // The stacking itself reaches the host through stackChanged(); this only reports the new level.
    virtual void applyLevel(int) {}
    // Repaints the content now.
    virtual void paint() = 0;
    // Lets the mouse reach the window, or pass through it again.
    virtual void applyTakesMouse(bool) {}
    // Hands a native event to the mouse handler; nothing while the window lets the mouse through.
    void deliverMouse(const OverlayMouseEvent& event);

    // Every subclass calls this first in its destructor: it orders the window out while it is still whole.
    void detachFromHost();

private:
    friend class OverlayWindowHost;
    void orderIn();
    void animateStep(double now);
    void setFrameInternal(const Rect& frame);
    void setAlphaInternal(double alpha);

    struct Tween;
    OverlayWindowHost& host_;
    std::string name_;
    Rect frame_;
    int level_;
    double alpha_;
    bool visible_ = false;
    bool needsDisplay_ = true;
    bool attached_ = true;
    bool takesMouse_ = false;
    OverlayMouseHandler mouseHandler_;
    std::optional<WindowNumber> belowForeign_;
    OverlayContent content_;
    OverlayPixelContent pixelContent_;
    PaintedArea paintedArea_;
    PaintedArea opaqueArea_;
    PaintedArea repeatedArea_;
    std::shared_ptr<Tween> alphaTween_;
    std::shared_ptr<Tween> frameTween_;
};

// One change of an animation group: the window, and the alpha and/or frame it moves to.
struct OverlayWindowChange {
    OverlayWindow* window = nullptr;
    std::optional<double> alpha;
    std::optional<Rect> frame;
};

class OverlayWindowHost {
public:
    explicit OverlayWindowHost(MainLoop& loop);
    OverlayWindowHost(const OverlayWindowHost&) = delete;
    OverlayWindowHost& operator=(const OverlayWindowHost&) = delete;
    virtual ~OverlayWindowHost();

    // A new window with the shared configuration, ordered out. Windows must be destroyed before their host.
    virtual std::unique_ptr<OverlayWindow> makeWindow(const OverlayWindowOptions& options) = 0;

    // Whether partly transparent pixels and alpha values between 0 and 1 show as such. Without it every
    // painted pixel is opaque, unpainted ones are cut away, and an alpha of 0 hides the window.
    virtual bool supportsTranslucency() const = 0;

    // Changes made until the returned handle ends (or commitBatch()) reach the screen together: stacking,
    // repaints of the windows that need one, and visibility are applied when the outermost batch commits.
    [[nodiscard]] Cancellable batch();
    void beginBatch();
    void commitBatch();
    bool inBatch() const { return batchDepth_ > 0; }

    // Moves every window of `changes` to its new alpha and/or frame along `animation`, driven by the main
    // loop. A later animation or a direct set of the same property of a window takes over from it.
    // `completion` runs once, on the main loop, when every change of the group has ended, whether it ran
    // to the end or was taken over, and also when the group is empty.
    void animate(const OverlayAnimation& animation, const std::vector<OverlayWindowChange>& changes,
                 std::function<void()> completion = {});

    // The ordered-in windows, front to back: by level, then most recently ordered front first.
    std::vector<OverlayWindow*> orderedWindows() const;
    // Every window of this host, ordered in or not, in the order they were made.
    const std::vector<OverlayWindow*>& allWindows() const { return windows_; }
    // The host's window with that number, if any.
    OverlayWindow* windowWithNumber(WindowNumber number) const;

protected:
    MainLoop& loop() const { return loop_; }
    // Called when the order or the levels of the ordered-in windows changed, outside a batch, or once when
    // a batch that changed them commits.
    virtual void stackChanged() = 0;
    // Called when the outermost batch commits, after the stack and the repaints.
    virtual void batchCommitted() {}

private:
    friend class OverlayWindow;
    void attach(OverlayWindow* window);
    void detach(OverlayWindow* window);
    void moveToFront(OverlayWindow* window);
    void moveBelow(OverlayWindow* window, OverlayWindow* other);
    void remove(OverlayWindow* window);
    void noteStackChange();
    void noteNeedsDisplay(OverlayWindow* window);
    void flushDisplays();
    void startTicking();
    void tick();

    MainLoop& loop_;
    std::vector<OverlayWindow*> windows_;
    std::list<OverlayWindow*> zOrder_;  // ordered-in windows, most recently fronted first
    int batchDepth_ = 0;
    bool stackDirty_ = false;
    bool displayPosted_ = false;
    Cancellable ticker_;
    Lifetime lifetime_;
};

}  // namespace velaro
