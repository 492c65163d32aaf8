// Choosing one installed application, as the excluded-apps page and the profile selector do: a modal dialog
// listing the installed apps by name and icon, narrowed as the user types to the best matches first, that
// gives the chosen app's location, or nothing when cancelled.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QDialogButtonBox;
class QLineEdit;
class QListView;

namespace velaro {

class AppCatalog;
class AppMatches;
class InstalledAppsModel;

// Opens the choice over the window of `over`; `listed` holds the app ids the caller lists already, shown
// marked and not chosen again. Gives the chosen app's location (its desktop file).
using ApplicationChooser =
    std::function<std::optional<std::string>(QWidget* over, const std::set<std::string>& listed)>;

class ApplicationChooserDialog : public QDialog {
public:
    static constexpr const char* addText = "Add";
    static constexpr const char* listedText = "Added";

    ApplicationChooserDialog(const AppCatalog& catalog, std::set<std::string> listed,
                             QWidget* parent = nullptr);
    ~ApplicationChooserDialog() override;

    // The chosen app's location, once Enter, the Add button or a double-click chose one.
    const std::optional<std::string>& chosen() const { return chosen_; }

    QLineEdit* searchField() const { return search_; }
    QListView* list() const { return list_; }
    // The app ids of the rows the search leaves, best match on top, and the one Enter would add.
    std::vector<std::string> shownAppIds() const;
    std::optional<std::string> currentAppId() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The first row that can be chosen becomes the current one.
    void selectFirst();
    void chooseCurrent();
    void showAddable();

    InstalledAppsModel* apps_;
    AppMatches* shown_;
    QLineEdit* search_;
    QListView* list_;
    QDialogButtonBox* buttons_;
    std::optional<std::string> chosen_;
};

// The dialog over `catalog`, run modally; the window it was opened over has the keyboard again afterwards.
ApplicationChooser standardApplicationChooser(const AppCatalog& catalog);

}  // namespace velaro
