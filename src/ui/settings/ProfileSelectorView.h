// Chooses which settings the settings window edits: the global settings or one app's profile. A compact
// button names the scope; clicking it opens a popover listing the global scope and every profile, with their
// override counts and a checkmark on the chosen one. The popover also adds a profile for an app chosen from
// disk (up to 20), removes profiles, and clears a profile's overrides after a confirmation.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Cancellable.h"
#include "overlay/OverlayFeed.h"
#include "settings/ProfileManager.h"
#include "ui/settings/kit/ApplicationChooser.h"

class QLabel;
class QVBoxLayout;

namespace velaro {

class AppCatalog;
class AppIconView;
class ElidedLabel;
class MainLoop;
class SymbolButton;

// A modal alert: its message, its informative text, and either one "OK" button or a destructive
// `confirmButton` beside "Cancel".
struct ProfileAlert {
    enum class Style { informational, warning };
    Style style = Style::informational;
    QString message;
    QString informativeText;
    QString confirmButton;  // empty: only "OK"

    friend bool operator==(const ProfileAlert&, const ProfileAlert&) = default;
};

struct ProfileSelectorServices {
    // Names and icons of apps, and what a chosen file is; without it the add row adds nothing and every app
    // shows the placeholder icon.
    const AppCatalog* catalog = nullptr;
    ApplicationChooser chooseApplication;
    // Shows an alert modally; true when its confirm button was chosen.
    std::function<bool(const ProfileAlert&)> alert;

    // The catalog, the application chooser over it and message boxes.
    static ProfileSelectorServices standard(const AppCatalog* catalog);
};

// One row of the popover: the global scope or one profile.
class ProfileScopeRow : public QAbstractButton {
public:
    // `profile` null: the global row.
    ProfileScopeRow(const ProfileManager::AppProfile* profile, bool selected, const QImage& icon,
                    QWidget* parent = nullptr);

    QString name() const;
    bool showsCheckmark() const { return checked_; }
    // The remove button of a profile row; null for the global row.
    SymbolButton* removeButton() const { return remove_; }
    // An entry of the context menu, after those added before: its title and what choosing it does.
    using ContextEntry = std::pair<QString, std::function<void()>>;
    void addContextEntry(QString title, std::function<void()> action);

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    std::vector<ContextEntry> contextEntries_;
    bool checked_ = false;
    ElidedLabel* name_;
    SymbolButton* remove_ = nullptr;
};

// The popover's last row: "Add App…", disabled at the profile limit.
class ProfileAddRow : public QAbstractButton {
public:
    // At the limit it also shows "(max 20)".
    ProfileAddRow(bool atLimit, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class ProfileSelectorView : public QWidget {
public:
    static constexpr int popoverWidth = 240;
    static constexpr std::size_t profileLimit = ProfileManager::maxProfiles;

    // `onOverridesChanged` runs after the selector cleared a profile's overrides.
    ProfileSelectorView(ProfileManager& profileManager, MainLoop& loop,
                        std::function<void()> onOverridesChanged, ProfileSelectorServices services,
                        QWidget* parent = nullptr);
    ~ProfileSelectorView() override;

    // "Global Settings", the profile's name, or the bare identifier of a scope whose profile is gone.
    QString scopeName() const;

    // Shows the popover (a pop-up window under the scope button) or hides it.
    void setExpanded(bool expanded);

    // What the rows do.
    void choose(const ProfileScope& scope);
    void addApp();
    void resetOverrides(const std::string& appId);
    void removeProfile(const std::string& appId);

private:
    class Popover;
    class ScopeButton;

    void refresh();
    void rebuildPopover();
    // The keyboard on the chosen scope's row; on the next or previous enabled row (`step` 1 or -1).
    void focusChosenRow();
    void moveRowFocus(int step);
    // The app's icon, cached per identifier; a null image when none can be found.
    QImage iconFor(const std::string& appId);

    ProfileManager& profileManager_;
    std::function<void()> onOverridesChanged_;
    ProfileSelectorServices services_;
    ScopeButton* button_;
    Popover* popover_;
    QVBoxLayout* popoverColumn_;
    std::vector<ProfileScopeRow*> rows_;
    ProfileAddRow* addRow_ = nullptr;
    bool expanded_ = false;
    std::map<std::string, QImage> icons_;
    CoalescedRefresh refresh_;
    Subscription scopeWatch_;
    Subscription profilesWatch_;
};

}  // namespace velaro
