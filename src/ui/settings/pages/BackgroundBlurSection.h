// The Appearance page's "Background Blur" section: the frosted backdrop under the overlay, its strength,
// whether the overlay's corner windows are frosted too, and how strongly the style paints over the frost.
#pragma once

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class OverlaySettings;

class BackgroundBlurSection : public SettingsRow {
public:
    BackgroundBlurSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    void refresh() override;

private:
    OverlaySettings& settings_;
    SlideReveal rows_;
    SettingsToggleRow* corners_;
    QWidget* pillCaption_;
};

}  // namespace velaro
