// CRecording: one read, and its wait for the file to grow (see the header).
#include <string.h>

#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"
#include "Reader/Recording.h"

namespace {

const HRESULT kAborted = HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED);
const HRESULT kPastEnd = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);

}  // namespace

HRESULT CRecording::Read(LONGLONG llPosition, LONG lLength, BYTE* pb, IWaitRules& rules, CWaitCancel& cancel,
                         LONG* pcbRead, bool* pbCancelled) {
    *pcbRead = 0;
    *pbCancelled = false;
    const LONGLONG llEnd = llPosition + lLength;
    LONGLONG llSize = m_fileRead.GetLastFileSize();
    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE], szC[CONV_BUFFER_SIZE], szD[CONV_BUFFER_SIZE],
        szE[CONV_BUFFER_SIZE];
    DSTrace(TRACE_APP1, 8,
            ">>> InternalSyncRead[ Delta = %s ]: Size = %s Position = %s Length = %s End = %s\n",
            LL2Str(llSize - llPosition, szA), LL2Str(llSize, szB), LL2Str(llPosition, szC),
            LL2Str(lLength, szD), LL2Str(llEnd, szE));

    HRESULT hr = S_OK;
    // Past what is known: a growing file may have grown, a finished one may
    // be written again (the measurement tells the verdict).
    if (llEnd > llSize)
        hr = Measure(&llSize);
    // Near the end of a growing file a read waits; so does one that starts
    // just past the end while the filter streams (a pull pin queues its
    // requests ahead of the live edge). Farther out, or while the splitter
    // connects (probing the stream and the estimated tail), zeros at once.
    if (SUCCEEDED(hr) && IsWriting() && llEnd + GROWTH_THRESHOLD > llSize &&
        llPosition - llSize < GROWTH_THRESHOLD) {
        const ReadRules now = rules.WaitRules();
        if (now.bMayWait && (llPosition <= llSize || now.bPastEndWaits))
            hr = WaitForRange(llEnd, rules, cancel, &llSize, pbCancelled);
    }
    if (FAILED(hr)) {
        memset(pb, 0, (size_t)lLength);
        if (hr == kAborted)
            DSTrace(TRACE_APP1, 1,
                    "###Err### CFileSourceOutput::InternalSyncRead - file CHANGED, read ABORTED\n");
        return hr;
    }

    if (llPosition > llSize) {
        DSTrace(TRACE_APP1, 1, "###Err### CFileSourceOutput::InternalSyncRead - Read after and of file\n");
        memset(pb, 0, (size_t)lLength);
        // While the file grows its end is not known yet: a splitter probing
        // the tail of the estimated total as it connects gets zeros and
        // S_FALSE, also once the writer has closed (its answer must not
        // change with that moment: a failure there ends its connection).
        // Past the end of a finished file the read fails, which ends a
        // pull-mode splitter's stream; Wine's would otherwise read zeros up
        // to the estimated total and hang in Stop. Nothing is sent
        // downstream: in pull mode the splitter delivers the end of stream.
        return IsWriting() || IsEstimatedTailProbe(llPosition, lLength, llSize) ? S_FALSE : kPastEnd;
    }

    return CopyRange(llPosition, lLength, pb, pcbRead);
}

HRESULT CRecording::CopyRange(LONGLONG llPosition, LONG lLength, BYTE* pb, LONG* pcbRead) {
    const HRESULT hr = m_fileRead.CachedRead(llPosition, lLength, pb, pcbRead);
    if (*pcbRead < 0 || *pcbRead > lLength)
        *pcbRead = 0;
    // The caller may take any success for a full buffer: what the file could
    // not deliver reads as zeros, never as what the buffer held before.
    if (*pcbRead < lLength)
        memset(pb + *pcbRead, 0, (size_t)(lLength - *pcbRead));
    if (FAILED(hr) && hr != kPastEnd)
        return hr;
    return *pcbRead == lLength ? S_OK : S_FALSE;
}

bool CRecording::WriterEndsWait(LONGLONG llEnd, LONGLONG* pllSize, DWORD* pdwNextLook, HRESULT* phr) {
    bool bAway = false;
    if (WriterGone(pdwNextLook, &bAway)) {
        *phr = FinishNow(pllSize);
        DSTrace(TRACE_APP2, 8,
                "CFileSourceOutput::InternalSyncRead - File write COMPLETED - WAITING BREAK.\n");
        return true;
    }
    // With no writer at the file, nothing is being written that the margin
    // would keep the read clear of: bytes that are there are served, so that
    // playback goes on through a recorder's pause between chunks or its last
    // close; only bytes not written yet wait.
    return bAway && *pllSize >= llEnd;
}

HRESULT CRecording::WaitForRange(LONGLONG llEnd, IWaitRules& rules, CWaitCancel& cancel, LONGLONG* pllSize,
                                 bool* pbCancelled) {
    // Registered before anything is looked at: a flush, a stop or a newer
    // file that comes from now on reaches this wait.
    CWaitCancel::CWaiter waiter(cancel);
    DWORD dwGrown = GetTickCount();
    HRESULT hr = S_OK;
    CHAR szA[CONV_BUFFER_SIZE];
    for (;;) {
        // The rules and the margin may change while the read waits (the
        // graph starts, growth is measured).
        const ReadRules now = rules.WaitRules();
        const LONGLONG llNeed = llEnd + (LONGLONG)MarginBytes(now);
        if (*pllSize >= llNeed || !now.bMayWait)
            break;
        m_dwWaitSize.store((DWORD)(llNeed - *pllSize));
        DSTrace(TRACE_APP1, 8, ">>> InternalSyncRead - WAITING... [rest %s bytes]\n",
                LL2Str(llNeed - *pllSize, szA));
        if (IsAbandoned()) {
            hr = kAborted;
            break;
        }
        if (waiter.IsCancelled()) {
            *pbCancelled = true;
            DSTrace(TRACE_APP2, 8,
                    cancel.IsHeld(CWaitCancel::kStop)
                        ? "CFileSourceOutput::InternalSyncRead - filter STOPPED - WAITING BREAK.\n"
                        : "CFileSourceOutput::InternalSyncRead - CFileSourceOutput::BeginFlush() CALLED - "
                          "WAITING "
                          "BREAK.\n");
            break;
        }
        DWORD dwNextLook = 0;
        if (WriterEndsWait(llEnd, pllSize, &dwNextLook, &hr))
            break;
        // A limited wait (the filter is stopped: a splitter reading while it
        // connects, where no flush can come) gives up on a stalled recorder.
        if (now.dwStallLimit != INFINITE && GetTickCount() - dwGrown >= now.dwStallLimit) {
            DSTrace(TRACE_APP1, 1,
                    "###Err### CFileSourceOutput::InternalSyncRead - no growth: wait TIMED OUT\n");
            hr = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
            break;
        }
        waiter.Sleep(dwNextLook < GROWTH_LOOK_TIME ? dwNextLook : GROWTH_LOOK_TIME);
        const LONGLONG llBefore = *pllSize;
        hr = Measure(pllSize);
        if (FAILED(hr))
            break;
        if (*pllSize > llBefore)
            dwGrown = GetTickCount();
    }
    m_dwWaitSize.store(0);
    return hr;
}
