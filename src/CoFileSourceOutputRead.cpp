// CFileSourceOutput: IAsyncReader and the read path. Every read goes through
// the block cache; a read near the end of a growing file first waits for the
// file to grow (InternalSyncRead, WaitForGrowth). The read path takes no
// lock across a wait and never the pin lock.
#include <windows.h>

#include <string.h>

#include "CoFileSourceOutput.h"
#include "DShowX/DSParsers.h"

namespace {

const HRESULT kAborted = HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED);
const HRESULT kPastEnd = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);

}  // namespace

LONG volatile CFileSourceOutput::s_lLengthTick = 0;

// ---------------------------------------------------------------- IAsyncReader

STDMETHODIMP CFileSourceOutput::RequestAllocator(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps,
                                                 IMemAllocator** ppActual) {
    DSTrace(TRACE_APP1, 8, "CFileSourceOutput::RequestAllocator()\n");
    if (ppActual)
        *ppActual = NULL;
    // A downstream pin need not prefer an allocator: then the library's own
    // is agreed.
    if (!pProps || !ppActual)
        return RefuseCall(E_POINTER,
                          "CFileSourceOutput::RequestAllocator - null properties or result pointer");

    HRESULT hr = AllocatorAgree(pPreferred, pProps, ppActual);
    if (FAILED(hr)) {
        DSTrace(TRACE_APP2, 8, "CFileSourceOutput::RequestAllocator - AllocatorAgree() FAILED hr = 0x%08X",
                hr);
        InterlockedExchange(&m_lAlign, 0);
        return hr;
    }
    ASSERT(*ppActual);
    ALLOCATOR_PROPERTIES props = {};
    hr = (*ppActual)->GetProperties(&props);
    if (FAILED(hr)) {
        DSTrace(
            TRACE_APP2, 1,
            "###Err### CFileSourceOutput::RequestAllocator - (*ppActual)->GetProperties() FAILED hr = 0x%08X",
            hr);
        // A failure hands out nothing, and no alignment is enforced.
        (*ppActual)->Release();
        *ppActual = NULL;
        InterlockedExchange(&m_lAlign, 0);
        return hr;
    }
    InterlockedExchange(&m_lAlign, props.cbAlign);
    return S_OK;
}

STDMETHODIMP CFileSourceOutput::Request(IMediaSample* pSample, DWORD_PTR dwUser) {
    DSTrace(TRACE_APP1, 8, "CFileSourceOutput::Request()\n");
    LONGLONG llStart = 0;
    LONG lLength = 0;
    BYTE* pbBuffer = NULL;
    const HRESULT hr = SampleRange(pSample, "CFileSourceOutput::Request", &llStart, &lLength, &pbBuffer);
    if (FAILED(hr))
        return hr;
    if (!GetFilter())
        return RefuseCall(E_UNEXPECTED, "CFileSourceOutput::Request - the filter is in no graph");
    // Refused at once, as the platform's reader does: a splitter that asks
    // past the end of a finished file ends its stream here.
    if (IsPastFinishedEnd(llStart, lLength))
        return kPastEnd;
    return m_requests.Request(pSample, dwUser, llStart, lLength, pbBuffer);
}

STDMETHODIMP CFileSourceOutput::WaitForNext(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) {
    DSTrace(TRACE_APP1, 8, "CFileSourceOutput::WaitForNext( dwTimeout = %d )\n", dwTimeout);
    return m_requests.WaitForNext(dwTimeout, ppSample, pdwUser);
}

