// How fast a recording grows, from the sizes measured over time, and the
// margin a margin in time asks for.
#include <windows.h>

#include <gtest/gtest.h>

#include "Reader/GrowthMeter.h"

namespace {

TEST(GrowthMeter, RateBurstMarginAndCut) {
    CGrowthMeter m;
    double dRate = 0;
    // Nothing known yet: the default margin (bounded), no rate, no time.
    EXPECT_FALSE(m.Rate(&dRate));
    EXPECT_EQ(2097152, m.MarginFor(1000, 2097152));
    EXPECT_EQ(0u, m.TimeOf(1000));
    // A file that does not grow has no rate (its margin is the default).
    DWORD t = 5000;
    LONGLONG llSize = 1000;
    CGrowthMeter still;
    for (int i = 0; i < 30; ++i, t += 50)
        still.Sample(t, llSize);
    EXPECT_FALSE(still.Rate(&dRate));
    // 16 KB/s, sampled now and then twice at once: once a second is spanned,
    // the rate; the margin is never below 64 KiB.
    for (int i = 0; i < 40; ++i, t += 50) {
        m.Sample(t, llSize += 800);
        m.Sample(t, llSize);
    }
    ASSERT_TRUE(m.Rate(&dRate));
    EXPECT_NEAR(16000, dRate, 1000);
    EXPECT_EQ(65536, m.MarginFor(1000, 2097152));
    EXPECT_NEAR(2000, (double)m.TimeOf(32000), 150);
    // A pause of 2 s brings the growth figure down; the stream's rate, which
    // the margin takes, stays.
    for (int i = 0; i < 40; ++i, t += 50)
        m.Sample(t, llSize);
    ASSERT_TRUE(m.Rate(&dRate));
    EXPECT_LT(dRate, 8000);
    ASSERT_TRUE(m.StreamRate(&dRate));
    EXPECT_NEAR(16000, dRate, 1000);
    // A burst of 4 MB between two looks: the margin covers it from then on.
    m.Sample(t, llSize += 4000000);
    EXPECT_EQ(4000000, m.Burst());
    EXPECT_GE(m.MarginFor(1000, 2097152), 4000000);
    // Two looks far apart are no burst; the margin is at most 10 MiB.
    m.Sample(t += 5000, llSize += 20000000);
    EXPECT_EQ(4000000, m.Burst());
    EXPECT_EQ(10485760, m.MarginFor(600000, 2097152));
    // A cut starts the measurement again.
    m.Sample(t += 100, 1000);
    EXPECT_FALSE(m.Rate(&dRate));
    EXPECT_EQ(0, m.Burst());
}

TEST(GrowthMeter, TheRateFollowsTheLastSecondsAndTheTickWraps) {
    CGrowthMeter m;
    // 1 MB/s for 20 s, then 100 KB/s for 12 s, across the wrap of the tick.
    DWORD t = 0xFFFFFFFF - 15000;
    LONGLONG llSize = 0;
    for (int i = 0; i < 200; ++i, t += 100)
        m.Sample(t, llSize += 100000);
    for (int i = 0; i < 120; ++i, t += 100)
        m.Sample(t, llSize += 10000);
    double dRate = 0;
    ASSERT_TRUE(m.Rate(&dRate));
    EXPECT_NEAR(100000, dRate, 15000);
}

}  // namespace
