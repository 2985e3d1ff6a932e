// CFileSourceOutput: IAsyncReader over the current recording, and the
// filter's state as the read path sees it. The read path takes no lock
// across a wait and never the pin lock.
#include <windows.h>

#include <string.h>

#include "CoFileSourceOutput.h"
#include "DShowX/DSParsers.h"

namespace {

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
        m_lAlign.store(0);
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
        m_lAlign.store(0);
        return hr;
    }
    m_lAlign.store(props.cbAlign);
    return S_OK;
}

STDMETHODIMP CFileSourceOutput::Request(IMediaSample* pSample, DWORD_PTR dwUser) {
    DSTrace(TRACE_APP1, 8, "CFileSourceOutput::Request()\n");
    LONGLONG llStart = 0;
    LONG lLength = 0;
    BYTE* pbBuffer = NULL;
    const HRESULT hr =
        SampleRange(pSample, m_lAlign.load(), "CFileSourceOutput::Request", &llStart, &lLength, &pbBuffer);
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

STDMETHODIMP CFileSourceOutput::SyncReadAligned(IMediaSample* pSample) {
    DSTrace(TRACE_APP1, 8, "CFileSourceOutput::SyncReadAligned()\n");
    LONGLONG llStart = 0;
    LONG lLength = 0;
    BYTE* pbBuffer = NULL;
    HRESULT hr = SampleRange(pSample, m_lAlign.load(), "CFileSourceOutput::SyncReadAligned", &llStart,
                             &lLength, &pbBuffer);
    if (FAILED(hr))
        return hr;
    LONG cbRead = 0;
    hr = InternalSyncRead(llStart, lLength, pbBuffer, &cbRead);
    // The sample holds what was delivered: a pull pin passes its length on.
    if (SUCCEEDED(hr))
        pSample->SetActualDataLength(cbRead);
    return hr;
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
    CRecordingRef rec(AcquireRecording());
    const LONGLONG llSize = rec ? rec->GetFileLength(bMeasure) : -1;
    if (llSize < 0) {
        DSTrace(TRACE_APP1, 8, "CFileSourceOutput::Length - GetFileLength() FAILED\n");
        return E_FAIL;
    }

    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE];
    const LONGLONG llAvailable = llSize > GROWTH_THRESHOLD ? llSize - GROWTH_THRESHOLD : 0;
    if (!rec->IsWriting() || IsSeekingAllowed()) {
        const bool bClosed = !rec->IsWriting();
        *pTotal = *pAvailable = bClosed ? llSize : llAvailable;
        DSTrace(TRACE_APP1, 8, "CFileSourceOutput::Length() (%s) - S_OK pTotal = %s pAvailable = %s\n",
                bClosed ? "File Closed" : "File opened", LL2Str(*pTotal, szA), LL2Str(*pAvailable, szB));
        return S_OK;
    }
    *pTotal = llSize > ESTIMATED_TOTAL ? llSize : ESTIMATED_TOTAL;
    *pAvailable = llAvailable;
    rec->NoteToldTotal(*pTotal);
    DSTrace(TRACE_APP1, 8,
            "CFileSourceOutput::Length() (File opened) - VFW_S_ESTIMATED pTotal = %s pAvailable = %s\n",
            LL2Str(*pTotal, szA), LL2Str(*pAvailable, szB));
    return VFW_S_ESTIMATED;
}

STDMETHODIMP CFileSourceOutput::BeginFlush() {
    DSTrace(TRACE_APP1, 8, "CFileSourceOutput::BeginFlush()\n");
    // Queued requests end at once, and the waits that exist now or begin
    // before EndFlush (nothing is left behind for the reads after it); the
    // flush returns once the request being served has ended.
    m_requests.BeginFlush();
    m_cancel.Hold(CWaitCancel::kFlush);
    m_requests.WaitUntilIdle();
    return S_OK;
}

STDMETHODIMP CFileSourceOutput::EndFlush() {
    DSTrace(TRACE_APP1, 8, "CFileSourceOutput::EndFlush()\n");
    m_cancel.Release(CWaitCancel::kFlush);
    m_requests.EndFlush();
    return S_OK;
}

STDMETHODIMP CFileSourceOutput::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    FilterStarting();
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
    // Only what needs neither a wait nor the file: a range inside the size
    // as last measured, clear of a growing file's end, every block cached.
    CRecordingRef rec(AcquireRecording());
    if (!rec || m_cancel.IsHeld(CWaitCancel::kFlush))
        return false;
    const LONGLONG llSize = rec->GetFileLength(false);
    const LONGLONG llEnd = llPosition + lLength;
    if (llEnd > llSize || (rec->IsWriting() && llEnd + GROWTH_THRESHOLD > llSize) ||
        rec->ReadCachedOnly(llPosition, lLength, pb) != S_OK)
        return false;
    m_llReadPos.store(llPosition);
    *pcbRead = lLength;
    *phr = S_OK;
    return true;
}

