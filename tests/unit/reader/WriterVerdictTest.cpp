// When a recording counts as finished: the grace after a writer's close
// learns the recorder's rhythm, growth is a writer seen, and the probe is
// made only when the file has not grown, at most once a poll.
#include <windows.h>

#include <gtest/gtest.h>

#include "FileSourceConstants.h"
#include "Reader/WriterVerdict.h"

namespace {

// A recorder seen writing at t, growing until its close, then looked at
// every poll from the close on: the time its recording ends (relative to
// the close), within the given time.
DWORD EndsAfterClose(CWriterVerdict& v, DWORD dwClose, DWORD dwWithin = 60000) {
    for (DWORD t = dwClose; t < dwClose + dwWithin; t += 100) {
        if (v.ClaimProbe(t))
            v.OnProbe(t, false, false);
        if (v.HasEnded(t))
            return t - dwClose;
    }
    return INFINITE;
}

TEST(WriterVerdict, TheGraceLearnsTheGapsARecorderComesBackAfter) {
    CWriterVerdict v;
    DWORD t = 100000;
    LONGLONG llSize = 0;
    v.Start(t, true, llSize, INFINITE);
    // Chunks every 2 s, the file closed for 1.3 s after each.
    for (int i = 0; i < 3; ++i) {
        for (DWORD d = 0; d < 700; d += 100, t += 100)
            v.OnSize(t, llSize += 20000);  // growing: no probe needed
        EXPECT_FALSE(v.ClaimProbe(t));
        for (DWORD d = 0; d < 1300; d += 100, t += 100) {
            if (v.ClaimProbe(t))
                v.OnProbe(t, false, false);
            EXPECT_FALSE(v.HasEnded(t)) << "chunk " << i;
        }
    }
    // Twice the longest gap (about 1.3 s), and the end comes then.
    for (DWORD d = 0; d < 700; d += 100, t += 100)
        v.OnSize(t, llSize += 20000);
    EXPECT_GE(v.Grace(), 2600u);
    EXPECT_LE(v.Grace(), 3000u);
    const DWORD dwEnd = EndsAfterClose(v, t);
    EXPECT_GE(dwEnd, 2000u);
    EXPECT_LE(dwEnd, 3000u);

    // A gap of 20 s learnt is worth at most 30 s.
    v.Restart(t += 20000, llSize += 1);
    EXPECT_EQ(WRITER_MAX_GRACE_TIME, v.Grace());
}

TEST(WriterVerdict, AFirstCloseSoonAfterGrowthGetsThreeSecondsALateOneOne) {
    {
        // Grew until 5 s, the writer seen by the probe until its close.
        CWriterVerdict v;
        v.Start(1000, true, 0, INFINITE);
        v.OnSize(5000, 5000);
        for (DWORD t = 5000; t <= 9000; t += 500)
            if (v.ClaimProbe(t))
                v.OnProbe(t, true, false);
        const DWORD dwEnd = EndsAfterClose(v, 9100);
        EXPECT_GE(dwEnd, WRITER_FIRST_GAP_GRACE_TIME - 600);
        EXPECT_LE(dwEnd, WRITER_FIRST_GAP_GRACE_TIME);
    }
    {
        // Seen by the probe only, the file unchanged for long: 1 s.
        CWriterVerdict v;
        v.Start(1000, true, 5000, INFINITE);
        for (DWORD t = 1000; t <= 20000; t += 500)
            if (v.ClaimProbe(t))
                v.OnProbe(t, true, false);
        EXPECT_LE(EndsAfterClose(v, 20100), WRITER_GRACE_TIME);
    }
}

TEST(WriterVerdict, AnExitedWriterEndsAtOnceAndALoadBetweenChunksWaits) {
    CWriterVerdict v;
    v.Start(1000, true, 0, INFINITE);
    v.OnSize(1100, 1000);
    ASSERT_TRUE(v.ClaimProbe(2000));
    v.OnProbe(2000, false, true);
    EXPECT_TRUE(v.HasEnded(2000));

    // Loaded while the recorder is between chunks: the file changed a moment
    // ago and no writer holds it. It counts as written for the first-gap
    // grace from its change; growth then makes the writer seen again.
    CWriterVerdict w;
    w.Start(50000, false, 1000, 500);
    EXPECT_FALSE(w.HasEnded(50000));
    w.OnSize(51000, 2000);
    EXPECT_FALSE(w.HasEnded(53900));
    // An old file nobody writes has ended at once.
    CWriterVerdict old;
    old.Start(50000, false, 1000, 3600000);
    EXPECT_TRUE(old.HasEnded(50000));
}

TEST(WriterVerdict, AProbeOnlyWithoutGrowthAndOnceAPoll) {
    CWriterVerdict v;
    v.Start(1000, true, 0, INFINITE);
    EXPECT_FALSE(v.ClaimProbe(1100));  // the first look just probed
    EXPECT_TRUE(v.ClaimProbe(1600));
    EXPECT_FALSE(v.ClaimProbe(1700));  // claimed: the others wait a poll
    v.OnProbe(1700, true, false);
    v.OnSize(2200, 100);
    EXPECT_FALSE(v.ClaimProbe(2600));  // grew within the poll
    EXPECT_TRUE(v.ClaimProbe(2200 + GROWTH_POLL_TIME));
}

}  // namespace
