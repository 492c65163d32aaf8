// The Excluded Apps page: the apps the overlay leaves alone, from the model the settings window keeps.
// Its list is still to come; until then the page shows its header alone.
#pragma once

#include "ui/settings/SettingsKit.h"

namespace velaro {

class ExcludedAppsModel;

class ExcludedAppsSection : public SettingsPage {
public:
    ExcludedAppsSection(ExcludedAppsModel& model, MainLoop& loop, QWidget* parent = nullptr)
        : SettingsPage(loop, parent), model_(model) {}

    ExcludedAppsModel& model() const { return model_; }

private:
    ExcludedAppsModel& model_;
};

}  // namespace velaro
