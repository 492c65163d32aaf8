// The screen, window-list, workspace and window-event services against the real test desktop: the panel is
// the menu bar, a maximised client window is the filled window, activation and iconifying are reported, and
// only a managed window makes the frontmost app.
#include <QProcess>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <optional>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "platform/linux/X11Screens.h"
#include "platform/linux/X11WindowEvents.h"
#include "platform/linux/X11WindowList.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XcbUtil.h"
#include "platform/linux/XdgAppCatalog.h"
#include "sampling/AppWatcher.h"
#include "sampling/ScreenTopology.h"
#include "sampling/WindowListScans.h"
#include "support/FakeDefaultsStore.h"
#include "support/VirtualLoop.h"

namespace velaro::e2e {
namespace {

constexpr double kPanelHeight = 28;

class SamplingPlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        session = std::make_unique<TestSession>();
        ASSERT_TRUE(*session);
        screens = std::make_unique<X11Screens>(**session);
        windows = std::make_unique<X11WindowList>(**session);
        workspace = std::make_unique<X11Workspace>(mainLoop, **session);
        catalog = &session->catalog;
    }
    void TearDown() override {
        workspace.reset();
        windows.reset();
        screens.reset();
    }
    // The frontmost app's process, 0 when none is in front.
    std::int32_t frontPID() const {
        const auto front = workspace->frontmostApplication();
        return front ? front->pid : 0;
    }

    QtMainLoop mainLoop;
    std::unique_ptr<TestSession> session;
    std::unique_ptr<X11Screens> screens;
    std::unique_ptr<X11WindowList> windows;
    XdgAppCatalog* catalog = nullptr;
    std::unique_ptr<X11Workspace> workspace;
};

TEST_F(SamplingPlatformTest, ThePanelIsTheMenuBar) {
    const auto list = screens->screens();
    ASSERT_FALSE(list.empty());
    const auto& primary = list.front();
    EXPECT_DOUBLE_EQ(menuBarHeight(primary, screens->statusBarThickness()), kPanelHeight);
    EXPECT_EQ(primary.frame.origin, (Point{0, 0}));
    EXPECT_EQ(primary.id.size(), 36u);
    ScreenTopology topology(*screens, workspace.get());
    EXPECT_TRUE(topology.contains(primary));
    // The panel itself is in the window list at the status level, across the top.
    const auto snapshot = windows->snapshot();
    const bool panelListed = std::any_of(snapshot.begin(), snapshot.end(), [&](const WindowInfo& w) {
        return w.layer == WindowLevel::status && w.bounds && w.bounds->minY() == 0 &&
               w.bounds->height() == kPanelHeight && w.bounds->width() == primary.frame.width();
    });
    EXPECT_TRUE(panelListed);
}

// A second panel of another height docked at the top, while the object lives.
class TopDock {
public:
    TopDock(int width, std::uint32_t height) : x_(x11::Connection::open()) {
        if (!x_) return;
        auto* c = x_->get();
        const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        window_ = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, width, height, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const xcb_atom_t dock = x_->atom("_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, x_->atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
                            32, 1, &dock);
        const std::uint32_t strut[12] = {0, 0, height, 0, 0, 0, 0, 0, 0, std::uint32_t(width - 1), 0, 0};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, x_->atom("_NET_WM_STRUT_PARTIAL"),
                            XCB_ATOM_CARDINAL, 32, 12, strut);
        xcb_map_window(c, window_);
        xcb_flush(c);
    }
    ~TopDock() {
        if (!x_) return;
        xcb_destroy_window(x_->get(), window_);
        xcb_flush(x_->get());
    }

private:
    std::unique_ptr<x11::Connection> x_;
    xcb_window_t window_ = 0;
};

