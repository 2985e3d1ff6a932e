// CGrowthMeter: how fast a recording grows, from the sizes measured over
// time, and the wait margin a margin in time asks for. The filter keeps one
// per recording (every measurement of the file is a sample), and its figures
// serve the wait margin, the admission, the property page's write rate and
// tfs-cat.
//
// Pure state over the times it is given: no lock, no kernel call. Its owner
// calls it under its own lock.
#pragma once

#include <windows.h>

#include <deque>

class CGrowthMeter {
public:
    // A size measured at dwTick (ms, GetTickCount). A smaller size than
    // before (a file cut and written again) starts the measurement again.
    void Sample(DWORD dwTick, LONGLONG llSize);

    // Bytes per second over the last kWindow ms, once the samples span
    // kMinSpan ms and the file has grown at all; false before. Rate counts
    // up to now (a pause brings it down: the page's growth figure);
    // StreamRate up to the last growth (the stream's own rate, which the
    // margin and the admission take, and which a pause leaves as it was).
    bool Rate(double* pdBytesPerSecond) const { return RateTo(m_last, pdBytesPerSecond); }
    bool StreamRate(double* pdBytesPerSecond) const { return RateTo(m_lastGrowth, pdBytesPerSecond); }
    // The largest growth between two samples at most kBurstGap ms apart: a
    // recorder writes in blocks, and a margin below one block stalls.
    LONGLONG Burst() const { return m_llBurst; }
    // The margin that holds dwMilliseconds of the stream rate, never below the
    // largest burst, within MIN_TIME_MARGIN and ORVEX_MAX_WAIT_MARGIN. Before
    // the rate is known: llUnknown (bounded the same way).
    LONGLONG MarginFor(DWORD dwMilliseconds, LONGLONG llUnknown) const;
    // How long llBytes last at the stream rate (ms); 0 while it is not known.
    DWORD TimeOf(LONGLONG llBytes) const;

    static constexpr DWORD kWindow = 10000;
    static constexpr DWORD kMinSpan = 1000;
    static constexpr DWORD kBurstGap = 1200;
    // Samples closer than this to the one before are not kept for the rate
    // (every measurement is a sample; the rate needs only a few a second).
    static constexpr DWORD kSpacing = 100;

private:
    void Reset();
    struct Point {
        DWORD dwTick;
        LONGLONG llSize;
    };
    bool RateTo(const Point& to, double* pdBytesPerSecond) const;
    std::deque<Point> m_points;   // kept samples of the last kWindow, oldest first
    Point m_last = {0, 0};        // the latest sample (valid with a point kept)
    Point m_lastGrowth = {0, 0};  // the latest sample that grew (valid with m_bGrew)
    LONGLONG m_llBurst = 0;
    bool m_bGrew = false;  // a sample was larger than the one before
};
