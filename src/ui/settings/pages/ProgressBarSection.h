// The "Progress Bar" section of the Music Visualizer page: the thin seekable line along the top edge, its
// colours, the modifier key that arms its mouse and arrow-key control, and hiding it while paused. Several
// texts name the modifier key, so they follow the "Modifier key" choice as it changes.
#pragma once

#include <string>

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class OverlaySettings;

// The key name of a stored modifier ("Alt" for "option" and for anything unknown).
QString progressModifierName(const std::string& modifier);
// What the bar's arrow keys take over with that modifier held.
QString progressNavigationText(const std::string& modifier);
// A rotation speed in degrees per second: "Off" at 0, else the whole degrees ("25°/s" for 25.4).
QString hueSpeedText(double degreesPerSecond);
// The "After" options for a stored delay: the presets 5…30 s, and the stored delay itself in order when it
// is none of them ("7s (current)").
SettingsOptions<double> autoHideDelayOptions(double current);

class ProgressBarSection : public SettingsRow {
public:
    ProgressBarSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    // Shows and hides the rows and rewrites the texts that name the modifier.
    void refresh() override;

private:
    OverlaySettings& settings_;
    QWidget* details_;
    SettingsColorWellRow* solid_;
    SettingsSliderRow* hueDrift_;
    QWidget* commandWarning_;
    SettingsCaptionRow* seekCaption_;
    SettingsToggleRow* keyboard_;
    SettingsCaptionRow* keyboardCaption_;
    SettingsChoiceRow* after_;
    SettingsCaptionRow* reappearCaption_;
};

}  // namespace velaro