HRESULT CFileSourceOutput::ServeRequest(LONGLONG llPosition, LONG lLength, BYTE* pb, LONG* pcbRead) {
    bool bCancelled = false;
    const HRESULT hr = ReadRange(llPosition, lLength, pb, pcbRead, &bCancelled);
    // A flush, or the filter's stop, ended its wait: what it holds is not
    // what was asked for.
    if (SUCCEEDED(hr) && bCancelled) {
        *pcbRead = 0;
        return VFW_E_WRONG_STATE;
    }
    return hr;
}

bool CFileSourceOutput::IsPastFinishedEnd(LONGLONG llPosition, LONG lLength) {
    CRecordingRef rec(AcquireRecording());
    if (!rec)
        return true;
    if (rec->IsWriting() || llPosition < rec->GetFileLength(false))
        return false;
    // A recorder may have appended since the file was last measured.
    const LONGLONG llSize = rec->GetFileLength(true);
    return !rec->IsWriting() && llPosition >= llSize &&
           !rec->IsEstimatedTailProbe(llPosition, lLength, llSize);
}

// ---------------------------------------------------------------- the filter's state

void CFileSourceOutput::FilterStopped(bool bWasStreaming) {
    if (bWasStreaming)
        m_cancel.Hold(CWaitCancel::kStop);
}

void CFileSourceOutput::FilterStarting() {
    m_cancel.Release(CWaitCancel::kStop);
}

ReadRules CFileSourceOutput::WaitRules() {
    // With seeking allowed, a graph that is not running reads what there is.
    // A stopped filter is a splitter connecting: it waits, not for ever.
    const FILTER_STATE eState = GetFilter() ? GetFilter()->GetStateLocked() : State_Stopped;
    ReadRules rules;
    rules.bMayWait = eState == State_Running || !IsSeekingAllowed();
    rules.bPastEndWaits = eState != State_Stopped;
    rules.dwStallLimit = eState == State_Stopped ? m_dwAdmissionStall.load() : INFINITE;
    // The margin keeps playback clear of the recorder; a splitter's look at
    // the stream as it connects needs only the bytes it asks for (playback
    // then starts at the stream's beginning, far behind the live edge).
    rules.bMarginInTime = !m_bMarginSet.load() && eState != State_Stopped;
    rules.dwMargin = eState == State_Stopped ? 0
                     : rules.bMarginInTime   ? m_dwMarginTime.load()
                                             : m_dwBuffSize.load();
    return rules;
}

// ---------------------------------------------------------------- the read path

CRecording* CFileSourceOutput::AcquireRecording() {
    CCritSecLock lock(m_csRecording);
    if (m_pRecording)
        m_pRecording->AddRef();
    return m_pRecording;
}

void CFileSourceOutput::InstallRecording(CRecording* p) {
    if (p)
        p->AddRef();
    CRecording* pOld;
    {
        CCritSecLock lock(m_csRecording);
        pOld = m_pRecording;
        m_pRecording = p;
    }
    if (pOld) {
        if (pOld != p)
            pOld->Abandon(m_cancel);
        pOld->Release();
    }
}

LONGLONG CFileSourceOutput::GetFileLength(BOOL bMeasure) {
    CRecordingRef rec(AcquireRecording());
    return rec ? rec->GetFileLength(bMeasure != FALSE) : -1;
}

HRESULT CFileSourceOutput::InternalSyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer, LONG* pcbRead) {
    const DWORD dwStart = GetTickCount();
    LONG cbRead = 0;
    bool bCancelled = false;
    const HRESULT hr = ReadRange(llPosition, lLength, pBuffer, &cbRead, &bCancelled);
    if (pcbRead)
        *pcbRead = cbRead;
    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE], szC[CONV_BUFFER_SIZE];
    const DWORD dwEnd = GetTickCount();
    DSTrace(TRACE_APP1, 8, "[FS] %s Need Read: %s Readed: %s Time: %s  - %s\n", dwEnd != dwStart ? "##" : "",
            LL2Str(lLength, szA), LL2Str(cbRead, szB), RefTime2Str((LONGLONG)(dwEnd - dwStart) * 10000, szC),
            cbRead >= lLength ? "SUCCEEDED" : "END REACHED");
    return hr;
}

HRESULT CFileSourceOutput::ReadRange(LONGLONG llPosition, LONG lLength, BYTE* pb, LONG* pcbRead,
                                     bool* pbCancelled) {
    *pcbRead = 0;
    *pbCancelled = false;
    if (!pb)
        return RefuseCall(E_POINTER, "CFileSourceOutput::InternalSyncRead - null buffer");
    // Refused before anything is read: the cache would copy whole blocks for
    // a negative length.
    if (lLength < 0 || llPosition < 0 || llPosition >= MAX_READ_POSITION)
        return RefuseCall(E_INVALIDARG, "CFileSourceOutput::InternalSyncRead - bad position or length");
    if (!GetFilter())
        return RefuseCall(E_UNEXPECTED, "CFileSourceOutput::InternalSyncRead - the filter is in no graph");
    if (lLength == 0)
        return S_OK;
    m_llReadPos.store(llPosition);
    CRecordingRef rec(AcquireRecording());
    if (!rec) {
        memset(pb, 0, (size_t)lLength);
        return kPastEnd;
    }
    return rec->Read(llPosition, lLength, pb, *this, m_cancel, pcbRead, pbCancelled);
}
