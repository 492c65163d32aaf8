// The Animation page: how the overlay reveals itself.
#pragma once

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class AnimationSection : public OverlaySettingsPage {
public:
    AnimationSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

protected:
    void refreshPage() override;

private:
    SettingsCaptionRow* caption_;
};

}  // namespace velaro
