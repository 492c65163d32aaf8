// The excluded-apps model: members, the three exclusion sets and the running apps.
#include "sampling/ExcludedAppsModel.h"

#include <algorithm>

#include "base/MainLoop.h"
#include "base/NameOrder.h"
#include "platform/AppCatalog.h"
#include "platform/DefaultsStore.h"
#include "platform/Workspace.h"
#include "sampling/WindowListScans.h"

namespace velaro {

namespace {

ExcludedAppsModel::IDSet readSet(const DefaultsStore& defaults, const char* key) {
    const auto values = defaults.stringArrayValue(key);
    if (!values) return {};
    return {values->begin(), values->end()};
}

void writeSet(DefaultsStore& defaults, const char* key, const ExcludedAppsModel::IDSet& set) {
    PlistValue array = PlistValue::array();
    for (const auto& id : set) array.push_back(id);
    defaults.set(key, std::move(array));
}

}  // namespace

ExcludedAppsModel::MemberApp ExcludedAppsModel::MemberApp::make(const std::string& appId,
                                                                const AppCatalog& catalog) {
    if (auto url = catalog.urlForApplication(appId))
        return {appId, applicationDisplayName(catalog, *url), *url};
    return {appId, appId, std::nullopt};
}

ExcludedAppsModel::ExcludedAppsModel(DefaultsStore& defaults, const AppCatalog& catalog,
                                     const Workspace& workspace, MainLoop& loop)
    : defaults_(defaults), catalog_(catalog), workspace_(workspace), loop_(loop) {
    const IDSet memberIDs = readSet(defaults_, kExcludedAppsMembersKey);
    std::vector<MemberApp> list;
    for (const auto& id : memberIDs) list.push_back(MemberApp::make(id, catalog_));
    sortByName(list);
    members = std::move(list);

    // Keep only members in each set, write back what cleaning changed, then merge the three: the page
    // offers one switch per app, so the sets must agree.
    struct Slot {
        const char* key;
        Published<IDSet>* published;
    };
    const Slot storedSets[] = {{kExcludedSampleStopKey, &sampleStop},
                               {kExcludedOverlayHideKey, &overlayHide},
                               {kExcludedCaptureStopKey, &captureStop}};
    IDSet cleaned[3];
    IDSet united;
    for (int i = 0; i < 3; ++i) {
        const IDSet stored = readSet(defaults_, storedSets[i].key);
        std::set_intersection(stored.begin(), stored.end(), memberIDs.begin(), memberIDs.end(),
                              std::inserter(cleaned[i], cleaned[i].end()));
        if (cleaned[i] != stored) writeSet(defaults_, storedSets[i].key, cleaned[i]);
        *storedSets[i].published = cleaned[i];
        united.insert(cleaned[i].begin(), cleaned[i].end());
    }
    for (int i = 0; i < 3; ++i)
        if (united != cleaned[i]) writeSet(defaults_, storedSets[i].key, united);
    for (const auto& slot : storedSets) *slot.published = united;

    refreshRunning();
    runningObservation_ = workspace_.events().sink([this](const WorkspaceEvent& e) {
        if (e.kind != WorkspaceEvent::Kind::didLaunchApplication &&
            e.kind != WorkspaceEvent::Kind::didTerminateApplication)
            return;
        loop_.post(lifetime_.guard([this] { refreshRunning(); }));
    });
    catalogObservation_ = catalog_.changed().sink([this](int) { renewMembers(); });
}

ExcludedAppsModel::~ExcludedAppsModel() {
    runningObservation_.cancel();
    catalogObservation_.cancel();
    lifetime_.end();
}

void ExcludedAppsModel::renewMembers() {
    iconCache_.clear();
    std::vector<MemberApp> list;
    for (const auto& member : members.value()) {
        MemberApp renewed = MemberApp::make(member.id, catalog_);
        // A member chosen from a file outside the applications folders stays as it was while its file does.
        if (!renewed.url && member.url) {
            if (const auto bundle = catalog_.openApp(*member.url); bundle && bundle->appId == member.id)
                renewed = {member.id, displayName(*member.url), member.url};
        }
        list.push_back(std::move(renewed));
    }
    sortByName(list);
    // Rows are rebuilt only for members that changed; an icon that changed alone shows when they are.
    if (list != members.value()) members = std::move(list);
}

void ExcludedAppsModel::sortByName(std::vector<MemberApp>& list) {
    velaro::sortByName(list, [](const MemberApp& m) -> const std::string& { return m.name; });
}

void ExcludedAppsModel::add(const std::string& appURL) {
    const auto bundle = catalog_.openApp(appURL);
    if (!bundle || bundle->appId.empty()) return;
    const auto& current = members.value();
    if (std::any_of(current.begin(), current.end(),
                    [&](const MemberApp& m) { return m.id == bundle->appId; }))
        return;
    auto list = current;
    list.push_back({bundle->appId, displayName(appURL), appURL});
    members = list;
    sortByName(list);
    members = std::move(list);
    saveMembers();
}

void ExcludedAppsModel::remove(const std::string& appId) {
    auto list = members.value();
    std::erase_if(list, [&](const MemberApp& m) { return m.id == appId; });
    members = std::move(list);
    saveMembers();
    setExcluded(false, appId);
}

void ExcludedAppsModel::saveMembers() {
    PlistValue array = PlistValue::array();
    for (const auto& m : members.value()) array.push_back(m.id);
    defaults_.set(kExcludedAppsMembersKey, std::move(array));
}

void ExcludedAppsModel::setExcluded(bool excluded, const std::string& appId) {
    const std::pair<Published<IDSet>*, const char*> storedSets[] = {{&overlayHide, kExcludedOverlayHideKey},
                                                                    {&captureStop, kExcludedCaptureStopKey},
                                                                    {&sampleStop, kExcludedSampleStopKey}};
    for (const auto& [published, key] : storedSets) {
        IDSet set = published->value();
        if (excluded)
            set.insert(appId);
        else
            set.erase(appId);
        *published = set;
        writeSet(defaults_, key, set);
    }
}

std::optional<QImage> ExcludedAppsModel::icon(const MemberApp& member) {
    if (auto it = iconCache_.find(member.id); it != iconCache_.end()) return it->second;
    if (!member.url) return std::nullopt;
    QImage image = catalog_.iconForFile(*member.url);
    iconCache_[member.id] = image;
    return image;
}

std::string ExcludedAppsModel::displayName(const std::string& appURL) const {
    return applicationDisplayName(catalog_, appURL);
}

void ExcludedAppsModel::refreshRunning() {
    IDSet ids;
    for (const auto& app : workspace_.runningApplications())
        if (app.appId) ids.insert(*app.appId);
    runningAppIds = std::move(ids);
}

}  // namespace velaro
