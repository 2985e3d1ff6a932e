// CRecording: opening, the writer probe and verdict, and the figures (see
// the header). The waits and the read are in RecordingRead.cpp.
#include "Reader/Recording.h"

#include <new>
#include <string.h>

#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"
#include "WinAPI/Functions.h"
#include "WinAPI/WriterProcess.h"

CRecording::CRecording()
    : m_nRefs(1),
      m_idFile(),
      m_lWriting(0),
      m_llToldTotal(0),
      m_dwWaitSize(0),
      m_llFinishedSize(0),
      m_bAbandoned(false) {
    m_szFileName[0] = 0;
}

ULONG CRecording::AddRef() {
    return (ULONG)++m_nRefs;
}

ULONG CRecording::Release() {
    const LONG n = --m_nRefs;
    if (n == 0)
        delete this;
    return (ULONG)n;
}

HRESULT CRecording::Open(LPCSTR pszFullName, CRecording** ppRecording) {
    *ppRecording = NULL;
    if (strlen(pszFullName) >= FILE_NAME_SIZE)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    CRecordingRef rec(new (std::nothrow) CRecording);
    if (!rec)
        return E_OUTOFMEMORY;
    strcpy(rec->m_szFileName, pszFullName);

    HRESULT hr = rec->m_fileRead.Init(PIN_BLOCK_SIZE, PIN_CACHE_SIZE);
    if (FAILED(hr)) {
        CHAR szCache[CONV_BUFFER_SIZE];
        DSTrace(
            TRACE_APP2, 1,
            "###Err### CFileSourceOutput::SetFileName - m_fileRead.Init( cbBlockSize = %u , cbCacheSize = %s "
            ") FAILED hr = 0x%08X\n",
            (UINT)PIN_BLOCK_SIZE, LL2Str(PIN_CACHE_SIZE, szCache), hr);
        return hr;
    }
    rec->m_fileRead.SetSizeObserver(rec.Get());
    hr = rec->m_fileRead.OpenFile(pszFullName);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (SUCCEEDED(hr) && !rec->m_fileRead.GetFileInformation(&info))
        hr = LastErrorResult(GetLastError());
    if (FAILED(hr)) {
        if (HRESULT_FACILITY(hr) == FACILITY_WIN32)
            DSTrace(TRACE_APP2, 1,
                    "###Err### CFileSourceOutput::SetFileName(%s) - CreateFile() FAILED dwRes = %d\n",
                    pszFullName, HRESULT_CODE(hr));
        else
            DSTrace(TRACE_APP2, 1,
                    "###Err### CFileSourceOutput::SetFileName(%s) - m_fileRead.OpenFile() FAILED hr = %d\n",
                    pszFullName, hr);
        return hr;
    }
    rec->m_idFile = FileIdentity::Of(info);

    // Whether the file still grows is settled before any read can see it.
    const bool bWriter = !rec->IsWriteComplete();
    LONGLONG llSize = 0;
    hr = rec->Measure(&llSize);
    if (FAILED(hr))
        return hr;
    {
        CCritSecLock lock(rec->m_cs);
        rec->m_verdict.Start(GetTickCount(), bWriter, llSize, MillisecondsSince(info.ftLastWriteTime));
        const bool bWriting = !rec->m_verdict.HasEnded(GetTickCount());
        rec->m_lWriting.store(bWriting ? 1 : 0);
        rec->m_llFinishedSize = bWriting ? 0 : llSize;
    }
    rec->AddRef();
    *ppRecording = rec.Get();
    return S_OK;
}

HRESULT CRecording::ReadHeader(BYTE* pb, DWORD cb, DWORD* pcbRead) {
    return m_fileRead.ReadUncached(0, pb, cb, pcbRead);
}

HRESULT CRecording::Measure(LONGLONG* pllSize) {
    const HRESULT hr = m_fileRead.MeasureFileSize(pllSize);
    if (FAILED(hr))
        *pllSize = -1;
    return hr;
}

LONGLONG CRecording::GetFileLength(bool bMeasure) {
    LONGLONG llSize = m_fileRead.GetLastFileSize();
    if (bMeasure)
        Measure(&llSize);
    return llSize;
}

void CRecording::OnFileMeasured(LONGLONG /*llSize*/) {
    // Threads that measure at once may report out of order; the size the
    // cache stored last is the latest in the order measured.
    const LONGLONG llSize = m_fileRead.GetLastFileSize();
    bool bAgain = false;
    {
        CCritSecLock lock(m_cs);
        const DWORD dwNow = GetTickCount();
        m_growth.Sample(dwNow, llSize);
        if (!IsWriting() && llSize > m_llFinishedSize && !m_bAbandoned) {
            m_verdict.Restart(dwNow, llSize);
            m_lWriting.store(1);
            bAgain = true;
        } else {
            m_verdict.OnSize(dwNow, llSize);
        }
    }
    if (bAgain) {
        CHAR szSize[CONV_BUFFER_SIZE];
        DSTrace(TRACE_APP2, 8, "CFileSourceOutput - finished file GROWS AGAIN (size %s): being written\n",
                LL2Str(llSize, szSize));
    }
}

