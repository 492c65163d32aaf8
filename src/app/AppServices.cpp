// Construction of the real platform services, in the order they depend on each other.
#include "app/AppServices.h"

#include <QGuiApplication>
#include <cstdlib>
#include <string_view>

#include "base/Log.h"
#include "base/QtMainLoop.h"
#include "music/AdapterProtocol.h"
#include "music/MusicProgressEngine.h"
#include "music/MusicVisualizerAudioEngine.h"
#include "overlay/MenuBarOverlayController.h"
#include "platform/linux/AppcastUpdater.h"
#include "platform/linux/DesktopMotion.h"
#include "platform/linux/GnomeShellOverview.h"
#include "platform/linux/JsonDefaultsStore.h"
#include "platform/linux/LinuxChildProcess.h"
#include "platform/linux/PulseAudioCapture.h"
#include "platform/linux/QtMenuTracker.h"
#include "platform/linux/QtOverlayWindowHost.h"
#include "platform/linux/QtTray.h"
#include "platform/linux/X11CaptureService.h"
#include "platform/linux/X11EventTap.h"
#include "platform/linux/X11Hotkeys.h"
#include "platform/linux/X11MenuBarItems.h"
#include "platform/linux/X11Permissions.h"
#include "platform/linux/X11PointerSource.h"
#include "platform/linux/X11Screens.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/X11ShownWindows.h"
#include "platform/linux/X11TaskbarPolicy.h"
#include "platform/linux/X11WallpaperSource.h"
#include "platform/linux/X11WindowControl.h"
#include "platform/linux/X11WindowEvents.h"
#include "platform/linux/X11WindowList.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XdgAppCatalog.h"
#include "platform/linux/XdgDesktopAppearance.h"
#include "platform/linux/XdgLoginItem.h"
#include "platform/linux/XkbKeyboardLayout.h"
#include "sampling/ScreenTopology.h"
#include "sampling/WallpaperSnapshot.h"
#include "sampling/WindowListScans.h"

