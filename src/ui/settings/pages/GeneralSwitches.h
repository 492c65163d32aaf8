// The app-wide switch rows: start at login and the taskbar icon (the General page), and the maximise-button
// window fill (the Advanced page). Each is a toggle row with its captions and no container of its own: the
// card that holds it lays the rows out. Their writes land on the next turn of the loop.
#pragma once

#include <QWidget>
#include <functional>

#include "base/Published.h"
#include "ui/kit/DeferredBinding.h"

namespace velaro {

class MainLoop;
class OverlaySettings;
class SettingsToggleRow;

// "Start at Login" and its caption. The row follows `isEnabled` by itself.
class LaunchAtLoginToggle : public QWidget {
public:
    LaunchAtLoginToggle(LoginItemControl loginItem, MainLoop& loop, QWidget* parent = nullptr);
    ~LaunchAtLoginToggle() override;

    SettingsToggleRow* row() const { return row_; }

private:
    SettingsToggleRow* row_;
    Subscription watch_;
};

// "Show taskbar icon" and its captions; with `offNeedsRelaunchNote` a third line says a change takes effect
// after a relaunch, whatever the switch shows. The page that holds it refreshes it with the settings.
class ShowTaskbarIconToggle : public QWidget {
public:
    ShowTaskbarIconToggle(OverlaySettings& settings, MainLoop& loop, bool offNeedsRelaunchNote,
                          QWidget* parent = nullptr);

    SettingsToggleRow* row() const { return row_; }

private:
    SettingsToggleRow* row_;
};

// "Fill Window": a click on another program's maximise button fills the window to the screen. No tip points
// to a menu entry for the fill: programs here have none.
class MaximiseFillToggle : public QWidget {
public:
    MaximiseFillToggle(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    SettingsToggleRow* row() const { return row_; }

private:
    SettingsToggleRow* row_;
};

}  // namespace velaro
