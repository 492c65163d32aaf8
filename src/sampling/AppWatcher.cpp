// The frontmost-app watcher.
#include "sampling/AppWatcher.h"

#include "platform/AppCatalog.h"
#include "platform/Workspace.h"

namespace velaro {

AppWatcher::AppWatcher(Workspace& workspace, const AppCatalog& catalog, WindowEvents& windowEvents,
                       MainLoop& loop, AppWatcherSamplerHooks sampler)
    : workspace_(workspace),
      catalog_(catalog),
      sampler_(std::move(sampler)),
      windowEvents_(windowEvents, loop, workspace.ownProcessIdentifier()) {
    windowEvents_.onWindowEvent = [refresh = sampler_.refresh](const std::string&) {
        if (refresh) refresh();
    };
    handleActivation(workspace_.frontmostApplication());
    workspaceObserver_ = workspace_.events().sink([this](const WorkspaceEvent& e) {
        if (e.kind != WorkspaceEvent::Kind::didActivateApplication) return;
        // An activation that does not say which app falls back to asking for the frontmost one.
        handleActivation(e.app ? e.app : workspace_.frontmostApplication());
    });
}

AppWatcher::~AppWatcher() {
    workspaceObserver_.cancel();
}

std::optional<QImage> AppWatcher::iconFor(const RunningApp& app) const {
    if (!app.appId) return std::nullopt;
    const auto url = catalog_.urlForApplication(*app.appId);
    if (!url) return std::nullopt;
    QImage image = catalog_.iconForFile(*url);
    if (image.isNull()) return std::nullopt;
    return image;
}

void AppWatcher::handleActivation(const std::optional<RunningApp>& app) {
    activeAppId = app ? app->appId : std::nullopt;
    activeAppName = app ? app->name : std::nullopt;
    activeAppIcon = app ? iconFor(*app) : std::nullopt;
    if (app) {
        windowEvents_.watch(app->pid);
        if (onFrontmostPID) onFrontmostPID(app->pid);
    } else {
        windowEvents_.watch(0);
    }
    if (usingOverride.value()) usingOverride = false;
    // The only place sampling gets enabled: no stream runs before the first activation was handled.
    if (sampler_.isEnabled && !sampler_.isEnabled()) {
        if (sampler_.enableAndReconcile) sampler_.enableAndReconcile();
    }
}

}  // namespace velaro
