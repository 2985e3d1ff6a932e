// CGrowthMeter (see the header).
#include "Reader/GrowthMeter.h"

#include "FileSourceConstants.h"

void CGrowthMeter::Sample(DWORD dwTick, LONGLONG llSize) {
    if (!m_points.empty() && llSize < m_last.llSize)
        Reset();
    if (!m_points.empty() && llSize > m_last.llSize) {
        m_bGrew = true;
        if (dwTick - m_last.dwTick <= kBurstGap && llSize - m_last.llSize > m_llBurst)
            m_llBurst = llSize - m_last.llSize;
    }
    m_last = {dwTick, llSize};
    if (m_points.empty() || dwTick - m_points.back().dwTick >= kSpacing)
        m_points.push_back(m_last);
    // Two points stay, however old, so that a rate remains to be had.
    while (m_points.size() > 2 && dwTick - m_points[1].dwTick >= kWindow)
        m_points.pop_front();
}

void CGrowthMeter::Reset() {
    m_points.clear();
    m_last = {0, 0};
    m_llBurst = 0;
    m_bGrew = false;
}

bool CGrowthMeter::Rate(double* pdBytesPerSecond) const {
    if (m_points.empty() || !m_bGrew)
        return false;
    const Point& a = m_points.front();
    const DWORD dwSpan = m_last.dwTick - a.dwTick;
    if (dwSpan < kMinSpan)
        return false;
    *pdBytesPerSecond = (double)(m_last.llSize - a.llSize) * 1000.0 / dwSpan;
    return true;
}

LONGLONG CGrowthMeter::MarginFor(DWORD dwMilliseconds, LONGLONG llUnknown) const {
    double dRate = 0;
    LONGLONG ll = Rate(&dRate) ? (LONGLONG)(dRate * dwMilliseconds / 1000.0) : llUnknown;
    if (ll < m_llBurst)
        ll = m_llBurst;
    return ll < MIN_TIME_MARGIN ? MIN_TIME_MARGIN : ll > ORVEX_MAX_WAIT_MARGIN ? ORVEX_MAX_WAIT_MARGIN : ll;
}

DWORD CGrowthMeter::TimeOf(LONGLONG llBytes) const {
    double dRate = 0;
    if (!Rate(&dRate) || dRate <= 0)
        return 0;
    const double dMs = (double)llBytes * 1000.0 / dRate;
    return dMs >= 4e9 ? 0xFFFFFFFF : (DWORD)dMs;
}
