// The status item's clicks, menu, look and popover.
#include "app/StatusItemController.h"

#include <QCoreApplication>

#include "app/AppDelegate.h"
#include "base/Log.h"
#include "settings/OverlaySettings.h"
#include "ui/settings/pages/UpdateCheckModel.h"
#include "ui/tray/StatusPopover.h"

namespace velaro {

StatusItemController::StatusItemController(Tray& tray, OverlaySettings& settings, Hooks hooks)
    : tray_(tray), settings_(settings), hooks_(std::move(hooks)) {}

StatusItemController::~StatusItemController() = default;

StatusItemController::Hooks StatusItemController::hooksFor(AppDelegate& delegate, Wiring wiring) {
    Hooks hooks;
    // The popover's content needs the app watcher, which the runtime makes.
    hooks.runtimeStarted = [&delegate] { return delegate.appWatcher() != nullptr; };
    hooks.showOnboarding = [&delegate] { delegate.showOnboarding(); };
    hooks.tourShown = [&delegate] { return delegate.isTourVisible(); };
    hooks.openSettings = [&delegate] { delegate.openSettings(); };
    hooks.checkForUpdates = std::move(wiring.checkForUpdates);
    hooks.canCheckForUpdates = [&delegate] { return delegate.updateCheck().canCheckForUpdates(); };
    hooks.hasUpdateFeed = [&delegate] { return delegate.updateCheck().hasUpdateFeed(); };
    hooks.quit = wiring.quit ? std::move(wiring.quit) : [] { QCoreApplication::quit(); };
    hooks.popoverOpenChanged = [&delegate](bool open) { delegate.setPopoverOpen(open); };
    hooks.makePopoverContent = [&delegate, &loop = wiring.loop, &permissions = wiring.permissions,
                                quit = hooks.quit](StatusItemController& controller) {
        return std::make_shared<StatusPopoverContent>(StatusPopover::Model{
            delegate.screenSampler(),
            delegate.overlaySettings(),
            *delegate.appWatcher(),
            permissions,
            loop,
            [&delegate, &controller] {
                controller.closePopover();
                delegate.openSettings();
            },
            quit,
            controller.tray_.iconImage(StatusIcon::on),
        });
    };
    return hooks;
}

void StatusItemController::setup() {
    tray_.show(appearanceFor(settings_.masterEnabled()));
    clicks_ = tray_.clicks().sink([this](const TrayClick& click) { handleClick(click); });
    // The delegate refreshes the look only once the runtime runs; a hot key can flip the switch before that
    // (during the tour), and the icon must not show the old state until then.
    master_ = settings_.masterEnabled.changes().sink([this](bool on) { updateAppearance(on); });
}

TrayAppearance StatusItemController::appearanceFor(bool active) {
    TrayAppearance a;
    a.icon = active ? StatusIcon::on : StatusIcon::off;
    a.toolTip = active ? "Velaro — Enabled" : "Velaro — Disabled";
    a.accessibilityLabel = "Velaro";
    a.accessibilityValue = active ? "Enabled" : "Disabled";
    return a;
}

void StatusItemController::updateAppearance(bool active) {
    tray_.setAppearance(appearanceFor(active));
}

void StatusItemController::handleClick(const TrayClick& click) {
    if (click.button == TrayButton::right || click.control) {
        // A secondary click never opens the popover: it closes it and shows the menu instead.
        if (popover_ && popover_->isShown()) closePopover();
        tray_.popUpMenu(makeStatusMenu());
        return;
    }
    // The tour is what the app shows the user while it is open: the click brings it forward, and back
    // from minimised, as the tour window may have no taskbar entry to be found by.
    const bool tour = hooks_.tourShown && hooks_.tourShown();
    if (tour || !hooks_.runtimeStarted || !hooks_.runtimeStarted()) {
        if (popover_ && popover_->isShown()) closePopover();
        if (hooks_.showOnboarding) hooks_.showOnboarding();
        return;
    }
    if (popover_ && popover_->isShown()) {
        closePopover();
        return;
    }
    openPopover();
}

void StatusItemController::openPopover() {
    if (!popover_) {
        std::shared_ptr<TrayPopoverContent> content =
            hooks_.makePopoverContent ? hooks_.makePopoverContent(*this) : nullptr;
        popover_ = tray_.makePopover(std::move(content));
        if (!popover_) {
            qCWarning(lcApp) << tagged("STATUS", "no popover could be made");
            return;
        }
    }
    popover_->show();
    setPopoverOpen(true);
    // Any mouse-down elsewhere on the desktop closes it, as long as it is open.
    outsideClicks_ = popover_->outsideClicks().sink([this](const Point&) { closePopover(); });
}

void StatusItemController::closePopover() {
    if (!popover_) return;
    popover_->close();
    outsideClicks_.cancel();
    setPopoverOpen(false);
}

void StatusItemController::setPopoverOpen(bool open) {
    if (popoverOpen_ == open) return;
    popoverOpen_ = open;
    if (hooks_.popoverOpenChanged) hooks_.popoverOpenChanged(open);
}

std::vector<TrayMenuItem> StatusItemController::makeStatusMenu() {
    std::vector<TrayMenuItem> items;
    if (hooks_.runtimeStarted && hooks_.runtimeStarted()) {
        const bool on = settings_.masterEnabled();
        items.push_back(
            {on ? "Disable" : "Enable", on ? "eye.slash" : "eye", [this] { toggleMasterFromMenu(); }});
    }
    items.push_back({"Settings…", "gearshape", [this] {
                         if (hooks_.openSettings) hooks_.openSettings();
                     }});
    TrayMenuItem update{"Check for Updates…", "arrow.triangle.2.circlepath", [this] {
                            if (hooks_.checkForUpdates) hooks_.checkForUpdates();
                        }};
    update.enabled = !hooks_.canCheckForUpdates || hooks_.canCheckForUpdates();
    if (hooks_.hasUpdateFeed && !hooks_.hasUpdateFeed()) update.toolTip = UpdateCheckModel::noFeedReason;
    items.push_back(std::move(update));
    items.push_back(TrayMenuItem::makeSeparator());
    items.push_back({"Quit", "power", [this] {
                         if (hooks_.quit) hooks_.quit();
                     }});
    return items;
}

void StatusItemController::toggleMasterFromMenu() {
    // The setter persists it; the delegate's master-switch stream applies it.
    settings_.masterEnabled = !settings_.masterEnabled();
}

}  // namespace velaro
