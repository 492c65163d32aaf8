// A child process for the crash test of the defaults file: stores a new state and writes it out, over and
// over, printing each counter once it is on disk, until it is killed.
#include <cstdio>

#include "platform/helpers/DefaultsBurst.h"
#include "platform/linux/JsonDefaultsStore.h"
#include "support/VirtualLoop.h"

int main(int argc, char** argv) {
    using namespace velaro;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <defaults file>\n", argv[0]);
        return 64;
    }
    test::VirtualLoop loop;
    JsonDefaultsStore store(loop, argv[1]);
    // Go on from the state the previous (killed) writer left.
    std::int64_t counter = store.integerValue("counter").value_or(0);
    for (;;) {
        ++counter;
        store.set("counter", counter);
        store.set("check", counter * 3);
        store.set("payload", test::burstPayload(counter));
        store.set("blob", test::burstBlob(counter));
        store.set("ratio", static_cast<double>(counter) + 0.5);
        if (!store.synchronize()) return 1;
        std::printf("%lld\n", static_cast<long long>(counter));
        std::fflush(stdout);
    }
}
