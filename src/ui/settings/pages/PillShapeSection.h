// The Menu Bar Shape page: floating pills around the menu-bar items, or the classic full bar, and the look of
// the chosen shape — the full bar's extra depth and seam cover, or the pills' size, border, fill and
// position with a button that restores the pill defaults. The other shape's settings stay stored.
#pragma once

#include "ui/settings/kit/SettingsKit.h"

class QAbstractButton;

namespace velaro {

class PillShapeSection : public OverlaySettingsPage {
public:
    PillShapeSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    // The ten pill fields back to their defaults, each as its own write, on the next turn of the loop.
    void restoreDefaults();

    SettingsChoiceRow* modeRow() const { return mode_; }
    QWidget* pillCaptions() const { return pillCaptions_; }
    QWidget* fullBarGroup() const { return fullBar_.block(); }
    QWidget* pillGroups() const { return pill_.block(); }
    SettingsSliderRow* depthRow() const { return depth_; }
    SettingsSliderRow* seamCoverRow() const { return seamCover_; }
    SettingsToggleRow* autoHideRow() const { return autoHide_; }
    SettingsToggleRow* separateSidesRow() const { return separateSides_; }
    QAbstractButton* restoreButton() const { return restore_; }
    // A pill slider by its title ("Corner radius", "Border opacity", …); null for another title.
    SettingsSliderRow* pillRow(const QString& title) const;

protected:
    void refreshPage() override;

private:
    SettingsChoiceRow* mode_;
    QWidget* pillCaptions_;
    SlideReveal fullBar_;
    SlideReveal pill_;
    SettingsSliderRow* depth_;
    SettingsSliderRow* seamCover_;
    SettingsToggleRow* autoHide_;
    SettingsToggleRow* separateSides_;
    QAbstractButton* restore_;
    std::vector<SettingsSliderRow*> pillRows_;
};

}  // namespace velaro
