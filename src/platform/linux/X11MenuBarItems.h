// The menu bar's items on an X11 desktop. The front app's menus: the panels here have no global menu, and
// where a global-menu registrar runs, it hands out menu structures but never where the panel drew them,
// so there is no extent to report. The status items: the tray's icon windows (children of the
// _NET_SYSTEM_TRAY_S<n> selection owner, or embedded in a dock window by panels that reparent them into
// themselves, as tint2 does), plus what the panel draws right beside them (a clock, a battery), found in the
// panel's own pixels; never a task list, whose buttons the panel names on the windows they stand for.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/Geometry.h"
#include "base/Lifetime.h"
#include "platform/MenuBarItems.h"
#include "platform/linux/X11ListedClients.h"
#include "platform/linux/X11ReadThread.h"
#include "platform/linux/X11Session.h"

namespace velaro {

class MainLoop;
class X11Session;

// One panel's tray: its icons and the panel (dock) window holding them, in root pixels.
struct TrayLayout {
    std::vector<Rect> icons;
    std::optional<Rect> panel;
    // Where the panel's own drawing right up against the icons' right ends (root pixels, exclusive): the
    // icons' right end when there is none; absent when its pixels could not be read.
    std::optional<double> contentRight;
    // The window holding the icons (the panel, or the tray's selection owner).
    std::uint32_t window = 0;
    // Where the drawing right up against the icons' left starts (a clock before a tray at the panel's end),
    // in root pixels; absent when there is none or its pixels could not be read.
    std::optional<double> contentLeft;
    // Where the panel's task list begins on either side of the tray (root pixels); absent where none does.
    std::optional<double> reachLeft, reachRight;
    friend bool operator==(const TrayLayout&, const TrayLayout&) = default;
};

// The drawn columns of the panel between two x (root pixels), as drawnColumns tells them; absent when the
// panel's pixels cannot be read.
using DrawnColumnsReader = std::function<std::optional<std::vector<bool>>(double from, double to)>;
// What the panel draws right beside a tray's icons, up to the task buttons it shows (`taskButtons`, as
// taskButtonsShown finds them) and read from its drawn columns: the tray's contentRight and contentLeft, and
// how far its status windows reach. Nothing without the panel's rectangle.
void measureBeside(TrayLayout& tray, const std::vector<Rect>& taskButtons, const DrawnColumnsReader& drawnAt);

// The status windows of a tray, at the panel layer in top-left global points: every icon, and what the panel
// draws right up against their right and their left, each with the padding around it that a status item's
// frame has (the last one twice that), spanning the panel's rows as a status item's frame spans its bar, and
// reaching no further than the task list on either side. When the panel's pixels could not be read, the area
// from the icons to the panel's right end stands for the clock if it is no wider than one.
std::vector<MenuBarItemWindow> statusWindowsOfTray(const TrayLayout& tray, const x11::ScreenSpace& space);

// Which columns of a 32-bit image hold drawing: some pixel differs from its row's commonest value (the
// panel's background is uniform along a row, or transparent; its drawing is not). `stride` counts pixels.
std::vector<bool> drawnColumns(const std::uint32_t* pixels, int width, int height, int stride);
// The end (exclusive) of the columns of such an image that hold drawing: 0 when nothing is drawn.
int drawnColumnsEnd(const std::uint32_t* pixels, int width, int height, int stride);
// Where the drawing of such an image that ends near its right edge starts: the first column of the run of
// drawn columns, broken by no `gap` undrawn columns in a row, whose last column has fewer than `gap` undrawn
// columns right of it. -1 when there is none.
int drawnRunStart(const std::uint32_t* pixels, int width, int height, int stride, int gap);
// How far the drawing beside the icons reaches into a strip of the panel's columns, `drawn` listing them
// outward from the icons' edge: the run of drawn columns that starts fewer than `gap` columns from the edge,
// broken by no `gap` undrawn columns in a row, counted from the edge. 0 when there is none, and when `open`
// (the panel goes on past the strip) and the run reaches within `gap` columns of the strip's far end: it may
// go on past the strip, wider than any clock (a task list, say).
int besideExtent(const std::vector<bool>& drawn, int gap, bool open);
// Where the drawing right up against the icons' `edge` (root pixels) ends on their right (`rightward`) or
// left: drawing no wider than a clock that no wide stretch of free space parts from them, and that stops
// short of `limit` (the panel's end, or a task list's nearest button). The edge itself when there is none;
// absent when the panel's pixels cannot be read.
std::optional<double> besideEnd(double edge, double limit, bool rightward, const DrawnColumnsReader& drawnAt);
// The task buttons (root pixels, as the panels give them on the windows they list) that stand on `panel`
// now: on it, clear of the tray's `icons`, each with the panel's drawing (`drawn`, its columns from its left
// end) in its first columns and none running into it from before it. A panel that showed a task list
// before it reloaded leaves its buttons' places on the windows: where any one does not fit the drawing, none
// is trusted.
std::vector<Rect> taskButtonsShown(const std::vector<Rect>& buttons, const Rect& panel,
                                   const std::vector<Rect>& icons, const std::vector<bool>& drawn);
// How far from the icons' edge (`edge`, root pixels) the drawing beside them may reach, rightward or
// leftward: to the panel's end, or to the nearest of the panel's task buttons on that side.
double besideLimit(const Rect& panel, double edge, bool rightward, const std::vector<Rect>& taskButtons);

class X11MenuBarItems final : public MenuBarItems {
public:
    // The widest clock the status area is stretched over when the panel's pixels cannot be read, and the
    // widest drawing before the icons taken for one, in device pixels: the panel draws its clock at its own
    // size, whatever scale the app draws at.
    static constexpr double kClockAreaWidth = 120;
    // Drawing before the icons belongs with them when no empty stretch this wide (device pixels) lies
    // between: the panels' own spacing around a tray and clock is narrower, the free space before them wider.
    static constexpr int kBesideGap = 24;
    // A task list draws each of its buttons from within this many of its first columns (device pixels).
    static constexpr int kButtonInset = 4;
    // How long the notices of a change are gathered before the status area is read again, in seconds.
    static constexpr double kLookAfter = 0.05;
    // The space a status item's frame keeps on either side of what it shows, in points; the frame that ends
    // the status area keeps twice that. The pill's default offsets were chosen for frames like these: with
    // −10 pt and its 2 pt margin the capsule starts 22 pt before the first thing drawn and ends 12 pt past
    // the last.
    static constexpr double kItemPadding = 10;

