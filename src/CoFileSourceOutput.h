// CFileSourceOutput: the source filter's output pin. It offers the bytes of
// one file, unparsed, through the pull interface IAsyncReader. A read near
// the end of a file that another process is still writing waits until the
// file has grown a margin past it, until the writer closes the file, until
// the pin is flushed or until the filter stops. Past the end of a finished
// file a read fails (ERROR_HANDLE_EOF), which ends a pull-mode splitter's
// stream. Only reads in the tail of the estimated total that Length gave
// while the file grew are answered as then, with zeros (see
// IsEstimatedTailProbe).
//
// ---- Whether the file is still written
// The file is followed, not its name: the pin keeps the full path it was
// loaded from (a later change of the current directory changes nothing)
// and the open file's identity (volume serial number and file index). The
// writer probe asks for read access while refusing others' writes, which
// fails exactly while some handle has write access; other readers, sharing
// or not, never change the answer. A name that no longer leads to the open
// file (the recording deleted, renamed, or replaced by a recorder starting
// again) means that nobody writes the open file any more. A "no writer"
// answer ends the recording only once no writer has been seen for
// WRITER_GRACE_TIME (a recorder that closes and reopens its file to append),
// and a finished file that grows past the size it was finished at is
// growing again (m_lWriting back to 1).
//
// ---- Queued reads
// Request and WaitForNext go to m_requests (AsyncRequests.h), which keeps
// their order and samples: a request whose bytes are cached is served at
// once on the caller's thread (TryServeAtOnce), any other by the queue's
// worker thread through the read path, as SyncRead (ServeRequest). A flush
// ends the queued requests and the wait of the one being served, and
// returns once it has ended; a disconnect and the pin's release drop what
// the splitter never collected.
//
// Sources: CoFileSourceOutputAdmission.cpp (file name, admission, the writer
// probe), CoFileSourceOutputRead.cpp (IAsyncReader and the read path),
// CoFileSourceOutputLife.cpp (creation and the statistics thread),
// CoFileSourceOutputSettings.cpp (the stored setting); the read gate is
// ReadGate.h, the block cache FileRead.h, the constants FileSourceConstants.h.
//
// ---- Locks, in the order they may be taken (never the other way):
//   filter object lock -> filter state lock -> pin lock -> m_csFile ->
//   one of { the gate's lock, m_csStats, m_csConn, the cache's own locks }.
// The locks in braces are leaves: held only to read or change the fields
// they guard, never nested in each other, never while a trace is written,
// and never across a call that can wait (m_csConn only across a peer's
// AddRef). The read path holds none of them while it waits, and takes the
// filter state lock only while it holds no lock at all. The fields below
// name their lock (GUARDED_BY), which clang's -Wthread-safety checks.
//   pin lock   (object root, recursive) Connect, Disconnect, SetSink and
//              the snapshot of EnumMediaTypes (see _PinBase). The read path
//              never takes it: Wine's splitter reads from its own thread
//              while Connect waits in its ReceiveConnection.
//   m_csFile   (recursive) serialises SetFileName, which holds it through
//              its whole run, admission wait included: the cache's opening
//              and closing and m_dwAdmissionStall. Nothing else takes it.
//   m_gate.m_cs the read gate's own fields (ReadGate.h), and here
//              m_bFlushing, m_szFileName, m_idFile, the writes of
//              m_llFinishedSize and m_llToldTotal, and m_lWriting while a
//              read changes it (so a change is made for its own file only;
//              a swap sets it while the gate is closed).
//   m_csStats  m_llReadPos, m_llWritePos, and the copy of m_lReadSpeed made
//              by GetReadPos.
//   m_csConn   (pin base) m_mt, m_spConnected, m_spFilter.
// Atomic, read without a lock: m_lWriting, m_llFinishedSize, m_llToldTotal,
// m_bAllowSeeking, m_dwBuffSize, m_dwWaitSize, m_lReadSpeed, m_lWriteSpeed,
// m_lAlign, m_lFlushCount, m_lStopped, m_lStopSignalled, m_lWriterSeen,
// m_lLoadTicket, and the process-wide time stamp of Length.
//
// ---- The file swap (SetFileName while reads are in flight or waiting)
// CachedRead must never run against a cache that is being closed or opened,
// and a read that began on one file must never copy from the next: every
// read and every measurement holds a CReadGate::CEntry while it uses
// m_fileRead. A read steps out of the gate while it waits for growth; every
// poll checks the generation before it asks whether the writer is gone
// (and clears m_lWriting only for its own generation, MarkFinished), every
// poll that measures the file, and the copy after the wait, step back in,
// and a changed generation ends the read with ERROR_OPERATION_ABORTED
// (buffer zero-filled) instead of touching the new file. The swap closes
// the gate (waiting only for reads inside), closes the cache, probes and
// opens the new file, sets the name, the identity and m_lWriting, and opens
// the gate; the admission wait runs with the gate open, the media type is
// set after it. So no SetFileName waits for a read that waits for growth,
// and a read waits for a swap only during its closed phase (close, probe,
// open). GetCurFile, Length and the control interface take neither
// m_csFile nor wait for the gate to open, so they answer at once while a
// SetFileName waits for a growing file; a newer SetFileName ends that wait.
//
// ---- Threads and who wakes them
//   The request queue's worker and the callers of WaitForNext: see
//     AsyncRequests.h. The queue's lock is a leaf, never held while the
//     read path runs.
//   Reads wait for growth on m_shFlash (auto-reset), set by BeginFlush and
//     by the filter's stop (FilterStopped), with a GROWTH_POLL_TIME poll; a
//     flush also advances m_lFlushCount and a stop sets m_lStopped, so that
//     every read waiting at that time ends at its next poll, not only the
//     one that consumed the event.
//   Reads and swaps wait on the gate's events (ReadGate.h).
//   The statistics thread waits on m_shTimer (every second, first after
//     10 s) and m_shStopThread (set by FinalRelease).
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "AsyncRequests.h"
#include "DShowX/VEZizurad.h"
#include "Reader/FileRead.h"
#include "FileSourceConstants.h"
#include "ReadGate.h"
#include "WinAPI/CriticalSection.h"
#include "WinAPI/Wrappers.h"

