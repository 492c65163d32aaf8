// The Light Reflections page: the thin light beam at the screen's top edge that follows the pointer, its
// glow, bloom and entry animation, and, folded away under "Fine-tuning", its size, brightness and core
// colour.
#pragma once

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class LightReflectionsSection : public OverlaySettingsPage {
public:
    LightReflectionsSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

protected:
    void refreshPage() override;

private:
    SlideReveal beamRows_;
    QWidget* fineTuning_;
    SlideReveal fineCard_;
    SettingsColorWellRow* coreColor_;
    QWidget* glowBrightness_;
    bool expanded_ = false;
};

}  // namespace velaro
