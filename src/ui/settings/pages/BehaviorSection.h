// The Behavior page: where the overlay sits relative to app windows, whether it stays on over an empty
// desktop (and how it looks then), and whether sampling pauses while the pointer is in the top panel — a
// setting no app profile can change.
#pragma once

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class GlobalOnlyGroup;

// "Pause sampling while pointer is in the top panel": one switch row.
class PauseOnHoverToggle : public SettingsToggleRow {
public:
    PauseOnHoverToggle(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);
};

class BehaviorSection : public ProfiledSettingsPage {
public:
    BehaviorSection(OverlaySettings& settings, ProfileManager& profileManager, MainLoop& loop,
                    QWidget* parent = nullptr);

protected:
    void refreshPage() override;

private:
    QWidget* behindCaption_;
    GlobalOnlyGroup* sampling_;
};

}  // namespace velaro
