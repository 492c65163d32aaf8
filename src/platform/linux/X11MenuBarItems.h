// The menu bar's items on an X11 desktop. The front app's menus: the panels here have no global menu, and
// where a global-menu registrar runs, it hands out menu structures but never where the panel drew them,
// so there is no extent to report. The status items: the tray's icon windows (children of the
// _NET_SYSTEM_TRAY_S<n> selection owner, or embedded in a dock window by panels that reparent them into
// themselves, as tint2 does), plus what the panel draws beside them (a clock, a battery), found in the
// panel's own pixels.
#pragma once

#include <cstdint>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/Geometry.h"
#include "base/Lifetime.h"
#include "platform/MenuBarItems.h"
#include "platform/linux/X11ReadThread.h"
#include "platform/linux/X11Session.h"

namespace velaro {

class MainLoop;
class X11Session;

// One panel's tray: its icons and the panel (dock) window holding them, in root pixels.
struct TrayLayout {
    std::vector<Rect> icons;
    std::optional<Rect> panel;
    // Where the panel's own drawing right of the icons ends (root pixels, exclusive); absent when its pixels
    // could not be read.
    std::optional<double> contentRight;
    // The window holding the icons (the panel, or the tray's selection owner).
    std::uint32_t window = 0;
    // Where the drawing right up against the icons' left starts (a clock before a tray at the panel's end),
    // in root pixels; absent when there is none or its pixels could not be read.
    std::optional<double> contentLeft;
    friend bool operator==(const TrayLayout&, const TrayLayout&) = default;
};

// The status windows of a tray, at the panel layer in top-left global points: every icon, what the panel
// draws right of the icons up to its last drawn column, and what it draws right up against their left, each
// with the padding around it that a status item's frame has (the last one twice that) and spanning the
// panel's rows, as a status item's frame spans its bar. When the panel's pixels could not be read, the area
// from the icons to the panel's right end stands for the clock if it is no wider than one.
std::vector<MenuBarItemWindow> statusWindowsOfTray(const TrayLayout& tray, const x11::ScreenSpace& space);

// The end (exclusive) of the columns of a 32-bit image in which some pixel differs from its row's commonest
// value: the panel's background is uniform along a row (or transparent), its drawing is not. 0 when nothing
// is drawn. `stride` counts pixels.
int drawnColumnsEnd(const std::uint32_t* pixels, int width, int height, int stride);
// Where the drawing of such an image that ends near its right edge starts: the first column of the run of
// drawn columns, broken by no `gap` undrawn columns in a row, whose last column has fewer than `gap` undrawn
// columns right of it. -1 when there is none.
int drawnRunStart(const std::uint32_t* pixels, int width, int height, int stride, int gap);

class X11MenuBarItems final : public MenuBarItems {
public:
    // The widest clock the status area is stretched over when the panel's pixels cannot be read, and the
    // widest drawing before the icons taken for one, in device pixels: the panel draws its clock at its own
    // size, whatever scale the app draws at.
    static constexpr double kClockAreaWidth = 120;
    // Drawing before the icons belongs with them when no empty stretch this wide (device pixels) lies
    // between: the panels' own spacing around a tray and clock is narrower, the free space before them wider.
    static constexpr int kBesideGap = 24;
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

    // The trays as the server shows them now, one per panel that holds icons.
    std::vector<TrayLayout> readTrays();

private:
    // What one reading found: the trays, and every window that may come to hold icons (each panel and the
    // tray's selection owner, with icons or without).
    struct Reading {
        std::vector<TrayLayout> trays;
        std::vector<xcb_window_t> holders;
    };
    struct Watch {
        Subscription events;
        std::uint32_t damage = 0;  // the panel's drawing; 0 without the extension
    };
    // Reads the trays of the tray's selection owner and of `docks`; a reading stops between two answers once
    // `stop` is set. Any thread.
    Reading read(const std::vector<xcb_window_t>& docks, const std::atomic<bool>& stop);
    // Takes a reading made off the main loop; main thread.
    void took(Reading reading);
    // Follows the windows of the reading, and forgets the windows that are no longer among them.
    void watch(const std::vector<xcb_window_t>& holders);
    void unwatch(xcb_window_t window, bool windowGone);
    void statusAreaMoved();

    // The docks among the listed clients, as the client list's last reading found them.
    std::vector<xcb_window_t> listedDocks() const;

    X11Session& session_;
    MainLoop& loop_;
    Subscription handler_;
    Subscription rootSelection_;
    Subscription clientChanges_;
    // The docks the last reading of the client list found: another reading looks again only when they
    // changed, not whenever any client rewrote the list. Main thread; the reads take a copy under the lock.
    std::mutex docksMutex_;
    std::vector<xcb_window_t> docks_;
    std::uint8_t damageEventBase_ = 0;
    bool hasDamage_ = false;
    std::map<xcb_window_t, Watch> watched_;
    // The trays of the last reading, told of or handed out: a look that finds them the same tells nobody.
    std::vector<TrayLayout> lastTrays_;
    bool read_ = false;  // whether lastTrays_ holds a reading yet
    PassthroughSubject<int> statusAreaChanged_;
    Lifetime lifetime_;
    // The looks after a change, made off the main loop once its notices pause (an icon docking maps,
    // reparents and configures at once; a panel starting makes many windows): the panel's server may be
    // busy answering a storm of other clients' changes. Last: it stops before anything above goes.
    std::unique_ptr<x11::ReadThread> reads_;
};

}  // namespace velaro
