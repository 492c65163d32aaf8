// The chosen apps of the excluded-apps page and their three exclusion sets, kept in the defaults store.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QImage>

#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "base/Published.h"

namespace velaro {

class AppCatalog;
class DefaultsStore;
class MainLoop;
class Workspace;

class ExcludedAppsModel {
public:
    struct MemberApp {
        std::string id;    // the app id
        std::string name;  // the name shown on the page
        std::optional<std::string> url;

        // A member for an identifier, with its name and location looked up (the identifier itself as the
        // name when the app is not installed).
        static MemberApp make(const std::string& appId, const AppCatalog& catalog);
        friend bool operator==(const MemberApp&, const MemberApp&) = default;
    };
    using IDSet = std::set<std::string>;

    // Loads, cleans and merges the stored sets, reads the running apps and starts following them.
    ExcludedAppsModel(DefaultsStore& defaults, const AppCatalog& catalog, const Workspace& workspace,
                      MainLoop& loop);
    ~ExcludedAppsModel();
    ExcludedAppsModel(const ExcludedAppsModel&) = delete;
    ExcludedAppsModel& operator=(const ExcludedAppsModel&) = delete;

    Published<std::vector<MemberApp>> members;
    Published<IDSet> sampleStop;
    Published<IDSet> overlayHide;
    Published<IDSet> captureStop;
    Published<IDSet> runningAppIds;

    // Adds the app at a location as a member that is not excluded; nothing when it is no app or already one.
    void add(const std::string& appURL);
    // Removes a member and its exclusion, as the page's remove button does.
    void remove(const std::string& appId);
    void saveMembers();
    void setExcluded(bool excluded, const std::string& appId);
    // The app's icon, cached per identifier; absent for an app that is not installed.
    std::optional<QImage> icon(const MemberApp& member);
    std::string displayName(const std::string& appURL) const;
    void refreshRunning();

    // Orders members by name, ignoring case, keeping the order of equal names.
    static void sortByName(std::vector<MemberApp>& members);

private:
    // Apps were installed or removed: the members' names, locations and icons are looked up again.
    void renewMembers();

    DefaultsStore& defaults_;
    const AppCatalog& catalog_;
    const Workspace& workspace_;
    MainLoop& loop_;
    std::map<std::string, QImage> iconCache_;
    Lifetime lifetime_;
    Subscription runningObservation_;
    Subscription catalogObservation_;
};

}  // namespace velaro
