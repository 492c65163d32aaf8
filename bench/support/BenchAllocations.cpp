// The counting operator new that every benchmark program links.
#include "BenchAllocations.h"

#include <cstdlib>
#include <new>

namespace {
thread_local int openCounters = 0;
thread_local long allocations = 0;
}  // namespace

#if !defined(__SANITIZE_ADDRESS__)
void* operator new(std::size_t size) {
    if (openCounters > 0) ++allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#endif

namespace velaro::bench {

AllocationCount::AllocationCount() : start_(allocations) {
    ++openCounters;
}

AllocationCount::~AllocationCount() {
    --openCounters;
}

double AllocationCount::perIteration(const benchmark::State& state) const {
#if defined(__SANITIZE_ADDRESS__)
    return -1;
#else
    return static_cast<double>(allocations - start_) / static_cast<double>(state.iterations());
#endif
}

}  // namespace velaro::bench
