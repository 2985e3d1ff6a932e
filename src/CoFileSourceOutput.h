// CFileSourceOutput: the source filter's output pin. It offers the bytes of
// one file, unparsed, through IAsyncReader, as an adaptor over the current
// recording (Reader/Recording.h): it checks the caller's arguments, takes a
// reference to the recording, lets it wait and read, and lets it go. A read
// near the end of a file another process still writes waits for the margin,
// the writer's close, a flush or the filter's stop (m_cancel). SetFileName
// installs a new recording and abandons the old one: a read that began on
// the old one ends on it (its bytes, or ERROR_OPERATION_ABORTED when it
// waited). Request and WaitForNext go through m_requests (AsyncRequests.h);
// a flush ends the queued requests and the waits, and returns once the
// request being served has ended. Sources: CoFileSourceOutputFile.cpp (the
// file), CoFileSourceOutputRead.cpp (IAsyncReader), CoFileSourceOutputLife.cpp
// (creation, run-time settings, statistics), CoFileSourceOutputSettings.cpp
// (the stored setting).
//
// ---- Locks, in the order they may be taken:
//   filter object lock -> filter state lock -> pin lock -> m_csFile ->
//   one of { m_csRecording, m_csConn, the cancellation's, a recording's,
//   the request queue's }.
// The ones in braces are leaves. No lock is held while a read waits or
// copies. The pin lock (object root) serialises Connect and Disconnect only;
// the read path never takes it (Wine's splitter reads from its own thread
// while Connect waits in its ReceiveConnection). m_csFile serialises
// SetFileName, admission wait included; nothing else takes it.
//
// ---- Threads and who wakes them
//   The request queue's worker and WaitForNext's callers: AsyncRequests.h.
//   Reads waiting for growth: their waiter in m_cancel (BeginFlush, the
//     filter's stop, a new file), else their look (GROWTH_LOOK_TIME).
//   The statistics thread: m_shTimer (every second, first after 10 s) and
//     m_shStopThread (FinalRelease).
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "AsyncRequests.h"
#include "DShowX/VEZizurad.h"
#include "FileSourceConstants.h"
#include "Reader/Recording.h"
#include "Reader/WaitCancel.h"
#include "WinAPI/CriticalSection.h"
#include "WinAPI/Wrappers.h"

class CFileSourceOutput : public COutputPin, public IAsyncReader, private IWaitRules, private IRequestReader {
public:
    CFileSourceOutput();
    ~CFileSourceOutput();

    BEGIN_INTERFACE_TABLE(CFileSourceOutput)
    INTERFACE_ENTRY(IPin)
    INTERFACE_ENTRY(IQualityControl)
    INTERFACE_ENTRY_FUNC(IID_IAsyncReader, (&COutputPin::QueryReader<CFileSourceOutput, IAsyncReader>))
    END_INTERFACE_TABLE()

    HRESULT FinalConstruct();
    void FinalRelease();

    // IAsyncReader (BeginFlush and EndFlush also serve IPin).
    STDMETHOD(RequestAllocator)
    (IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps, IMemAllocator** ppActual) override;
    STDMETHOD(Request)(IMediaSample* pSample, DWORD_PTR dwUser) override;
    STDMETHOD(WaitForNext)(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) override;
    STDMETHOD(SyncReadAligned)(IMediaSample* pSample) override;
    STDMETHOD(SyncRead)(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) override;
    STDMETHOD(Length)(LONGLONG* pTotal, LONGLONG* pAvailable) override;
    STDMETHOD(BeginFlush)() override;
    STDMETHOD(EndFlush)() override;

