// A screen sampler on the virtual loop with fake screens, window list, workspace and capture service, and
// the steps the sampler and stream tests share: geometry, a window that fills the top, streaming.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/CaptureService.h"
#include "sampling/FrameOutputTestFrames.h"
#include "sampling/LaggingQueuesLoop.h"
#include "sampling/ScreenSampler.h"
#include "sampling/ScreenTopology.h"
#include "sampling/WindowListScans.h"
#include "support/FakeCaptureService.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeMenuTracking.h"
#include "support/FakePointerSource.h"
#include "support/FakeScreens.h"
#include "support/FakeWindowList.h"
#include "support/FakeWorkspace.h"
#include "support/VirtualLoop.h"

namespace velaro::test {

inline constexpr const char* kOwnAppId = "com.quornet.Velaro";
inline constexpr std::int32_t kEditorPID = 100;

struct SamplerRig {
    VirtualLoop loop;
    // The loop as the sampler sees it: the same loop, with frame queues the test may hold back.
    LaggingQueuesLoop frameQueues{loop};
    FakeCaptureService capture{loop};
    FakeScreens screens;
    FakeWindowList windows;
    FakeDefaultsStore defaults;
    FakeWorkspace workspace;
    FakePointerSource pointer{982};
    FakeMenuTracking menus;
    std::unique_ptr<ScreenTopology> topology;
    std::unique_ptr<WindowListScans> scans;
    std::unique_ptr<ScreenSampler> sampler;

    // One 1512 × 982 pt screen "A" (display 1) with a 24 pt bar, unless `list` says otherwise.
    explicit SamplerRig(std::vector<ScreenInfo> list = {
                            FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1)}) {
        setScreens(std::move(list), false);
        workspace.running.push_back(RunningApp{kEditorPID, std::string("org.example.Editor"), "Editor"});
        topology = std::make_unique<ScreenTopology>(screens, &workspace);
        scans = std::make_unique<WindowListScans>(windows, screens, defaults, workspace, workspace.ownPID);
        sampler = std::make_unique<ScreenSampler>(ScreenSampler::Services{
            .loop = frameQueues,
            .capture = capture,
            .screens = screens,
            .topology = *topology,
            .scans = *scans,
            .defaults = defaults,
            .workspace = workspace,
            .pointer = pointer,
            .menus = menus,
        });
    }

    // Replaces the screens and the capture content's displays (our own app is always in the content).
    void setScreens(std::vector<ScreenInfo> list, bool announce = true) {
        capture.content.displays.clear();
        const double top = list.empty() ? 0 : list.front().frame.maxY();
        for (const auto& s : list)
            capture.content.displays.push_back(
                {s.number, Rect{s.frame.minX(), top - s.frame.maxY(), s.frame.width(), s.frame.height()}});
        capture.content.applications = {CaptureApplication{workspace.ownPID, kOwnAppId, "Velaro"}};
        screens.setScreens(std::move(list));
        if (announce) screens.sendParametersChanged();
    }

    void setGeometry(double captureHeight = 24, TopBlurGeometry blur = {}) {
        std::map<ScreenID, CaptureGeometry> map;
        for (const auto& s : screens.screens()) map[s.id] = CaptureGeometry{captureHeight, blur};
        sampler->setCaptureGeometry(map);
    }

    // A window of another app over the whole first screen below its bar, confirmed as filling the top.
    void fillTop() {
        const auto s = screens.screens().front();
        windows.setWindows(
            {FakeWindowList::window(kEditorPID, Rect{0, 24, s.frame.width(), s.frame.height() - 24},
                                    WindowLevel::normal, "Editor", 7)});
        sampler->enable();
        sampler->refresh();
        loop.advance(0.1);
    }
    // Two windows hanging off the first screen's side, seen by a refresh: the desktop slides to another
    // workspace, and the sampler opens its slide gate.
    void slideDesktop() {
        const Rect s = screens.screens().front().frame;
        windows.setWindows({FakeWindowList::window(800, Rect{s.maxX() - 100, 100, 800, 600},
                                                   WindowLevel::normal, "Other", 5),
                            FakeWindowList::window(800, Rect{s.maxX() - 100, 200, 800, 600},
                                                   WindowLevel::normal, "Other", 6)});
        sampler->refresh();
        ASSERT_TRUE(sampler->isSlideGateOpen());
    }
    void emptyTop() {
        windows.setWindows({});
        sampler->refresh();
        loop.runUntilIdle();
    }

    // Geometry, the first activation and a filled top: the usual way to a running stream.
    void startStreaming(double captureHeight = 24) {
        setGeometry(captureHeight);
        fillTop();
        loop.runUntilIdle();
        ASSERT_FALSE(capture.runningStreams().empty());
    }

    // A start that has its stream made and waits for the capture to begin (completions held from here on).
    void beginStartHeldAtCapture() {
        capture.setAutoComplete(false);
        setGeometry();
        fillTop();
        loop.runUntilIdle();
        ASSERT_TRUE(capture.completeNext(FakeCaptureService::Call::shareableContent));
        loop.runUntilIdle();
        ASSERT_EQ(capture.pending(FakeCaptureService::Call::startCapture), 1u);
    }

    // The sampler's checks during the next `seconds`: each one tells its owner tick to the hook.
    int checksDuring(double seconds) {
        int checks = 0;
        sampler->setOnOwnerTick([&checks](const std::optional<std::string>&) { ++checks; });
        loop.advance(seconds);
        sampler->setOnOwnerTick(nullptr);
        return checks;
    }

    // The newest stream made for this screen's display, as the capture service sees it.
    std::shared_ptr<FakeCaptureStream> streamOf(const std::string& screen) {
        const auto& made = capture.streams();
        for (const auto& s : screens.screens())
            if (s.id == screen)
                for (auto it = made.rbegin(); it != made.rend(); ++it)
                    if ((*it)->contentFilter().display.displayID == s.number) return *it;
        return nullptr;
    }
    // `frames` frames of one colour over the whole strip of this screen's running stream, analysed at once;
    // their results wait on the main loop.
    void deliverHeld(const std::string& screen, Rgb colour, int frames = 1) {
        auto stream = streamOf(screen);
        ASSERT_NE(stream, nullptr);
        const auto& config = stream->configuration();
        for (int i = 0; i < frames; ++i)
            ASSERT_TRUE(stream->deliverNow(solidFrame(config.width, config.height, colour)));
    }
    // The same, analysed and published.
    void deliverSolid(const std::string& screen, Rgb colour, int frames = 1) {
        deliverHeld(screen, colour, frames);
        loop.runUntilIdle();
    }
};

}  // namespace velaro::test
