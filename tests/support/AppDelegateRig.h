// The application delegate on the virtual loop over fake platform services, with a stand-in overlay
// controller that records what the shell asks of it. Tests see what the delegate made through the fakes:
// the host's windows, the tray, the engines' captures and the toolkit's top-level widgets.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollArea>
#include <cmath>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppDelegate.h"
#include "music/MusicProgressEngine.h"
#include "music/MusicVisualizerAudioEngine.h"
#include "onboarding/OnboardingRootView.h"
#include "onboarding/OnboardingStep.h"
#include "overlay/OverlayControllerPort.h"
#include "sampling/ScreenTopology.h"
#include "sampling/WindowListScans.h"
#include "support/FakeAppCatalog.h"
#include "support/FakeAudioCapture.h"
#include "support/FakeCaptureService.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeDesktopOverview.h"
#include "support/FakeEventTap.h"
#include "support/FakeHotkeys.h"
#include "support/FakeKeyboardLayout.h"
#include "support/FakeLoginItem.h"
#include "support/FakeMenuTracking.h"
#include "support/FakeMenuBarItems.h"
#include "support/FakeOverlayWindowHost.h"
#include "support/FakePermissions.h"
#include "support/FakePointerSource.h"
#include "support/FakeProcessLauncher.h"
#include "support/FakeScreens.h"
#include "support/FakeTaskbarPolicy.h"
#include "support/FakeTray.h"
#include "support/FakeUpdater.h"
#include "support/FakeWindowControl.h"
#include "support/FakeWindowEvents.h"
#include "support/FakeWindowList.h"
#include "support/FakeWorkspace.h"
#include "support/VirtualLoop.h"
#include "ui/settings/SettingsRootView.h"
#include "ui/settings/SettingsWindow.h"

namespace velaro::test {

class FakeOverlayController final : public OverlayControllerPort {
public:
    bool isVisible() const override { return visible; }
    void show(bool immediate) override {
        calls.push_back(immediate ? "show immediate" : "show");
        if (!visible) setVisible(true);
    }
    void hide(bool immediate) override {
        calls.push_back(immediate ? "hide immediate" : "hide");
        if (visible) setVisible(false);
    }
    bool unifiedRevealPending() const override { return revealPending; }
    void resetPrevTickOwner() override { calls.push_back("reset owner"); }
    void orderFrontCornerWindows() override { calls.push_back("corners front"); }
    void makeHeldWindows() override { calls.push_back("held windows"); }
    // Like the real controller, it keeps the detector running while it follows it.
    void attachOverviewDetector(OverviewDetector& detector) override {
        ++attachCount;
        detector.acquire("overlay");
    }
    void setOnRevealPendingChanged(std::function<void()> callback) override {
        onRevealPending = std::move(callback);
    }
    void setOnVisibilityChanged(std::function<void(bool)> callback) override {
        onVisibility = std::move(callback);
    }

    void setVisible(bool v) {
        visible = v;
        if (onVisibility) onVisibility(v);
    }
    int count(const std::string& call) const { return int(std::count(calls.begin(), calls.end(), call)); }

    bool visible = false;
    bool revealPending = false;
    int attachCount = 0;
    std::vector<std::string> calls;
    std::function<void()> onRevealPending;
    std::function<void(bool)> onVisibility;
};

class AppDelegateRig {
public:
    VirtualLoop loop;
    FakeCaptureService capture{loop};
    FakeScreens screens;
    FakeWindowList windows;
    FakeDefaultsStore defaults;
    FakeWorkspace workspace;
    FakePointerSource pointer{982};
    FakeMenuTracking menus;
    FakeAppCatalog catalog;
    FakeWindowEvents windowEvents;
    FakeMenuBarItems menuBarItems;
    FakeLoginItem loginItem;
    FakeHotkeys hotkeys;
    FakeKeyboardLayout keyboardLayout;
    FakePermissions permissions;
    FakeUpdater updater;
    FakeOverlayWindowHost host{loop};
    FakeEventTap eventTap;
    FakeWindowControl windowControl;
    // The desktop's published overview state, which the delegate's detector follows.
    FakeDesktopOverview desktopOverview;
    std::unique_ptr<ScreenTopology> topology;
    std::unique_ptr<WindowListScans> scans;
    // The now-playing engine the delegate starts and stops; it finds an adapter only when a test asks.
    FakeProcessLauncher processes{loop};
    bool adapterPresent = false;
    MusicProgressEngine progressEngine{{.loop = loop,
                                        .launcher = processes,
                                        .locateAdapter = [this]() -> std::optional<std::string> {
                                            if (!adapterPresent) return std::nullopt;
                                            return std::string("/opt/velaro/velaro-media-adapter");
                                        },
                                        .onWillTerminate = {}}};

