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

// A stall is the source's when a read was seen waiting for the recorder
// during the gap (or just before it began: the wait empties the pipeline
// first), the rest of the graph's otherwise.
TEST(FrameTimesTest, StallsNameTheirCause) {
    FrameTimes t;
    for (double s : {10.25, 10.5, 12.0, 12.25, 14.0, 14.25, 16.0, 16.25, 18.0})
        t.Add(s);
    // Gaps over the 1 s limit: 10.5-12, 12.25-14, 14.25-16, 16.25-18.
    const std::vector<double> waits = {
        11.0,    // inside the first gap
        12.125,  // inside no gap, but within two samples of the second's start
        15.0,    // inside the third
    };
    const player::FrameSummary s = t.Summarize(0.25, 10.0, &waits);
    EXPECT_EQ(0u, s.cued);
    EXPECT_EQ(4u, s.stalls);
    EXPECT_EQ(3u, s.sourceStalls);
    EXPECT_EQ(1u, s.downstreamStalls);

    // Without the source's figures, or with no wait seen, every stall is
    // downstream.
    const std::vector<double> none;
    EXPECT_EQ(4u, t.Summarize(0.25, 10.0).downstreamStalls);
    EXPECT_EQ(0u, t.Summarize(0.25, 10.0, &none).sourceStalls);
    // A wait long before a gap, or after the last, names none.
    const std::vector<double> far = {5.0, 19.0};
    EXPECT_EQ(0u, t.Summarize(0.25, 10.0, &far).sourceStalls);
    // Gaps that begin after the recording last grew are the end's wait.
    const player::FrameSummary e = t.Summarize(0.25, 10.0, &waits, 14.1);
    EXPECT_EQ(2u, e.stalls);
    EXPECT_EQ(2u, e.endWaits);
    EXPECT_DOUBLE_EQ(1.75, e.endWaitSeconds);
}

// The pictures a stream brings to the sink, in the sink's unit: a decoder
// that shows each field of an interlaced frame delivers two per frame.
TEST(FrameTimesTest, PicturesAtSinkCountFieldsWhenTheSinkGetsFields) {
    EXPECT_EQ(750, player::PicturesAtSink(750, 25, 0.04));   // progressive
    EXPECT_EQ(1500, player::PicturesAtSink(750, 25, 0.02));  // field pictures
    EXPECT_EQ(1001, player::PicturesAtSink(1001, 30000.0 / 1001, 1001.0 / 30000));
    EXPECT_EQ(2002, player::PicturesAtSink(1001, 30000.0 / 1001, 1001.0 / 60000));
    // A sink interval a little off the exact half still means fields.
    EXPECT_EQ(1500, player::PicturesAtSink(750, 25, 0.0200001));
    // Missing figures count nothing rather than guess.
    EXPECT_EQ(0, player::PicturesAtSink(750, 0, 0.04));
    EXPECT_EQ(0, player::PicturesAtSink(750, 25, 0));
}

// A splitter that ends the stream at its duration lets through the pictures
// that begin before that end (Wine's, for a recording complete when it
// connected: 1471 of 1500 field pictures from 0.54 s to its end at 29.942 s).
TEST(FrameTimesTest, PicturesBeforeTheStreamEnd) {
    EXPECT_EQ(1471, player::PicturesBefore(29.942, 0.54, 0.02, 1500));
    // No cut; a growing file's estimated end is far beyond a 32-bit count.
    EXPECT_EQ(1500, player::PicturesBefore(104344922.103, 0.54, 0.02, 1500));
    // A picture that would begin exactly at the end is cut.
    EXPECT_EQ(4, player::PicturesBefore(2.0, 1.0, 0.25, 10));
    EXPECT_EQ(0, player::PicturesBefore(0.5, 1.0, 0.25, 10));
}
