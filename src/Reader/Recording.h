// CRecording: one file the pin serves, from its opening until the last read
// that began on it has ended. It knows the file (its full path and the open
// file's identity), the cache it reads through, whether a writer still grows
// it (CWriterVerdict, from the writer probe of WriterProbe.h and the growth
// measured), how fast it grows (CGrowthMeter), the size it was finished at
// and the total the pin told for it. It answers three questions: how much
// may be read now, wait until a range and the margin past it are there (or
// the recording has ended, or the wait is cancelled), and read a range. A
// finished recording that grows past its finished size is written again.
//
// Reference counted: the pin holds the current recording, and each read
// holds the one it began on until it ends, so a read never touches the next
// file. Abandon (a newer file, the pin's end) ends its waits for good.
//
// ---- Lock
// m_cs guards the verdict, the meter, m_llFinishedSize and m_bAbandoned (and
// the writes of m_lWriting, read without it). A leaf: no trace is written,
// no file call made and no other lock taken while it is held. The name, the
// identity and the cache are set by Open and not changed after; the cache
// has its own locks (Reader/FileRead.h).
#pragma once

#include <windows.h>

#include <atomic>

#include "FileSourceConstants.h"
#include "Reader/FileRead.h"
#include "Reader/GrowthMeter.h"
#include "Reader/WaitCancel.h"
#include "Reader/WriterProbe.h"
#include "Reader/WriterVerdict.h"
#include "WinAPI/CriticalSection.h"

// How a read may wait: whether at all (near the end of a growing file, and
// when it starts just past the end), how long without growth, and the margin
// past its end: bytes, or milliseconds of measured growth.
struct ReadRules {
    bool bMayWait;
    bool bPastEndWaits;
    DWORD dwStallLimit;  // INFINITE: no limit
    bool bMarginInTime;
    DWORD dwMargin;
};

// What the pin decides for a read that may have to wait; asked only then, so
// that a read served at once takes no lock for it.
class IWaitRules {
public:
    virtual ReadRules WaitRules() = 0;

protected:
    ~IWaitRules() = default;
};

class CRecording final : private IFileSizeObserver {
public:
    // Opens the file (its full path, in the ANSI code page) and settles
    // whether a writer still grows it. The new recording has one reference.
    static HRESULT Open(LPCSTR pszFullName, CRecording** ppRecording);
    ULONG AddRef();
    ULONG Release();

    LPCSTR FileName() const { return m_szFileName; }
    // Reads the first bytes for the pin's type check.
    HRESULT ReadHeader(BYTE* pb, DWORD cb, DWORD* pcbRead);

    // ---- what may be read now
    bool IsWriting() const { return m_lWriting.load() != 0; }
    // The size, measured now or as last measured; -1 when it cannot be had.
    LONGLONG GetFileLength(bool bMeasure);
    // The bytes a waiting read (or the admission) still misses; 0 when none.
    DWORD GetWaitSize() const { return m_dwWaitSize.load(); }
    // The margin the rules ask for now, in bytes.
    DWORD MarginBytes(const ReadRules& rules) EXCLUDES(m_cs);
    // How fast the file grows (bytes per second; 0 before it is measured),
    // and how long llBytes of it last (ms; 0 before).
    LONG WriteRate() EXCLUDES(m_cs);
    DWORD TimeOf(LONGLONG llBytes) EXCLUDES(m_cs);
    // Length told a growing file's total as this.
    void NoteToldTotal(LONGLONG llTotal) { m_llToldTotal.store(llTotal); }
    // Whether a read past the end of the finished file lies in the tail of
    // the total told while it grew, with the real end far below it.
    bool IsEstimatedTailProbe(LONGLONG llPosition, LONG lLength, LONGLONG llSize) const;
    // The writer probe alone: true unless another process writes the file
    // the name leads to and that file is still this one.
    bool IsWriteComplete();

    // ---- waits
    // Until the file holds GROWTH_THRESHOLD bytes (or ADMISSION_TIME of its
    // measured growth, and MIN_TIME_MARGIN), its writer has gone, it
    // has not grown for dwStall ms (ERROR_TIMEOUT), or *plTicket has moved on
    // from lTicket (ERROR_OPERATION_ABORTED). E_INVALIDARG when it ends
    // empty.
    HRESULT WaitForAdmission(CWaitCancel& cancel, const LONG volatile* plTicket, LONG lTicket, DWORD dwStall);