// An unmanaged pop-up menu window, as toolkits open from a menu bar, claiming to belong to another process.
class PopUpMenu {
public:
    PopUpMenu(int x, int y, int width, int height) : x_(x11::Connection::open()) {
        if (!x_) return;
        auto* c = x_->get();
        const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        window_ = xcb_generate_id(c);
        const std::uint32_t overrideRedirect = 1;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, screen->root, x, y, width, height, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_OVERRIDE_REDIRECT,
                          &overrideRedirect);
        const xcb_atom_t type = x_->atom("_NET_WM_WINDOW_TYPE_POPUP_MENU");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, x_->atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
                            32, 1, &type);
        const std::uint32_t foreignPID = 1;
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, x_->atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32,
                            1, &foreignPID);
        xcb_map_window(c, window_);
        xcb_flush(c);
    }
    ~PopUpMenu() {
        if (!x_) return;
        xcb_destroy_window(x_->get(), window_);
        xcb_flush(x_->get());
    }
    void moveTo(int x, int y) {
        const std::uint32_t position[] = {std::uint32_t(x), std::uint32_t(y)};
        xcb_configure_window(x_->get(), window_, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, position);
        xcb_flush(x_->get());
    }
    xcb_window_t window() const { return window_; }
    // Replaces an ATOM-list property (a type, a state) with the atoms of `names`.
    void setAtoms(const char* property, const std::vector<const char*>& names) {
        std::vector<xcb_atom_t> atoms;
        for (const char* n : names) atoms.push_back(x_->atom(n));
        xcb_change_property(x_->get(), XCB_PROP_MODE_REPLACE, window_, x_->atom(property), XCB_ATOM_ATOM, 32,
                            static_cast<std::uint32_t>(atoms.size()), atoms.data());
        xcb_flush(x_->get());
    }
    void setOpacity(std::uint32_t opacity) {
        xcb_change_property(x_->get(), XCB_PROP_MODE_REPLACE, window_, x_->atom("_NET_WM_WINDOW_OPACITY"),
                            XCB_ATOM_CARDINAL, 32, 1, &opacity);
        xcb_flush(x_->get());
    }
    void raise() {
        const std::uint32_t above[] = {XCB_STACK_MODE_ABOVE};
        xcb_configure_window(x_->get(), window_, XCB_CONFIG_WINDOW_STACK_MODE, above);
        xcb_flush(x_->get());
    }
    void setMapped(bool mapped) {
        if (mapped)
            xcb_map_window(x_->get(), window_);
        else
            xcb_unmap_window(x_->get(), window_);
        xcb_flush(x_->get());
    }

private:
    std::unique_ptr<x11::Connection> x_;
    xcb_window_t window_ = 0;
};

TEST_F(SamplingPlatformTest, AMenuHangingFromThePanelIsAForeignMenuUntilItHangsLower) {
    test::FakeDefaultsStore defaults;
    WindowListScans scans(*windows, *screens, defaults, *workspace, workspace->ownProcessIdentifier());
    EXPECT_FALSE(scans.isForeignMenuOpen());
    PopUpMenu menu(100, static_cast<int>(kPanelHeight) + 6, 200, 300);
    ASSERT_TRUE(waitUntil([&] { return scans.isForeignMenuOpen(); }));
    const auto result = scans.scanWindows({});
    EXPECT_EQ(result.foreignMenuDescription, "layer=101 200\u00d7300 @ (100,34)");
    menu.moveTo(100, static_cast<int>(kPanelHeight) + 7);
    EXPECT_TRUE(waitUntil([&] { return !scans.isForeignMenuOpen(); }));
}

