// The process entry: one instance per session, the real services, the application delegate, and the Qt
// event loop until "Quit" (or a termination signal) ends it.
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <functional>

#include "app/AppDelegate.h"
#include "app/AppServices.h"
#include "app/SingleInstance.h"
#include "base/AppId.h"
#include "base/Log.h"

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the loop like "Quit", so the windows go and the session is left clean. `ending` runs
// first, as soon as the loop hears of the signal.
void quitOnTerminationSignals(QApplication& app, std::function<void()> ending) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier, ending = std::move(ending)] {
        char byte;
        [[maybe_unused]] const auto read = ::read(signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        ending();
        QApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A write to a pipe or socket whose reader is gone (a helper that ended, a peer that left while the app
    // ends) fails with EPIPE where it is made, instead of killing the app on its way out; children get the
    // default back before they run (LinuxChildProcess).
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    // Our diagnostic lines keep their plain form on stderr; QT_LOGGING_RULES chooses which show.
    velaro::installLogHandler();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velaro"));
    QApplication::setDesktopFileName(QString::fromLatin1(velaro::velaroAppId));
    // Closing the settings or the tour never ends the process.
    QApplication::setQuitOnLastWindowClosed(
        velaro::AppDelegate::applicationShouldTerminateAfterLastWindowClosed());

    velaro::SingleInstance instance;
    switch (instance.claim()) {
        case velaro::SingleInstance::Role::secondary:
            return 0;  // the running instance came forward
        case velaro::SingleInstance::Role::unreachable:
            return 1;  // one runs but could not be reached; the reason is on stderr
        case velaro::SingleInstance::Role::primary:
        case velaro::SingleInstance::Role::standalone:  // the reason it runs without the name is on stderr
            break;
    }

    std::string error;
    auto services = velaro::AppServices::create(&error);
    if (!services) {
        qCWarning(velaro::lcApp) << velaro::tagged("APP", error);
        return 1;
    }
    // The end: the X connections stop reading before anything else of the end runs (what the loop still
    // dispatches, the handlers of aboutToQuit, the delegate's objects and the services going), so that none
    // of it waits for a server busy with other clients; the capture worker stops in the middle of its grab.
    quitOnTerminationSignals(app, [&services] { services->stopReading(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &app, [&services] { services->stopReading(); });

    // What the launch changes in the settings is written after its first band, not before it.
    services->holdSettingsWrites();
    velaro::AppDelegate delegate(services->delegateServices());
    instance.onReopen = [&delegate] { delegate.applicationShouldHandleReopen(); };
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &app,
                     [&delegate] { delegate.applicationWillTerminate(); });
    // Launching finishes once the loop runs, as the windows and the tray expect.
    QMetaObject::invokeMethod(
        &app,
        [&delegate, &services] {
            delegate.applicationDidFinishLaunching();
            services->releaseSettingsWritesOnceShown();
        },
        Qt::QueuedConnection);
    QApplication::exec();
    return 0;
}
