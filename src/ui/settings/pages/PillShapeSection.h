// The Menu Bar Shape page: floating pills around the menu-bar items, or the classic full bar, and the look of
// the chosen shape — the full bar's extra depth and seam cover, or the pills' size, border, fill and
// position with a button that restores the pill defaults. The other shape's settings stay stored.
#pragma once

#include "ui/settings/kit/SettingsKit.h"

class QAbstractButton;

namespace velaro {

class PillShapeSection : public OverlaySettingsPage {
public:
    // Under the "Left offset" row, which keeps its value but is disabled.
    static constexpr const char* noLeftPill =
        "No left pill here: Velaro can't tell where the panel draws app menus.";

    PillShapeSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    // The ten pill fields back to their defaults, each as its own write, on the next turn of the loop.
    void restoreDefaults();

protected:
    void refreshPage() override;

private:
    QWidget* pillCaptions_;
    SlideReveal fullBar_;
    SlideReveal pill_;
};

}  // namespace velaro