DWORD CRecording::MarginBytes(const ReadRules& rules) {
    if (!rules.bMarginInTime)
        return rules.dwMargin;
    CCritSecLock lock(m_cs);
    return (DWORD)m_growth.MarginFor(rules.dwMargin, DEFAULT_WAIT_MARGIN);
}

LONG CRecording::WriteRate() {
    CCritSecLock lock(m_cs);
    double dRate = 0;
    if (!m_growth.Rate(&dRate) || dRate <= 0)
        return 0;
    return dRate >= 0x7FFFFFFF ? 0x7FFFFFFF : (LONG)dRate;
}

DWORD CRecording::TimeOf(LONGLONG llBytes) {
    CCritSecLock lock(m_cs);
    return m_growth.TimeOf(llBytes);
}

bool CRecording::IsAdmitted(LONGLONG llSize) {
    if (llSize >= GROWTH_THRESHOLD)
        return true;
    if (llSize < MIN_TIME_MARGIN)
        return false;
    CCritSecLock lock(m_cs);
    const DWORD dwHeld = m_growth.TimeOf(llSize);
    return dwHeld >= ADMISSION_TIME;
}

bool CRecording::IsEstimatedTailProbe(LONGLONG llPosition, LONG lLength, LONGLONG llSize) const {
    // Only where the real end lies far below the told total: a recording that
    // really ends in the tail must end there, not get zeros past its end.
    const LONGLONG llTold = m_llToldTotal.load();
    return llTold - llSize > ESTIMATED_TAIL_SIZE && llPosition >= llTold - ESTIMATED_TAIL_SIZE &&
           llPosition + lLength <= llTold;
}

bool CRecording::IsWriteComplete() {
    return ProbeWriteComplete(m_szFileName, m_idFile);
}

bool CRecording::WriterGone(DWORD* pdwNextLook, bool* pbAway) {
    bool bProbe;
    {
        CCritSecLock lock(m_cs);
        bProbe = m_verdict.ClaimProbe(GetTickCount());
    }
    if (bProbe) {
        const bool bWriter = !IsWriteComplete();
        const bool bExited = !bWriter && HasWriterProcessExited(m_szFileName);
        CCritSecLock lock(m_cs);
        m_verdict.OnProbe(GetTickCount(), bWriter, bExited);
    }
    CCritSecLock lock(m_cs);
    if (pbAway)
        *pbAway = m_verdict.IsAway();
    return m_verdict.HasEnded(GetTickCount(), pdwNextLook);
}

HRESULT CRecording::FinishNow(LONGLONG* pllSize) {
    const HRESULT hr = Measure(pllSize);
    if (FAILED(hr))
        return hr;
    CCritSecLock lock(m_cs);
    m_llFinishedSize = *pllSize;
    m_lWriting.store(0);
    return S_OK;
}

bool CRecording::IsAbandoned() {
    CCritSecLock lock(m_cs);
    return m_bAbandoned;
}

void CRecording::Abandon(CWaitCancel& cancel) {
    {
        CCritSecLock lock(m_cs);
        m_bAbandoned = true;
    }
    // A wait registers with the cancellation before it looks at m_bAbandoned:
    // it sees the flag, or it is woken here.
    cancel.WakeAll();
}

HRESULT CRecording::WaitForAdmission(CWaitCancel& cancel, const LONG volatile* plTicket, LONG lTicket,
                                     DWORD dwStall) {
    CWaitCancel::CWaiter waiter(cancel);
    LONGLONG llLast = -1;
    DWORD dwGrown = GetTickCount();
    HRESULT hr = S_OK;
    for (;;) {
        LONGLONG llSize = 0;
        hr = Measure(&llSize);
        if (FAILED(hr) || IsAdmitted(llSize))
            break;
        m_dwWaitSize.store((DWORD)(GROWTH_THRESHOLD - llSize));
        const DWORD dwNow = GetTickCount();
        if (llSize != llLast) {
            llLast = llSize;
            dwGrown = dwNow;
        }
        // A recorder that stalls must not hold the caller (the graph
        // manager's RenderFile, a player's user-interface thread) for ever.
        if (dwNow - dwGrown >= dwStall) {
            hr = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
            break;
        }
        if (InterlockedCompareExchange(const_cast<LONG volatile*>(plTicket), 0, 0) != lTicket ||
            IsAbandoned()) {
            hr = HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED);
            break;
        }
        DWORD dwNextLook = 0;
        if (WriterGone(&dwNextLook)) {
            // The writer has closed the file early: it is finished at
            // whatever size it has.
            hr = FinishNow(&llSize);
            if (SUCCEEDED(hr))
                hr = llSize > 0 ? S_OK : E_INVALIDARG;
            break;
        }
        waiter.Sleep(dwNextLook < GROWTH_LOOK_TIME ? dwNextLook : GROWTH_LOOK_TIME);
    }
    m_dwWaitSize.store(0);
    return hr;
}
