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
    SettingsChoiceRow* modeRow() const { return mode_; }
    SettingsColorWellRow* customRow() const { return custom_; }

private:
    OverlaySettings& settings_;
    ScreenCorner corner_;
    SettingsChoiceRow* mode_;
    SettingsColorWellRow* custom_;
};

class OverlayCornersSection : public SettingsRow {
public:
    OverlayCornersSection(OverlaySettings& settings, MainLoop& loop,
                          SettingsOptions<TopColorMode> modeOptions, QWidget* parent = nullptr);

    void refresh() override;

    SettingsToggleRow* leftRow() const { return left_; }
    SettingsToggleRow* rightRow() const { return right_; }
    SettingsToggleRow* linkRow() const { return link_; }
    SettingsToggleRow* followRow() const { return follow_; }
    // The rows of the linked pair and of each corner; one of the two sets shows.
    QWidget* linkedRows() const { return linkedRows_.block(); }
    QWidget* unlinkedRows() const { return unlinkedRows_.block(); }
    SettingsSliderRow* radiusRow(ScreenCorner corner, bool linked) const;
    CornerColorBlock* colorBlock(ScreenCorner corner, bool linked) const;
    SettingsSliderRow* opacityRow(ScreenCorner corner, bool linked) const;
    // Disabled while the corners follow the overlay's opacity.
    QWidget* opacityGroup() const { return opacityGroup_; }
    QWidget* pillCaption() const { return pillCaption_; }

private:
    OverlaySettings& settings_;
    SettingsToggleRow* left_;
    SettingsToggleRow* right_;
    SettingsToggleRow* link_;
    SettingsToggleRow* follow_;
    SlideReveal linkedRows_;
    SlideReveal unlinkedRows_;
    SettingsSliderRow* linkedRadius_;
    CornerColorBlock* linkedColor_;
    SettingsSliderRow* leftRadius_;
    CornerColorBlock* leftColor_;
    SettingsSliderRow* rightRadius_;
    CornerColorBlock* rightColor_;
    QWidget* opacityGroup_;
    QWidget* linkedOpacity_;
    QWidget* unlinkedOpacity_;
    SettingsSliderRow* linkedOpacityRow_;
    SettingsSliderRow* leftOpacity_;
    SettingsSliderRow* rightOpacity_;
    QWidget* pillCaption_;
};

}  // namespace velaro
