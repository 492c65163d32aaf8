// The software updater: started once at launch, asked by "Check for Updates…", and whether a check can start
// now (the menu item and the About page's button follow that).
#pragma once

#include <optional>

#include "base/Published.h"

namespace velaro {

class Updater {
public:
    virtual ~Updater() = default;

    // Called once at launch. Background checks run only with the user's consent, which is never asked for
    // (and nothing is checked) on the very first launch.
    virtual void start() = 0;
    // True while updates are configured and no check is under way.
    virtual const Published<bool>& canCheckForUpdates() const = 0;
    // False for a build that names no update feed: no check can ever start, and the controls that would
    // start one say why.
    virtual bool hasUpdateFeed() const = 0;
    // A check the user asked for: its outcome is shown whatever it is, exactly once. Asked while a background
    // check runs, that check's outcome is shown. Without a feed there is nothing to check.
    virtual void checkForUpdates() = 0;
    // The user's answer about background checks; absent until they were asked.
    virtual std::optional<bool> automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool enabled) = 0;
};

}  // namespace velaro
