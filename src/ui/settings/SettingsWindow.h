// The settings window: "Velaro Settings", 700 × 640 points when the screen has room. Its width stays 700 and
// only its height changes, down to 500 (a screen whose free area is smaller gets the free area's width and
// least height instead). It opens inside the free area of its screen, title bar included. The window manager
// owns the title bar, so the profile selector and the master switch sit in a header row at the top of the
// window, above the pages.
#pragma once

#include <QWidget>
#include <functional>
#include <optional>

#include "base/Cancellable.h"
#include "overlay/OverlayFeed.h"
#include "ui/settings/ProfileSelectorView.h"

class QCheckBox;
class QLabel;

namespace velaro {

class MainLoop;
class OverlaySettings;
class ProfileManager;

// "Enabled"/"Disabled" beside a switch bound to the master switch.
class TitlebarMasterSwitch : public QWidget {
public:
    TitlebarMasterSwitch(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    QString text() const;
    QCheckBox* toggle() const { return toggle_; }

private:
    void refresh();

    OverlaySettings& settings_;
    QLabel* label_;
    QCheckBox* toggle_;
    CoalescedRefresh refresh_;
    Subscription watch_;
};

class SettingsWindow : public QWidget {
public:
    // Its one width, and its first and least heights.
    static constexpr int windowWidth = 700;
    static constexpr int initialHeight = 640;
    static constexpr int minimumHeight = 500;

    // `root` is the pages' view; the window takes it. `onOverridesChanged` runs after the profile selector
    // cleared a profile's overrides.
    SettingsWindow(OverlaySettings& settings, ProfileManager& profileManager, MainLoop& loop, QWidget* root,
                   std::function<void()> onOverridesChanged, ProfileSelectorServices selector = {},
                   QWidget* parent = nullptr);

    // Gives the window its first size and place in `area`, a screen's free area (less its panels): the
    // initial size, or less where the area is smaller, and centred in the area with its window frame. The
    // frame is guessed until the window manager has framed the window; once it has, a window whose frame
    // does not fit is placed again with the frame it really has.
    void placeInside(const QRect& area);
    // The same with the frame margins known.
    void placeInside(const QRect& area, const QMargins& frame);

    // Told as the window closes (or is hidden by the app, which closes it just the same; minimising does
    // not count) and each time it takes the focus.
    std::function<void()> onWillClose;
    std::function<void()> onDidBecomeKey;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The free area the first placement used, until the frame it really got has been checked.
    std::optional<QRect> placedIn_;
};

}  // namespace velaro