// The list is read again only after the server told of a change: each kind of change below must reach
// it, while a list that nothing changed is answered without a single request.
TEST_F(SamplingPlatformTest, TheWindowListFollowsEveryChangeAndCostsNoRequestWhileNothingChanges) {
    PopUpMenu menu(300, 400, 120, 80);
    const auto listed = [&]() -> std::optional<WindowInfo> {
        for (const auto& w : windows->snapshot())
            if (w.number == std::int64_t(menu.window())) return w;
        return std::nullopt;
    };
    ASSERT_TRUE(waitUntil([&] { return listed().has_value(); }));

    // Requests are numbered on the connection: a no-op before and after tells how many went between.
    auto* c = (*session)->desktop().get();
    const auto requestsFor = [c](const std::function<void()>& work) {
        const auto before = xcb_no_operation(c).sequence;
        work();
        return xcb_no_operation(c).sequence - before - 1;
    };
    bool quiet = false;  // another program's change may land in between: one quiet read of several will do
    for (int i = 0; i < 20 && !quiet; ++i) quiet = requestsFor([&] { (void)windows->snapshot(); }) == 0;
    EXPECT_TRUE(quiet) << "a list nobody changed was read from the server again";

    const auto near = [](double a, double b) { return std::abs(a - b) < 0.01; };
    struct Step {
        const char* what;
        std::function<void()> change;
        std::function<bool(const std::optional<WindowInfo>&)> seen;
    };
    const std::vector<Step> steps = {
        {"its type becomes a dock", [&] { menu.setAtoms("_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DOCK"}); },
         [](const auto& w) { return w && w->layer == WindowLevel::status; }},
        {"it says it is hidden", [&] { menu.setAtoms("_NET_WM_STATE", {"_NET_WM_STATE_HIDDEN"}); },
         [](const auto& w) { return !w; }},
        {"it says it is shown again", [&] { menu.setAtoms("_NET_WM_STATE", {}); },
         [](const auto& w) { return w.has_value(); }},
        {"its opacity halves", [&] { menu.setOpacity(0x7fffffffu); },
         [&](const auto& w) { return w && w->alpha && near(*w->alpha, 0.5); }},
        {"it moves", [&] { menu.moveTo(310, 420); },
         [&](const auto& w) { return w && w->bounds && near(w->bounds->minX(), 310); }},
        {"it is unmapped", [&] { menu.setMapped(false); }, [](const auto& w) { return !w; }},
        {"it is mapped again", [&] { menu.setMapped(true); }, [](const auto& w) { return w.has_value(); }},
    };
    for (const auto& step : steps) {
        std::atomic<int> told{0};
        windows->callOnNextChange([&told] { ++told; });
        step.change();
        EXPECT_TRUE(waitUntil([&] { return step.seen(listed()); })) << step.what;
        EXPECT_TRUE(waitUntil([&] { return told == 1; })) << step.what << ": a reader asleep is woken once";
    }
    windows->callOnNextChange(nullptr);
}

