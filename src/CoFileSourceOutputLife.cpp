// CFileSourceOutput as an object: construction, FinalConstruct and
// FinalRelease, the run-time settings, and the statistics thread that
// measures once a second how fast the file is read (how fast it grows, the
// recording measures with every look at its size).
#include <windows.h>

#include "CoFileSourceOutput.h"
#include "DShowX/DSParsers.h"

CFileSourceOutput::CFileSourceOutput()
    : COutputPin("FileSource Out - "),
      m_dwAdmissionStall(ADMISSION_STALL_TIME),
      m_lLoadTicket(0),
      m_pRecording(NULL),
      m_bAllowSeeking(0),
      m_bMarginSet(false),
      m_dwBuffSize(DEFAULT_WAIT_MARGIN),
      m_dwMarginTime(DEFAULT_MARGIN_TIME),
      m_lAlign(0),
      m_llReadPos(0),
      m_lReadSpeed(0),
      m_llPrevReadPos(0),
      m_requests(this) {}

CFileSourceOutput::~CFileSourceOutput() {
    // FinalRelease has let the recording go.
    CCritSecLock lock(m_csRecording);
    ASSERT(!m_pRecording);
}

HRESULT CFileSourceOutput::FinalConstruct() {
    DSTrace(TRACE_APP2, 8, "CFileSourceOutput::FinalConstruct\n");
    if (FAILED(LoadFromRegistry()))
        DSTrace(TRACE_APP2, 8, "CFileSourceOutput::FinalConstruct - LoadFromRegistry FAILED\n");
    const HRESULT hr = m_requests.Init();
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
    InstallRecording(NULL);
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

DWORD CFileSourceOutput::GetBuffSize() {
    if (m_bMarginSet.load())
        return m_dwBuffSize.load();
    CRecordingRef rec(AcquireRecording());
    return rec ? rec->MarginBytes({false, false, INFINITE, true, m_dwMarginTime.load()})
               : DEFAULT_WAIT_MARGIN;
}

void CFileSourceOutput::SetBuffSize(DWORD dwBuffSize) {
    m_dwBuffSize.store(dwBuffSize < ORVEX_MAX_WAIT_MARGIN ? dwBuffSize : ORVEX_MAX_WAIT_MARGIN);
    m_bMarginSet.store(true);
}

void CFileSourceOutput::SetMarginTime(DWORD dwMilliseconds) {
    m_dwMarginTime.store(dwMilliseconds);
    m_bMarginSet.store(false);
}

void CFileSourceOutput::GetMargin(DWORD* pdwBytes, DWORD* pdwMilliseconds, bool* pbMeasured) {
    *pbMeasured = !m_bMarginSet.load();
    *pdwBytes = GetBuffSize();
    CRecordingRef rec(AcquireRecording());
    *pdwMilliseconds = rec ? rec->TimeOf(*pdwBytes) : 0;
}

LONG CFileSourceOutput::GetWriteSpeed() {
    CRecordingRef rec(AcquireRecording());
    return rec ? rec->WriteRate() : 0;
}

bool CFileSourceOutput::IsSeekingAllowed() const {
    return m_bAllowSeeking.load() > 0;
}

bool CFileSourceOutput::SetSeekingAllowed(bool bAllow) {
    return m_bAllowSeeking.exchange(bAllow ? 1 : 0) != (bAllow ? 1 : 0);
}

DWORD CFileSourceOutput::GetWaitSize() {
    CRecordingRef rec(AcquireRecording());
    return rec ? rec->GetWaitSize() : 0;
}

bool CFileSourceOutput::IsWriting() {
    CRecordingRef rec(AcquireRecording());
    return rec && rec->IsWriting();
}

// ---------------------------------------------------------------- statistics

HRESULT CFileSourceOutput::GetReadPos(LONGLONG* pllReadPos, LONG* plReadSpeed) {
    if (!pllReadPos)
        return RefuseCall(E_POINTER, "CFileSourceOutput::GetReadPos - null pllReadPos");
    *pllReadPos = m_llReadPos.load();
    if (plReadSpeed)
        *plReadSpeed = GetReadSpeed();
    return S_OK;
}

void CFileSourceOutput::UpdateStatistics() {
    const LONGLONG llPos = m_llReadPos.load();
    // The first pass after creation only records where the file stands.
    if (m_llPrevReadPos != 0) {
        // Bytes in the last second; a position that went back (a new, smaller
        // file) counts as none, and a jump beyond 2 GiB as the largest rate.
        const LONGLONG llDelta = llPos > m_llPrevReadPos ? llPos - m_llPrevReadPos : 0;
        const LONG lNew = llDelta > 0x7FFFFFFF ? 0x7FFFFFFF : (LONG)llDelta;
        const LONG lOld = m_lReadSpeed.load();
        CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE], szC[CONV_BUFFER_SIZE], szD[CONV_BUFFER_SIZE];
        DSTrace(TRACE_APP1, 10, "[Speed Read] Pos ( Old: %s, New: %s ) Speed: ( Old: %s, New: %s )\n",
                LL2Str(m_llPrevReadPos, szA), LL2Str(llPos, szB), LL2Str(lOld / 128, szC),
                LL2Str(lNew / 128, szD));
        // Halves the weight of the past each second; a second without
        // progress starts again from 0.
        m_lReadSpeed.store(lNew == 0 ? 0 : lOld == 0 ? lNew : (LONG)(((LONGLONG)lOld + lNew) / 2));
    }
    m_llPrevReadPos = llPos;
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