    // ---- one read
    // Serves [llPosition, +lLength) into pb, first waiting as the rules allow
    // near the end of a growing file; zeros for what is not delivered. S_OK,
    // S_FALSE (short), ERROR_HANDLE_EOF past the end of a finished file,
    // ERROR_OPERATION_ABORTED (abandoned while waiting), ERROR_TIMEOUT (a
    // limited wait saw no growth) or the file's failure. *pbCancelled: a
    // flush or stop ended its wait, and it read what was there.
    HRESULT Read(LONGLONG llPosition, LONG lLength, BYTE* pb, IWaitRules& rules, CWaitCancel& cancel,
                 LONG* pcbRead, bool* pbCancelled);

    // Serves the range from cached blocks alone: S_OK, or E_PENDING when it
    // would need the file (then nothing is promised about pb).
    HRESULT ReadCachedOnly(LONGLONG llPosition, LONG lLength, BYTE* pb) {
        return m_fileRead.ReadCachedOnly(llPosition, lLength, pb);
    }

    // Ends every wait on this recording, now and later.
    void Abandon(CWaitCancel& cancel) EXCLUDES(m_cs);

private:
    CRecording();
    ~CRecording() = default;

    HRESULT Measure(LONGLONG* pllSize);
    void OnFileMeasured(LONGLONG llSize) override EXCLUDES(m_cs);
    // Whether the writer has gone, probing when due; *pbAway whether it is
    // away (no writer seen since a probe met none). *pdwNextLook: when to
    // look again.
    bool WriterGone(DWORD* pdwNextLook, bool* pbAway = NULL) EXCLUDES(m_cs);
    // Finished at the size it has now (measured into *pllSize).
    HRESULT FinishNow(LONGLONG* pllSize) EXCLUDES(m_cs);
    // The copy from the cache; zeros for what the file does not deliver.
    HRESULT CopyRange(LONGLONG llPosition, LONG lLength, BYTE* pb, LONG* pcbRead);
    // Whether the writer's verdict ends a wait for [.., llEnd): it has gone
    // (the recording finished), or is away and the bytes are there.
    bool WriterEndsWait(LONGLONG llEnd, LONGLONG* pllSize, DWORD* pdwNextLook, HRESULT* phr);
    bool IsAbandoned() EXCLUDES(m_cs);
    HRESULT WaitForRange(LONGLONG llEnd, IWaitRules& rules, CWaitCancel& cancel, LONGLONG* pllSize,
                         bool* pbCancelled);
    // Whether the admission may end at llSize: GROWTH_THRESHOLD, or
    // ADMISSION_TIME of measured growth.
    bool IsAdmitted(LONGLONG llSize) EXCLUDES(m_cs);

    std::atomic<LONG> m_nRefs;
    CHAR m_szFileName[FILE_NAME_SIZE];
    FileIdentity m_idFile;
    std::atomic<LONG> m_lWriting;         // 1 while a writer grows the file; written under m_cs
    std::atomic<LONGLONG> m_llToldTotal;  // the estimated total Length gave; 0: none
    std::atomic<DWORD> m_dwWaitSize;
    CCriticalSection m_cs;
    CWriterVerdict m_verdict GUARDED_BY(m_cs);
    CGrowthMeter m_growth GUARDED_BY(m_cs);
    LONGLONG m_llFinishedSize GUARDED_BY(m_cs);  // the size it was last judged finished at
    bool m_bAbandoned GUARDED_BY(m_cs);
    // Last, so that it is destroyed first: its read-ahead thread reports
    // every measurement to OnFileMeasured, which takes m_cs and the meter,
    // until the cache's destructor has ended that thread.
    CCachedReadFile m_fileRead;
};

// A counted reference to a recording for a scope.
class CRecordingRef {
public:
    explicit CRecordingRef(CRecording* p = NULL) : m_p(p) {}
    ~CRecordingRef() {
        if (m_p)
            m_p->Release();
    }
    CRecordingRef(const CRecordingRef&) = delete;
    CRecordingRef& operator=(const CRecordingRef&) = delete;
    CRecording* operator->() const { return m_p; }
    CRecording* Get() const { return m_p; }
    explicit operator bool() const { return m_p != NULL; }

private:
    CRecording* m_p;
};