HRESULT CFileSourceOutput::SampleRange(IMediaSample* pSample, LPCSTR pszCaller, LONGLONG* pllStart,
                                       LONG* plLength, BYTE** ppb) {
    if (!pSample)
        return RefuseCall(E_POINTER, "CFileSourceOutput::SampleRange - null sample");

    REFERENCE_TIME rtStart = 0, rtStop = 0;
    HRESULT hr = pSample->GetTime(&rtStart, &rtStop);
    if (FAILED(hr)) {
        DSTrace(TRACE_APP2, 1, "###Err### %s - pSample->GetTime() FAILED hr = 0x%08X\n", pszCaller, hr);
        return hr;
    }
    // Sample times carry byte positions times 10,000,000.
    const LONGLONG llStart = rtStart / 10000000;
    const LONGLONG llStop = rtStop / 10000000;
    // The splitter's request, not our state: a bad one gets its code.
    if (rtStop <= rtStart || llStop < llStart || llStart < 0)
        return RefuseCall(E_INVALIDARG, "CFileSourceOutput::SampleRange - stop time not after start time");

    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE];
    const LONG cbBuffer = pSample->GetSize();
    if ((LONGLONG)cbBuffer < llStop - llStart) {
        DSTrace(TRACE_APP2, 1, "###Err### %s - INSUFFICIENT BUFFER ( Need: %s Have: %s )\n", pszCaller,
                LL2Str(llStop - llStart, szA), LL2Str(cbBuffer, szB));
        return E_FAIL;
    }
    const LONG lAlign = InterlockedCompareExchange(&m_lAlign, 0, 0);
    if (lAlign != 0 && (llStart % lAlign != 0 || llStop % lAlign != 0)) {
        DSTrace(TRACE_APP2, 1, "###Err### %s - INVALID ALIGMENT ( Start: %d - Stop: %d )\n", pszCaller,
                (int)(llStart % lAlign), (int)(llStop % lAlign));
        return VFW_E_BADALIGN;
    }
    BYTE* pbBuffer = NULL;
    hr = pSample->GetPointer(&pbBuffer);
    if (FAILED(hr)) {
        DSTrace(TRACE_APP2, 1, "###Err### %s - pSample->GetPointer() FAILED hr = 0x%08X\n", pszCaller, hr);
        return hr;
    }
    if (!pbBuffer)
        return RefuseCall(E_POINTER, "CFileSourceOutput::SampleRange - sample without a buffer");
    *pllStart = llStart;
    *plLength = (LONG)(llStop - llStart);
    *ppb = pbBuffer;
    return S_OK;
}

STDMETHODIMP CFileSourceOutput::SyncReadAligned(IMediaSample* pSample) {
    DSTrace(TRACE_APP1, 8, "CFileSourceOutput::SyncReadAligned()\n");
    LONGLONG llStart = 0;
    LONG lLength = 0;
    BYTE* pbBuffer = NULL;
    const HRESULT hr =
        SampleRange(pSample, "CFileSourceOutput::SyncReadAligned", &llStart, &lLength, &pbBuffer);
    if (FAILED(hr))
        return hr;
    return InternalSyncRead(llStart, lLength, pbBuffer);
}

STDMETHODIMP CFileSourceOutput::SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) {
    DSTrace(TRACE_APP1, 8, "CFileSourceOutput::SyncRead()\n");
    return InternalSyncRead(llPosition, lLength, pBuffer);
}

