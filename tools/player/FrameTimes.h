// The arrival times of what reaches the player's sink (video pictures, or
// audio buffers where the stream has no video), and what they say about
// smooth playback: the gaps between arrivals, the stalls among them and what
// caused each.
//
// A stall is a gap, after the first arrival, longer than twice the interval
// (a picture's, or an audio buffer's) plus an allowance for the player's own
// polling (500 ms): playback that stopped, not a picture that came a little
// late. Only arrivals once the graph runs count for stalls and for the first
// arrival: a cued picture arrives while the graph is paused, and the wait
// from it to the next is the stream's start offset, not a stall. A picture
// that arrives within one interval after Run was in flight as the cue ended
// (Wine's video renderer may finish its pause before the grabber has passed
// the picture on): it is cued too.
//
// A stall has one of two causes. The source's: a read waited for the
// recorder to write more while the sink went without (the player samples the
// source's waiting read every 100 ms and hands those times in). Or the rest
// of the graph's: nothing waited for the recorder, so decoding and rendering
// fell behind, which a busy machine does.
//
// A gap that begins after the recording grew for the last time is no stall
// but the end's wait: the recorder has closed its file, and the source holds
// the last bytes until it takes the close for the end (a recorder may open
// its file again after a pause). It is counted and timed apart. So are, when
// asked for, the source's stalls of a settling time after the start (a
// recorder in bursts stalls playback until the source has seen its first
// burst and keeps one behind). Not thread-safe; the sink's callers serialize
// Add.
#pragma once

#include <math.h>
#include <stddef.h>

#include <vector>

namespace player {

struct FrameSummary {
    size_t frames = 0;
    size_t stalls = 0;            // sourceStalls + downstreamStalls
    size_t sourceStalls = 0;      // a read waited for the recorder during the gap
    size_t downstreamStalls = 0;  // no read waited: decoding or rendering was late
    size_t cued = 0;              // arrivals before the graph ran
    double firstSeconds = -1;     // the first arrival once running; -1 without
    double lastSeconds = -1;      // the last arrival
    double largestGap = 0;        // seconds, between consecutive arrivals
    size_t endWaits = 0;          // gaps over the limit after the recording's last growth
    double endWaitSeconds = 0;    // the longest of them
    size_t settlingStalls = 0;    // source stalls in the settling time (not in sourceStalls)
};

class FrameTimes {
public:
    static constexpr double kPollAllowance = 0.5;
    // How often the player samples the source's waiting read: a wait seen up
    // to two samples before a gap began may have emptied the pipeline.
    static constexpr double kWaitSampling = 0.1;

    void Reserve(size_t n) { m_times.reserve(n); }
    // One arrival at `seconds` (any monotonic clock).
    void Add(double seconds) { m_times.push_back(seconds); }
    size_t Count() const { return m_times.size(); }
    // The first arrival (seconds of Now()), -1 before any.
    double First() const { return m_times.empty() ? -1 : m_times.front(); }

    // The longest a gap may last before it counts as a stall.
    static double StallLimit(double interval) { return 2 * interval + kPollAllowance; }

    // `running` is the time the graph began to run; `waits`, in ascending
    // order and on the same clock, the times the source was seen waiting for
    // the recorder (null: none were looked for); `lastGrowth` when the
    // recording last grew (negative: not known).
    FrameSummary Summarize(double interval, double running, const std::vector<double>* waits = nullptr,
                           double lastGrowth = -1, double settling = 0) const {
        FrameSummary s;
        s.frames = m_times.size();
        while (s.cued < m_times.size() && m_times[s.cued] < running + interval)
            ++s.cued;
        if (s.cued == m_times.size())
            return s;
        s.firstSeconds = m_times[s.cued];
        s.lastSeconds = m_times.back();
        const double limit = StallLimit(interval);
        size_t w = 0;
        for (size_t i = s.cued + 1; i < m_times.size(); ++i) {
            const double from = m_times[i - 1], to = m_times[i];
            const double gap = to - from;
            if (gap > s.largestGap)
                s.largestGap = gap;
            if (gap <= limit)
                continue;
            if (lastGrowth >= 0 && from > lastGrowth) {
                ++s.endWaits;
                if (gap > s.endWaitSeconds)
                    s.endWaitSeconds = gap;
                continue;
            }
            // The first wait that can still fall in this gap or a later one.
            while (waits && w < waits->size() && (*waits)[w] < from - 2 * kWaitSampling)
                ++w;
            if (waits && w < waits->size() && (*waits)[w] <= to)
                ++(from < s.firstSeconds + settling ? s.settlingStalls : s.sourceStalls);
            else
                ++s.downstreamStalls;
        }
        s.stalls = s.sourceStalls + s.downstreamStalls;
        return s;
    }

private:
    std::vector<double> m_times;
};

// How many pictures a stream of `codedFrames` frames at `codedRate` frames
// per second brings to a sink whose pictures last `sinkInterval` seconds: a
// decoder that shows each field of an interlaced frame as a picture of its
// own delivers two per frame. 0 when a figure is missing.
inline long PicturesAtSink(long codedFrames, double codedRate, double sinkInterval) {
    if (codedFrames <= 0 || codedRate <= 0 || sinkInterval <= 0)
        return 0;
    const double perFrame = floor(1 / (codedRate * sinkInterval) + 0.5);
    return perFrame < 1 ? codedFrames : (long)(codedFrames * perFrame);
}

// Of `pictures` pictures of `interval` seconds whose first begins at stream
// time `first`, those that begin before `streamEnd`: a splitter that ends
// the stream there cuts the rest.
inline long PicturesBefore(double streamEnd, double first, double interval, long pictures) {
    if (interval <= 0 || pictures <= 0)
        return pictures;
    // In doubles until it is known to be fewer: a stream of unknown length
    // ends far beyond what a long counts on Windows.
    const double before = ceil((streamEnd - first) / interval - 1e-6);
    if (before >= (double)pictures)
        return pictures;
    return before > 0 ? (long)before : 0;
}

}  // namespace player
