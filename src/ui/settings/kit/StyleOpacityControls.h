// Two small views that other views embed: the fill-style picker with the overlay opacity (the popover shows
// it), and the always-on rows (the Behavior page shows them). Every write reaches the settings on a later
// turn of the loop.
#pragma once

#include <QWidget>

#include "base/Cancellable.h"
#include "overlay/OverlayFeed.h"
#include "settings/ValueTypes.h"
#include "ui/settings/kit/SettingsKit.h"
#include "ui/settings/kit/StylePicker.h"

class QLabel;

namespace velaro {

class MainLoop;
class OverlaySettings;

// The overlay opacity as the percent its sliders run over; a write stores the fraction, and the setting
// persists it. The sliders defer their writes themselves.
Binding<double> overlayOpacityPercent(OverlaySettings& settings);
// What those sliders span: the opacity's bounds in the key table, in percent (0...100).
SliderRange overlayOpacityPercentRange();
// The overlay opacity's default, in those percent.
double overlayOpacityDefaultPercent();

class StyleOpacityControls : public QWidget {
public:
    StyleOpacityControls(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

private:
    void refresh();

    OverlaySettings& settings_;
    StylePicker* picker_;
    QLabel* value_;
    ResettableSlider* slider_;
    CoalescedRefresh refresh_;
    Subscription watch_;
};

// "Keep overlay always on", its caption and, while it is on, how the always-on overlay looks. The rows are
// laid out by the card that holds them; the page refreshes them.
class AlwaysOnControls : public SettingsRow {
public:
    AlwaysOnControls(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    void refresh() override;

private:
    OverlaySettings& settings_;
    SlideReveal rows_;
};

}  // namespace velaro
