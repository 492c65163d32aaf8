// The Light Reflections page: the thin light beam at the screen's top edge that follows the pointer, its
// glow, bloom and entry animation, and, folded away under "Fine-tuning", its size, brightness and core
// colour.
#pragma once

#include "ui/settings/kit/SettingsKit.h"

class QAbstractButton;

namespace velaro {

class LightReflectionsSection : public OverlaySettingsPage {
public:
    LightReflectionsSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    SettingsToggleRow* enableRow() const { return enable_; }
    // The three switches shown while the beam is on.
    QWidget* beamRows() const { return beamRows_.block(); }
    // The "Fine-tuning" group (while the beam is on), its disclosure button and its card (while expanded).
    QWidget* fineTuning() const { return fineTuning_; }
    QAbstractButton* disclosure() const { return disclosure_; }
    QWidget* fineTuningCard() const { return fineCard_.block(); }
    SettingsSliderRow* sliderRow(const QString& title) const;
    SettingsColorWellRow* coreColorRow() const { return coreColor_; }
    QWidget* glowBrightness() const { return glowBrightness_; }

protected:
    void refreshPage() override;

private:
    SettingsToggleRow* enable_;
    SlideReveal beamRows_;
    QWidget* fineTuning_;
    QAbstractButton* disclosure_;
    SlideReveal fineCard_;
    std::vector<SettingsSliderRow*> sliders_;
    SettingsColorWellRow* coreColor_;
    QWidget* glowBrightness_;
    bool expanded_ = false;
};

}  // namespace velaro
