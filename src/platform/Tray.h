// The status icon in the panel's tray: its look, the clicks it gets, a menu popped up under it, and the
// popover that hangs under it. The shell builds the menu and the popover's content; the tray only places and
// shows them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "base/Published.h"

class QIcon;
class QWidget;

namespace velaro {

// The two status icons: the band as it looks while the app tints the panel, and struck through when the
// master switch is off.
enum class StatusIcon { on, off };

// Everything the icon shows at once, so one call changes the look without a half-updated state in between.
struct TrayAppearance {
    StatusIcon icon = StatusIcon::on;
    std::string toolTip;
    std::string accessibilityLabel;
    std::string accessibilityValue;

    friend bool operator==(const TrayAppearance&, const TrayAppearance&) = default;
};

enum class TrayButton { left, right };

struct TrayClick {
    TrayButton button = TrayButton::left;
    // Control was held: the shell treats such a left click like a right one.
    bool control = false;

    friend bool operator==(const TrayClick&, const TrayClick&) = default;
};

// One entry of a menu; a separator has neither title nor action.
struct TrayMenuItem {
    std::string title;
    // A symbol name of the design's own vocabulary ("gearshape", "power", "eye.slash"); the tray shows the
    // desktop's nearest icon, or none.
    std::string symbol;
    std::function<void()> action;
    bool enabled = true;
    bool separator = false;
    // Shown while the pointer rests on the item, enabled or not; empty for none.
    std::string toolTip;

    static TrayMenuItem makeSeparator() {
        TrayMenuItem item;
        item.separator = true;
        return item;
    }
};

// What a popover shows: the toolkit's widget the popover window hosts (none for content without a view). The
// popover takes the widget's size hint and follows it when it changes.
class TrayPopoverContent {
public:
    virtual ~TrayPopoverContent() = default;
    virtual QWidget* widget() { return nullptr; }
    // The most height the popover may take on its screen, in points: from under the top panel down to the
    // screen's bottom or a bottom panel. Told before every showing; taller content scrolls within it.
    virtual void setAvailableHeight(int /*points*/) {}
};

// A borderless panel under the tray icon. It never closes by itself: a mouse-down outside it (and outside the
// tray icon, whose clicks reach the tray as usual) is reported, and the shell decides.
class TrayPopover {
public:
    virtual ~TrayPopover() = default;
    // Shows the popover under the panel at the icon's current place; showing a shown popover does nothing.
    virtual void show() = 0;
    virtual void close() = 0;
    virtual bool isShown() const = 0;
    // A mouse-down outside the popover and the icon while it is shown, at that global point.
    virtual Stream<Point> outsideClicks() const = 0;
};

class Tray {
public:
    virtual ~Tray() = default;

    // Puts the icon in the tray (or waits for one to appear) with the given look.
    virtual void show(const TrayAppearance& appearance) = 0;
    virtual void setAppearance(const TrayAppearance& appearance) = 0;
    // Until this is called the icon shows the app's own pictures; from then on the desktop theme's, where it
    // has its own. Looking a theme up takes milliseconds that the launch leaves until its first band shows.
    virtual void useDesktopIcons() = 0;
    // Left and right clicks on the icon, on the main loop.
    virtual Stream<TrayClick> clicks() const = 0;
    // Pops a menu up under the icon; its items' actions run on the main loop once it has closed.
    virtual void popUpMenu(std::vector<TrayMenuItem> items) = 0;
    // A popover hosting `content`; kept by the caller for as long as it wants to show it again.
    virtual std::unique_ptr<TrayPopover> makePopover(std::shared_ptr<TrayPopoverContent> content) = 0;
    // The picture the icon shows for `which` with the desktop's icons (the popover's header shows it too).
    virtual QIcon iconImage(StatusIcon which) const = 0;
};

}  // namespace velaro
