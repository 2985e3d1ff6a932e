// CCriticalSection: the system's critical section (recursive, as the
// platform's), as a lock the clang analysis knows (WinAPI/ThreadAnnotations.h).
// CCritSecLock holds one for a scope, so every early return lets it go; it
// can let go in the middle of its scope and take the lock again, for a wait
// that must not hold the lock.
//
// These two are the only code that calls EnterCriticalSection and
// LeaveCriticalSection.
#pragma once

#include <windows.h>

#include "WinAPI/ThreadAnnotations.h"

class CAPABILITY("critical section") CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&m_cs); }
    ~CCriticalSection() { DeleteCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Enter() ACQUIRE() { EnterCriticalSection(&m_cs); }
    void Leave() RELEASE() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

class SCOPED_CAPABILITY CCritSecLock {
public:
    explicit CCritSecLock(CCriticalSection& cs) ACQUIRE(cs) : m_cs(cs), m_bHeld(true) { m_cs.Enter(); }
    ~CCritSecLock() RELEASE() {
        if (m_bHeld)
            m_cs.Leave();
    }
    CCritSecLock(const CCritSecLock&) = delete;
    CCritSecLock& operator=(const CCritSecLock&) = delete;

    // Lets the lock go before the end of the scope, and takes it again.
    void Unlock() RELEASE() {
        m_bHeld = false;
        m_cs.Leave();
    }
    void Lock() ACQUIRE() {
        m_cs.Enter();
        m_bHeld = true;
    }

private:
    CCriticalSection& m_cs;
    bool m_bHeld;
};
