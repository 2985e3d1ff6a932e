// How fast a recording grows, from the sizes the filter reports over time,
// and the wait margin a margin in time asks for.
#pragma once

#include <deque>

namespace tfscat {

// The bounds of a margin kept from a margin in time.
const long long kMinTimeMargin = 64 * 1024;
const long long kMaxTimeMargin = 10485760;

class CGrowthMeter {
public:
    // A size the filter reported at time t (seconds, any steady clock).
    // Fresh: the filter measured it just before (a read that waited for
    // growth returns right after a measurement); only fresh sizes carry
    // their time, stale ones are ignored. A smaller size than before (a cut
    // file) starts the measurement again.
    void Sample(double t, long long llSize, bool bFresh);
    void Reset();

    // Bytes per second over the last kWindow seconds of fresh sizes, once
    // they span kMinSpan; false before.
    bool Rate(double* pdRate) const;
    // The largest growth between two fresh sizes at most kBurstGap apart: a
    // recorder writes in blocks, and a margin below one block stalls.
    long long Burst() const { return m_llBurst; }

    // The wait margin that keeps dSeconds of the growth rate, never below the
    // largest burst, within kMinTimeMargin and kMaxTimeMargin. Before the
    // rate is known: llUnknown (bounded the same way).
    long long MarginFor(double dSeconds, long long llUnknown) const;

    static constexpr double kWindow = 10;
    static constexpr double kMinSpan = 1;
    static constexpr double kBurstGap = 1.2;

private:
    struct Point {
        double t;
        long long llSize;
    };
    std::deque<Point> m_points;  // fresh sizes of the last kWindow seconds, oldest first
    long long m_llBurst = 0;
};

}  // namespace tfscat