// A list kept across changes guesses that the windows it knew are still there and asks their attributes and
// geometry before it knows; each step below makes the guess right, partly right or wrong, and the kept list
// must then answer exactly as a list reading the desktop from scratch.
TEST_F(SamplingPlatformTest, AKeptListAnswersAsAFreshReadAfterEveryKindOfChange) {
    OtherProgram client("velaro-kept-list", "300x200+400+300");
    ASSERT_TRUE(client.started());
    ASSERT_TRUE(waitUntil([&] { return client.framedWindow() != 0; }));
    auto first = std::make_unique<PopUpMenu>(100, 400, 120, 80);
    auto second = std::make_unique<PopUpMenu>(150, 420, 120, 80);
    std::unique_ptr<PopUpMenu> third;
    auto x = x11::Connection::open();
    ASSERT_TRUE(x);
    const auto moveClient = [&](int left, int top) {
        const std::uint32_t position[] = {std::uint32_t(left), std::uint32_t(top)};
        xcb_configure_window(x->get(), client.window(), XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, position);
        xcb_flush(x->get());
    };
    const auto find = [](const std::vector<WindowInfo>& list, std::uint32_t window) {
        return std::find_if(list.begin(), list.end(),
                            [&](const WindowInfo& w) { return w.number == std::int64_t(window); });
    };
    const auto leftOf = [&](const std::vector<WindowInfo>& list, std::uint32_t window) -> std::optional<double> {
        const auto it = find(list, window);
        if (it == list.end() || !it->bounds) return std::nullopt;
        return it->bounds->minX();
    };
    const auto listed = [&](const std::vector<WindowInfo>& list, std::uint32_t window) {
        return find(list, window) != list.end();
    };
    std::uint32_t gone = 0;
    struct Step {
        const char* what;
        std::function<void()> change;
        std::function<bool(const std::vector<WindowInfo>&)> seen;
    };
    const std::vector<Step> steps = {
        {"a pop-up moves", [&] { first->moveTo(110, 400); },
         [&](const auto& list) { return leftOf(list, first->window()) == 110; }},
        {"the other pop-up comes to the front", [&] { second->raise(); },
         [&](const auto& list) { return find(list, second->window()) < find(list, first->window()); }},
        {"the managed window moves in its frame", [&] { moveClient(420, 310); },
         [&](const auto& list) {
             const auto left = leftOf(list, client.window());
             return left && *left >= 400 && *left <= 425;
         }},
        {"a pop-up opens while another moves",
         [&] {
             third = std::make_unique<PopUpMenu>(500, 100, 60, 60);
             second->moveTo(160, 420);
         },
         [&](const auto& list) {
             return listed(list, third->window()) && leftOf(list, second->window()) == 160;
         }},
        {"a pop-up closes while the managed window moves",
         [&] {
             gone = first->window();
             first.reset();
             moveClient(440, 320);
         },
         [&](const auto& list) {
             const auto left = leftOf(list, client.window());
             return !listed(list, gone) && left && *left >= 420 && *left <= 445;
         }},
        {"every pop-up closes", [&] {
             second.reset();
             third.reset();
         },
         [&](const auto& list) {
             return std::none_of(list.begin(), list.end(), [](const WindowInfo& w) {
                 return w.layer == WindowLevel::popUpMenu && w.ownerPID == 1;
             });
         }},
    };
    (void)windows->snapshot();
    for (const auto& step : steps) {
        step.change();
        std::vector<WindowInfo> kept, fresh;
        // Another program may change the desktop between the two reads: they need to agree once.
        EXPECT_TRUE(waitUntil([&] {
            kept = windows->snapshot();
            fresh = X11WindowList(**session).snapshot();
            return step.seen(kept) && kept == fresh;
        })) << step.what << ": " << kept.size() << " windows kept, " << fresh.size() << " read afresh";
    }
}

// A reader on the main loop never waits out a server that does not answer (busy with a storm of window
// changes, or held by another client): after a change, a snapshot answers with the last list read; the new
// list comes in once the server answers, and the generation moves for the readers that got the old one.
TEST_F(SamplingPlatformTest, ASnapshotAnswersWithTheLastListWhileTheServerDoesNotAnswer) {
    PopUpMenu first(300, 400, 120, 80);
    const auto listed = [](const std::vector<WindowInfo>& list, xcb_window_t window) {
        return std::any_of(list.begin(), list.end(),
                           [&](const WindowInfo& w) { return w.number == std::int64_t(window); });
    };
    ASSERT_TRUE(waitUntil([&] { return listed(windows->snapshot(), first.window()); }));
    const auto before = windows->generation();
    PopUpMenu second(500, 400, 60, 60);
    ASSERT_TRUE(waitUntil([&] { return windows->generation() != before; })) << "the list never heard of it";

    auto holder = x11::Connection::open();
    ASSERT_TRUE(holder);
    xcb_grab_server(holder->get());
    std::free(xcb_get_input_focus_reply(holder->get(), xcb_get_input_focus(holder->get()), nullptr));
    auto answer = std::async(std::launch::async, [&] { return windows->snapshot(); });
    const bool answered = answer.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    std::atomic<int> told{0};
    windows->callOnNextChange([&told] { ++told; });
    xcb_ungrab_server(holder->get());
    xcb_flush(holder->get());
    EXPECT_TRUE(answered) << "a snapshot waited for a server held by another client";
    const auto held = answer.get();
    EXPECT_TRUE(listed(held, first.window()));
    EXPECT_FALSE(listed(held, second.window())) << "the list was read while the server was held";
    EXPECT_TRUE(waitUntil([&] { return told > 0; })) << "the list read afterwards was not told of";
    EXPECT_TRUE(listed(windows->snapshot(), second.window()));
}

