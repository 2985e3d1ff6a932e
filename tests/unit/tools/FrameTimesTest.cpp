// The player's frame timing: what counts as a stall, and that the wait from
// a frame cued while paused to the first frame of the running graph does not.
#include <gtest/gtest.h>

#include "player/FrameTimes.h"

using player::FrameTimes;

TEST(FrameTimesTest, StallsAreLongGapsBetweenRunningFrames) {
    FrameTimes t;
    EXPECT_EQ(-1, t.Summarize(0.04, 0).firstSeconds);
    EXPECT_EQ(0u, t.Summarize(0.04, 0).stalls);

    // Binary fractions keep the arithmetic exact: the limit is 1 s.
    EXPECT_DOUBLE_EQ(0.58, FrameTimes::StallLimit(0.04));
    ASSERT_EQ(1.0, FrameTimes::StallLimit(0.25));
    t.Add(9.0);   // cued before the graph ran at 10
    t.Add(12.0);  // the stream's start offset after the cued frame: no stall
    t.Add(12.25);
    t.Add(13.25);   // exactly the limit: late, not stalled
    t.Add(14.375);  // over it
    t.Add(20.0);    // and again
    const player::FrameSummary s = t.Summarize(0.25, 10.0);
    EXPECT_EQ(6u, s.frames);
    EXPECT_EQ(1u, s.cued);
    EXPECT_EQ(2u, s.stalls);
    EXPECT_EQ(12.0, s.firstSeconds);
    EXPECT_EQ(20.0, s.lastSeconds);
    EXPECT_EQ(5.625, s.largestGap);

    // Counted from before the first frame, the cued one opens the run.
    EXPECT_EQ(3u, t.Summarize(0.25, 0).stalls);

    // A cued frame that reaches the sink just after Run is still cued.
    FrameTimes late;
    late.Add(10.125);
    late.Add(11.0);
    late.Add(11.25);
    const player::FrameSummary l = late.Summarize(0.25, 10.0);
    EXPECT_EQ(1u, l.cued);
    EXPECT_EQ(0u, l.stalls);
    EXPECT_EQ(11.0, l.firstSeconds);
}
