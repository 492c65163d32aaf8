// The Advanced page: the renderer switch, the hairline stroke along the overlay and around the notch, the
// overlay's fade around the notch (the two gated while the overlay is off), colour smoothing, and the
// window controls no app profile can change. Screens here have no notch, so the notch rows stay disabled and
// say so; they work as soon as a main screen reports one.
#pragma once

#include <functional>

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class GlobalOnlyGroup;
class ScreenTopology;

// Whether the main screen has a notch: read each time the page refreshes. None: never.
using NotchProbe = std::function<bool()>;
// The app's probe: the first screen of the topology, through its notch rectangle; no topology, no notch.
NotchProbe mainScreenNotchProbe(ScreenTopology* topology);

class AdvancedRendererControl : public SettingsRow {
public:
    AdvancedRendererControl(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);
    void refresh() override;

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

private:
    OverlaySettings& settings_;
    NotchProbe hasNotch_;
    SlideReveal strokeRows_;
    SettingsToggleRow* notchFade_;
    QWidget* notchFadeDistance_;
    SettingsToggleRow* notchStroke_;
    QWidget* noNotch_;
    SlideReveal notchRows_;
};

class OverlayNotchFadeControl : public SettingsRow {
public:
    OverlayNotchFadeControl(OverlaySettings& settings, MainLoop& loop, NotchProbe hasNotch,
                            QWidget* parent = nullptr);
    void refresh() override;

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

protected:
    void refreshPage() override;

private:
    SettingsOverlayGate* gate_;
    GlobalOnlyGroup* windowControls_;
};

}  // namespace velaro
