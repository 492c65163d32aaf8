// The Excluded Apps page: the apps the overlay leaves alone, from the model the settings window keeps. A
// bordered list box holds one row per member (icon with a running dot, name, an "Exclude" switch that puts
// the app into all three exclusion sets or takes it out of them) above a bar of plus and minus buttons.
#pragma once

#include <QAbstractButton>
#include <optional>
#include <string>
#include <vector>

#include "base/Lifetime.h"
#include "sampling/ExcludedAppsModel.h"
#include "ui/settings/kit/ApplicationChooser.h"
#include "ui/settings/kit/SettingsKit.h"

class QListWidget;
class QStackedWidget;

namespace velaro {

class AppIconView;
class ElidedLabel;
class SettingsSwitch;

// One member of the list.
class ExcludedAppRow : public QWidget {
public:
    ExcludedAppRow(const ExcludedAppsModel::MemberApp& member, bool isRunning, bool excluded,
                   ExcludedAppsModel& model, MainLoop& loop, QWidget* parent = nullptr);

    const ExcludedAppsModel::MemberApp& member() const { return member_; }
    // Shows the member's running state and whether it is excluded, without writing anything.
    void showState(bool isRunning, bool excluded);
    // Whether the list shows the row selected: its name then reads on the selection highlight.
    void setSelected(bool selected);
    AppIconView* icon() const { return icon_; }
    ElidedLabel* name() const { return name_; }
    SettingsSwitch* toggle() const { return toggle_; }

private:
    ExcludedAppsModel::MemberApp member_;
    Lifetime lifetime_;
    AppIconView* icon_;
    ElidedLabel* name_;
    SettingsSwitch* toggle_;
};

class ExcludedAppsSection : public SettingsPage {
public:
    static constexpr const char* captionText =
        "Add apps you want the overlay to leave alone. While an excluded app covers the screen the overlay "
        "hides and capture pauses; either way it’s dropped from the color sampling.";
    static constexpr const char* emptyText = "Add apps with the + button below.";
    static constexpr int boxHeight = 220;

    // `chooseApplication` picks the app the plus button adds, the members marked; without one the button
    // does nothing.
    ExcludedAppsSection(ExcludedAppsModel& model, MainLoop& loop, ApplicationChooser chooseApplication,
                        QWidget* parent = nullptr);

    ExcludedAppsModel& model() const { return model_; }

    // The plus button: choose an app and add it (not excluded yet).
    void addApp();
    // The minus button: remove the selected member from the list and from all three sets.
    void removeSelected();
    // The selected member's app id.
    const std::optional<std::string>& selection() const { return selection_; }
    void select(std::optional<std::string> appId);

    QListWidget* list() const { return list_; }
    // The rows as listed, top to bottom.
    std::vector<ExcludedAppRow*> rows() const;

protected:
    void refreshPage() override;

private:
    void rebuildRows();
    void showSelection();

    ExcludedAppsModel& model_;
    ApplicationChooser chooseApplication_;
    std::optional<std::string> selection_;
    QStackedWidget* content_;
    QWidget* empty_;
    QListWidget* list_;
    QAbstractButton* remove_;
};

}  // namespace velaro
