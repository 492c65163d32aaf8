// The Appearance page: the overlay switch and how the overlay looks (style, opacity, colours and colour
// zones), then, while the overlay is on, the background blur and the overlay's own corners.
#pragma once

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class BackgroundBlurSection;
class OverlayCornersSection;
class OverlayStyleSection;

class AppearanceSettingsView : public OverlaySettingsPage {
public:
    static constexpr int sectionSpacing = 14;

    AppearanceSettingsView(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    OverlayStyleSection* styleSection() const { return style_; }
    BackgroundBlurSection* blurSection() const { return blur_; }
    OverlayCornersSection* cornersSection() const { return corners_; }
    // The sections shown only while the overlay is on.
    QWidget* overlaySections() const { return overlayOn_.block(); }

protected:
    void refreshPage() override;

private:
    OverlayStyleSection* style_;
    BackgroundBlurSection* blur_;
    OverlayCornersSection* corners_;
    SlideReveal overlayOn_;
};

}  // namespace velaro
