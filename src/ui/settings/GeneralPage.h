// The General page: start at login and the taskbar icon (app-wide settings, so no app profile changes them),
// and the welcome tour.
#pragma once

#include <functional>

#include "ui/settings/GeneralSwitches.h"
#include "ui/settings/SettingsKit.h"

namespace velaro {

class OverlaySettings;

class GeneralPage : public SettingsPage {
public:
    GeneralPage(LoginItemControl loginItem, OverlaySettings& settings, std::function<void()> showWelcomeTour,
                MainLoop& loop, QWidget* parent = nullptr);

    // While an app's profile is edited the startup card is disabled and the global-only note shows under it.
    void setEditingApp(bool editing);

    SettingsCard* startupCard() const { return startupCard_; }
    GlobalOnlyNote* globalOnlyNote() const { return note_; }
    SettingsCard* tourCard() const { return tourCard_; }
    SettingsActionRow* showTourAction() const { return showTour_; }
    LaunchAtLoginToggle* launchAtLogin() const { return launchAtLogin_; }
    ShowDockIconToggle* showDockIcon() const { return showDockIcon_; }

private:
    SettingsCard* startupCard_;
    LaunchAtLoginToggle* launchAtLogin_;
    ShowDockIconToggle* showDockIcon_;
    GlobalOnlyNote* note_;
    SettingsCard* tourCard_;
    SettingsActionRow* showTour_;
};

}  // namespace velaro
