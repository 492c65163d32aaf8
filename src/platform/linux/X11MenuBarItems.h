// The menu bar's items on an X11 desktop. The front app's menus: the panels here have no global menu, and
// where a global-menu registrar runs, it hands out menu structures but never where the panel drew them,
// so there is no extent to report. The status items: the tray's icon windows (children of the
// _NET_SYSTEM_TRAY_S<n> selection owner, or embedded in a dock window by panels that reparent them into
// themselves, as tint2 does), plus the clock that panels put at the tray's outer end.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "base/Geometry.h"
#include "platform/MenuBarItems.h"
#include "platform/linux/X11Session.h"

namespace velaro {

class X11Session;

// One panel's tray: its icons and the panel (dock) window holding them, in root pixels.
struct TrayLayout {
    std::vector<Rect> icons;
    std::optional<Rect> panel;
};

// The status windows of a tray: every icon and, when the icons end close to the panel's right end (within
// a clock's width), the area between them and that end, where the clock sits; all at the status level, in
// top-left global points.
std::vector<MenuBarItemWindow> statusWindowsOfTray(const TrayLayout& tray, const x11::ScreenSpace& space);

class X11MenuBarItems final : public MenuBarItems {
public:
    // The widest clock the status area is stretched over, in points.
    static constexpr double kClockAreaWidth = 120;

    // The session must outlive the service.
    explicit X11MenuBarItems(X11Session& session);
    ~X11MenuBarItems() override;

    std::optional<std::vector<std::optional<Rect>>> frontMenuItemFrames() override;
    std::vector<MenuBarItemWindow> statusItemWindows() override;

    // The trays as the server shows them now, one per panel that holds icons.
    std::vector<TrayLayout> readTrays();

private:
    X11Session& session_;
};

}  // namespace velaro