TEST_F(SamplingPlatformTest, ScreensFollowDocksAppearingAndLeaving) {
    int changes = 0;
    auto subscription = screens->parametersChanged().sink([&](int) { ++changes; });
    auto height = [&] { return menuBarHeight(screens->screens().front(), screens->statusBarThickness()); };
    ASSERT_DOUBLE_EQ(height(), kPanelHeight);
    // Readers keep what they read while the revision stays: it must have moved once a change shows.
    const auto revisionBefore = screens->revision();
    // A reader asleep on the revision is woken by the change.
    std::atomic<int> told{0};
    screens->callOnNextChange([&told] { ++told; });
    {
        TopDock dock(static_cast<int>(screens->screens().front().frame.width()), 40);
        ASSERT_TRUE(waitUntil([&] { return height() == 40; })) << "menu-bar height " << height();
        EXPECT_GE(changes, 1);
        EXPECT_EQ(told, 1);
    }
    const auto revisionWithDock = screens->revision();
    EXPECT_GT(revisionWithDock, revisionBefore);
    const int before = changes;
    EXPECT_TRUE(waitUntil([&] { return height() == kPanelHeight; })) << "menu-bar height " << height();
    EXPECT_GT(changes, before);
    EXPECT_GT(screens->revision(), revisionWithDock);
}

TEST_F(SamplingPlatformTest, AMaximisedClientWindowIsTheFilledWindowWithItsOwner) {
    OtherProgram client("velaro-filled");
    ASSERT_TRUE(client.started());
    ASSERT_TRUE(waitUntil([&] { return client.window() != 0; })) << "the client never got a managed window";
    test::FakeDefaultsStore defaults;
    WindowListScans scans(*windows, *screens, defaults, *workspace, workspace->ownProcessIdentifier());
    WindowScanResult result;
    // The window manager may still be taking the new window in: ask again until it is maximised.
    const auto filled = [&] {
        result = scans.scanWindows({});
        return result.filledPID == client.pid() && result.filledCoverage >= 0.9;
    };
    ASSERT_TRUE(askUntil([&] { setMaximised(client.window(), true); }, filled))
        << "filled pid " << result.filledPID << " (client " << client.pid() << "), coverage "
        << result.filledCoverage;
    EXPECT_EQ(result.filledOwnerName, "Xmessage");
    EXPECT_FALSE(result.foreignMenuSeen);
    // The owner is a running app the workspace can name (once it has seen the client list change).
    ASSERT_TRUE(waitUntil([&] { return workspace->runningApplication(client.pid()).has_value(); }));
    EXPECT_EQ(workspace->runningApplication(client.pid())->appId, "Xmessage");
}