    // IPin: a new connection's reads wait again (see FilterStopped); the
    // requests a splitter never collected end with its connection.
    STDMETHOD(Connect)(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHOD(Disconnect)() override;

    // ---- the filter's state changes (called under its state lock)
    // The filter stops. After streaming this ends the reads waiting for
    // growth, and those made while it stays stopped do not wait (Wine's graph
    // reads on while it tears down). Before (a splitter connecting) reads
    // wait for their own bytes, up to the admission stall time of no growth.
    void FilterStopped(bool bWasStreaming);
    // The filter leaves the stopped state, or a new file is loaded.
    void FilterStarting();

    // ---- the file (CoFileSourceOutputFile.cpp)
    // Opens the file (its full path, exactly in the ANSI code page). A
    // growing file is admitted first (CRecording::WaitForAdmission; a newer
    // call ends that wait). A failure leaves no file open. The media type is
    // taken from the first bytes once the wait is over.
    HRESULT SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) EXCLUDES(m_csFile);
    // True when no other process holds the open file for writing (or that
    // cannot be told); false while a writer is active or without a file.
    bool IsWriteComplete();
    // The name in CoTaskMemAlloc memory (null without a file) and, when pmt
    // is given, a copy of the media type. Never waits for a SetFileName.
    HRESULT GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt);
    // How long a wait that no flush can end (the admission, a read while
    // the filter is stopped) waits without growth (ADMISSION_STALL_TIME;
    // shortened by tests).
    void SetAdmissionStallTime(DWORD dwMilliseconds) { m_dwAdmissionStall.store(dwMilliseconds); }

    // ---- the read path (CoFileSourceOutputRead.cpp)
    // *pcbRead, when given, gets the bytes delivered from the file.
    HRESULT InternalSyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer, LONG* pcbRead = NULL);
    // The file size, measured now or as last measured; -1 without a file or
    // when the measurement fails.
    LONGLONG GetFileLength(BOOL bMeasure);

    // ---- settings and statistics (CoFileSourceOutputLife.cpp)
    HRESULT LoadFromRegistry();
    HRESULT SaveToRegistry();
    HRESULT GetReadPos(LONGLONG* pllReadPos, LONG* plReadSpeed);
    // One pass of the statistics thread: the read rate of the last second
    // from the read position now and at the previous pass. Public for tests.
    void UpdateStatistics();
    // The wait margin: in effect now (in bytes), set in bytes (for good),
    // or set as a time of measured growth (DEFAULT_MARGIN_TIME until then).
    DWORD GetBuffSize();
    void SetBuffSize(DWORD dwBuffSize);  // capped at ORVEX_MAX_WAIT_MARGIN
    void SetMarginTime(DWORD dwMilliseconds);
    // The margin's bytes now, their time at the measured growth (ms; 0 before
    // it is measured), and whether it follows the growth.
    void GetMargin(DWORD* pdwBytes, DWORD* pdwMilliseconds, bool* pbMeasured);
    bool IsSeekingAllowed() const;
    bool SetSeekingAllowed(bool bAllow);  // true when the value changed
    DWORD GetWaitSize();
    // How fast the file grows, as the recording measures it (bytes/s).
    LONG GetWriteSpeed();
    LONG GetReadSpeed() const { return m_lReadSpeed.load(); }
    bool IsWriting();
    // The read position the statistics thread samples (tests set it).
    void SetReadPosition(LONGLONG llReadPos) { m_llReadPos.store(llReadPos); }

private:
    static DWORD WINAPI StatisticsThread(LPVOID pPin);

    // The current recording with a reference for the caller; null without.
    CRecording* AcquireRecording() EXCLUDES(m_csRecording);
    // Makes p (may be null) the current recording; the one before is
    // abandoned, its waits end.
    void InstallRecording(CRecording* p) EXCLUDES(m_csRecording);
    ReadRules WaitRules() override;
    bool IsMPEGFile(CRecording* pRecording);
    // One read through the current recording: *pcbRead the bytes delivered,
    // *pbCancelled whether a flush or stop ended its wait.
    HRESULT ReadRange(LONGLONG llPosition, LONG lLength, BYTE* pb, LONG* pcbRead, bool* pbCancelled);
    // A request wholly past the end of a finished file (measured once more:
    // it may be written again), and not in the estimated tail.
    bool IsPastFinishedEnd(LONGLONG llPosition, LONG lLength);
    // IRequestReader, for m_requests.
    bool TryServeAtOnce(LONGLONG llPosition, LONG lLength, BYTE* pb, LONG* pcbRead, HRESULT* phr) override;
    HRESULT ServeRequest(LONGLONG llPosition, LONG lLength, BYTE* pb, LONG* pcbRead) override;
    // Ends what is queued and drops what the splitter did not collect.
    void DropRequests();

    CWaitCancel m_cancel;
    CCriticalSection m_csFile;
    std::atomic<DWORD> m_dwAdmissionStall;
    LONG volatile m_lLoadTicket;  // counts SetFileName calls; a newer one ends a waiting one
    CCriticalSection m_csRecording;
    CRecording* m_pRecording GUARDED_BY(m_csRecording);

    std::atomic<LONG> m_bAllowSeeking;
    std::atomic<bool> m_bMarginSet;  // SetBuffSize was called: a margin in bytes
    std::atomic<DWORD> m_dwBuffSize;
    std::atomic<DWORD> m_dwMarginTime;
    std::atomic<LONG> m_lAlign;  // agreed by RequestAllocator; 0: no check
    std::atomic<LONGLONG> m_llReadPos;
    std::atomic<LONG> m_lReadSpeed;
    // The statistics thread's previous read position; only it touches it
    // (tests call UpdateStatistics with no thread running a pass).
    LONGLONG m_llPrevReadPos;
    CSmartHandle m_shTimer;
    CSmartHandle m_shStopThread;
    CSmartHandle m_shTimerThread;

    // When Length last measured the file (tick count); one for the process.
    static LONG volatile s_lLengthTick;
    // Last: FinalRelease ends its worker before anything it reads through.
    CAsyncRequests m_requests;
};
