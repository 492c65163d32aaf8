// The General page: start at login and the taskbar icon (app-wide settings, so no app profile changes them),
// and the welcome tour.
#pragma once

#include <functional>

#include "ui/settings/kit/SettingsKit.h"
#include "ui/settings/pages/GeneralSwitches.h"

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
    ShowTaskbarIconToggle* showTaskbarIcon() const { return showTaskbarIcon_; }

private:
    SettingsCard* startupCard_;
    LaunchAtLoginToggle* launchAtLogin_;
    ShowTaskbarIconToggle* showTaskbarIcon_;
    GlobalOnlyNote* note_;
    SettingsCard* tourCard_;
    SettingsActionRow* showTour_;
};

}  // namespace velaro
