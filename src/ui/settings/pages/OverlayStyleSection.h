// The Appearance page's first section, "Overlay Style": the overlay switch and how the bar is filled — the
// style, the live sampling rate, the opacity, the two stops of the vertical fade, automatic sampling with
// the manual colour, and for the solid style the colour zones and the hue drift. Every block is built once
// and shown or hidden as the settings change; every edit lands on a later turn of the loop.
#pragma once

#include <QWidget>

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class ColorWell;
class OverlaySettings;

// One stop of the vertical fade: its title, "Follow sample", its colour well and its opacity.
class GradientStopEditor : public SettingsRow {
public:
    enum class Stop { bottom, top };

    GradientStopEditor(OverlaySettings& settings, MainLoop& loop, Stop stop, QWidget* parent = nullptr);

    void refresh() override;
    ColorWell* well() const { return well_; }
    ResettableSlider* opacitySlider() const { return slider_; }

private:
    OverlaySettings& settings_;
    Stop stop_;
    SettingsSwitch* follow_;
    ColorWell* well_;
    ResettableSlider* slider_;
    QLabel* value_;
};

// "Auto-sample" and, for the solid style without zones or drift, the manual colour's well.
class AutoSampleBlock : public SettingsRow {
public:
    AutoSampleBlock(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    void refresh() override;

private:
    OverlaySettings& settings_;
    SettingsSwitch* switch_;
    ColorWell* well_;
};

class OverlayStyleSection : public SettingsRow {
public:
    OverlayStyleSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    void refresh() override;
    // Places the hue drift section (made by its own code) in its slot under the colour zones; the slot is
    // empty and hidden until then.
    void setHueDriftSection(QWidget* section);

private:
    OverlaySettings& settings_;
    QWidget* offCaption_;
    SlideReveal on_;
    QWidget* liveBlock_;
    QWidget* gradientBlock_;
    QWidget* autoSampleHolder_;
    QWidget* colorBlock_;
    QWidget* hueDriftBlock_;
    QWidget* hueDrift_ = nullptr;
};

}  // namespace velaro