STDMETHODIMP CFileSourceOutput::Length(LONGLONG* pTotal, LONGLONG* pAvailable) {
    if (!pTotal || !pAvailable)
        return RefuseCall(E_POINTER, "CFileSourceOutput::Length - null result pointer");
    *pTotal = *pAvailable = 0;
    _FilterStateBase* const pFilter = GetFilter();
    if (!pFilter)
        return RefuseCall(E_ABORT, "CFileSourceOutput::Length - the filter is in no graph");

    // At most one measurement per interval in the process, claimed by the
    // caller that moves the time stamp.
    bool bMeasure = false;
    const DWORD dwNow = GetTickCount();
    const LONG lLast = InterlockedCompareExchange(&s_lLengthTick, 0, 0);
    if (dwNow - (DWORD)lLast > LENGTH_MEASURE_INTERVAL && pFilter->PeekState() == State_Running)
        bMeasure = InterlockedCompareExchange(&s_lLengthTick, (LONG)dwNow, lLast) == lLast;
    LONGLONG llSize = -1;
    LONG lGeneration = 0;
    if (bMeasure) {
        // Not while a swap holds the gate closed: the size as last measured
        // does then.
        CReadGate::CEntry entry(m_gate, false);
        llSize = GetFileLength(entry.IsInside(), &lGeneration);
    } else {
        llSize = GetFileLength(FALSE, &lGeneration);
    }
    if (llSize < 0) {
        DSTrace(TRACE_APP1, 8, "CFileSourceOutput::Length - GetFileLength() FAILED\n");
        return E_FAIL;
    }

    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE];
    const LONGLONG llAvailable = llSize > GROWTH_THRESHOLD ? llSize - GROWTH_THRESHOLD : 0;
    if (!IsWriting()) {
        *pTotal = *pAvailable = llSize;
        DSTrace(TRACE_APP1, 8, "CFileSourceOutput::Length() (%s) - S_OK pTotal = %s pAvailable = %s\n",
                "File Closed", LL2Str(*pTotal, szA), LL2Str(*pAvailable, szB));
        return S_OK;
    }
    if (IsSeekingAllowed()) {
        *pTotal = *pAvailable = llAvailable;
        DSTrace(TRACE_APP1, 8, "CFileSourceOutput::Length() (%s) - S_OK pTotal = %s pAvailable = %s\n",
                "File opened", LL2Str(*pTotal, szA), LL2Str(*pAvailable, szB));
        return S_OK;
    }
    *pTotal = llSize > ESTIMATED_TOTAL ? llSize : ESTIMATED_TOTAL;
    *pAvailable = llAvailable;
    {
        // Kept for the file measured only: a swap meanwhile told nothing
        // about the next one.
        CCritSecLock lock(m_gate.m_cs);
        if (m_gate.IsFileOpenLocked() && m_gate.GenerationLocked() == lGeneration)
            m_llToldTotal.store(*pTotal);
    }
    DSTrace(TRACE_APP1, 8,
            "CFileSourceOutput::Length() (File opened) - VFW_S_ESTIMATED pTotal = %s pAvailable = %s\n",
            LL2Str(*pTotal, szA), LL2Str(*pAvailable, szB));
    return VFW_S_ESTIMATED;
}

STDMETHODIMP CFileSourceOutput::BeginFlush() {
    DSTrace(TRACE_APP1, 8, "CFileSourceOutput::BeginFlush()\n");
    // Queued requests end at once; the one being served ends with its wait,
    // and the flush returns once it has, so that the splitter can collect
    // every sample right after.
    m_requests.BeginFlush();
    {
        CCritSecLock lock(m_gate.m_cs);
        m_bFlushing = TRUE;
        InterlockedIncrement(&m_lFlushCount);
    }
    SetEvent(m_shFlash);
    m_requests.WaitUntilIdle();
    return S_OK;
}

STDMETHODIMP CFileSourceOutput::EndFlush() {
    DSTrace(TRACE_APP1, 8, "CFileSourceOutput::EndFlush()\n");
    // m_shFlash stays as it is: a signal no waiting read took ends the next
    // wait at once.
    {
        CCritSecLock lock(m_gate.m_cs);
        m_bFlushing = FALSE;
    }
    m_requests.EndFlush();
    return S_OK;
}

STDMETHODIMP CFileSourceOutput::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    InterlockedExchange(&m_lStopped, 0);
    return COutputPin::Connect(pReceivePin, pmt);
}

STDMETHODIMP CFileSourceOutput::Disconnect() {
    const HRESULT hr = COutputPin::Disconnect();
    if (hr == S_OK)
        DropRequests();
    return hr;
}

void CFileSourceOutput::DropRequests() {
    if (!m_requests.HasPending())
        return;
    BeginFlush();
    m_requests.DropPending();
    EndFlush();
}

// ---------------------------------------------------------------- queued reads

bool CFileSourceOutput::TryServeAtOnce(LONGLONG llPosition, LONG lLength, BYTE* pb, LONG* pcbRead,
                                       HRESULT* phr) {
    // What the read path would do without a wait: the size as last measured
    // and the cache's index, no kernel call. A block dropped between this
    // look and the copy is read from the file, rarely.
    if (IsFlushing())
        return false;
    const LONGLONG llSize = GetFileLength(FALSE);
    const LONGLONG llEnd = llPosition + lLength;
    if (llSize < 0 || llEnd > llSize || (IsWriting() && llEnd + GROWTH_THRESHOLD > llSize))
        return false;
    const LONGLONG cbBlock = m_fileRead.BlockSize();
    if (cbBlock <= 0)
        return false;
    for (LONGLONG llBlock = llPosition - llPosition % cbBlock; llBlock < llEnd; llBlock += cbBlock)
        if (!m_fileRead.Blocks().IsIndexed(llBlock))
            return false;
    *phr = InternalSyncRead(llPosition, lLength, pb, pcbRead);
    return true;
}

