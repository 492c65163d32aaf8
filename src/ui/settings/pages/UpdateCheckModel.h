// The settings window's view of the updater: whether a check can start now, mirrored so the About page's
// "Check for Updates…" button follows it, and the updater to ask.
#pragma once

#include "base/Cancellable.h"
#include "base/Published.h"

namespace velaro {

class Updater;

class UpdateCheckModel {
public:
    // Why the update controls are disabled in a build without an update feed, in their tool tips and on
    // the About page.
    static constexpr const char* noFeedReason =
        "This build has no update feed, so it cannot check for updates. Velaro updates with the package "
        "you installed it from.";

    // Takes the updater's current state at once and every later one.
    explicit UpdateCheckModel(Updater& updater);
    UpdateCheckModel(const UpdateCheckModel&) = delete;
    UpdateCheckModel& operator=(const UpdateCheckModel&) = delete;

    Published<bool> canCheckForUpdates{false};
    Updater& updater() const { return updater_; }
    bool hasUpdateFeed() const;

private:
    Updater& updater_;
    Subscription mirror_;
};

}  // namespace velaro
