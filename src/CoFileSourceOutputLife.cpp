// CFileSourceOutput as an object: construction, FinalConstruct and
// FinalRelease, the run-time settings, and the statistics thread that
// measures once a second how fast the file grows and how fast it is read.
#include <windows.h>

#include "CoFileSourceOutput.h"
#include "DShowX/DSParsers.h"

namespace {}  // namespace

CFileSourceOutput::CFileSourceOutput()
    : COutputPin("FileSource Out - "),
      m_bFlushing(FALSE),
      m_lWriting(0),
      m_bAllowSeeking(0),
      m_llFinishedSize(0),
      m_llToldTotal(0),
      m_dwBuffSize(DEFAULT_WAIT_MARGIN),
      m_dwWaitSize(0),
      m_llReadPos(0),
      m_lReadSpeed(0),
      m_llWritePos(0),
      m_lWriteSpeed(0),
      m_lAlign(0),
      m_llPrevReadPos(0),
      m_llPrevWritePos(0),
      m_lWriterSeen(0),
      m_lLoadTicket(0),
      m_dwAdmissionStall(ADMISSION_STALL_TIME),
      m_lFlushCount(0),
      m_lStopped(0),
      m_lStopSignalled(0),
      m_requests(this) {
    CCritSecLock lock(m_csFile);
    ResetFileState();
}

CFileSourceOutput::~CFileSourceOutput() {
    // No read can be in the gate: the last reference is gone.
    ASSERT(m_gate.IsIdle());
}

HRESULT CFileSourceOutput::FinalConstruct() {
    DSTrace(TRACE_APP2, 8, "CFileSourceOutput::FinalConstruct\n");
    if (FAILED(LoadFromRegistry()))
        DSTrace(TRACE_APP2, 8, "CFileSourceOutput::FinalConstruct - LoadFromRegistry FAILED\n");

    HRESULT hr = m_fileRead.Init(PIN_BLOCK_SIZE, PIN_CACHE_SIZE);
    if (FAILED(hr)) {
        CHAR szCache[CONV_BUFFER_SIZE];
        DSTrace(TRACE_APP2, 1,
                "###Err### CFileSourceOutput::FinalConstruct - m_fileRead.Init( cbBlockSize = %u , "
                "cbCacheSize = %s ) "
                "FAILED hr = 0x%08X\n",
                (UINT)PIN_BLOCK_SIZE, LL2Str(PIN_CACHE_SIZE, szCache), hr);
        return hr;
    }

    m_shFlash = CreateEvent(NULL, FALSE, FALSE, NULL);
    if (!m_shFlash) {
        const DWORD dwErr = GetLastError();
        DSTrace(TRACE_APP2, 1,
                "###Err### CFileSourceOutput::FinalConstruct - CreateEvent(m_shFlash) FAILED dwErr = %d\n",
                dwErr);
        ASSERT(FALSE);
        return LastErrorResult(dwErr);
    }
    hr = m_gate.Init();
    if (FAILED(hr)) {
        DSTrace(TRACE_APP2, 1,
                "###Err### CFileSourceOutput::FinalConstruct - CreateEvent(gate) FAILED hr = 0x%08X\n", hr);
        return hr;
    }
    hr = m_requests.Init();
    if (FAILED(hr)) {
        DSTrace(
            TRACE_APP2, 1,
            "###Err### CFileSourceOutput::FinalConstruct - the request queue's events FAILED hr = 0x%08X\n",
            hr);
        return hr;
    }

    // Without the statistics thread the pin still works; its rates stay 0.
    m_shTimer = CreateWaitableTimer(NULL, FALSE, NULL);
    if (!m_shTimer) {
        DSTrace(TRACE_APP2, 1,
                "###Err### CFileSourceOutput::FinalConstruct - CreateWaitableTimer() FAILED dwErr = %d\n",
                GetLastError());
        return S_OK;
    }
    LARGE_INTEGER liDue;
    liDue.QuadPart = STATISTICS_FIRST_TICK;
    if (!SetWaitableTimer(m_shTimer, &liDue, STATISTICS_PERIOD, NULL, NULL, FALSE)) {
        DSTrace(TRACE_APP2, 1,
                "###Err### CFileSourceOutput::FinalConstruct - SetWaitableTimer() FAILED dwErr = %d\n",
                GetLastError());
        m_shTimer.Close();
        return S_OK;
    }
    m_shStopThread = CreateEvent(NULL, FALSE, FALSE, NULL);
    if (!m_shStopThread) {
        DSTrace(
            TRACE_APP2, 1,
            "###Err### CFileSourceOutput::FinalConstruct - CreateEvent(m_shStopThread) FAILED dwErr = %d\n",
            GetLastError());
        m_shTimer.Close();
        return S_OK;
    }
    m_shTimerThread = CreateThread(NULL, 0, StatisticsThread, this, 0, NULL);
    if (!m_shTimerThread) {
        DSTrace(
            TRACE_APP2, 1,
            "###Err### CFileSourceOutput::FinalConstruct - CreateThread() (for timer) FAILED dwErr = %d\n",
            GetLastError());
        m_shTimer.Close();
        return S_OK;
    }
    return S_OK;
}

void CFileSourceOutput::FinalRelease() {
    DSTrace(TRACE_APP2, 8, "CFileSourceOutput::FinalRelease\n");
    // The worker may wait for growth: the flush ends that, then it ends.
    DropRequests();
    m_requests.Shutdown();
    if (m_shTimerThread) {
        SetEvent(m_shStopThread);
        if (WaitForSingleObject(m_shTimerThread, STATISTICS_STOP_TIME) != WAIT_OBJECT_0) {
            TerminateThread(m_shTimerThread, 0);
            // A thread that could not be ended still uses this object,
            // which must not be freed under it. It only waits for its two
            // handles and copies two positions, so it ends soon.
            WaitForSingleObject(m_shTimerThread, INFINITE);
        }
        CancelWaitableTimer(m_shTimer);
    }
    if (FAILED(SaveToRegistry()))
        DSTrace(TRACE_APP2, 8, "CFileSourceOutput::FinalRelease - SaveToRegistry FAILED\n");
}

