// The Appearance page's "Overlay Corners": the two rounded corners at the bottom edge of the overlay bar
// (the menu-bar corners). Switches, link, radius, colour mode with a custom colour, and opacity, for the
// linked pair or for each corner. Every edit goes through the deferred corner mutators.
#pragma once

#include <utility>
#include <vector>

#include "settings/CornerSettings.h"
#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class OverlaySettings;

// The colour modes the section's pickers offer, in order, with their labels.
const SettingsOptions<TopColorMode>& overlayCornerModeOptions();

// A corner's opacity slider (0…100 %, double-click 100 %): it shows the corner's opacity, following the
// overlay's where the corner does, rounded to a whole percent, and writes through the deferred mutator.
SettingsSliderRow* cornerOpacityRow(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner,
                                    const QString& title);

// One corner's colour choice: the mode picker and, for a custom colour, its well.
class CornerColorBlock : public SettingsRow {
public:
    CornerColorBlock(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner, const QString& title,
                     const SettingsOptions<TopColorMode>& modeOptions, QWidget* parent = nullptr);

    void refresh() override;

private:
    OverlaySettings& settings_;
    ScreenCorner corner_;
    SettingsColorWellRow* custom_;
};

class OverlayCornersSection : public SettingsRow {
public:
    OverlayCornersSection(OverlaySettings& settings, MainLoop& loop,
                          SettingsOptions<TopColorMode> modeOptions, QWidget* parent = nullptr);

    void refresh() override;

private:
    OverlaySettings& settings_;
    SlideReveal linkedRows_;
    SlideReveal unlinkedRows_;
    QWidget* opacityGroup_;
    QWidget* linkedOpacity_;
    QWidget* unlinkedOpacity_;
    QWidget* pillCaption_;
};

}  // namespace velaro
