// CWriterVerdict (see the header).
#include "Reader/WriterVerdict.h"

#include "FileSourceConstants.h"

CWriterVerdict::CWriterVerdict()
    : m_dwSeen(0),
      m_dwGrew(0),
      m_bGrew(false),
      m_bSeenEver(false),
      m_llSize(0),
      m_bGap(true),
      m_dwGapStart(0),
      m_bExited(false),
      m_bReturned(false),
      m_dwLongestGap(0),
      m_dwProbed(0),
      m_bProbed(false) {}

void CWriterVerdict::Start(DWORD dwNow, bool bWriterSeen, LONGLONG llSize, DWORD dwSinceChange) {
    *this = CWriterVerdict();
    m_llSize = llSize;
    m_bProbed = true;
    m_dwProbed = dwNow;
    if (dwSinceChange < WRITER_RECENT_GROWTH_TIME) {
        // Changed moments ago: a writer was there then, and may be between
        // two chunks now.
        m_bGrew = m_bSeenEver = true;
        m_dwGrew = m_dwSeen = m_dwGapStart = dwNow - dwSinceChange;
    }
    m_bGap = !bWriterSeen;
    if (bWriterSeen)
        Seen(dwNow);
}

void CWriterVerdict::Seen(DWORD dwNow) {
    if (m_bGap && m_bSeenEver) {
        // Back after a gap: the recorder closes and reopens its file.
        const DWORD dwGap = dwNow - m_dwGapStart;
        if (!m_bReturned || dwGap > m_dwLongestGap)
            m_dwLongestGap = dwGap;
        m_bReturned = true;
    }
    m_bGap = false;
    m_bExited = false;
    m_bSeenEver = true;
    m_dwSeen = dwNow;
}

void CWriterVerdict::OnSize(DWORD dwNow, LONGLONG llSize) {
    if (llSize > m_llSize) {
        Seen(dwNow);
        m_bGrew = true;
        m_dwGrew = dwNow;
    }
    m_llSize = llSize;
}

bool CWriterVerdict::NeedsProbe(DWORD dwNow) const {
    if (m_bGrew && dwNow - m_dwGrew < GROWTH_POLL_TIME)
        return false;
    return !m_bProbed || dwNow - m_dwProbed >= GROWTH_POLL_TIME;
}

bool CWriterVerdict::ClaimProbe(DWORD dwNow) {
    if (!NeedsProbe(dwNow))
        return false;
    m_bProbed = true;
    m_dwProbed = dwNow;
    return true;
}

void CWriterVerdict::OnProbe(DWORD dwNow, bool bWriterSeen, bool bWriterExited) {
    m_bProbed = true;
    m_dwProbed = dwNow;
    if (bWriterSeen) {
        Seen(dwNow);
        return;
    }
    if (!m_bGap) {
        m_bGap = true;
        m_dwGapStart = m_dwSeen;
    }
    m_bExited = bWriterExited;
}

DWORD CWriterVerdict::Grace() const {
    if (m_bReturned) {
        const DWORD dwHalfMax = WRITER_MAX_GRACE_TIME / 2;
        const DWORD dwTwice = m_dwLongestGap > dwHalfMax ? WRITER_MAX_GRACE_TIME : 2 * m_dwLongestGap;
        return dwTwice < WRITER_GRACE_TIME ? WRITER_GRACE_TIME : dwTwice;
    }
    if (m_bGrew && m_dwSeen - m_dwGrew < WRITER_RECENT_GROWTH_TIME)
        return WRITER_FIRST_GAP_GRACE_TIME;
    return WRITER_GRACE_TIME;
}

bool CWriterVerdict::HasEnded(DWORD dwNow, DWORD* pdwNextLook) const {
    if (pdwNextLook)
        *pdwNextLook = GROWTH_POLL_TIME;
    if (!m_bGap)
        return false;
    if (m_bExited || !m_bSeenEver)
        return true;
    const DWORD dwSince = dwNow - m_dwSeen;
    const DWORD dwGrace = Grace();
    if (dwSince >= dwGrace)
        return true;
    // Looked at again when the grace runs out, so the end comes no later.
    if (pdwNextLook && dwGrace - dwSince < *pdwNextLook)
        *pdwNextLook = dwGrace - dwSince;
    return false;
}

void CWriterVerdict::Restart(DWORD dwNow, LONGLONG llSize) {
    m_llSize = llSize;
    m_bGrew = true;
    m_dwGrew = dwNow;
    Seen(dwNow);
}