HRESULT CFileSourceOutput::ServeRequest(LONGLONG llPosition, LONG lLength, BYTE* pb, LONG* pcbRead) {
    const LONG lFlushes = InterlockedCompareExchange(&m_lFlushCount, 0, 0);
    const HRESULT hr = InternalSyncRead(llPosition, lLength, pb, pcbRead);
    if (FAILED(hr))
        return hr;
    // A flush, or the stop of a recording's playback, ended its wait: what
    // it holds is not what was asked for.
    const bool bFlushed = IsFlushing() || InterlockedCompareExchange(&m_lFlushCount, 0, 0) != lFlushes;
    if (bFlushed || (hr == S_FALSE && IsWriting() && IsStoppedAfterStreaming())) {
        *pcbRead = 0;
        return VFW_E_WRONG_STATE;
    }
    return hr;
}

bool CFileSourceOutput::IsPastFinishedEnd(LONGLONG llPosition, LONG lLength) {
    if (IsWriting())
        return false;
    LONGLONG llSize = GetFileLength(FALSE);
    if (llPosition < llSize || IsEstimatedTailProbe(llPosition, lLength))
        return false;
    if (llSize >= 0) {
        // A recorder may have appended since the file was last measured.
        CReadGate::CEntry entry(m_gate, false);
        if (entry.IsInside())
            llSize = GetFileLength(TRUE);
    }
    return !IsWriting() && llPosition >= llSize;
}

// ---------------------------------------------------------------- the filter's state

void CFileSourceOutput::FilterStopped(bool bWasStreaming) {
    if (!bWasStreaming)
        return;
    InterlockedExchange(&m_lStopped, 1);
    // Wakes a waiting read at once; the signal is taken back when the filter
    // starts again, should no read have taken it.
    if (GetWaitSize() != 0) {
        InterlockedExchange(&m_lStopSignalled, 1);
        SetEvent(m_shFlash);
    }
}

void CFileSourceOutput::FilterStarting() {
    InterlockedExchange(&m_lStopped, 0);
    if (InterlockedExchange(&m_lStopSignalled, 0))
        ResetEvent(m_shFlash);
}

bool CFileSourceOutput::IsStoppedAfterStreaming() const {
    return InterlockedCompareExchange(const_cast<LONG volatile*>(&m_lStopped), 0, 0) != 0;
}

// ---------------------------------------------------------------- the read path

LONGLONG CFileSourceOutput::GetFileLength(BOOL bMeasure, LONG* plGeneration) {
    LONG lGeneration;
    {
        CCritSecLock lock(m_gate.m_cs);
        if (!m_gate.IsFileOpenLocked())
            return -1;
        lGeneration = m_gate.GenerationLocked();
    }
    if (plGeneration)
        *plGeneration = lGeneration;
    // Measuring uses the cache's file handle: the caller is inside the gate.
    const LONGLONG llSize = bMeasure ? m_fileRead.GetFileSize() : m_fileRead.GetLastFileSize();
    {
        CCritSecLock lock(m_csStats);
        m_llWritePos = llSize;
    }
    NoteSize(lGeneration, llSize);
    return llSize;
}

bool CFileSourceOutput::MeasureFile(LONG lGeneration, LONGLONG* pllSize) {
    CReadGate::CEntry entry(m_gate, lGeneration, true);
    if (!entry.IsInside())
        return false;
    *pllSize = GetFileLength(TRUE);
    return true;
}

bool CFileSourceOutput::IsEstimatedTailProbe(LONGLONG llPosition, LONG lLength) const {
    const LONGLONG llTold = m_llToldTotal.load();
    return llTold > ESTIMATED_TAIL_SIZE && llPosition >= llTold - ESTIMATED_TAIL_SIZE &&
           llPosition + lLength <= llTold;
}

