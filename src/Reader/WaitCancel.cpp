// CWaitCancel (see the header).
#include "Reader/WaitCancel.h"

CWaitCancel::~CWaitCancel() {
    CCritSecLock lock(m_cs);
    for (HANDLE h : m_arrFreeEvents)
        CloseHandle(h);
}

void CWaitCancel::Hold(DWORD dwReason) {
    CCritSecLock lock(m_cs);
    m_dwHeld |= dwReason;
    for (CWaiter* p = m_pWaiters; p; p = p->m_pNext) {
        p->m_bCancelled = true;
        if (p->m_hEvent)
            SetEvent(p->m_hEvent);
    }
}

void CWaitCancel::Release(DWORD dwReason) {
    CCritSecLock lock(m_cs);
    m_dwHeld &= ~dwReason;
}

bool CWaitCancel::IsHeld(DWORD dwReason) {
    CCritSecLock lock(m_cs);
    return (m_dwHeld & dwReason) != 0;
}

void CWaitCancel::WakeAll() {
    CCritSecLock lock(m_cs);
    for (CWaiter* p = m_pWaiters; p; p = p->m_pNext)
        if (p->m_hEvent)
            SetEvent(p->m_hEvent);
}

CWaitCancel::CWaiter::CWaiter(CWaitCancel& cancel) : m_cancel(cancel), m_hEvent(NULL) {
    HANDLE hEvent = NULL;
    {
        CCritSecLock lock(m_cancel.m_cs);
        if (!m_cancel.m_arrFreeEvents.empty()) {
            hEvent = m_cancel.m_arrFreeEvents.back();
            m_cancel.m_arrFreeEvents.pop_back();
        }
    }
    // Made outside the lock: a kernel call, once per concurrent wait.
    if (!hEvent)
        hEvent = CreateEvent(NULL, FALSE, FALSE, NULL);
    CCritSecLock lock(m_cancel.m_cs);
    m_hEvent = hEvent;
    m_bCancelled = m_cancel.m_dwHeld != 0;
    m_pNext = m_cancel.m_pWaiters;
    m_cancel.m_pWaiters = this;
}

CWaitCancel::CWaiter::~CWaiter() {
    CCritSecLock lock(m_cancel.m_cs);
    for (CWaiter** pp = &m_cancel.m_pWaiters; *pp; pp = &(*pp)->m_pNext) {
        if (*pp == this) {
            *pp = m_pNext;
            break;
        }
    }
    if (m_hEvent)
        m_cancel.m_arrFreeEvents.push_back(m_hEvent);
}

bool CWaitCancel::CWaiter::IsCancelled() {
    CCritSecLock lock(m_cancel.m_cs);
    return m_bCancelled;
}

void CWaitCancel::CWaiter::Sleep(DWORD dwMilliseconds) {
    if (m_hEvent)
        WaitForSingleObject(m_hEvent, dwMilliseconds);
    else
        ::Sleep(dwMilliseconds);
}
