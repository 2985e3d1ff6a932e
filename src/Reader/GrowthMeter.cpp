// CGrowthMeter (see the header).
#include "Reader/GrowthMeter.h"

#include "FileSourceConstants.h"

void CGrowthMeter::Sample(DWORD dwTick, LONGLONG llSize) {
    if (!m_points.empty() && llSize < m_last.llSize)
        Reset();
    const bool bGrew = !m_points.empty() && llSize > m_last.llSize;
    if (bGrew && dwTick - m_last.dwTick <= kBurstGap && llSize - m_last.llSize > m_llBurst)
        m_llBurst = llSize - m_last.llSize;
    m_last = {dwTick, llSize};
    if (m_points.empty()) {
        m_points.push_back(m_last);
        return;
    }
    if (!bGrew)
        return;
    m_bGrew = true;
    m_lastGrowth = m_last;
    // Only growth is kept, over the last kWindow of it: a pause neither
    // fills the window nor pushes the stream's rate out of it.
    if (dwTick - m_points.back().dwTick >= kSpacing)
        m_points.push_back(m_last);
    while (m_points.size() > 2 && dwTick - m_points[1].dwTick >= kWindow)
        m_points.pop_front();
}

void CGrowthMeter::Reset() {
    m_points.clear();
    m_last = m_lastGrowth = {0, 0};
    m_llBurst = 0;
    m_bGrew = false;
}

bool CGrowthMeter::RateTo(const Point& to, double* pdBytesPerSecond) const {
    if (m_points.empty() || !m_bGrew)
        return false;
    const Point& a = m_points.front();
    const DWORD dwSpan = to.dwTick - a.dwTick;
    // The first point may be newer than the last growth, long after it.
    if (dwSpan < kMinSpan || dwSpan > 0x7FFFFFFF || to.llSize < a.llSize)
        return false;
    *pdBytesPerSecond = (double)(to.llSize - a.llSize) * 1000.0 / dwSpan;
    return true;
}

LONGLONG CGrowthMeter::MarginFor(DWORD dwMilliseconds, LONGLONG llUnknown) const {
    double dRate = 0;
    LONGLONG ll = StreamRate(&dRate) ? (LONGLONG)(dRate * dwMilliseconds / 1000.0) : llUnknown;
    if (ll < m_llBurst)
        ll = m_llBurst;
    return ll < MIN_TIME_MARGIN ? MIN_TIME_MARGIN : ll > ORVEX_MAX_WAIT_MARGIN ? ORVEX_MAX_WAIT_MARGIN : ll;
}

DWORD CGrowthMeter::TimeOf(LONGLONG llBytes) const {
    double dRate = 0;
    if (!StreamRate(&dRate) || dRate <= 0)
        return 0;
    const double dMs = (double)llBytes * 1000.0 / dRate;
    return dMs >= 4e9 ? 0xFFFFFFFF : (DWORD)dMs;
}
