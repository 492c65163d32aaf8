// The settings window's content: the sidebar of page groups on the left, and on the right a scrolling
// pane with the selected page's title, its one-line description and the page itself. It decides which page
// each sidebar entry shows and what each page is given, makes a page the first time it is selected and keeps
// it, disables the global-only cards (with a note) while an app's profile is edited, and gates the pages that
// only matter while the overlay is on.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "base/Cancellable.h"
#include "overlay/OverlayFeed.h"
#include "ui/settings/SettingsNavigation.h"
#include "ui/settings/kit/ApplicationChooser.h"
#include "ui/settings/pages/AboutSection.h"
#include "ui/settings/pages/CornerRoundingSections.h"
#include "ui/settings/pages/GeneralSwitches.h"
#include "ui/settings/pages/ShortcutRecorder.h"

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace velaro {

class ExcludedAppsModel;
class GeneralPage;
class GlobalOnlyNote;
class MainLoop;
class OverlaySettings;
class ProfileManager;
class ScreenTopology;
class SettingsOverlayGate;
class SettingsSidebar;
class UpdateCheckModel;

class SettingsRootView : public QWidget {
public:
    static constexpr int pageWidth = 460;
    static constexpr int detailPadding = 20;

    struct Model {
        // The General page's "Show Welcome Tour".
        std::function<void()> showWelcomeTour;
        // The update checker, made by its owner the first time the About page asks for it.
        std::function<UpdateCheckModel&()> updateCheck;
        OverlaySettings& settings;
        LoginItemControl loginItem;
        ProfileManager& profileManager;
        SettingsNavigation& navigation;
        MainLoop& loop;
        // Makes the excluded-apps model the first time its page shows; the view keeps it from then on.
        std::function<std::unique_ptr<ExcludedAppsModel>()> makeExcludedAppsModel;
        AboutServices about;
        // The screens the Advanced page asks whether the main one has a notch; none: it has none.
        ScreenTopology* topology = nullptr;
        // What the Corner Rounding page's picture of the desktop is made from; none: a stand-in picture.
        CornerPreviewServices cornerPreview;
        // What the Shortcuts page's recorder needs of the desktop.
        ShortcutRecorderServices shortcuts = {};
        // Picks an installed application for the Excluded Apps page; without one its add button does nothing.
        ApplicationChooser chooseApplication = {};
    };

    explicit SettingsRootView(Model model, QWidget* parent = nullptr);
    ~SettingsRootView() override;

    const Model& model() const { return model_; }

    // What a click on a sidebar row does: selects its page and bounces its symbol.
    void sidebarRowClicked(SettingsCategory category);

    // True while an app's profile (not the global settings) is edited.
    bool isEditingApp() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void apply();
    QWidget* makePage(SettingsCategory category);
    QWidget* gated(QWidget* page);

    Model model_;
    SettingsSidebar* sidebar_;
    QScrollArea* detail_;
    QWidget* header_;
    QLabel* title_;
    QLabel* blurb_;
    QWidget* pageSlot_;
    QVBoxLayout* pageColumn_;
    QLabel* empty_;
    QWidget* filler_;

    std::map<SettingsCategory, QWidget*> pages_;
    std::map<SettingsCategory, std::int64_t> bounceTick_;
    std::unique_ptr<ExcludedAppsModel> excludedAppsModel_;
    std::vector<SettingsOverlayGate*> gates_;
    GeneralPage* generalPage_ = nullptr;
    QWidget* shortcutsSection_ = nullptr;
    GlobalOnlyNote* shortcutsNote_ = nullptr;

    CoalescedRefresh refresh_;
    std::vector<Subscription> watches_;
};

}  // namespace velaro
