// A child process for the multi-process tests of the defaults file. With a file alone it stores a new state
// and writes it out, over and over, printing each counter once it is on disk, until it is killed, or until
// SIGTERM, after which it ends its write and leaves. With a key prefix and a count it writes that many keys
// of its own, one write each, as a second writer would. With --follow it stands in for the app: it follows
// the file's outside edits on Qt's loop and toggles a switch of its own on SIGUSR1 (a shortcut pressed), or
// one of a few every 20-150 ms with --toggle; on SIGTERM it ends (writing what is pending) and prints the
// values it held last as one line of JSON.
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "base/QtMainLoop.h"
#include "platform/helpers/DefaultsBurst.h"
#include "platform/linux/JsonDefaultsStore.h"
#include "support/VirtualLoop.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
std::atomic<int> togglesRequested{0};  // lock-free, so a signal handler may touch it

int follow(int argc, char** argv, const std::string& path, bool toggleOnTimer) {
    using namespace velaro;
    QCoreApplication app(argc, argv);
    std::string last;
    {
        QtMainLoop loop;
        JsonDefaultsStore store(loop, path);
        store.watchForOutsideEdits();
        std::signal(SIGTERM, [](int) { stopRequested = 1; });
        std::signal(SIGUSR1, [](int) { togglesRequested.fetch_add(1); });
        std::mt19937 random(std::random_device{}());
        const auto toggle = [&](const std::string& key) {
            store.set(key, !store.boolValue(key).value_or(false));
        };
        // Signals are looked at on the loop's own turns; the store is main-thread only.
        QTimer signalCheck;
        QObject::connect(&signalCheck, &QTimer::timeout, [&] {
            for (int n = togglesRequested.exchange(0); n > 0; --n) toggle("app.toggle");
            if (stopRequested) app.quit();
        });
        signalCheck.start(1);
        QTimer toggles;
        toggles.setSingleShot(true);
        QObject::connect(&toggles, &QTimer::timeout, [&] {
            toggle("app." + std::to_string(random() % 4));
            toggles.start(std::uniform_int_distribution<int>(20, 150)(random));
        });
        if (toggleOnTimer) toggles.start(20);
        std::printf("ready\n");
        std::fflush(stdout);
        app.exec();
        last = store.persistentDomain().dump();
    }
    std::printf("%s\n", last.c_str());
    std::fflush(stdout);
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    using namespace velaro;
    if (argc == 3 && (std::string(argv[1]) == "--follow" || std::string(argv[1]) == "--toggle"))
        return follow(argc, argv, argv[2], std::string(argv[1]) == "--toggle");
    if (argc != 2 && argc != 4) {
        std::fprintf(
            stderr,
            "usage: %s <defaults file> [<key prefix> <count>]\n       %s --follow|--toggle <defaults file>\n",
            argv[0], argv[0]);
        return 64;
    }
    test::VirtualLoop loop;
    JsonDefaultsStore store(loop, argv[1]);
    if (argc == 4) {
        const std::string prefix = argv[2];
        const int count = std::atoi(argv[3]);
        for (int i = 0; i < count; ++i) {
            store.set(prefix + std::to_string(i), i);
            store.set(prefix + "last", i);
            // A write that waited too long for the other writer keeps its changes for the next try, as the
            // app's do; on a loaded machine that can happen now and then.
            int tries = 1;
            while (!store.synchronize())
                if (++tries > 30) return 1;
        }
        return 0;
    }
    // Go on from the state the previous (killed) writer left.
    std::int64_t counter = store.integerValue("counter").value_or(0);
    std::signal(SIGTERM, [](int) { stopRequested = 1; });
    while (!stopRequested) {
        ++counter;
        store.set("counter", counter);
        store.set("check", counter * 3);
        store.set("payload", test::burstPayload(counter));
        store.set("blob", test::burstBlob(counter));
        store.set("ratio", static_cast<double>(counter) + 0.5);
        // Edits landing without pause (an attack on the file) may keep a write from finishing for a while.
        for (int tries = 1; !store.synchronize();)
            if (++tries > 30) return 1;
        std::printf("%lld\n", static_cast<long long>(counter));
        std::fflush(stdout);
    }
    return 0;
}
