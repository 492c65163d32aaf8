// The fill-style chips and the overlay opacity slider, as the popover shows them. Every write reaches the
// settings on the next turn of the loop.
#pragma once

#include <QWidget>
#include <array>
#include <vector>

#include "base/Cancellable.h"
#include "overlay/OverlayFeed.h"
#include "settings/ValueTypes.h"

class QLabel;
class QPushButton;
class QSlider;

namespace velaro {

class MainLoop;
class OverlaySettings;

// The picker's label of a style ("Solid", "Fade", "Live") and the line shown under the picker for it.
const char* styleLabel(MenuBarStyle style);
const char* styleDescription(MenuBarStyle style);

class StyleOpacityControls : public QWidget {
public:
    StyleOpacityControls(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    QPushButton* styleButton(MenuBarStyle style) const;
    QSlider* opacitySlider() const { return slider_; }
    QString opacityText() const;
    QString descriptionText() const;

private:
    void refresh();

    OverlaySettings& settings_;
    std::array<QPushButton*, 3> chips_{};
    QLabel* description_;
    QLabel* value_;
    QSlider* slider_;
    CoalescedRefresh refresh_;
    Subscription watch_;
};

}  // namespace velaro