TEST_F(SamplingPlatformTest, OnTwoMonitorsEachHasItsPanelAndTheMainOneIsWhereTheActiveWindowIs) {
    const auto list = screens->screens();
    if (list.size() < 2) GTEST_SKIP() << "needs the two-monitor desktop (desktop-session start --dual)";
    EXPECT_NE(list[0].id, list[1].id);
    EXPECT_EQ(list[1].frame.origin, (Point{list[0].frame.width(), 0}));
    for (const auto& s : list)
        EXPECT_DOUBLE_EQ(menuBarHeight(s, screens->statusBarThickness()), kPanelHeight);

    // A window maximised on the second monitor fills it: coverage is measured where that monitor really is.
    const int x = static_cast<int>(list[1].frame.minX()) + 100;
    OtherProgram client("velaro-second-monitor", QString("300x200+%1+200").arg(x));
    ASSERT_TRUE(client.started());
    ASSERT_TRUE(waitUntil([&] { return client.window() != 0; }));
    test::FakeDefaultsStore defaults;
    WindowListScans scans(*windows, *screens, defaults, *workspace, workspace->ownProcessIdentifier());
    WindowScanResult result;
    const auto ask = [&] {
        setMaximised(client.window(), true);
        run("xdotool", {"windowactivate", client.id()});
    };
    const auto filled = [&] {
        result = scans.scanWindows({});
        return screens->mainScreen()->id == list[1].id && result.filledPID == client.pid() &&
               result.filledCoverage >= 0.9;
    };
    ASSERT_TRUE(askUntil(ask, filled))
        << "filled pid " << result.filledPID << ", coverage " << result.filledCoverage;
    EXPECT_GE(result.filledCoverageByScreen[list[1].id], 0.9);
    EXPECT_EQ(result.filledCoverageByScreen.count(list[0].id), 0u);
}

TEST_F(SamplingPlatformTest, ActivatingAnotherWindowChangesTheFrontmostAppAndIconifyingIsAMinimise) {
    OtherProgram first("velaro-first", "300x200+100+100");
    OtherProgram second("velaro-second", "300x200+500+300");
    ASSERT_TRUE(first.started() && second.started());
    ASSERT_TRUE(waitUntil([&] { return first.window() && second.window(); }));

    test::VirtualLoop loop;  // only the window-event throttle uses it
    auto windowEvents = std::make_unique<X11WindowEvents>(**session);
    int refreshes = 0;
    AppWatcher watcher(*workspace, *catalog, *windowEvents, loop,
                       {[&] { ++refreshes; }, [] { return true; }, [] {}});
    std::vector<std::int32_t> fronts;
    watcher.onFrontmostPID = [&](std::int32_t pid) { fronts.push_back(pid); };

    // Start from the second client in front, whichever window the window manager focused last.
    ASSERT_EQ(run("xdotool", {"windowactivate", "--sync", second.id()}).exitCode, 0);
    ASSERT_TRUE(waitUntil([&] { return frontPID() == second.pid(); }));
    ASSERT_EQ(run("xdotool", {"windowactivate", "--sync", first.id()}).exitCode, 0);
    ASSERT_TRUE(waitUntil([&] { return !fronts.empty() && fronts.back() == first.pid(); }));
    ASSERT_EQ(run("xdotool", {"windowactivate", "--sync", second.id()}).exitCode, 0);
    ASSERT_TRUE(waitUntil([&] { return fronts.back() == second.pid(); }))
        << "frontmost stayed " << (fronts.empty() ? 0 : fronts.back());
    EXPECT_EQ(watcher.activeAppId(), "Xmessage");

    // Iconifying the front app's window reaches the window-event hook as a minimise.
    std::vector<WindowEventKind> kinds;
    auto observation = windowEvents->observe(second.pid(), [&](WindowEventKind k) { kinds.push_back(k); });
    ASSERT_TRUE(observation);
    const int refreshesBefore = refreshes;
    ASSERT_TRUE(run("xdotool", {"windowminimize", "--sync", second.id()}).exitCode == 0);
    ASSERT_TRUE(waitUntil([&] { return !kinds.empty(); }));
    EXPECT_EQ(kinds.front(), WindowEventKind::minimised);
    EXPECT_TRUE(waitUntil([&] {
        loop.advance(0.2);  // lets a call the window-event throttle holds back go out
        return refreshes > refreshesBefore;
    })) << "the watcher does not follow the front app's windows: the sampler refresh was not asked for";

    // Bringing it back is a restore.
    ASSERT_EQ(run("xdotool", {"windowactivate", second.id()}).exitCode, 0);
    EXPECT_TRUE(waitUntil([&] { return kinds.back() == WindowEventKind::restored; }));

    // Closing the client's window is a destroy.
    second.kill();
    EXPECT_TRUE(waitUntil([&] { return kinds.back() == WindowEventKind::destroyed; }));
}

