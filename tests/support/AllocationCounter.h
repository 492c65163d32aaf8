// Counts the heap allocations (malloc, operator new, Qt's buffers) made on the calling thread while a
// counter is open. Only sanitizer builds can count: their runtime calls a hook on every allocation, so the
// count is complete without replacing the allocator of the whole test program.
#pragma once

namespace velaro::test {

// False in builds that cannot count: tests that need a count skip there.
bool canCountAllocations();

class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    // Allocations on this thread since the counter opened.
    long count() const;

private:
    long start_;
};

}  // namespace velaro::test
