// Screen capture as the sampler uses it: shareable content, content filters, strip streams and screenshots.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "base/MainLoop.h"
#include "platform/CaptureFrame.h"

namespace velaro {

// One monitor that can be captured. `displayID` is the display number of this session, the same number the
// screen list reports for that monitor.
struct CaptureDisplay {
    std::uint32_t displayID = 0;
    // The monitor in top-left global points (origin at the primary's top-left, y down).
    Rect frame;
    double width() const { return frame.width(); }
    double height() const { return frame.height(); }
    friend bool operator==(const CaptureDisplay&, const CaptureDisplay&) = default;
};

// A running program that owns at least one top-level window.
struct CaptureApplication {
    std::int64_t processID = 0;
    // The app's identifier: its desktop-file id where known, else its window class; ours is the app's own id.
    std::string appId;
    std::string applicationName;
    friend bool operator==(const CaptureApplication&, const CaptureApplication&) = default;
};

struct CaptureWindow {
    // The client window's number (the frame the window manager wraps it in is followed by the service).
    std::uint32_t windowID = 0;
    // The outer frame, decorations included, in top-left global points.
    Rect frame;
    std::string title;
    std::optional<CaptureApplication> owningApplication;
    bool isOnScreen = false;
    // A desktop-type window (the file manager's desktop, a wallpaper window).
    bool isDesktop = false;
    friend bool operator==(const CaptureWindow&, const CaptureWindow&) = default;
};

// What can be captured right now: the monitors, the programs with windows and their windows, front to back.
struct ShareableContent {
    std::vector<CaptureDisplay> displays;
    std::vector<CaptureApplication> applications;
    std::vector<CaptureWindow> windows;
};

// Which pixels a stream or screenshot sees. A display filter shows the monitor without the windows of the
// excluded applications (except the excepted windows) and without the excluded windows; a window filter shows
// one window alone, as if nothing covered it.
struct ContentFilter {
    enum class Kind { display, window };
    Kind kind = Kind::display;
    CaptureDisplay display;
    std::vector<CaptureApplication> excludedApplications;
    std::vector<CaptureWindow> exceptingWindows;
    std::vector<CaptureWindow> excludedWindows;
    CaptureWindow window;  // for Kind::window
    // Whether the top panels (dock windows) stay in the picture of a display filter.
    bool includeMenuBar = false;

    static ContentFilter displayExcludingApplications(CaptureDisplay display,
                                                      std::vector<CaptureApplication> applications,
                                                      std::vector<CaptureWindow> exceptingWindows = {});
    static ContentFilter displayExcludingWindows(CaptureDisplay display, std::vector<CaptureWindow> windows);
    static ContentFilter desktopIndependentWindow(CaptureWindow window);

    // Whether a window of process `pid` (0 = unknown) with client number `windowID` is left out by this
    // display filter; `isPanel` marks the top panels' dock windows.
    bool excludes(std::int64_t pid, std::uint32_t windowID, bool isPanel) const;
    friend bool operator==(const ContentFilter&, const ContentFilter&) = default;
};

struct StreamConfiguration {
    // Part of the display to capture, in points with the origin at the display's top-left; empty = all of it.
    // What lies beyond the display is cut off.
    Rect sourceRect;
    // Size of the delivered frames in pixels; the source is scaled to it.
    int width = 0;
    int height = 0;
    // Shortest time between two frames, in seconds (1 / frames per second). 0 means the display's rate.
    double minimumFrameInterval = 1.0 / 60;
    // Most frames delivered to the output but not yet handled; a grab is skipped while the output lags.
    int queueDepth = 3;
    friend bool operator==(const StreamConfiguration&, const StreamConfiguration&) = default;
};

enum class CaptureErrorCode {
    unavailable,         // no display server, or it lacks what capture needs
    invalidParameter,    // a configuration or filter that cannot be captured
    displayUnavailable,  // the filter's display is not (or no longer) connected
    windowUnavailable,   // the filter's window is gone
    alreadyStarted,      // start on a running stream
    notStarted,          // stop on a stream that does not run
    connectionLost,      // the display server went away while capturing
    failedToStart,       // any other reason a stream could not start
};

struct CaptureError {
    CaptureErrorCode code = CaptureErrorCode::failedToStart;
    std::string message;
};

// Called with no error on success.
using CaptureCompletion = std::function<void(std::optional<CaptureError> error)>;

// A capture of one display's rectangle, at most at the configured rate: a frame comes when the rectangle's
// pixels changed (the first one at the start), and otherwise only when asked for. Its methods are called on
// the main loop, except requestFrame; every completion and the stopped-with-error handler come there too,
// frames on the output's serial queue.
class CaptureStream {
public:
    using FrameHandler = std::function<void(const CaptureFrame& frame)>;

    virtual ~CaptureStream() = default;

    // Sets where frames go. Frames run on `queue`, one at a time; after stopCapture completes no further
    // frame reaches `output`. Fails (returns the error) while the stream runs.
    virtual std::optional<CaptureError> addStreamOutput(FrameHandler output,
                                                        std::shared_ptr<SerialQueue> queue) = 0;
    virtual void startCapture(CaptureCompletion completion) = 0;
    virtual void stopCapture(CaptureCompletion completion) = 0;
    // Replaces the filter of a running or idle stream. On a running stream the completion comes once frames
    // are taken with the new filter.
    virtual void updateContentFilter(ContentFilter filter, CaptureCompletion completion) = 0;
    // Asks for one more frame even though nothing changed, the last one again when it still holds, at the
    // configured rate; asks made before it comes are one. For an output that held a frame back and wants
    // to look at it again. Any thread; nothing happens while the stream does not run.
    virtual void requestFrame() = 0;

    virtual ContentFilter contentFilter() const = 0;
    virtual StreamConfiguration configuration() const = 0;
};

// Told on the main loop when a running stream stopped by itself (its display vanished, the server went
// away). The stream is then idle; no stop call is needed.
using StreamStoppedHandler = std::function<void(CaptureStream& stream, const CaptureError& error)>;

class CaptureService {
public:
    virtual ~CaptureService() = default;

    using ContentHandler =
        std::function<void(std::optional<ShareableContent> content, std::optional<CaptureError>)>;
    using ImageHandler = std::function<void(std::optional<CaptureFrame> image, std::optional<CaptureError>)>;

    // Reads the displays, applications and windows; `handler` runs on the main loop with the content or an
    // error. Desktop-type windows are left out when `excludeDesktopWindows`; unmapped ones when
    // `onScreenWindowsOnly`.
    virtual void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                     ContentHandler handler) = 0;

    // A new idle stream. `onStopped` may be empty.
    virtual std::shared_ptr<CaptureStream> makeStream(ContentFilter filter, StreamConfiguration configuration,
                                                      StreamStoppedHandler onStopped) = 0;

    // One picture with the filter and configuration (`sourceRect` empty = the whole display or window);
    // `handler` runs on the main loop.
    virtual void captureImage(ContentFilter filter, StreamConfiguration configuration,
                              ImageHandler handler) = 0;
};

}  // namespace velaro
