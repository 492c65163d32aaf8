// The hue drift editor: the overlay colour cycling through a list of colours, one at a time or as a band
// scrolling sideways. It edits the one `hueDrift` value (each control writes the whole value back with its
// field changed) and follows that value by itself, so whichever page hosts it needs to do nothing more.
#pragma once

#include "overlay/OverlayFeed.h"
#include "settings/ValueTypes.h"
#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class OverlaySettings;
class PaletteEditor;

class HueDriftSection : public SettingsRow {
public:
    HueDriftSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    // Reads the drift again: the rows' values, which rows show, and the style's caption.
    void refresh() override;

    SettingsToggleRow* enableRow() const { return enable_; }
    // Everything under the switch's caption, shown while the drift is on.
    QWidget* onBlock() const { return on_; }
    SettingsChoiceRow* styleRow() const { return style_; }
    SettingsCaptionRow* styleCaption() const { return styleCaption_; }
    SettingsChoiceRow* colorsRow() const { return colors_; }
    SettingsSliderRow* durationRow() const { return duration_; }
    // "Direction" and "Gradient transition" (and the width under it), shown for the scrolling style.
    QWidget* scrollBlock() const { return scroll_; }
    SettingsChoiceRow* directionRow() const { return direction_; }
    SettingsToggleRow* blendRow() const { return blend_; }
    SettingsSliderRow* widthRow() const { return width_; }
    PaletteEditor* paletteEditor() const { return palette_; }

private:
    OverlaySettings& settings_;
    SettingsToggleRow* enable_;
    QWidget* on_;
    SettingsChoiceRow* style_;
    SettingsCaptionRow* styleCaption_;
    SettingsChoiceRow* colors_;
    SettingsSliderRow* duration_;
    QWidget* scroll_;
    SettingsChoiceRow* direction_;
    SettingsToggleRow* blend_;
    SettingsSliderRow* width_;
    PaletteEditor* palette_;
    CoalescedRefresh refresh_;
    Subscription watch_;
};

}  // namespace velaro