// ---------------------------------------------------------------- settings

DWORD CFileSourceOutput::GetBuffSize() const {
    return (DWORD)InterlockedCompareExchange((LONG volatile*)&m_dwBuffSize, 0, 0);
}

void CFileSourceOutput::SetBuffSize(DWORD dwBuffSize) {
    InterlockedExchange((LONG volatile*)&m_dwBuffSize,
                        (LONG)(dwBuffSize < ORVEX_MAX_WAIT_MARGIN ? dwBuffSize : ORVEX_MAX_WAIT_MARGIN));
}

bool CFileSourceOutput::IsSeekingAllowed() const {
    return InterlockedCompareExchange(const_cast<LONG volatile*>(&m_bAllowSeeking), 0, 0) > 0;
}

bool CFileSourceOutput::SetSeekingAllowed(bool bAllow) {
    return InterlockedExchange(&m_bAllowSeeking, bAllow ? 1 : 0) != (bAllow ? 1 : 0);
}

DWORD CFileSourceOutput::GetWaitSize() const {
    return (DWORD)InterlockedCompareExchange((LONG volatile*)&m_dwWaitSize, 0, 0);
}

LONG CFileSourceOutput::GetWriteSpeed() const {
    return InterlockedCompareExchange(const_cast<LONG volatile*>(&m_lWriteSpeed), 0, 0);
}

LONG CFileSourceOutput::GetReadSpeed() const {
    return InterlockedCompareExchange(const_cast<LONG volatile*>(&m_lReadSpeed), 0, 0);
}

bool CFileSourceOutput::IsWriting() const {
    return InterlockedCompareExchange(const_cast<LONG volatile*>(&m_lWriting), 0, 0) == 1;
}

// ---------------------------------------------------------------- statistics

void CFileSourceOutput::GetPositions(LONGLONG* pllReadPos, LONGLONG* pllWritePos) {
    CCritSecLock lock(m_csStats);
    *pllReadPos = m_llReadPos;
    *pllWritePos = m_llWritePos;
}

void CFileSourceOutput::SetPositions(LONGLONG llReadPos, LONGLONG llWritePos) {
    CCritSecLock lock(m_csStats);
    m_llReadPos = llReadPos;
    m_llWritePos = llWritePos;
}

HRESULT CFileSourceOutput::GetReadPos(LONGLONG* pllReadPos, LONG* plReadSpeed) {
    if (!pllReadPos)
        return RefuseCall(E_POINTER, "CFileSourceOutput::GetReadPos - null pllReadPos");
    CCritSecLock lock(m_csStats);
    *pllReadPos = m_llReadPos;
    if (plReadSpeed)
        *plReadSpeed = GetReadSpeed();
    return S_OK;
}

LONG CFileSourceOutput::NextRate(LONGLONG llPos, LONGLONG* pllPrevPos, LONG volatile* plSpeed,
                                 LPCSTR pszFormat) {
    // The first pass after creation only records where the file stands.
    if (*pllPrevPos != 0) {
        // Bytes in the last second; a position that went back (a new, smaller
        // file) counts as none, and a jump beyond 2 GiB as the largest rate.
        const LONGLONG llDelta = llPos > *pllPrevPos ? llPos - *pllPrevPos : 0;
        const LONG lNew = llDelta > 0x7FFFFFFF ? 0x7FFFFFFF : (LONG)llDelta;
        const LONG lOld = InterlockedCompareExchange(plSpeed, 0, 0);
        CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE], szC[CONV_BUFFER_SIZE], szD[CONV_BUFFER_SIZE];
        DSTrace(TRACE_APP1, 10, pszFormat, LL2Str(*pllPrevPos, szA), LL2Str(llPos, szB),
                LL2Str(lOld / 128, szC), LL2Str(lNew / 128, szD));
        // Halves the weight of the past each second; a second without
        // progress starts again from 0.
        const LONG lSpeed = lNew == 0 ? 0 : lOld == 0 ? lNew : (LONG)(((LONGLONG)lOld + lNew) / 2);
        InterlockedExchange(plSpeed, lSpeed);
    }
    *pllPrevPos = llPos;
    return InterlockedCompareExchange(plSpeed, 0, 0);
}

void CFileSourceOutput::UpdateStatistics() {
    LONGLONG llReadPos = 0, llWritePos = 0;
    GetPositions(&llReadPos, &llWritePos);
    NextRate(llWritePos, &m_llPrevWritePos, &m_lWriteSpeed,
             "[Speed Write] Pos ( Old: %s, New: %s ) Speed: ( Old: %s, New: %s )\n");
    NextRate(llReadPos, &m_llPrevReadPos, &m_lReadSpeed,
             "[Speed Read] Pos ( Old: %s, New: %s ) Speed: ( Old: %s, New: %s )\n");
}

DWORD WINAPI CFileSourceOutput::StatisticsThread(LPVOID pPin) {
    ASSERT(pPin);
    if (!pPin)
        return 0;
    CFileSourceOutput* const p = static_cast<CFileSourceOutput*>(pPin);
    // Woken by the timer once a second, ended by the stop event (or a failed
    // wait).
    const HANDLE arrHandles[2] = {p->m_shTimer, p->m_shStopThread};
    while (WaitForMultipleObjects(2, arrHandles, FALSE, INFINITE) == WAIT_OBJECT_0)
        p->UpdateStatistics();
    return 0;
}
