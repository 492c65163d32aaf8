// Monitors from RandR, with the top panels' struts as each monitor's menu bar, in global points.
#pragma once

#include <xcb/randr.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Cancellable.h"
#include "platform/Screens.h"

namespace velaro {

namespace x11 {
class Connection;
class EventPump;
}  // namespace x11

// The space a dock reserves at the root window's edges (EWMH strut), in root pixels. Ranges are inclusive,
// as EWMH defines them.
struct Strut {
    double left = 0, right = 0, top = 0, bottom = 0;
    double leftStartY = 0, leftEndY = 0, rightStartY = 0, rightEndY = 0;
    double topStartX = 0, topEndX = 0, bottomStartX = 0, bottomEndX = 0;

    // From _NET_WM_STRUT_PARTIAL (12 values) or _NET_WM_STRUT (4 values, spanning whole edges); absent
    // otherwise.
    static std::optional<Strut> fromValues(const std::vector<std::uint32_t>& values, double rootWidth,
                                           double rootHeight);
};

// The struts of those of `windows` that reserve space (docks and panels), each with its window, read with
// the requests pipelined.
std::vector<std::pair<std::uint32_t, Strut>> strutsOf(x11::Connection& connection,
                                                      const std::vector<std::uint32_t>& windows,
                                                      double rootWidth, double rootHeight);

// The part of a monitor (root pixels) the struts leave free.
Rect visibleAreaOf(const Rect& monitor, const std::vector<Strut>& struts, double rootWidth,
                   double rootHeight);

// A monitor as RandR reports it, before conversion.
struct RawMonitor {
    std::string name;
    std::uint32_t number = 0;
    bool primary = false;
    Rect root;         // root pixels
    std::string edid;  // raw EDID bytes, empty when the output has none
    std::uint32_t nameAtom = 0;
    std::uint32_t output = 0;  // the first RandR output, 0 when none
};

// The monitors of a RandR reply (names and EDIDs not yet filled in).
std::vector<RawMonitor> monitorsOf(const xcb_randr_get_monitors_reply_t* reply);

// Which monitor is the primary (the origin of the global coordinates): the one RandR marks, else the one
// at the root's origin, else the first. 0 for an empty list.
std::size_t primaryIndex(const std::vector<RawMonitor>& monitors);

// Turns monitors and struts into screens in global points, the primary first. `pixelsPerPoint` is the
// backing scale.
std::vector<ScreenInfo> screensFrom(std::vector<RawMonitor> monitors, const std::vector<Strut>& struts,
                                    double rootWidth, double rootHeight, double pixelsPerPoint,
                                    CoordinateSpace* spaceOut = nullptr);

// A stable display identifier: a name-based UUID of the output's name and EDID.
std::string displayIdentifier(const std::string& outputName, const std::string& edid);

class X11Screens final : public Screens {
public:
    // Null when there is no X display.
    static std::unique_ptr<X11Screens> create(double pixelsPerPoint = 1, const char* display = nullptr);
    ~X11Screens() override;

    std::vector<ScreenInfo> screens() const override;
    std::optional<ScreenInfo> mainScreen() const override;
    double statusBarThickness() const override;
    Stream<int> parametersChanged() const override { return changed_.stream(); }

    // Reads monitors and struts again now (also done on every relevant X event).
    void reload();

private:
    X11Screens(std::unique_ptr<x11::Connection> connection, double pixelsPerPoint);
    void updateActiveCentre();

    std::unique_ptr<x11::Connection> connection_;
    std::unique_ptr<x11::EventPump> pump_;
    Subscription handler_;
    double pixelsPerPoint_;
    std::uint8_t randrEventBase_ = 0;
    mutable std::mutex mutex_;
    std::vector<ScreenInfo> screens_;
    CoordinateSpace space_;              // root points of the primary, for converting root positions
    std::optional<Point> activeCentre_;  // global points
    int generation_ = 0;
    PassthroughSubject<int> changed_;
};

}  // namespace velaro
