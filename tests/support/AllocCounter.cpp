// Replaces the global allocation functions of the test program with counting
// ones. Linked in whenever a test refers to ThreadAllocationCount.
#include "AllocCounter.h"

#include <cstdlib>
#include <new>

// The thread sanitizer's run-time defines the allocation functions itself, in
// one object that cannot be replaced: there, nothing is counted.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ALLOC_COUNTER_UNAVAILABLE
#endif
#endif

namespace testsupport {
#ifdef ALLOC_COUNTER_UNAVAILABLE
bool AllocationCountingAvailable() {
    return false;
}
size_t ThreadAllocationCount() {
    return 0;
}
}  // namespace testsupport
#else
bool AllocationCountingAvailable() {
    return true;
}
}  // namespace testsupport

namespace {
thread_local size_t t_allocations = 0;

void* Allocate(size_t size) {
    ++t_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    std::abort();  // the tests never run out of memory; no exceptions here
}
}  // namespace

namespace testsupport {
size_t ThreadAllocationCount() {
    return t_allocations;
}
}  // namespace testsupport

void* operator new(size_t size) {
    return Allocate(size);
}
void* operator new[](size_t size) {
    return Allocate(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}

#endif  // !ALLOC_COUNTER_UNAVAILABLE