    // What the factories made.
    std::vector<FakeOverlayController*> controllers;
    bool provideController = true;
    // The tray the delegate puts its status item in; none unless a test asks.
    FakeTray tray;
    FakeTaskbarPolicy taskbarPolicy;
    bool provideTray = false;
    // How the delegate learns that the windows it has shown have their first picture; none: the next turn.
    std::function<void(std::function<void()>)> afterWindowsShown;
    // The visualizer's engines are real, over fake captures that work or not as the test says.
    bool vizEngineWorks = true;
    int vizEnginesMade = 0;
    FakeAudioCapture* vizCapture = nullptr;  // the newest engine's
    std::shared_ptr<FakeAudioCapture::Record> vizCaptureRecord = std::make_shared<FakeAudioCapture::Record>();

    std::unique_ptr<AppDelegate> delegate;

    AppDelegateRig() {
        desktopOverview.state = false;
        screens.setScreens({FakeScreens::make("A", Rect{0, 0, 1512, 982}, 24, 1)});
        topology = std::make_unique<ScreenTopology>(screens, &workspace);
        scans = std::make_unique<WindowListScans>(windows, screens, defaults, workspace, workspace.ownPID);
    }
    ~AppDelegateRig() { delegate.reset(); }

    // How many captures the visualizer's engines closed (each stop of a running engine closes one).
    int vizCaptureCloses() const { return vizCaptureRecord->closes; }
    // Whether the delegate holds a visualizer engine: each owns its capture.
    bool holdsVizEngine() const { return vizCaptureRecord->alive > 0; }

    void storeStep(OnboardingStep step) {
        defaults.set(onboardingStepKey, PlistValue(static_cast<std::int64_t>(step)));
    }

    AppDelegate& make() {
        AppDelegateServices services{
            .loop = loop,
            .defaults = defaults,
            .sampler = {.loop = loop,
                        .capture = capture,
                        .screens = screens,
                        .topology = *topology,
                        .scans = *scans,
                        .defaults = defaults,
                        .workspace = workspace,
                        .pointer = pointer,
                        .menus = menus},
            .windowList = windows,
            .catalog = catalog,
            .windowEvents = windowEvents,
            .menuBarItems = menuBarItems,
            .loginItem = loginItem,
            .hotkeys = hotkeys,
            .permissions = permissions,
            .updater = updater,
            .overlayHost = host,
            .progressEngine = progressEngine,
            .maximiseButton = {eventTap, windows, windowControl, loop, workspace.ownPID},
            .overviewShell = std::nullopt,
            .desktopOverview = &desktopOverview,
            .makeOverlayController = [this](ScreenSampler&, OverlaySettings&,
                                            AppWatcher&) -> std::unique_ptr<OverlayControllerPort> {
                if (!provideController) return nullptr;
                auto c = std::make_unique<FakeOverlayController>();
                controllers.push_back(c.get());
                return c;
            },
            .makeVisualizerEngine = [this]() -> std::unique_ptr<MusicVisualizerAudioEngine> {
                ++vizEnginesMade;
                auto capture = std::make_unique<FakeAudioCapture>(vizCaptureRecord);
                if (!vizEngineWorks) capture->failure = AudioCapture::Failure{"tap-create", 6};
                vizCapture = capture.get();
                return std::make_unique<MusicVisualizerAudioEngine>(loop, std::move(capture));
            },
            .toolkitWindows = false,
            .tray = provideTray ? &tray : nullptr,
            .taskbarPolicy = taskbarPolicy,
            .keyboardLayout = &keyboardLayout,
            .afterWindowsShown = afterWindowsShown,
        };
        delegate = std::make_unique<AppDelegate>(std::move(services));
        return *delegate;
    }

