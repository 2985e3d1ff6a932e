// CReadGate: who is inside, and the swap's closed phase (see the header).
#include "ReadGate.h"

#include "DShowX/DSTrace.h"

CReadGate::CReadGate() : m_nActive(0), m_bClosing(false), m_bFileOpen(false), m_lGeneration(0) {}

CReadGate::~CReadGate() {
    CCritSecLock lock(m_cs);
    ASSERT(m_nActive == 0);
}

HRESULT CReadGate::Init() {
    m_shOpen = CreateEvent(NULL, TRUE, TRUE, NULL);
    m_shIdle = CreateEvent(NULL, TRUE, FALSE, NULL);
    if (!m_shOpen || !m_shIdle)
        return LastErrorResult(GetLastError());
    return S_OK;
}

bool CReadGate::Enter(LONG* plGeneration, bool bWait) {
    CCritSecLock lock(m_cs);
    while (m_bClosing) {
        if (!bWait)
            return false;
        lock.Unlock();
        WaitForSingleObject(m_shOpen, INFINITE);
        lock.Lock();
    }
    if (plGeneration)
        *plGeneration = m_lGeneration;
    ++m_nActive;
    return true;
}

bool CReadGate::Reenter(LONG lGeneration) {
    CCritSecLock lock(m_cs);
    if (lGeneration != m_lGeneration)
        return false;
    ++m_nActive;
    return true;
}

void CReadGate::Leave() {
    CCritSecLock lock(m_cs);
    ASSERT(m_nActive > 0);
    if (--m_nActive == 0 && m_bClosing)
        SetEvent(m_shIdle);
}

void CReadGate::Close() {
    CCritSecLock lock(m_cs);
    ASSERT(!m_bClosing);
    m_bClosing = true;
    ++m_lGeneration;
    ResetEvent(m_shOpen);
    const bool bWait = m_nActive > 0;
    if (bWait)
        ResetEvent(m_shIdle);
    lock.Unlock();
    // Only reads that are measuring or copying are waited for; none of them
    // waits for anything the closing thread holds.
    if (bWait)
        WaitForSingleObject(m_shIdle, INFINITE);
}

void CReadGate::Open(bool bFileOpen) {
    CCritSecLock lock(m_cs);
    ASSERT(m_bClosing);
    m_bClosing = false;
    m_bFileOpen = bFileOpen;
    SetEvent(m_shOpen);
}

bool CReadGate::IsIdle() {
    CCritSecLock lock(m_cs);
    return m_nActive == 0;
}

CReadGate::CEntry::CEntry(CReadGate& gate, bool bWait) : m_gate(gate), m_lGeneration(0), m_bInside(false) {
    m_bInside = m_gate.Enter(&m_lGeneration, bWait);
}

CReadGate::CEntry::CEntry(CReadGate& gate, LONG lGeneration, bool)
    : m_gate(gate), m_lGeneration(lGeneration), m_bInside(false) {
    m_bInside = m_gate.Reenter(m_lGeneration);
}

CReadGate::CEntry::~CEntry() {
    if (m_bInside)
        m_gate.Leave();
}

void CReadGate::CEntry::StepOut() {
    if (m_bInside)
        m_gate.Leave();
    m_bInside = false;
}

bool CReadGate::CEntry::StepIn() {
    if (!m_bInside)
        m_bInside = m_gate.Reenter(m_lGeneration);
    return m_bInside;
}
