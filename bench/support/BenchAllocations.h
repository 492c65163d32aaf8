// Counts operator new calls on the benchmark's thread while a counter is open, for the "allocations per
// iteration" counters. Sanitizer builds keep their own allocator (replacing it there mixes allocation kinds)
// and report -1.
#pragma once

#include <benchmark/benchmark.h>

namespace velaro::bench {

class AllocationCount {
public:
    AllocationCount();
    ~AllocationCount();
    AllocationCount(const AllocationCount&) = delete;
    AllocationCount& operator=(const AllocationCount&) = delete;

    // Allocations since the counter opened, per iteration of `state`; -1 where they cannot be counted.
    double perIteration(const benchmark::State& state) const;

private:
    long start_;
};

}  // namespace velaro::bench
