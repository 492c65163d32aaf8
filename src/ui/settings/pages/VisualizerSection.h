// The Music Visualizer page: the audio visualizer along the top edge (its switch and status, style, bars or
// waves, colours, trail and glow) and the now-playing progress bar. Every row is made once; rows that a
// setting makes irrelevant dim, rows of a feature that is off leave the layout, and all of it is read again
// on the turn after a bound setting changes.
#pragma once

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class PaletteEditor;
class ProgressBarSection;

class VisualizerSection : public OverlaySettingsPage {
public:
    static constexpr const char* masterOffText =
        "Turn on Velaro (the power button in the sidebar) to use these.";

    VisualizerSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    QWidget* masterOffNotice() const { return masterOff_; }
    // Everything under the notice, disabled while the master switch is off.
    QWidget* content() const { return content_; }
    SettingsToggleRow* enableRow() const { return enable_; }
    SettingsNoticeText* statusText() const { return status_; }
    // The sections shown while the visualizer is on.
    QWidget* visualizerSections() const { return sections_; }
    SettingsChoiceRow* styleRow() const { return style_; }
    SettingsSliderRow* opacityRow() const { return opacity_; }
    QWidget* barsSection() const { return bars_; }
    SettingsSliderRow* thicknessRow() const { return thickness_; }
    SettingsSliderRow* gapRow() const { return gap_; }
    QWidget* wavesSection() const { return waves_; }
    SettingsSliderRow* waveCountRow() const { return waveCount_; }
    SettingsSliderRow* edgeSoftnessRow() const { return edgeSoftness_; }
    SettingsSliderRow* waveOpacityRow() const { return waveOpacity_; }
    SettingsSliderRow* peaksRow() const { return peaks_; }
    SettingsSliderRow* spectrumRow() const { return spectrum_; }
    // The "Color" section's two forms: for the bars, and for the waves (any other stored style too).
    QWidget* barsColors() const { return barsColors_; }
    SettingsChoiceRow* barsModeRow() const { return barsMode_; }
    SettingsColorWellRow* barsSolidRow() const { return barsSolid_; }
    SettingsSliderRow* hueDriftRow() const { return hueDrift_; }
    QWidget* wavesColors() const { return wavesColors_; }
    SettingsChoiceRow* wavesModeRow() const { return wavesMode_; }
    SettingsColorWellRow* wavesSolidRow() const { return wavesSolid_; }
    SettingsSliderRow* colorFlowRow() const { return colorFlow_; }
    QWidget* paletteBlock() const { return paletteBlock_; }
    PaletteEditor* paletteEditor() const { return palette_; }
    SettingsToggleRow* trailRow() const { return trail_; }
    SettingsSliderRow* trailLengthRow() const { return trailLength_; }
    SettingsToggleRow* glowRow() const { return glow_; }
    SettingsSliderRow* intensityRow() const { return intensity_; }
    SettingsSliderRow* radiusRow() const { return radius_; }
    ProgressBarSection* progressSection() const { return progress_; }

protected:
    void refreshPage() override;

private:
    QWidget* masterOff_;
    QWidget* content_;
    SettingsToggleRow* enable_;
    SettingsNoticeText* status_;
    QWidget* sections_;
    SettingsChoiceRow* style_;
    SettingsSliderRow* opacity_;
    QWidget* bars_;
    SettingsSliderRow* thickness_;
    SettingsSliderRow* gap_;
    QWidget* waves_;
    SettingsSliderRow* waveCount_;
    SettingsSliderRow* edgeSoftness_;
    SettingsSliderRow* waveOpacity_;
    SettingsSliderRow* peaks_;
    SettingsSliderRow* spectrum_;
    QWidget* barsColors_;
    SettingsChoiceRow* barsMode_;
    SettingsColorWellRow* barsSolid_;
    SettingsSliderRow* hueDrift_;
    QWidget* wavesColors_;
    SettingsChoiceRow* wavesMode_;
    SettingsColorWellRow* wavesSolid_;
    SettingsSliderRow* colorFlow_;
    QWidget* paletteBlock_;
    PaletteEditor* palette_;
    SettingsToggleRow* trail_;
    SettingsSliderRow* trailLength_;
    SettingsToggleRow* glow_;
    SettingsSliderRow* intensity_;
    SettingsSliderRow* radius_;
    ProgressBarSection* progress_;
};

}  // namespace velaro