// What tells two open files apart: the volume and the file's index on it.
struct FileIdentity {
    DWORD dwVolume;
    DWORD dwIndexHigh;
    DWORD dwIndexLow;
    static FileIdentity Of(const BY_HANDLE_FILE_INFORMATION& info) {
        return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    }
    bool operator==(const FileIdentity& o) const {
        return dwVolume == o.dwVolume && dwIndexHigh == o.dwIndexHigh && dwIndexLow == o.dwIndexLow;
    }
};

class CFileSourceOutput : public COutputPin, public IAsyncReader, private IRequestReader {
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

    // IPin: a new connection reads as a connecting splitter does (below).
    STDMETHOD(Connect)(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    // Requests the splitter never collected end with the connection.
    STDMETHOD(Disconnect)() override;

    // ---- the filter's state changes (the filter calls them under its state
    // lock; they take no lock)
    // The filter stops. From Paused or Running this ends every read waiting
    // for growth, as a flush does, and reads made while the filter stays
    // stopped do not wait: nothing plays, and a graph that does not flush its
    // source on Stop (Wine's) reads on while it stops and tears down, joining
    // its read thread. Reads of a filter that has not streamed since the pin
    // connected (a splitter connecting) still wait.
    void FilterStopped(bool bWasStreaming);
    // The filter leaves the stopped state, or a new file is loaded: reads
    // wait again.
    void FilterStarting();
    bool IsStoppedAfterStreaming() const;

    // ---- the file (CoFileSourceOutputAdmission.cpp)
    // Opens the file, first closing the one open before. The full path of
    // the name must convert exactly to the ANSI code page and fit
    // FILE_NAME_SIZE - 1 bytes; otherwise nothing changes. Anything but a
    // disk file (a pipe, a device) is refused with ERROR_NOT_SUPPORTED
    // before it is read. While another process still writes the file,
    // returns once it holds GROWTH_THRESHOLD bytes or the writer has closed
    // it; fails with ERROR_TIMEOUT when it has not grown for
    // ADMISSION_STALL_TIME, with ERROR_OPERATION_ABORTED when a newer call
    // came meanwhile, or when its size can no longer be read. A failure
    // leaves no file open. The media type is taken from the first bytes once
    // the wait is over.
    HRESULT SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) EXCLUDES(m_gate.m_cs);
    // True when no other process holds the open file for writing (or that
    // cannot be told), or when its name no longer leads to it; false while a
    // writer is active or without a file.
    bool IsWriteComplete();
    // The name in CoTaskMemAlloc memory (null without a file) and, when pmt
    // is given, a copy of the media type (zeros without a file). Never waits
    // for a SetFileName in progress.
    HRESULT GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt);
    // True when the 13 bytes at the handle's position begin with the MPEG-2
    // pack start code.
    static bool IsMPEGFile(HANDLE _hFile);
    // How long a growing file may stay the same size before the admission
    // wait gives up (ADMISSION_STALL_TIME; shortened by tests).
    void SetAdmissionStallTime(DWORD dwMilliseconds) EXCLUDES(m_csFile) {
        CCritSecLock lock(m_csFile);
        m_dwAdmissionStall = dwMilliseconds;
    }

    // ---- the read path (CoFileSourceOutputRead.cpp)
    // *pcbRead, when given, gets the bytes delivered from the file.
    HRESULT InternalSyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer, LONG* pcbRead = NULL);
    // The file size, measured now or as last measured; -1 without a file or
    // when the measurement fails. Also recorded as the write position.
    // plGeneration, when given, receives the generation of the file measured.
    LONGLONG GetFileLength(BOOL bMeasure, LONG* plGeneration = NULL);
    // Whether a read past the end of a finished file lies in the tail of the
    // estimated total that Length gave for it while it grew.
    bool IsEstimatedTailProbe(LONGLONG llPosition, LONG lLength) const;

    // ---- settings and statistics (CoFileSourceOutputLife.cpp)
    HRESULT LoadFromRegistry();
    HRESULT SaveToRegistry();
    HRESULT GetReadPos(LONGLONG* pllReadPos, LONG* plReadSpeed);
    // One pass of the statistics thread: the rates of the last second from
    // the positions now and at the previous pass. Public for tests.
    void UpdateStatistics();

    // The run-time settings (control interface), atomic.
    DWORD GetBuffSize() const;
    void SetBuffSize(DWORD dwBuffSize);  // capped at ORVEX_MAX_WAIT_MARGIN
    bool IsSeekingAllowed() const;
    // Returns true when the value changed.
    bool SetSeekingAllowed(bool bAllow);
    DWORD GetWaitSize() const;
    LONG GetWriteSpeed() const;
    LONG GetReadSpeed() const;
    bool IsWriting() const;

    // The positions the statistics thread samples.
    void GetPositions(LONGLONG* pllReadPos, LONGLONG* pllWritePos) EXCLUDES(m_csStats);
    void SetPositions(LONGLONG llReadPos, LONGLONG llWritePos) EXCLUDES(m_csStats);

