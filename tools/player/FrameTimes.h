// The arrival times of the video frames at a sink, and what they say about
// smooth playback: the gaps between frames and the stalls among them.
//
// A stall is a gap, after the first frame, longer than twice the frame
// interval plus an allowance for the player's own polling (500 ms): playback
// that stopped, not a frame that came a little late. Only frames that arrive
// once the graph runs count for stalls and for the first frame: a cued frame
// arrives while the graph is paused, and the wait from it to the next is the
// stream's start offset, not a stall. A frame that arrives within one frame
// interval after Run was in flight as the cue ended (Wine's video renderer
// may finish its pause before the grabber has passed the frame on): it is
// cued too. Not thread-safe; the sink's callers
// serialize Add.
#pragma once

#include <stddef.h>

#include <vector>

namespace player {

struct FrameSummary {
    size_t frames = 0;
    size_t stalls = 0;
    size_t cued = 0;           // frames that arrived before the graph ran
    double firstSeconds = -1;  // arrival of the first frame once running; -1 without
    double lastSeconds = -1;   // arrival of the last frame
    double largestGap = 0;     // seconds, between consecutive frames
};

class FrameTimes {
public:
    static constexpr double kPollAllowance = 0.5;

    void Reserve(size_t n) { m_times.reserve(n); }
    // One frame arrived at `seconds` (any monotonic clock).
    void Add(double seconds) { m_times.push_back(seconds); }
    size_t Count() const { return m_times.size(); }

    // The longest a gap may last before it counts as a stall.
    static double StallLimit(double frameInterval) { return 2 * frameInterval + kPollAllowance; }

    // `running` is the time the graph began to run.
    FrameSummary Summarize(double frameInterval, double running) const {
        FrameSummary s;
        s.frames = m_times.size();
        while (s.cued < m_times.size() && m_times[s.cued] < running + frameInterval)
            ++s.cued;
        if (s.cued == m_times.size())
            return s;
        s.firstSeconds = m_times[s.cued];
        s.lastSeconds = m_times.back();
        const double limit = StallLimit(frameInterval);
        for (size_t i = s.cued + 1; i < m_times.size(); ++i) {
            const double gap = m_times[i] - m_times[i - 1];
            if (gap > s.largestGap)
                s.largestGap = gap;
            if (gap > limit)
                ++s.stalls;
        }
        return s;
    }

private:
    std::vector<double> m_times;
};

}  // namespace player
