// Follows the frontmost app: publishes its identifier, name and icon, points the window-event watcher at
// it, and enables sampling on the first activation.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <QImage>

#include "base/Cancellable.h"
#include "base/Published.h"
#include "sampling/WindowEventWatcher.h"

namespace velaro {

class AppCatalog;
class MainLoop;
class WindowEvents;
class Workspace;
struct RunningApp;

// What the watcher needs of the screen sampler.
struct AppWatcherSamplerHooks {
    std::function<void()> refresh;
    std::function<bool()> isEnabled;
    // Sets the sampler's `enabled` and reconciles its streams.
    std::function<void()> enableAndReconcile;
};

class AppWatcher {
public:
    AppWatcher(Workspace& workspace, const AppCatalog& catalog, WindowEvents& windowEvents, MainLoop& loop,
               AppWatcherSamplerHooks sampler);
    ~AppWatcher();
    AppWatcher(const AppWatcher&) = delete;
    AppWatcher& operator=(const AppWatcher&) = delete;

    Published<std::optional<std::string>> activeAppId;
    Published<std::optional<std::string>> activeAppName;
    Published<std::optional<QImage>> activeAppIcon;
    // Cleared on every activation; nothing sets it.
    Published<bool> usingOverride{false};
    // Told the process of every newly active app (the green-button fill).
    std::function<void(std::int32_t pid)> onFrontmostPID;

    void handleActivation(const std::optional<RunningApp>& app);

private:
    std::optional<QImage> iconFor(const RunningApp& app) const;

    Workspace& workspace_;
    const AppCatalog& catalog_;
    AppWatcherSamplerHooks sampler_;
    WindowEventWatcher windowEvents_;
    Subscription workspaceObserver_;
};

}  // namespace velaro