TEST_F(SamplingPlatformTest, AFrontWindowClosingWithNothingToTakeTheFocusLeavesNoFrontmostApp) {
    OtherProgram program("velaro-closing", "300x200+100+100");
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(waitUntil([&] { return program.window() != 0; }));
    ASSERT_EQ(run("xdotool", {"windowactivate", "--sync", program.id()}).exitCode, 0);
    ASSERT_TRUE(waitUntil([&] { return frontPID() == program.pid(); }));

    // The only window goes: the window manager focuses nothing after it and may leave it named as the
    // active window (openbox does), yet no app is in front any more.
    const std::int32_t pid = program.pid();
    program.kill();
    EXPECT_TRUE(waitUntil([&] { return frontPID() != pid; }))
        << "the closed window's app stayed the frontmost";
}

TEST_F(SamplingPlatformTest, AWindowTheManagerDoesNotManageNeverBecomesTheFrontmostApp) {
    OtherProgram first("velaro-first", "300x200+100+100");
    OtherProgram second("velaro-second", "300x200+500+300");
    ASSERT_TRUE(first.started() && second.started());
    ASSERT_TRUE(waitUntil([&] { return first.window() && second.window(); }));
    ASSERT_EQ(run("xdotool", {"windowactivate", "--sync", first.id()}).exitCode, 0);
    ASSERT_TRUE(waitUntil([&] { return frontPID() == first.pid(); }));
    std::vector<std::int32_t> activations;
    auto watch = workspace->events().sink([&](const WorkspaceEvent& e) {
        if (e.kind == WorkspaceEvent::Kind::didActivateApplication)
            activations.push_back(e.app ? e.app->pid : 0);
    });

    // A pop-up of this process (override-redirect, as ours under the tray icon is) named as the active
    // window, as a window manager might name one that holds the focus.
    OwnWindow popup(Qt::darkGray, QRect(50, 50, 120, 80));
    popup.show();
    ASSERT_TRUE(waitUntil([&] { return popup.isVisible() && popup.winId() != 0; }));
    auto& desktop = (**session).desktop();
    desktop.intern({"_NET_ACTIVE_WINDOW", "_VELARO_TEST_MARK"});
    const auto popupWindow = static_cast<xcb_window_t>(popup.winId());
    xcb_change_property(desktop.get(), XCB_PROP_MODE_REPLACE, desktop.root(),
                        desktop.atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 32, 1, &popupWindow);
    // A mark written after it: once the workspace's connection has seen the mark, it has read the pop-up's
    // naming, and nothing has named another window since.
    bool marked = false;
    auto markWatch = (**session).addEventHandler([&](const xcb_generic_event_t& e) {
        const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(e);
        if ((e.response_type & 0x7f) == XCB_PROPERTY_NOTIFY && p.atom == desktop.atom("_VELARO_TEST_MARK"))
            marked = true;
    });
    const std::uint32_t one = 1;
    xcb_change_property(desktop.get(), XCB_PROP_MODE_REPLACE, desktop.root(),
                        desktop.atom("_VELARO_TEST_MARK"), XCB_ATOM_CARDINAL, 32, 1, &one);
    xcb_flush(desktop.get());
    ASSERT_TRUE(waitUntil([&] { return marked; }));
    EXPECT_TRUE(activations.empty()) << "the pop-up's naming counted as an activation";
    EXPECT_EQ(frontPID(), first.pid());
    xcb_delete_property(desktop.get(), desktop.root(), desktop.atom("_VELARO_TEST_MARK"));

    // A real activation of another program still goes through.
    ASSERT_EQ(run("xdotool", {"windowactivate", "--sync", second.id()}).exitCode, 0);
    EXPECT_TRUE(waitUntil([&] { return frontPID() == second.pid(); }));
}

}  // namespace
}  // namespace velaro::e2e
