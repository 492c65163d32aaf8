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
    SettingsToggleRow* enableRow() const { return enable_; }
    // The rows shown while blur is on.
    QWidget* blurRows() const { return rows_.block(); }
    SettingsSliderRow* amountRow() const { return amount_; }
    SettingsToggleRow* cornersRow() const { return corners_; }
    QWidget* pillCaption() const { return pillCaption_; }
    SettingsSliderRow* styleOpacityRow() const { return styleOpacity_; }

private:
    OverlaySettings& settings_;
    SettingsToggleRow* enable_;
    SlideReveal rows_;
    SettingsSliderRow* amount_;
    SettingsToggleRow* corners_;
    QWidget* pillCaption_;
    SettingsSliderRow* styleOpacity_;
};

}  // namespace velaro
