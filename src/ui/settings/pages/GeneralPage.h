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

private:
    SettingsCard* startupCard_;
    GlobalOnlyNote* note_;
};

}  // namespace velaro
