// The global-only group.
#include "ui/settings/kit/GlobalOnlyGroup.h"

namespace velaro {

GlobalOnlyGroup::GlobalOnlyGroup(const QString& title, QWidget* rows, QWidget* parent) : QWidget(parent) {
    card_ = new SettingsCard;
    card_->addRow(rows);
    note_ = new GlobalOnlyNote;
    note_->hide();
    addRows(this, {new SettingsSectionHeader(title), card_, note_});
}

void GlobalOnlyGroup::setEditingApp(bool editing) {
    card_->setEnabled(!editing);
    note_->setVisible(editing);
}

}  // namespace velaro