    // The session and the loop must outlive the service.
    X11MenuBarItems(X11Session& session, MainLoop& loop);
    ~X11MenuBarItems() override;

    std::optional<std::vector<std::optional<Rect>>> frontMenuItemFrames() override;
    std::vector<MenuBarItemWindow> statusItemWindows() override;
    // The trays read last changing: icons coming, going or moving, the panel drawing something else beside
    // them (a clock growing), a panel or tray coming or going (a panel reloads whenever its user edits it).
    Stream<int> statusAreaChanged() const override { return statusAreaChanged_.stream(); }

    // The trays as the server shows them now, one per panel that holds icons. Main thread.
    std::vector<TrayLayout> readTrays();

private:
    // What one reading found: the trays, and every window that may come to hold icons (each panel and the
    // tray's selection owner, with icons or without).
    struct Reading {
        std::vector<TrayLayout> trays;
        std::vector<xcb_window_t> holders;
    };
    using Clients = std::shared_ptr<const x11::ClientReading>;
    struct Watch {
        Subscription events;
        std::uint32_t damage = 0;  // the panel's drawing; 0 without the extension
    };
    // Reads the trays of the tray's selection owner and of the docks among `clients`, and where the task
    // lists among them drew their buttons; a reading stops between two answers once `stop` is set. Any
    // thread.
    Reading read(const Clients& clients, const std::atomic<bool>& stop);
    // Takes a reading made off the main loop; main thread.
    void took(Reading reading);
    // Follows the windows of the reading, and forgets the windows that are no longer among them.
    void watch(const std::vector<xcb_window_t>& holders);
    void unwatch(xcb_window_t window, bool windowGone);
    void statusAreaMoved();

    X11Session& session_;
    MainLoop& loop_;
    Subscription handler_;
    Subscription rootSelection_;
    Subscription clientChanges_;
    xcb_atom_t dockType_ = 0;
    // The client list's last reading, which the reads take under the lock.
    std::mutex clientsMutex_;
    Clients clients_;
    // The docks it lists: the trays are looked at again when they change, not whenever any client rewrote
    // the list. Main thread.
    std::vector<xcb_window_t> docks_;
    std::uint8_t damageEventBase_ = 0;
    bool hasDamage_ = false;
    std::map<xcb_window_t, Watch> watched_;
    // The trays of the last reading, told of or handed out: a look that finds them the same tells nobody.
    std::vector<TrayLayout> lastTrays_;
    bool read_ = false;  // whether lastTrays_ holds a reading yet: the first is made off the main loop too
    PassthroughSubject<int> statusAreaChanged_;
    Lifetime lifetime_;
    // The looks after a change, made off the main loop once its notices pause (an icon docking maps,
    // reparents and configures at once; a panel starting makes many windows): the panel's server may be
    // busy answering a storm of other clients' changes. Last, and stopped first thing in the destructor:
    // a reading hands its result over guarded by the lifetime above.
    std::unique_ptr<x11::ReadThread> reads_;
};

}  // namespace velaro
