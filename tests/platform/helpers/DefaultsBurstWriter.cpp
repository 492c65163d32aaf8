// A child process for the multi-process tests of the defaults file. With a file alone it stores a new state
// and writes it out, over and over, printing each counter once it is on disk, until it is killed, or until
// SIGTERM, after which it ends its write and leaves. With a key prefix and a count it writes that many keys
// of its own, one write each, as a second writer would.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/helpers/DefaultsBurst.h"
#include "platform/linux/JsonDefaultsStore.h"
#include "support/VirtualLoop.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
}

int main(int argc, char** argv) {
    using namespace velaro;
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s <defaults file> [<key prefix> <count>]\n", argv[0]);
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
