// A group of settings that no app profile can change: a section header, a card that is disabled while an
// app's profile is edited, and then the note that says why.
#pragma once

#include "ui/settings/kit/SettingsKit.h"

namespace velaro {

class GlobalOnlyGroup : public QWidget {
public:
    // The group takes `rows`, laid out in its card.
    GlobalOnlyGroup(const QString& title, QWidget* rows, QWidget* parent = nullptr);

    void setEditingApp(bool editing);

private:
    SettingsCard* card_;
    GlobalOnlyNote* note_;
};

}  // namespace velaro
