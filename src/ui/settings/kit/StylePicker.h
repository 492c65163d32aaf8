// The fill-style picker that the Appearance page and the popover share: the three styles as the kit's
// segmented chips, the chosen one filled with the accent colour, and the chosen style's description under
// them. A press queues the new style; the chips show the stored style until the write lands.
#pragma once

#include <QAbstractButton>
#include <array>

#include "settings/ValueTypes.h"
#include "ui/settings/kit/SettingsKit.h"

class QLabel;

namespace velaro {

class SegmentedControl;

// The picker's label of a style ("Solid", "Fade", "Live") and the line shown under the picker for it.
const char* styleLabel(MenuBarStyle style);
const char* styleDescription(MenuBarStyle style);

inline constexpr std::array<MenuBarStyle, 3> pickerStyles{MenuBarStyle::solid, MenuBarStyle::gradient,
                                                          MenuBarStyle::live};

class StylePicker : public SettingsRow {
public:
    // `selection` is expected to defer its writes (`deferredBinding`).
    explicit StylePicker(Binding<MenuBarStyle> selection, QWidget* parent = nullptr);

    void refresh() override;
    // A style's chip: checked while that style is the stored one.
    QAbstractButton* button(MenuBarStyle style) const;

private:
    Binding<MenuBarStyle> selection_;
    SegmentedControl* chips_;
    QLabel* description_;
};

}  // namespace velaro