bool CFileSourceOutput::IsFlushing() {
    CCritSecLock lock(m_gate.m_cs);
    return m_bFlushing != 0;
}

HRESULT CFileSourceOutput::InternalSyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer, LONG* pcbRead) {
    const DWORD dwStart = GetTickCount();
    LONG cbIgnored = 0;
    if (!pcbRead)
        pcbRead = &cbIgnored;
    *pcbRead = 0;
    if (!pBuffer)
        return RefuseCall(E_POINTER, "CFileSourceOutput::InternalSyncRead - null buffer");
    // Refused before anything is read: the cache would copy whole blocks for
    // a negative length.
    if (lLength < 0 || llPosition < 0 || llPosition >= MAX_READ_POSITION)
        return RefuseCall(E_INVALIDARG, "CFileSourceOutput::InternalSyncRead - bad position or length");
    _FilterStateBase* const pFilter = GetFilter();
    if (!pFilter)
        return RefuseCall(E_UNEXPECTED, "CFileSourceOutput::InternalSyncRead - the filter is in no graph");
    if (lLength == 0)
        return S_OK;

    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE], szC[CONV_BUFFER_SIZE], szD[CONV_BUFFER_SIZE],
        szE[CONV_BUFFER_SIZE];
    CReadGate::CEntry entry(m_gate);
    LONGLONG llSize = GetFileLength(FALSE);
    DSTrace(TRACE_APP1, 8,
            ">>> InternalSyncRead[ Delta = %s ]: Size = %s Position = %s Length = %s End = %s\n",
            LL2Str(llSize - llPosition, szA), LL2Str(llSize, szB), LL2Str(llPosition, szC),
            LL2Str(lLength, szD), LL2Str(llPosition + lLength, szE));

    if (llPosition > llSize && llPosition > GetFileLength(TRUE)) {
        // Asked inside the gate: a swap cannot give the answer of the next
        // file to a read of this one.
        const bool bWriting = IsWriting();
        const bool bTailProbe = !bWriting && IsEstimatedTailProbe(llPosition, lLength);
        entry.StepOut();
        DSTrace(TRACE_APP1, 1, "###Err### CFileSourceOutput::InternalSyncRead - Read after and of file\n");
        memset(pBuffer, 0, (size_t)lLength);
        // While the file grows its end is not known yet: a splitter probing
        // the tail of the estimated total as it connects gets zeros and
        // S_FALSE. Past the end of a finished file the read fails, which ends
        // a pull-mode splitter's stream; Wine's would otherwise go on reading
        // zeros up to the estimated total, keep back the last frames it holds
        // and hang in Stop. Nothing is sent downstream: in pull mode the
        // splitter delivers the end of stream, and this is its own read
        // thread (Wine's splitter takes its filter lock in EndOfStream, which
        // its ReceiveConnection holds while it waits for these reads).
        // A splitter told the estimate may still probe its tail after the
        // writer has closed (the probe's answer must not change with that
        // moment: a failure there ends its connection).
        return bWriting || bTailProbe ? S_FALSE : kPastEnd;
    }

    {
        CCritSecLock lock(m_csStats);
        m_llReadPos = llPosition;
    }

    // A finished file may be written again (a recorder that appends): a read
    // that reaches past its end looks whether it has grown.
    if (!IsWriting() && llPosition + lLength > llSize)
        llSize = GetFileLength(TRUE);

    if (IsWriting() && llPosition + lLength + GROWTH_THRESHOLD > llSize && !IsFlushing()) {
        // With seeking allowed, a graph that is not running reads what there
        // is; so does a filter stopped after streaming. During a flush
        // nothing waits: the read answers what the file holds now.
        const FILTER_STATE eState = pFilter->GetStateLocked();
        if (eState == State_Running ||
            (!IsSeekingAllowed() && !(eState == State_Stopped && IsStoppedAfterStreaming()))) {
            entry.StepOut();
            HRESULT hr = WaitForGrowth(llPosition, lLength, llSize, entry.Generation());
            if (hr == S_OK && !entry.StepIn())
                hr = kAborted;
            if (FAILED(hr)) {
                // Another file was opened meanwhile: nothing of it belongs
                // to this read.
                memset(pBuffer, 0, (size_t)lLength);
                DSTrace(TRACE_APP1, 1,
                        "###Err### CFileSourceOutput::InternalSyncRead - file CHANGED, read ABORTED\n");
                return hr;
            }
        }
    }

    LONG cbRead = 0;
    m_fileRead.CachedRead(llPosition, lLength, pBuffer, &cbRead);
    entry.StepOut();
    if (cbRead < 0 || cbRead > lLength)
        cbRead = 0;
    *pcbRead = cbRead;
    // The caller may take any success for a full buffer: what the file could
    // not deliver reads as zeros, never as what the buffer held before.
    if (cbRead < lLength)
        memset(pBuffer + cbRead, 0, (size_t)(lLength - cbRead));

    const DWORD dwEnd = GetTickCount();
    DSTrace(TRACE_APP1, 8, "[FS] %s Need Read: %s Readed: %s Time: %s  - %s\n", dwEnd != dwStart ? "##" : "",
            LL2Str(lLength, szA), LL2Str(cbRead, szB), RefTime2Str((LONGLONG)(dwEnd - dwStart) * 10000, szC),
            cbRead >= lLength ? "SUCCEEDED" : "END REACHED");
    return cbRead == lLength ? S_OK : S_FALSE;
}

