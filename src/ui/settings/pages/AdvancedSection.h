// The Advanced page: the renderer switch, the hairline stroke along the overlay and around the notch, the
// overlay's fade around the notch (the two gated while the overlay is off), colour smoothing, and the
// window controls no app profile can change. Screens here have no notch, so the notch rows stay disabled and
// say so; they work as soon as a main screen reports one.
#pragma once

#include <functional>

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class GlobalOnlyGroup;
class MaximiseFillToggle;
class ScreenTopology;

// Whether the main screen has a notch: read each time the page refreshes. None: never.
using NotchProbe = std::function<bool()>;
// The app's probe: the first screen of the topology, through its notch rectangle; no topology, no notch.
NotchProbe mainScreenNotchProbe(ScreenTopology* topology);

class AdvancedRendererControl : public SettingsRow {
public:
    AdvancedRendererControl(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);
    void refresh() override;
    SettingsToggleRow* separateCornersRow() const { return separate_; }
    QString captionText() const { return caption_->text(); }

private:
    OverlaySettings& settings_;
    SettingsToggleRow* separate_;
    SettingsCaptionRow* caption_;
};

class AdvancedStrokeControls : public SettingsRow {
public:
    AdvancedStrokeControls(OverlaySettings& settings, MainLoop& loop, NotchProbe hasNotch,
                           QWidget* parent = nullptr);
    void refresh() override;
    SettingsToggleRow* strokeRow() const { return stroke_; }
    QWidget* strokeRows() const { return strokeRows_.block(); }
    SettingsSliderRow* curveRadiusRow() const { return curve_; }
    SettingsSliderRow* strokeFadeRow() const { return fade_; }
    SettingsToggleRow* strokeNotchFadeRow() const { return notchFade_; }
    QWidget* strokeNotchFadeDistance() const { return notchFadeDistance_; }
    SettingsToggleRow* notchStrokeRow() const { return notchStroke_; }
    QWidget* noNotchCaption() const { return noNotch_; }
    QWidget* notchStrokeRows() const { return notchRows_.block(); }
    SettingsSliderRow* notchSlider(int index) const { return notchSliders_[std::size_t(index)]; }

private:
    OverlaySettings& settings_;
    NotchProbe hasNotch_;
    SettingsToggleRow* stroke_;
    SlideReveal strokeRows_;
    SettingsSliderRow* curve_;
    SettingsSliderRow* fade_;
    SettingsToggleRow* notchFade_;
    QWidget* notchFadeDistance_;
    SettingsToggleRow* notchStroke_;
    QWidget* noNotch_;
    SlideReveal notchRows_;
    std::vector<SettingsSliderRow*> notchSliders_;
};

class OverlayNotchFadeControl : public SettingsRow {
public:
    OverlayNotchFadeControl(OverlaySettings& settings, MainLoop& loop, NotchProbe hasNotch,
                            QWidget* parent = nullptr);
    void refresh() override;
    SettingsToggleRow* fadeRow() const { return fade_; }
    QWidget* distanceRows() const { return distance_.block(); }

private:
    OverlaySettings& settings_;
    NotchProbe hasNotch_;
    SettingsToggleRow* fade_;
    SlideReveal distance_;
};

class AdvancedSection : public ProfiledSettingsPage {
public:
    AdvancedSection(OverlaySettings& settings, ProfileManager& profileManager, MainLoop& loop,
                    NotchProbe hasNotch = {}, QWidget* parent = nullptr);

    AdvancedRendererControl* renderer() const { return renderer_; }
    SettingsOverlayGate* gate() const { return gate_; }
    AdvancedStrokeControls* stroke() const { return stroke_; }
    OverlayNotchFadeControl* notchFade() const { return notchFade_; }
    SettingsToggleRow* smoothColorsRow() const { return smooth_; }
    GlobalOnlyGroup* windowControls() const { return windowControls_; }
    MaximiseFillToggle* maximiseButton() const { return maximiseButton_; }

protected:
    void refreshPage() override;

private:
    AdvancedRendererControl* renderer_;
    SettingsOverlayGate* gate_;
    AdvancedStrokeControls* stroke_;
    OverlayNotchFadeControl* notchFade_;
    SettingsToggleRow* smooth_;
    GlobalOnlyGroup* windowControls_;
    MaximiseFillToggle* maximiseButton_;
};

}  // namespace velaro