namespace velaro {

struct AppServices::Parts {
    std::unique_ptr<QtMainLoop> loop;
    std::unique_ptr<JsonDefaultsStore> defaults;
    std::unique_ptr<XdgAppCatalog> catalog;
    std::unique_ptr<QtMenuTracker> menuTracker;
    std::unique_ptr<X11Session> session;
    std::unique_ptr<X11ShownWindows> shownWindows;
    std::unique_ptr<X11Screens> screens;
    std::unique_ptr<X11WindowList> windowList;
    std::unique_ptr<X11Workspace> workspace;
    std::unique_ptr<X11WindowEvents> windowEvents;
    std::unique_ptr<X11MenuBarItems> menuBarItems;
    // Declared before the capture service, so destroyed after it: the capture service's end waits for the
    // frame still in an output, and that frame may read the pointer and ask the scans whether a foreign menu
    // is open.
    std::unique_ptr<X11PointerSource> pointer;
    std::unique_ptr<WindowListScans> scans;
    std::unique_ptr<X11CaptureService> capture;
    std::unique_ptr<X11WallpaperSource> wallpaperSource;
    std::unique_ptr<WallpaperSnapshot> wallpaper;
    std::unique_ptr<XdgLoginItem> loginItem;
    std::unique_ptr<X11Hotkeys> hotkeys;
    std::unique_ptr<XkbKeyboardLayout> keyboardLayout;
    std::unique_ptr<X11Permissions> permissions;
    std::unique_ptr<QtOverlayWindowHost> overlayHost;
    std::unique_ptr<X11EventTap> eventTap;
    std::unique_ptr<X11WindowControl> windowControl;
    std::unique_ptr<QtUpdaterUserDriver> updaterDriver;
    std::unique_ptr<AppcastUpdater> updater;
    std::unique_ptr<QtTray> tray;
    std::unique_ptr<X11TaskbarPolicy> taskbarPolicy;
    std::unique_ptr<LinuxProcessLauncher> processes;
    std::unique_ptr<GnomeShellOverview> overview;
    std::unique_ptr<XdgDesktopAppearance> appearance;
    // After the screens and the workspace it watches.
    std::unique_ptr<ScreenTopology> topology;
    // Runs on the loop and the launcher above.
    std::unique_ptr<MusicProgressEngine> progressEngine;
};

AppServices::AppServices() : parts_(std::make_unique<Parts>()) {}

AppServices::~AppServices() {
    // Windows and the services that watch the display go before the loop they post to; every X11 service
    // goes before the session it was built from (declared before them in Parts).
    if (!parts_) return;
    // No service's end waits for the X server: the connections stop reading first (if the app's end did not
    // have them stop already), which ends every wait on them at once (a server busy with a storm of other
    // clients' changes may take seconds to answer).
    stopReading();
    // The now-playing engine ends its adapter before anything else goes.
    parts_->progressEngine.reset();
    parts_->overlayHost.reset();
}

namespace {
// The version the update feed is compared with; it follows the project's version in CMakeLists.txt.
constexpr const char* kVersion = "0.1.0";

// The visualizer's engines capture through the sound server. Their once-a-second summary lines are made
// only while the audio category's debug lines show.
std::function<std::unique_ptr<MusicVisualizerAudioEngine>()> visualizerEngineFactory(MainLoop& loop) {
    const bool logSummaries = lcAudio().isDebugEnabled();
    return [&loop, logSummaries] {
        return std::make_unique<MusicVisualizerAudioEngine>(loop, std::make_unique<PulseAudioCapture>(loop),
                                                            logSummaries);
    };
}

std::string executablePath() {
    const QString path = QCoreApplication::applicationFilePath();
    return path.isEmpty() ? std::string("velaro") : path.toStdString();
}
}  // namespace

std::unique_ptr<AppServices> AppServices::create(std::string* error) {
    auto fail = [error](const char* why) {
        if (error) *error = why;
        return std::unique_ptr<AppServices>();
    };
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return fail("Velaro needs an X11 session");

    std::unique_ptr<AppServices> services(new AppServices());
    Parts& p = *services->parts_;
    p.loop = std::make_unique<QtMainLoop>();
    p.defaults = std::make_unique<JsonDefaultsStore>(*p.loop, JsonDefaultsStore::standardPath());
    p.defaults->watchForOutsideEdits();
    p.catalog = std::make_unique<XdgAppCatalog>();
    p.catalog->followChanges(*p.loop);
    p.menuTracker = std::make_unique<QtMenuTracker>(*QCoreApplication::instance());
    // Every X11 service is built from this one session: its connections, its screens snapshot (points are
    // Qt's device-independent pixels) and its app identity.
    std::string why;
    p.session = X11Session::open({}, X11Session::qtPixelRatio(), *p.catalog, &why);
    if (!p.session) return fail(why.c_str());
    X11Session& session = *p.session;
    p.shownWindows = std::make_unique<X11ShownWindows>(session.toolkit(), *p.loop);
    p.screens = std::make_unique<X11Screens>(session);
    p.windowList = std::make_unique<X11WindowList>(session);
    p.workspace = std::make_unique<X11Workspace>(*p.loop, session);
    p.windowEvents = std::make_unique<X11WindowEvents>(session);
    p.eventTap = std::make_unique<X11EventTap>(session);
    p.windowControl = std::make_unique<X11WindowControl>(session);
    p.hotkeys = X11Hotkeys::create(session.toolkit());
    p.menuBarItems = std::make_unique<X11MenuBarItems>(session, *p.loop);
    p.keyboardLayout = XkbKeyboardLayout::create(session);
    p.taskbarPolicy = std::make_unique<X11TaskbarPolicy>(session);
    if (!p.hotkeys) return fail("cannot reach the X display");
    p.pointer = std::make_unique<X11PointerSource>(*p.loop, session);
    p.capture = std::make_unique<X11CaptureService>(*p.loop, session);
    // The Corner Rounding page's picture: a desktop window of the main display, else the root's picture.
    p.wallpaperSource = std::make_unique<X11WallpaperSource>(*p.loop, *p.capture, session);
    p.wallpaper = std::make_unique<WallpaperSnapshot>(*p.capture, *p.screens, p.wallpaperSource.get());
    p.topology = std::make_unique<ScreenTopology>(*p.screens, p.workspace.get());
    p.scans = std::make_unique<WindowListScans>(*p.windowList, *p.screens, *p.defaults, *p.workspace,
                                                p.workspace->ownProcessIdentifier());
    p.loginItem = XdgLoginItem::fromEnvironment(executablePath());
    p.permissions = std::make_unique<X11Permissions>(&session, *p.loop);
    p.overlayHost = std::make_unique<QtOverlayWindowHost>(*p.loop, &session);
    p.tray = std::make_unique<QtTray>(p.screens.get());
    p.updaterDriver = std::make_unique<QtUpdaterUserDriver>();
    p.updater = std::make_unique<AppcastUpdater>(*p.loop, *p.defaults, *p.updaterDriver,
                                                 configuredAppcastURL(), kVersion, configuredPlainHttp());
    p.processes = std::make_unique<LinuxProcessLauncher>();
    // Asked whatever the desktop says it is: the shell's bus name is what tells.
    p.overview = std::make_unique<GnomeShellOverview>();
    p.appearance = std::make_unique<XdgDesktopAppearance>();
    p.progressEngine = std::make_unique<MusicProgressEngine>(MusicProgressEngine::Services{
        .loop = *p.loop,
        .launcher = *p.processes,
        .locateAdapter =
            [dir = QCoreApplication::applicationDirPath().toStdString()] {
                return adapter::findMediaAdapter(dir);
            },
        .onWillTerminate =
            [](std::function<void()> block) {
                QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, std::move(block));
            },
        .positionSummary = lcPlayer().isDebugEnabled(),
    });
    return services;
}

