// The settings window: "Velaro Settings", 700 points wide and resizable only in height (down to 500). The
// window manager owns the title bar, so the profile selector and the master switch sit in a header row at
// the top of the window, above the pages.
#pragma once

#include <QWidget>
#include <functional>

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
    static constexpr int windowWidth = 700;
    static constexpr int minimumHeight = 500;
    static constexpr int initialHeight = 640;

    // `root` is the pages' view; the window takes it. `onOverridesChanged` runs after the profile selector
    // cleared a profile's overrides.
    SettingsWindow(OverlaySettings& settings, ProfileManager& profileManager, MainLoop& loop, QWidget* root,
                   std::function<void()> onOverridesChanged, ProfileSelectorServices selector = {},
                   QWidget* parent = nullptr);

    TitlebarMasterSwitch& masterSwitch() const { return *masterSwitch_; }
    ProfileSelectorView& profileSelector() const { return *profileSelector_; }

    // Told as the window closes (or is hidden by the app, which closes it just the same; minimising does
    // not count) and each time it takes the focus.
    std::function<void()> onWillClose;
    std::function<void()> onDidBecomeKey;

protected:
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;

private:
    TitlebarMasterSwitch* masterSwitch_;
    ProfileSelectorView* profileSelector_;
};

}  // namespace velaro
