// What the application shell needs of the overlay controller: the controller implements it, and the shell is
// wired and tested against it before (and independently of) the controller that owns the overlay windows.
#pragma once

#include <functional>
#include <memory>

namespace velaro {

class AppWatcher;
class OverviewDetector;
class OverlaySettings;
class ScreenSampler;

class OverlayControllerPort {
public:
    virtual ~OverlayControllerPort() = default;

    // Whether the bar overlay is shown now.
    virtual bool isVisible() const = 0;
    // Shows the overlay; `immediate` skips the reveal and brings it back at once. Changes nothing while it is
    // visible already.
    virtual void show(bool immediate) = 0;
    // Hides the overlay; `immediate` skips the fade.
    virtual void hide(bool immediate) = 0;
    // A unified window waits for its first colours before it reveals; the sampler must capture meanwhile.
    virtual bool unifiedRevealPending() const = 0;
    // Forgets the owner seen on the last tick, so the next tick counts as a change of owner.
    virtual void resetPrevTickOwner() = 0;
    virtual void orderFrontCornerWindows() = 0;
    // Makes the corner windows a controller built with `holdCornerWindows` left out, placed and shown as
    // they would have been; once. Nothing for a controller that held none back.
    virtual void makeHeldWindows() {}
    // The controller follows the detector (it hides and reorders its windows while the overview shows).
    virtual void attachOverviewDetector(OverviewDetector& detector) = 0;

    // Called when `unifiedRevealPending` changes.
    virtual void setOnRevealPendingChanged(std::function<void()> callback) = 0;
    // Called with the new visibility whenever it changes.
    virtual void setOnVisibilityChanged(std::function<void(bool visible)> callback) = 0;
};

// Builds the controller over the sampler, the settings and the app watcher; each outlives the controller.
// May return null while no controller is available: the shell then runs without an overlay.
using OverlayControllerFactory = std::function<std::unique_ptr<OverlayControllerPort>(
    ScreenSampler& sampler, OverlaySettings& settings, AppWatcher& appWatcher)>;

}  // namespace velaro
