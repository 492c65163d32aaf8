// A screen sampler over the real desktop's services (a fake settings store), for the end-to-end tests that
// drive the sampler.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "platform/linux/X11CaptureService.h"
#include "platform/linux/X11PointerSource.h"
#include "platform/linux/X11Screens.h"
#include "platform/linux/X11WindowList.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XcbUtil.h"
#include "platform/linux/XdgAppCatalog.h"
#include "sampling/ScreenSampler.h"
#include "sampling/ScreenTopology.h"
#include "sampling/WindowListScans.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeMenuTracking.h"

namespace velaro::e2e {

// The real capture service as the sampler sees it, counting the streams the sampler asks it for.
class CountingCaptureService final : public CaptureService {
public:
    explicit CountingCaptureService(CaptureService& real) : real_(real) {}

    void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                             ContentHandler handler) override {
        real_.getShareableContent(excludeDesktopWindows, onScreenWindowsOnly, std::move(handler));
    }
    std::shared_ptr<CaptureStream> makeStream(ContentFilter filter, StreamConfiguration configuration,
                                              StreamStoppedHandler onStopped) override {
        ++streamsMade;
        return real_.makeStream(std::move(filter), configuration, std::move(onStopped));
    }
    void captureImage(ContentFilter filter, StreamConfiguration configuration,
                      ImageHandler handler) override {
        real_.captureImage(std::move(filter), configuration, std::move(handler));
    }

    int streamsMade = 0;  // main loop only

private:
    CaptureService& real_;
};

struct DesktopSampler {
    // Builds every service and the sampler; false (with a test failure) when the desktop cannot be reached.
    bool start() {
        loop = std::make_unique<QtMainLoop>();
        EXPECT_TRUE(session) << "no X display";
        if (!session) return false;
        screens = std::make_unique<X11Screens>(*session);
        windows = std::make_unique<X11WindowList>(*session);
        workspace = std::make_unique<X11Workspace>(*loop, *session);
        capture = std::make_unique<X11CaptureService>(*loop, *session);
        countingCapture = std::make_unique<CountingCaptureService>(*capture);
        pointer = std::make_unique<X11PointerSource>(*loop, *session);
        topology = std::make_unique<ScreenTopology>(*screens, workspace.get());
        scans = std::make_unique<WindowListScans>(*windows, *screens, defaults, *workspace,
                                                  workspace->ownProcessIdentifier());
        sampler = std::make_unique<ScreenSampler>(ScreenSampler::Services{
            .loop = *loop,
            .capture = *countingCapture,
            .screens = *screens,
            .topology = *topology,
            .scans = *scans,
            .defaults = defaults,
            .workspace = *workspace,
            .pointer = *pointer,
            .menus = menus,
        });
        return true;
    }

    // Declared first, so that every service built from it goes before it.
    TestSession session;
    test::FakeDefaultsStore defaults;
    test::FakeMenuTracking menus;
    std::unique_ptr<QtMainLoop> loop;
    std::unique_ptr<X11Screens> screens;
    std::unique_ptr<X11WindowList> windows;
    std::unique_ptr<X11Workspace> workspace;
    std::unique_ptr<X11CaptureService> capture;
    std::unique_ptr<CountingCaptureService> countingCapture;
    std::unique_ptr<X11PointerSource> pointer;
    std::unique_ptr<ScreenTopology> topology;
    std::unique_ptr<WindowListScans> scans;
    std::unique_ptr<ScreenSampler> sampler;
};

}  // namespace velaro::e2e
