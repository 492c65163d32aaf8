// The General page's cards.
#include "ui/settings/pages/GeneralPage.h"

#include <QVBoxLayout>

#include "settings/OverlaySettings.h"

namespace velaro {

GeneralPage::GeneralPage(LoginItemControl loginItem, OverlaySettings& settings,
                         std::function<void()> showWelcomeTour, MainLoop& loop, QWidget* parent)
    : SettingsPage(loop, parent) {
    QVBoxLayout* column = this->column();

    startupCard_ = new SettingsCard(this);
    auto* launchAtLogin = new LaunchAtLoginToggle(std::move(loginItem), loop, startupCard_);
    startupCard_->addRow(launchAtLogin);
    startupCard_->addHairline();
    auto* showTaskbarIcon = new ShowTaskbarIconToggle(settings, loop, false, startupCard_);
    startupCard_->addRow(showTaskbarIcon);
    column->addWidget(startupCard_);

    note_ = new GlobalOnlyNote(this);
    note_->hide();
    column->addWidget(note_);

    column->addWidget(new SettingsSectionHeader(QStringLiteral("Welcome Tour"), this));
    auto* tourCard = new SettingsCard(this);
    tourCard->addRow(new SettingsActionRow(QStringLiteral("Show Welcome Tour"), "sparkles",
                                           SettingsActionRow::Role::plain, std::move(showWelcomeTour),
                                           tourCard));
    tourCard->addRow(new SettingsCaptionRow(
        QStringLiteral("Walks you through what Velaro needs and the main overlay options again."), tourCard));
    column->addWidget(tourCard);

    follow(settings.showTaskbarIcon.changes());
    refresh();
}

void GeneralPage::setEditingApp(bool editing) {
    startupCard_->setEnabled(!editing);
    note_->setVisible(editing);
}

}  // namespace velaro
