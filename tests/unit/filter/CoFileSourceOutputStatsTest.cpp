// The pin's statistics: growth and read rates from the positions of each
// pin alone, once a second.
#include <windows.h>

#include <gtest/gtest.h>

#include "DebugCapture.h"
#include "PinTestSupport.h"

using namespace testsupport;

namespace {

TEST(PinStatistics, EachPinsRatesComeFromItsOwnPositions) {
    PinUnderTest a, b;
    // The first pass only records where the file stands.
    a->SetPositions(1000, 10000000);
    a->UpdateStatistics();
    EXPECT_EQ(0, a->GetWriteSpeed());
    for (LONGLONG k = 1; k <= 3; ++k) {
        a->SetPositions(1000, 10000000 + k * 1048576);
        a->UpdateStatistics();
        EXPECT_EQ(1048576, a->GetWriteSpeed());
    }
    // A second without growth gives 0 at once; the next one starts afresh.
    a->UpdateStatistics();
    EXPECT_EQ(0, a->GetWriteSpeed());
    a->SetPositions(5000, 10000000 + 3 * 1048576 + 300000);
    a->UpdateStatistics();
    EXPECT_EQ(300000, a->GetWriteSpeed());
    EXPECT_EQ(4000, a->GetReadSpeed());
    // Halving the past: (4000 + 2000) / 2.
    a->SetPositions(7000, 10000000 + 3 * 1048576 + 900000);
    a->UpdateStatistics();
    EXPECT_EQ(3000, a->GetReadSpeed());
    EXPECT_EQ(450000, a->GetWriteSpeed());
    // A smaller file (position back) gives 0; a jump past 2 GiB the largest
    // rate, not a negative one.
    a->SetPositions(7000, 500);
    a->UpdateStatistics();
    EXPECT_EQ(0, a->GetWriteSpeed());
    a->SetPositions(7000, 500 + 3000000000LL);
    a->UpdateStatistics();
    EXPECT_EQ(0x7FFFFFFF, a->GetWriteSpeed());

    // The other pin has its own past: its first pass only records, whatever
    // the first pin saw.
    b->SetPositions(10, 20000000);
    b->UpdateStatistics();
    EXPECT_EQ(0, b->GetWriteSpeed());
    EXPECT_EQ(0, b->GetReadSpeed());
    b->SetPositions(110, 20000000);
    b->UpdateStatistics();
    LONGLONG llPos = 0;
    LONG lSpeed = -1;
    ASSERT_EQ(S_OK, b->GetReadPos(&llPos, &lSpeed));
    EXPECT_EQ(110, llPos);
    EXPECT_EQ(100, lSpeed);
    EXPECT_EQ(E_POINTER, b->GetReadPos(NULL, NULL));
}

}  // namespace
