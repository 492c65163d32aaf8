// The status icon in the panel's tray: its look following the master switch, a left click opening the
// popover (or the tour before the runtime runs, and bringing it back while it shows), a right or
// Control-click showing a menu built afresh each time, and every way the popover closes.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "base/Cancellable.h"
#include "platform/Tray.h"

namespace velaro {

class AppDelegate;
class MainLoop;
class OverlaySettings;
class Permissions;

class StatusItemController {
public:
    // What the controller asks of the application delegate.
    struct Hooks {
        // Whether the runtime has started (the app watcher exists): the popover's content needs it.
        std::function<bool()> runtimeStarted;
        std::function<void()> showOnboarding;
        // Whether the tour window shows, minimised included.
        std::function<bool()> tourShown;
        std::function<void()> openSettings;
        std::function<void()> checkForUpdates;
        // Whether a check can start now (a feed is configured and no check runs); the menu item is
        // disabled otherwise, so that it never does nothing when chosen. Absent: always.
        std::function<bool()> canCheckForUpdates;
        // False in a build without an update feed: the disabled item then says why. Absent: a feed.
        std::function<bool()> hasUpdateFeed;
        std::function<void()> quit;
        // Told when the popover opens or closes, so the capture demand can follow.
        std::function<void(bool open)> popoverOpenChanged;
        // Builds the popover's content; called once, on the first left click after the runtime started.
        std::function<std::shared_ptr<TrayPopoverContent>(StatusItemController&)> makePopoverContent;
    };

    // What the hooks of a real delegate need besides the delegate.
    struct Wiring {
        MainLoop& loop;
        Permissions& permissions;
        std::function<void()> checkForUpdates;
        // Ends the process; the default quits the application's event loop.
        std::function<void()> quit;
    };
    // The hooks over the application delegate: the tour and the settings window are its, the popover's
    // content is the status popover over its sampler, settings and app watcher, and an open popover raises
    // its capture demand. The delegate outlives the controller.
    static Hooks hooksFor(AppDelegate& delegate, Wiring wiring);

    StatusItemController(Tray& tray, OverlaySettings& settings, Hooks hooks);
    ~StatusItemController();
    StatusItemController(const StatusItemController&) = delete;
    StatusItemController& operator=(const StatusItemController&) = delete;

    // Puts the icon in the tray with the look of the stored master switch, starts taking clicks and keeps the
    // look in step with the switch from then on, however it changes.
    void setup();
    // The on or off icon, tool tip and accessible texts.
    void updateAppearance(bool active);
    static TrayAppearance appearanceFor(bool active);

    void handleClick(const TrayClick& click);
    // Closes the popover if it is shown; nothing when none was ever built.
    void closePopover();
    // The status menu as it stands now.
    std::vector<TrayMenuItem> makeStatusMenu();

private:
    void openPopover();
    void setPopoverOpen(bool open);
    void toggleMasterFromMenu();

    Tray& tray_;
    OverlaySettings& settings_;
    Hooks hooks_;
    std::unique_ptr<TrayPopover> popover_;
    bool popoverOpen_ = false;
    Subscription clicks_;
    Subscription master_;
    Subscription outsideClicks_;
};

}  // namespace velaro
