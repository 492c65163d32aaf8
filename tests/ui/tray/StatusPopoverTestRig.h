// The models the popover and its live views read, on the virtual loop: a sampler over fake screens, the
// settings over a fake store, an app watcher over a fake workspace, and permissions the test grants.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <memory>

#include "platform/linux/QtTray.h"
#include "sampling/AppWatcher.h"
#include "sampling/ScreenSamplerTestRig.h"
#include "settings/OverlaySettings.h"
#include "support/FakeAppCatalog.h"
#include "support/FakePermissions.h"
#include "support/FakeWindowEvents.h"
#include "ui/tray/StatusPopover.h"

namespace velaro::test {

struct PopoverRig {
    SamplerRig samplerRig;
    VirtualLoop& loop = samplerRig.loop;
    FakeDefaultsStore& defaults = samplerRig.defaults;
    FakeAppCatalog catalog;
    FakeWindowEvents windowEvents;
    FakePermissions permissions;
    std::unique_ptr<OverlaySettings> settings;
    std::unique_ptr<AppWatcher> appWatcher;
    int settingsOpened = 0;
    int quits = 0;

    PopoverRig() {
        settings = std::make_unique<OverlaySettings>(defaults, loop);
        AppWatcherSamplerHooks hooks;
        hooks.refresh = [] {};
        hooks.isEnabled = [] { return true; };
        hooks.enableAndReconcile = [] {};
        appWatcher = std::make_unique<AppWatcher>(samplerRig.workspace, catalog, windowEvents, loop, hooks);
        loop.runUntilIdle();
    }

    ScreenSampler& sampler() { return *samplerRig.sampler; }

    StatusPopover::Model model() {
        return {sampler(),
                *settings,
                *appWatcher,
                permissions,
                loop,
                [this] { ++settingsOpened; },
                [this] { ++quits; },
                statusIcon(StatusIcon::on)};
    }
    std::unique_ptr<StatusPopover> makePopover() {
        auto view = std::make_unique<StatusPopover>(model());
        view->setAttribute(Qt::WA_DontShowOnScreen);
        return view;
    }
};

}  // namespace velaro::test
