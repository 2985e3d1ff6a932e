// Counts the C++ heap allocations (global operator new) made by the calling
// thread, so tests can show that a path allocates nothing.
#pragma once

#include <stddef.h>

namespace testsupport {

// False where the sanitizer run-time owns the allocation functions (TSan):
// there the count stays 0 and tests that rely on it skip.
bool AllocationCountingAvailable();

// Allocations made by this thread so far.
size_t ThreadAllocationCount();

// Counts the allocations the calling thread makes during its lifetime.
class AllocationScope {
public:
    AllocationScope() : m_start(ThreadAllocationCount()) {}
    size_t Count() const { return ThreadAllocationCount() - m_start; }

private:
    size_t m_start;
};

}  // namespace testsupport
