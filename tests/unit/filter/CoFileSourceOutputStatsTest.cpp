// The pin's statistics: the read rate from the read positions of each pin
// alone, once a second (how fast the file grows, the recording measures:
// GrowthMeterTest).
#include <windows.h>

#include <gtest/gtest.h>

#include "DebugCapture.h"
#include "PinTestSupport.h"

using namespace testsupport;

namespace {

TEST(PinStatistics, EachPinsReadRateComesFromItsOwnPositions) {
    PinUnderTest a, b;
    // The first pass only records where the reads stand.
    a->SetReadPosition(1000);
    a->UpdateStatistics();
    EXPECT_EQ(0, a->GetReadSpeed());
    for (LONGLONG k = 1; k <= 3; ++k) {
        a->SetReadPosition(1000 + k * 1048576);
        a->UpdateStatistics();
        EXPECT_EQ(1048576, a->GetReadSpeed());
    }
    // A second without progress gives 0 at once; the next one starts afresh.
    a->UpdateStatistics();
    EXPECT_EQ(0, a->GetReadSpeed());
    a->SetReadPosition(1000 + 3 * 1048576 + 4000);
    a->UpdateStatistics();
    EXPECT_EQ(4000, a->GetReadSpeed());
    // Halving the past: (4000 + 2000) / 2.
    a->SetReadPosition(1000 + 3 * 1048576 + 6000);
    a->UpdateStatistics();
    EXPECT_EQ(3000, a->GetReadSpeed());
    // A position back (a new, smaller file) gives 0; a jump past 2 GiB the
    // largest rate, not a negative one.
    a->SetReadPosition(500);
    a->UpdateStatistics();
    EXPECT_EQ(0, a->GetReadSpeed());
    a->SetReadPosition(500 + 3000000000LL);
    a->UpdateStatistics();
    EXPECT_EQ(0x7FFFFFFF, a->GetReadSpeed());

    // The other pin has its own past: its first pass only records, whatever
    // the first pin saw.
    b->SetReadPosition(10);
    b->UpdateStatistics();
    EXPECT_EQ(0, b->GetReadSpeed());
    b->SetReadPosition(110);
    b->UpdateStatistics();
    LONGLONG llPos = 0;
    LONG lSpeed = -1;
    ASSERT_EQ(S_OK, b->GetReadPos(&llPos, &lSpeed));
    EXPECT_EQ(110, llPos);
    EXPECT_EQ(100, lSpeed);
    EXPECT_EQ(E_POINTER, b->GetReadPos(NULL, NULL));
    // Without a file nothing grows.
    EXPECT_EQ(0, b->GetWriteSpeed());
}

}  // namespace
