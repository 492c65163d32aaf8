// The sanitizer runtime's allocation hook feeding a per-thread count.
#include "support/AllocationCounter.h"

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));
#define VELARO_CAN_COUNT_ALLOCATIONS 1
#endif

namespace velaro::test {
namespace {
thread_local long allocations = 0;
thread_local int openCounters = 0;

#if defined(VELARO_CAN_COUNT_ALLOCATIONS)
void countAllocation(const volatile void*, std::size_t) {
    if (openCounters > 0) ++allocations;
}
void ignoreFree(const volatile void*) {}
bool installHooks() {
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(countAllocation, ignoreFree) != 0;
    return installed;
}
#endif
}  // namespace

bool canCountAllocations() {
#if defined(VELARO_CAN_COUNT_ALLOCATIONS)
    return installHooks();
#else
    return false;
#endif
}

AllocationCounter::AllocationCounter() : start_(allocations) {
    canCountAllocations();
    ++openCounters;
}

AllocationCounter::~AllocationCounter() {
    --openCounters;
}

long AllocationCounter::count() const {
    return allocations - start_;
}

}  // namespace velaro::test
