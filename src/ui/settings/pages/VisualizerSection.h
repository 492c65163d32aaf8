// The Music Visualizer page: the audio visualizer along the top edge (its switch and status, style, bars or
// waves, colours, trail and glow) and the now-playing progress bar. Every row is made once; rows that a
// setting makes irrelevant dim, rows of a feature that is off leave the layout, and all of it is read again
// on the turn after a bound setting changes.
#pragma once

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class VisualizerSection : public OverlaySettingsPage {
public:
    static constexpr const char* masterOffText =
        "Turn on Velaro (the switch at the window's top right) to use these.";

    VisualizerSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

protected:
    void refreshPage() override;

private:
    QWidget* masterOff_;
    QWidget* content_;
    SettingsNoticeText* status_;
    QWidget* sections_;
    QWidget* bars_;
    QWidget* waves_;
    QWidget* barsColors_;
    SettingsColorWellRow* barsSolid_;
    SettingsSliderRow* hueDrift_;
    QWidget* wavesColors_;
    SettingsColorWellRow* wavesSolid_;
    SettingsSliderRow* colorFlow_;
    QWidget* paletteBlock_;
    SettingsSliderRow* trailLength_;
    SettingsSliderRow* intensity_;
    SettingsSliderRow* radius_;
};

}  // namespace velaro
