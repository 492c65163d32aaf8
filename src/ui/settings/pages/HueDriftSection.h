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

private:
    OverlaySettings& settings_;
    QWidget* on_;
    SettingsCaptionRow* styleCaption_;
    QWidget* scroll_;
    SettingsSliderRow* width_;
    PaletteEditor* palette_;
    CoalescedRefresh refresh_;
    Subscription watch_;
};

}  // namespace velaro
