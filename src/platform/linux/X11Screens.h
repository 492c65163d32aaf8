// Monitors from RandR, with the top panels' struts as each monitor's menu bar, in global points.
#pragma once

#include <xcb/randr.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Cancellable.h"
#include "base/ChangeNotice.h"
#include "platform/Screens.h"
#include "platform/linux/X11ReadThread.h"
#include "platform/linux/X11Session.h"

namespace velaro {

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

// The strut values of each of `windows`, in order, read with the requests pipelined: _NET_WM_STRUT_PARTIAL's
// where it has a strut's worth, else _NET_WM_STRUT's (Strut::fromValues turns them into a strut).
std::vector<std::vector<std::uint32_t>> strutValuesOf(x11::Connection& connection,
                                                      const std::vector<std::uint32_t>& windows);
// The struts of those of `windows` that reserve space (docks and panels), each with its window, read with
// the requests pipelined.
std::vector<std::pair<std::uint32_t, Strut>> strutsOf(x11::Connection& connection,
                                                      const std::vector<std::uint32_t>& windows,
                                                      double rootWidth, double rootHeight);

// The part of a monitor (root pixels) the struts leave free.
Rect visibleAreaOf(const Rect& monitor, const std::vector<Strut>& struts, double rootWidth,
                   double rootHeight);

using x11::monitorsOf;
using x11::primaryIndex;
using x11::RawMonitor;

// Turns a screen snapshot and the struts into screens in global points, the primary first.
std::vector<ScreenInfo> screensFrom(const x11::ScreenSnapshot& snapshot, const std::vector<Strut>& struts);
// The same for monitors in any order on a root of the given size; `pixelsPerPoint` is the backing scale.
std::vector<ScreenInfo> screensFrom(std::vector<RawMonitor> monitors, const std::vector<Strut>& struts,
                                    double rootWidth, double rootHeight, double pixelsPerPoint);

// A stable display identifier: a name-based UUID of the output's name and EDID.
std::string displayIdentifier(const std::string& outputName, const std::string& edid);

class X11Screens final : public Screens {
public:
    // Needs the Qt application object; the session must outlive the service.
    explicit X11Screens(X11Session& session);
    ~X11Screens() override;

    std::vector<ScreenInfo> screens() const override;
    std::optional<ScreenInfo> mainScreen() const override;
    double statusBarThickness() const override;
    Stream<int> parametersChanged() const override { return changed_.stream(); }
    std::uint64_t revision() const override { return revision_.load(std::memory_order_acquire); }
    void callOnNextChange(std::function<void()> wake) const override { changeNotice_.arm(std::move(wake)); }

    // Converts the session's snapshot with the struts of the client list's last reading now (also done
    // after each new reading and after the screens changed).
    void reload();

private:
    // The centre of the active window (global points), as it stands now; any thread (the server is asked
    // only while `stop` stays false).
    std::optional<Point> readActiveCentre(const std::atomic<bool>& stop);
    void setActiveCentre(std::optional<Point> centre);

    X11Session& session_;
    Subscription handler_;
    Subscription screensChanged_;
    Subscription rootSelection_;
    Subscription clientChanges_;
    // The windows that reserve space, followed for their struts' changes (which the client list's reading
    // hears of, as of the work area the window manager changes for a window not followed).
    std::map<std::uint32_t, Subscription> dockSelections_;
    mutable std::mutex mutex_;
    std::vector<ScreenInfo> screens_;
    std::optional<Point> activeCentre_;  // global points
    // Moved under the mutex after every change of the two above.
    std::atomic<std::uint64_t> revision_{0};
    // Rung after the revision moved, once the mutex is let go.
    mutable ChangeNotice changeNotice_;
    int generation_ = 0;
    PassthroughSubject<int> changed_;
    // The active window is read again off the main loop after its notices and the screens' changes.
    x11::ToMainThread toMain_;
    std::unique_ptr<x11::ReadThread> activeReads_;  // last: it goes first
};

}  // namespace velaro
