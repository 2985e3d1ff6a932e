// Replaces the global allocation functions of the test program with counting
// ones. Linked in whenever a test refers to ThreadAllocationCount.
#include "AllocCounter.h"

#include <cstdlib>
#include <new>

// TSan's run-time defines the allocation functions itself.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORVEX_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define ORVEX_TSAN 1
#endif

namespace {
thread_local size_t t_allocations = 0;
}  // namespace

namespace testsupport {

size_t ThreadAllocationCount() {
    return t_allocations;
}

bool AllocationCountingAvailable() {
#ifdef ORVEX_TSAN
    return false;
#else
    return true;
#endif
}

}  // namespace testsupport

#ifndef ORVEX_TSAN
namespace {
void* Allocate(size_t size) {
    ++t_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    std::abort();  // the tests never run out of memory; no exceptions here
}
}  // namespace

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
#endif