private:
    // IRequestReader, for m_requests.
    bool TryServeAtOnce(LONGLONG llPosition, LONG lLength, BYTE* pb, LONG* pcbRead, HRESULT* phr) override;
    HRESULT ServeRequest(LONGLONG llPosition, LONG lLength, BYTE* pb, LONG* pcbRead) override;
    // The range a sample asks for (times as byte positions) and its buffer,
    // checked as the agreed allocator's samples must be.
    HRESULT SampleRange(IMediaSample* pSample, LPCSTR pszCaller, LONGLONG* pllStart, LONG* plLength,
                        BYTE** ppb);
    // A request that starts at or past the end of a finished file (measured
    // once more: it may be written again), and not in the estimated tail.
    bool IsPastFinishedEnd(LONGLONG llPosition, LONG lLength);
    // Ends the queued requests and the waits of the read path, and drops
    // whatever the splitter did not collect.
    void DropRequests();

    static DWORD WINAPI StatisticsThread(LPVOID pPin);
    static LONG NextRate(LONGLONG llPos, LONGLONG* pllPrevPos, LONG volatile* plSpeed, LPCSTR pszFormat);

    bool IsFlushing() EXCLUDES(m_gate.m_cs);
    // A read that stepped out of the gate measures the file it began on:
    // false, and nothing measured, when the file has changed meanwhile.
    bool MeasureFile(LONG lGeneration, LONGLONG* pllSize);
    // Closes the cache and empties the file state; the gate is closed (or
    // the pin is being built).
    void ResetFileState() REQUIRES(m_csFile) EXCLUDES(m_gate.m_cs);
    // Closes the gate, empties the file state and opens the gate again: a
    // failed SetFileName leaves no file.
    void DropFile() REQUIRES(m_csFile) EXCLUDES(m_gate.m_cs);
    // Copies the open file's name (empty without a file) and identity, and
    // returns the gate's generation.
    LONG CopyFileName(LPSTR pszName, FileIdentity* pId) EXCLUDES(m_gate.m_cs);
    // The write probe: true unless another process writes the file that the
    // name leads to and that file is still the one identified.
    static bool ProbeWriteComplete(LPCSTR pszName, const FileIdentity& id);
    // The probe with the grace time: true once no writer has been seen for
    // WRITER_GRACE_TIME. A writer seen is noted. *pdwNextLook gets when to
    // look again (ms): GROWTH_POLL_TIME, or the grace left when shorter.
    bool WriterGone(LPCSTR pszName, const FileIdentity& id, DWORD* pdwNextLook);
    void NoteWriterSeen();
    // The file of generation lGeneration is finished at llSize; false when
    // the generation has moved on (nothing changes then).
    bool MarkFinished(LONG lGeneration, LONGLONG llSize) EXCLUDES(m_gate.m_cs);
    // A finished file measured at llSize: past its finished size it is being
    // written again.
    void NoteSize(LONG lGeneration, LONGLONG llSize) EXCLUDES(m_gate.m_cs);
    // The admission wait of a growing file, with the gate open.
    HRESULT WaitForAdmission(LONG lTicket) REQUIRES(m_csFile);
    // The wait of a read for growth, stepped out of the gate. Returns S_OK
    // when the read may go on, or ERROR_OPERATION_ABORTED when a swap ended
    // it.
    HRESULT WaitForGrowth(LONGLONG llPosition, LONG lLength, LONGLONG llSize, LONG lGeneration);

    // ---- members, in the order of their destruction's reverse
    CReadGate m_gate;
    BYTE m_bFlushing GUARDED_BY(m_gate.m_cs);
    LONG volatile m_lWriting;
    LONG volatile m_bAllowSeeking;
    CSmartHandle m_shFlash;
    CCriticalSection m_csFile;
    CCachedReadFile m_fileRead;
    CHAR m_szFileName[FILE_NAME_SIZE] GUARDED_BY(m_gate.m_cs);
    FileIdentity m_idFile GUARDED_BY(m_gate.m_cs);
    std::atomic<LONGLONG> m_llFinishedSize;  // the size the file was last judged finished at
    std::atomic<LONGLONG> m_llToldTotal;     // the estimated total Length gave for this file; 0: none
    DWORD volatile m_dwBuffSize;
    DWORD volatile m_dwWaitSize;
    CCriticalSection m_csStats;
    LONGLONG m_llReadPos GUARDED_BY(m_csStats);
    LONG volatile m_lReadSpeed;
    LONGLONG m_llWritePos GUARDED_BY(m_csStats);
    LONG volatile m_lWriteSpeed;
    CSmartHandle m_shTimer;
    CSmartHandle m_shStopThread;
    CSmartHandle m_shTimerThread;

    LONG volatile m_lAlign;  // agreed by RequestAllocator; 0: no check
    // The statistics thread's previous positions; only it touches them
    // (tests call UpdateStatistics with no thread running a pass).
    LONGLONG m_llPrevReadPos;
    LONGLONG m_llPrevWritePos;

    LONG volatile m_lWriterSeen;  // tick count of the last sight of a writer or of growth
    LONG volatile m_lLoadTicket;  // counts SetFileName calls; a newer one ends a waiting one
    DWORD m_dwAdmissionStall GUARDED_BY(m_csFile);  // ADMISSION_STALL_TIME
    LONG volatile m_lFlushCount;
    LONG volatile m_lStopped;        // stopped after streaming (FilterStopped)
    LONG volatile m_lStopSignalled;  // the stop set m_shFlash

    // When Length last measured the file (tick count); one for the process.
    static LONG volatile s_lLengthTick;

    // Last: its worker is ended by FinalRelease, before anything it reads
    // through goes.
    CAsyncRequests m_requests;
};
