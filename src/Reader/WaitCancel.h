// CWaitCancel: what ends the waits of reads for a growing file. The pin owns
// one and hands it to every wait as an argument. Each wait registers a
// CWaiter for its scope; Hold (a flush, the filter's stop) ends the waits
// registered then and every wait that registers until the matching Release,
// so a flush that meets no wait leaves nothing behind for the ones after it.
// WakeAll (a new file) wakes every wait to look at its recording again.
//
// ---- Lock
// m_cs guards the waiters, each waiter's m_bCancelled, m_dwHeld and the pool
// of events; a leaf, held only to change them and to set a waiter's event.
//
// ---- Who wakes a waiter
// Its own auto-reset event (from the pool while it is registered), set by
// Hold and WakeAll; otherwise the time-out its wait gives. It may find its
// event set by a wake meant for the waiter that had it before: a wait looks
// at its conditions after every wake-up, so that costs one look.
#pragma once

#include <windows.h>

#include <vector>

#include "WinAPI/CriticalSection.h"

class CWaitCancel {
public:
    // Why waits end: the pin is flushed, or the filter stopped after
    // streaming. Both may hold at once.
    enum : DWORD { kFlush = 1, kStop = 2 };

    CWaitCancel() : m_dwHeld(0), m_pWaiters(NULL) {}
    ~CWaitCancel();
    CWaitCancel(const CWaitCancel&) = delete;
    CWaitCancel& operator=(const CWaitCancel&) = delete;

    // Ends every wait registered now, and every wait that registers until
    // Release(dwReason).
    void Hold(DWORD dwReason) EXCLUDES(m_cs);
    void Release(DWORD dwReason) EXCLUDES(m_cs);
    bool IsHeld(DWORD dwReason) EXCLUDES(m_cs);
    // Wakes every registered wait without ending it.
    void WakeAll() EXCLUDES(m_cs);

    // One wait, registered for its scope.
    class CWaiter {
    public:
        explicit CWaiter(CWaitCancel& cancel);
        ~CWaiter();
        CWaiter(const CWaiter&) = delete;
        CWaiter& operator=(const CWaiter&) = delete;

        bool IsCancelled();
        // Sleeps up to dwMilliseconds, less when cancelled or woken.
        void Sleep(DWORD dwMilliseconds);

    private:
        friend class CWaitCancel;
        CWaitCancel& m_cancel;
        HANDLE m_hEvent;  // from the pool; null when none could be had (the wait then sleeps)
        // Under m_cancel.m_cs (not annotated: the analysis cannot tell that
        // a waiter in the list belongs to the CWaitCancel that walks it).
        bool m_bCancelled;
        CWaiter* m_pNext;
    };

private:
    CCriticalSection m_cs;
    DWORD m_dwHeld GUARDED_BY(m_cs);
    CWaiter* m_pWaiters GUARDED_BY(m_cs);
    std::vector<HANDLE> m_arrFreeEvents GUARDED_BY(m_cs);
};
