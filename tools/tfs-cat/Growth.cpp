// The growth meter of tfs-cat (Growth.h).
#include "Growth.h"

#include <algorithm>

namespace tfscat {

void CGrowthMeter::Sample(double t, long long llSize, bool bFresh) {
    if (!m_points.empty() && llSize < m_points.back().llSize)
        Reset();
    if (!bFresh)
        return;
    if (!m_points.empty()) {
        const Point& last = m_points.back();
        if (t - last.t <= kBurstGap)
            m_llBurst = std::max(m_llBurst, llSize - last.llSize);
    }
    m_points.push_back({t, llSize});
    // Two points stay, however old, so that a rate remains to be had.
    while (m_points.size() > 2 && t - m_points[1].t >= kWindow)
        m_points.pop_front();
}

void CGrowthMeter::Reset() {
    m_points.clear();
    m_llBurst = 0;
}

bool CGrowthMeter::Rate(double* pdRate) const {
    if (m_points.size() < 2)
        return false;
    const Point& a = m_points.front();
    const Point& b = m_points.back();
    if (b.t - a.t < kMinSpan)
        return false;
    *pdRate = (double)(b.llSize - a.llSize) / (b.t - a.t);
    return true;
}

long long CGrowthMeter::MarginFor(double dSeconds, long long llUnknown) const {
    double dRate = 0;
    long long ll = Rate(&dRate) ? (long long)(dSeconds * dRate) : llUnknown;
    ll = std::max(ll, m_llBurst);
    return std::min(std::max(ll, kMinTimeMargin), kMaxTimeMargin);
}

}  // namespace tfscat
