// The start-at-login and taskbar-icon rows.
#include "ui/settings/pages/GeneralSwitches.h"

#include <QVBoxLayout>

#include "base/MainLoop.h"
#include "settings/OverlaySettings.h"
#include "ui/kit/DeferredBinding.h"
#include "ui/settings/kit/SettingsKit.h"

namespace velaro {
namespace {

QVBoxLayout* rowsOf(QWidget* holder) {
    auto* rows = new QVBoxLayout(holder);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    return rows;
}

}  // namespace

LaunchAtLoginToggle::LaunchAtLoginToggle(LoginItemControl loginItem, MainLoop& loop, QWidget* parent)
    : QWidget(parent) {
    QVBoxLayout* rows = rowsOf(this);
    const Published<bool>& isEnabled = loginItem.isEnabled;
    row_ = new SettingsToggleRow(QStringLiteral("Start at Login"),
                                 deferredBinding<bool>(loop, {[&isEnabled] { return isEnabled.value(); },
                                                              std::move(loginItem.setEnabled)}),
                                 {}, nullptr, this);
    rows->addWidget(row_);
    rows->addWidget(new SettingsCaptionRow(QStringLiteral("Start Velaro automatically"), this));
    // The value is republished from the system after each change: read it once it is stored.
    watch_ = isEnabled.changes().receiveOn(loop).sink([this](bool) { row_->refresh(); });
}

LaunchAtLoginToggle::~LaunchAtLoginToggle() = default;

ShowTaskbarIconToggle::ShowTaskbarIconToggle(OverlaySettings& settings, MainLoop& loop,
                                             bool offNeedsRelaunchNote, QWidget* parent)
    : QWidget(parent) {
    QVBoxLayout* rows = rowsOf(this);
    row_ = new SettingsToggleRow(QStringLiteral("Show taskbar icon"),
                                 deferredBinding(loop, settingBinding(settings.showTaskbarIcon)), {}, nullptr,
                                 this);
    rows->addWidget(row_);
    rows->addWidget(new SettingsCaptionRow(
        QStringLiteral("Show Velaro in the taskbar and Alt-Tab. Off keeps it in the tray only."), this));
    if (offNeedsRelaunchNote)
        rows->addWidget(new SettingsCaptionRow(QStringLiteral("Takes effect after relaunch."), this));
}

MaximiseFillToggle::MaximiseFillToggle(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : QWidget(parent) {
    QVBoxLayout* rows = rowsOf(this);
    row_ = new SettingsToggleRow(QStringLiteral("Fill Window"),
                                 deferredBinding(loop, settingBinding(settings.maximiseButtonFillsWindow)),
                                 {}, nullptr, this);
    rows->addWidget(row_);
    rows->addWidget(new SettingsCaptionRow(
        QStringLiteral(
            "Clicking the maximise button fills the window to fit the screen instead of maximising it. "
            "Hold Alt while clicking to maximise it. May not work with some apps."),
        this));
}

}  // namespace velaro