HRESULT CFileSourceOutput::WaitForGrowth(LONGLONG llPosition, LONG lLength, LONGLONG llSize,
                                         LONG lGeneration) {
    const LONG lFlushes = InterlockedCompareExchange(&m_lFlushCount, 0, 0);
    HRESULT hr = S_OK;
    CHAR szA[CONV_BUFFER_SIZE];
    CHAR szName[FILE_NAME_SIZE];
    FileIdentity id;
    for (;;) {
        const LONGLONG llNeed = llPosition + lLength + (LONGLONG)GetBuffSize();
        const LONGLONG llMissing = llNeed > llSize ? llNeed - llSize : 0;
        InterlockedExchange((LONG volatile*)&m_dwWaitSize, (LONG)(DWORD)llMissing);
        DSTrace(TRACE_APP1, 8, ">>> InternalSyncRead - WAITING... [rest %s bytes]\n", LL2Str(llMissing, szA));

        if (CopyFileName(szName, &id) != lGeneration) {
            hr = kAborted;
            break;
        }
        DWORD dwNextLook = 0;
        if (WriterGone(szName, id, &dwNextLook)) {
            // Finished at the size it has now, for the file this read waits
            // on only.
            if (!MeasureFile(lGeneration, &llSize) || !MarkFinished(lGeneration, llSize)) {
                hr = kAborted;
                break;
            }
            DSTrace(TRACE_APP2, 8,
                    "CFileSourceOutput::InternalSyncRead - File write COMPLETED - WAITING BREAK.\n");
            break;
        }
        // A flush or the filter's stop ends every read waiting at the time:
        // the one that takes the event at once, the others at their next
        // poll. While a writer's grace runs out, the poll is shorter, so the
        // end comes no later than the grace after the writer's last close.
        const bool bSignalled = WaitForSingleObject(m_shFlash, dwNextLook) == WAIT_OBJECT_0;
        if (IsStoppedAfterStreaming()) {
            DSTrace(TRACE_APP2, 8, "CFileSourceOutput::InternalSyncRead - filter STOPPED - WAITING BREAK.\n");
            break;
        }
        if (bSignalled || InterlockedCompareExchange(&m_lFlushCount, 0, 0) != lFlushes || IsFlushing()) {
            DSTrace(TRACE_APP2, 8,
                    "CFileSourceOutput::InternalSyncRead - CFileSourceOutput::BeginFlush() CALLED - WAITING "
                    "BREAK.\n");
            break;
        }
        const LONGLONG llBefore = llSize;
        if (!MeasureFile(lGeneration, &llSize)) {
            hr = kAborted;
            break;
        }
        // Growth is a writer's sign too, seen or not.
        if (llSize > llBefore)
            NoteWriterSeen();
        if (llSize >= llPosition + lLength + (LONGLONG)GetBuffSize())
            break;
    }
    InterlockedExchange((LONG volatile*)&m_dwWaitSize, 0);
    return hr;
}