    // Made and launched, with the first turn of the loop (where the streams deliver their current values)
    // run.
    AppDelegate& launch() {
        make().applicationDidFinishLaunching();
        loop.runUntilIdle();
        return *delegate;
    }

    FakeOverlayController& controller() { return *controllers.at(0); }
    ScreenSampler& sampler() { return delegate->screenSampler(); }
    OverlaySettings& settings() { return delegate->overlaySettings(); }

    // ---- what the delegate made, as the fakes and the toolkit see it ----
    // The runtime makes the app watcher first of all.
    bool runtimeStarted() { return delegate->appWatcher() != nullptr; }
    // The host's window of that name while it exists: the beam ("overlay-beam"), the reminder banner
    // ("overlay-banner"), the music features' "viz-bar" and "progress-bar".
    OverlayWindow* hostWindow(std::string_view name) const {
        for (OverlayWindow* window : host.allWindows())
            if (window->name() == name) return window;
        return nullptr;
    }
    // The tour's view while the tour exists (without toolkit windows it is a window of its own).
    static OnboardingRootView* tour() { return topLevel<OnboardingRootView>(); }
    // The tour's own way to close, as its last page's button takes it.
    static void closeTour() { tour()->model().finish(); }
    static SettingsWindow* settingsWindow() { return topLevel<SettingsWindow>(); }
    // The title of the page the settings window shows, as it announces it to assistive technology.
    static QString settingsPage() {
        auto* window = settingsWindow();
        if (!window) return {};
        for (auto* area : window->findChildren<QScrollArea*>())
            if (!area->accessibleName().isEmpty()) return area->accessibleName();
        return {};
    }
    // Settings that need no screen capture: what the capture demand then shows is the popover's own.
    void needNoCapture() { defaults.set("overlayEnabled", PlistValue(false)); }
    // Leaves capture to the sampler's switches and demand alone: the strip's place as an overlay tells it,
    // and a window of another app over the screen below the panel, as a refresh sees it.
    void readyCapture() {
        std::map<ScreenID, CaptureGeometry> strip;
        for (const auto& s : screens.screens()) strip[s.id] = CaptureGeometry{24, {}};
        sampler().setCaptureGeometry(strip);
        capture.content.displays = {CaptureDisplay{1, Rect{0, 0, 1512, 982}}};
        windows.setWindows(
            {FakeWindowList::window(100, Rect{0, 24, 1512, 982 - 24}, WindowLevel::normal, "Editor", 7)});
        sampler().refresh();
        loop.advance(0.1);
    }
    // Whether a capture stream runs, as the capture service sees it.
    bool capturing() {
        loop.runUntilIdle();
        return !capture.runningStreams().empty();
    }
    // The height of the strip the newest stream captures.
    double capturedStripHeight() const { return capture.configurations().back().sourceRect.height(); }

    // A track playing in the now-playing adapter the engine launched.
    void playTrack() {
        const auto streams = processes.launched("stream");
        ASSERT_FALSE(streams.empty());
        streams.back()->write(
            R"({"type":"data","diff":false,"payload":{"bundleIdentifier":"org.example.Player","title":"Song",)"
            R"("duration":200,"elapsedTime":30,"playing":true,"uniqueIdentifier":"t1"}})"
            "\n");
        loop.runUntilIdle();
        // The track has no artwork to give: its fetch ends at once, so nothing is left under way.
        for (const auto& get : processes.launched("get"))
            if (get->isRunning()) get->exit(1);
        loop.runUntilIdle();
    }
    // Loud music through the newest visualizer engine's capture, in 20 ms blocks while time moves on.
    void playAudio(double seconds) {
        std::vector<float> block(2 * 960);
        for (int tick = 0; tick < std::lround(seconds * 50); ++tick) {
            for (std::size_t n = 0; n < 960; ++n)
                block[2 * n] = block[2 * n + 1] = static_cast<float>(
                    0.8 * std::sin(2 * 3.14159265358979 * 440 * double(tick * 960 + n) / 48000));
            AudioBlock b;
            b.bufferCount = 1;
            b.buffers[0] = {block.data(), block.size() * sizeof(float)};
            vizCapture->deliver(b);
            loop.advance(0.02);
        }
    }

private:
    template <class T>
    static T* topLevel() {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* match = dynamic_cast<T*>(widget)) return match;
        return nullptr;
    }
};

}  // namespace velaro::test
