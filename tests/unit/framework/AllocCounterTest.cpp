#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "AllocCounter.h"

// The counter itself must see what std::map does, or the no-allocation tests
// that rely on it would pass vacuously.
TEST(AllocCounter, SeesContainerNodes) {
    if (!testsupport::AllocationCountingAvailable())
        GTEST_SKIP() << "allocation functions owned by the sanitizer";
    std::map<long long, long> m;
    testsupport::AllocationScope scope;
    m[1] = 1;
    m[2] = 2;
    EXPECT_EQ(2u, scope.Count());
    m.find(1);
    EXPECT_EQ(2u, scope.Count());
}
