// The Appearance page: the overlay switch and how the overlay looks (style, opacity, colours and colour
// zones), then, while the overlay is on, the background blur and the overlay's own corners.
#pragma once

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class AppearanceSettingsView : public OverlaySettingsPage {
public:
    static constexpr int sectionSpacing = 14;

    AppearanceSettingsView(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

protected:
    void refreshPage() override;

private:
    SlideReveal overlayOn_;
};

}  // namespace velaro