void AppServices::stopReading() {
    if (parts_->session) parts_->session->stopReading();
}

void AppServices::holdSettingsWrites() {
    parts_->defaults->holdWrites();
}

void AppServices::releaseSettingsWritesOnceShown() {
    parts_->shownWindows->afterShown([&defaults = *parts_->defaults] { defaults.releaseWrites(); });
}

AppDelegateServices AppServices::delegateServices() {
    Parts& p = *parts_;
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    return AppDelegateServices{
        .loop = *p.loop,
        .defaults = *p.defaults,
        .sampler = {.loop = *p.loop,
                    .capture = *p.capture,
                    .screens = *p.screens,
                    .topology = *p.topology,
                    .scans = *p.scans,
                    .defaults = *p.defaults,
                    .workspace = *p.workspace,
                    .pointer = *p.pointer,
                    .menus = *p.menuTracker},
        .windowList = *p.windowList,
        .catalog = *p.catalog,
        .windowEvents = *p.windowEvents,
        .menuBarItems = *p.menuBarItems,
        .loginItem = *p.loginItem,
        .hotkeys = *p.hotkeys,
        .permissions = *p.permissions,
        .updater = *p.updater,
        .overlayHost = *p.overlayHost,
        .progressEngine = *p.progressEngine,
        .maximiseButton = {*p.eventTap, *p.windowList, *p.windowControl, *p.loop,
                           p.workspace->ownProcessIdentifier()},
        .overviewShell = overviewShellForDesktop(desktop ? desktop : ""),
        .desktopOverview = p.overview.get(),
        .desktopAppearance = p.appearance.get(),
        .makeOverlayController = overlayControllerFactory(OverlayControllerServices{
            *p.loop, *p.overlayHost, *p.screens, *p.workspace, p.windowList.get(), true}),
        .makeVisualizerEngine = visualizerEngineFactory(*p.loop),
        .reduceMotion = [] { return desktopReducesMotion(); },
        .toolkitWindows = true,
        .tray = p.tray.get(),
        .taskbarPolicy = *p.taskbarPolicy,
        .wallpaper = p.wallpaper.get(),
        .keyboardLayout = p.keyboardLayout.get(),
        .afterWindowsShown =
            [&shown = *p.shownWindows](std::function<void()> block) { shown.afterShown(std::move(block)); },
    };
}

}  // namespace velaro
