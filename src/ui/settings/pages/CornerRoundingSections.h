// The Corner Rounding page's sections, which the settings window stacks in this order: the rounding editor
// (a live picture of the desktop with the ring layer over it), the legend of its hover controls, the
// corners' opacity, the bottom corners' position and the corner stroke. The page edits the screen's own
// corners (its two top corners and the two bottom ones), never the menu-bar corners.
#pragma once

#include <string>

#include "settings/CornerSettings.h"
#include "ui/settings/kit/SettingsKit.h"
#include "ui/settings/rings/ColorRingPanelLink.h"
#include "ui/settings/rings/CornerMutators.h"
#include "ui/settings/rings/GaugeScrollRouter.h"
#include "ui/settings/rings/RingEditState.h"
#include "ui/settings/rings/WallpaperPreview.h"

namespace velaro {

class RingOverlay;
class Screens;
class WallpaperPictureSource;
class Workspace;

// What the editor's preview needs of the app: wallpaper pictures, the screens (for the preview's shape) and
// the workspace (for desktop switches). Each may be null: no picture, ratio 1.6, no switches followed.
struct CornerPreviewServices {
    WallpaperPictureSource* wallpaper = nullptr;
    const Screens* screens = nullptr;
    Workspace* workspace = nullptr;
};

// The live preview: the picture of the desktop with the ring layer over it. The wallpaper is kept fresh, and
// the wheel over the rings is watched, only while the section is on screen in the open settings window: both
// start when the section shows and stop when it hides (another page, the window closed), which also closes
// the colour panel if a ring opened it.
class CornerRoundingSection : public OverlaySettingsPage {
public:
    CornerRoundingSection(OverlaySettings& settings, MainLoop& loop, CornerPreviewServices services,
                          QWidget* parent = nullptr);
    ~CornerRoundingSection() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void pageShown();
    void pageHidden();

    WallpaperPreviewModel wallpaper_;
    GaugeScrollRouter router_;
    RingEditState editState_;
    ColorRingPanelLink panelLink_;
    WallpaperCanvas* canvas_;
    QWidget* preview_;
    RingOverlay* rings_;
    bool shown_ = false;
    Subscription imageWatch_;
};

// "Hover controls": what each part of a ring does.
class CornerHoverLegend : public SettingsPage {
public:
    struct Entry {
        const char* symbol;
        const char* title;
        const char* text;
    };
    static const Entry entries[4];

    explicit CornerHoverLegend(MainLoop& loop, QWidget* parent = nullptr);
};

// "Corner Opacity": one slider per linked pair, else one per corner, for the top and the bottom row.
class CornerOpacitySection : public OverlaySettingsPage {
public:
    CornerOpacitySection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    // The slider of a screen-top or bottom corner: the pair's own while `linked`, else the corner's.
    SettingsSliderRow* row(ScreenCorner corner, bool linked) const;
    // The rows shown while a row of corners is linked, and while it is not.
    QWidget* linkedRows(CornerRow row) const;
    QWidget* unlinkedRows(CornerRow row) const;

protected:
    void refreshPage() override;

private:
    struct Group {
        QWidget* linked;
        QWidget* unlinked;
        SettingsSliderRow* pair;
        SettingsSliderRow* left;
        SettingsSliderRow* right;
    };
    const Group& group(CornerRow row) const { return row == CornerRow::bottom ? bottom_ : top_; }

    Group top_;
    Group bottom_;
};

// "Bottom Corner Position": where the bottom corners stack (above the app windows, below the active one,
// just above the wallpaper), for the linked pair or for each corner.
class BottomCornerPositionSection : public OverlaySettingsPage {
public:
    BottomCornerPositionSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    // What a choice of the stored string `value` does for a bottom corner: a known stacking is set on the
    // next turn (on both corners while linked); anything else is ignored.
    static void choose(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner,
                       const std::string& value);

protected:
    void refreshPage() override;

private:
    SettingsChoiceRow* pair_;
    QWidget* unlinked_;
};

// "Corner Stroke": the hairline along a rounded corner. Unlike the page's other controls, its switch writes
// at once.
class CornerStrokeSection : public OverlaySettingsPage {
public:
    CornerStrokeSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    // Sets the stroke flag of the corner record; an equal value writes nothing.
    static void setStroke(OverlaySettings& settings, bool on);
};

}  // namespace velaro
