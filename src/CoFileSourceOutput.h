// CFileSourceOutput: the source filter's output pin. It offers the bytes of
// one file, unparsed, through the pull interface IAsyncReader. A read near
// the end of a file that another process is still writing waits until the
// file has grown a margin past it, until the writer closes the file, until
// the pin is flushed or until the filter stops. Past the end of a finished
// file a read fails (ERROR_HANDLE_EOF), which ends a pull-mode splitter's
// stream.
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
// Sources: CoFileSourceOutputAdmission.cpp (file name, admission, the file
// swap), CoFileSourceOutputRead.cpp (IAsyncReader and the read path),
// CoFileSourceOutputLife.cpp (creation, settings, statistics thread).
//
// ---- Locks, in the order they may be taken (never the other way):
//   filter object lock -> filter state lock -> pin lock -> m_csFile ->
//   one of { m_csGate, m_csStats, m_csConn, the cache's own locks }.
// The locks in braces are leaves: held only to read or change the fields
// they guard, never nested in each other, never while a trace is written,
// and never across a call that can wait (m_csConn only across a peer's
// AddRef). The read path holds none of them while it waits, and takes the
// filter state lock only while it holds no lock at all.
//   pin lock   (object root, recursive) Connect, Disconnect, SetSink and
//              the snapshot of EnumMediaTypes (see _PinBase). The read path
//              never takes it: Wine's splitter reads from its own thread
//              while Connect waits in its ReceiveConnection.
//   m_csFile   (recursive) serialises SetFileName, which holds it through
//              its whole run, admission wait included, and GetCurFile.
//              Writers of m_szFileName hold it and m_csGate.
//   m_csGate   the read gate: m_nActive, m_bClosing, m_bFileOpen,
//              m_lGeneration, m_bFlushing, the value of m_lWriting while a
//              read changes it, m_llFinishedSize, and m_szFileName and
//              m_idFile (read under either lock, written under both).
//   m_csStats  m_llReadPos, m_llWritePos, and the copy of m_lReadSpeed made
//              by GetReadPos.
//   m_csConn   (pin base) m_mt, m_spConnected, m_spFilter.
// Atomic, read without a lock: m_lWriting, m_bAllowSeeking, m_dwBuffSize,
// m_dwWaitSize, m_lReadSpeed, m_lWriteSpeed, m_lAlign, m_lFlushCount,
// m_lStopped, m_lStopSignalled, m_lWriterSeen, m_lLoadTicket, and the
// process-wide time stamp of Length.
//
// ---- The file swap (SetFileName while reads are in flight or waiting)
// CachedRead must never run against a cache that is being closed or opened,
// and a read that began on one file must never copy from the next. A read
// is "active" while it uses m_fileRead (size queries, the copy) and counted
// in m_nActive; while it waits for growth it is not active.
//   Read: EnterGate blocks while m_bClosing is set, then counts itself
//     active and notes m_lGeneration. Before it waits for growth it leaves
//     the gate; every poll checks the generation before it asks whether the
//     writer is gone (and clears m_lWriting only under m_csGate, for its own
//     generation), every poll that measures the file, and the copy after the
//     wait, re-enter with the noted generation, and a changed generation
//     ends the read with ERROR_OPERATION_ABORTED (buffer zero-filled)
//     instead of touching the new file. LeaveGate uncounts it and, when it
//     was the last active read of a closing gate, signals m_shGateIdle.
//   Swap: CloseGate sets m_bClosing, advances m_lGeneration and waits on
//     m_shGateIdle until no read is active. Waiting reads are not waited
//     for: they notice the new generation at their next poll (within
//     500 ms) and never touch the cache again. With the gate closed the
//     swap closes the cache, opens the new file, sets m_lWriting, the name
//     and the media type, then OpenGate clears m_bClosing and signals
//     m_shGateOpen. The admission wait runs with the gate open.
//   So no SetFileName waits for a read that waits for growth, and a read
//   waits for a swap only during its closed phase (close, probe, open).
//   GetCurFile, Length and the control interface take neither m_csFile nor
//   wait for the gate to open, so they answer at once while a SetFileName
//   waits for a growing file; a newer SetFileName ends that wait.
//
// ---- Threads and who wakes them
//   Reads wait for growth on m_shFlash (auto-reset), set by BeginFlush and
//     by the filter's stop (FilterStopped), with a 500 ms poll; a flush also
//     advances m_lFlushCount and a stop sets m_lStopped, so that every read
//     waiting at that time ends at its next poll, not only the one that
//     consumed the event.
//   Reads blocked in EnterGate wait on m_shGateOpen (manual reset), set by
//     OpenGate. A swap waits on m_shGateIdle (manual reset), set by the last
//     active read to leave a closing gate.
//   The statistics thread waits on m_shTimer (every second, first after
//     10 s) and m_shStopThread (set by FinalRelease).
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "DShowX/VEZizurad.h"
#include "FileRead.h"
#include "WinAPI/Wrappers.h"

// The growth threshold: a growing file is admitted once it holds this much,
// a read waits when its end comes this close to the end of a growing file,
// and Length subtracts it from a growing file's size.
#define GROWTH_THRESHOLD 786432

// The wait margin by default and at most: a waiting read goes on once the
// file holds this much past the read's end.
#define DEFAULT_WAIT_MARGIN 2097152
#define MAX_WAIT_MARGIN 10485760

// The cache of the pin: 384 KiB blocks, 20 MiB.
#define PIN_BLOCK_SIZE 0x60000
#define PIN_CACHE_SIZE 0x1400000

// The file name buffer: the system's path limit and a spare terminator.
#define FILE_NAME_SIZE 261

// How long after a writer was last seen a "no writer" answer still does not
// end the recording: a recorder that closes its file and opens it again to
// append is still recording.
#define WRITER_GRACE_TIME 1000
// A growing file that has not grown for this long while its writer keeps it
// open ends the admission wait with ERROR_TIMEOUT.
#define ADMISSION_STALL_TIME 30000

// What tells two open files apart: the volume and the file's index on it.
struct FileIdentity {
    DWORD dwVolume;
    DWORD dwIndexHigh;
    DWORD dwIndexLow;
    bool operator==(const FileIdentity& o) const {
        return dwVolume == o.dwVolume && dwIndexHigh == o.dwIndexHigh && dwIndexLow == o.dwIndexLow;
    }
};

class CFileSourceOutput : public COutputPin, public IAsyncReader {
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
    HRESULT SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt);
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
    void SetAdmissionStallTime(DWORD dwMilliseconds) { m_dwAdmissionStall = dwMilliseconds; }

    // ---- the read path (CoFileSourceOutputRead.cpp)
    HRESULT InternalSyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer);
    // The file size, measured now or as last measured; -1 without a file or
    // when the measurement fails. Also recorded as the write position.
    LONGLONG GetFileLength(BOOL bMeasure);

    // ---- settings and statistics (CoFileSourceOutputLife.cpp)
    HRESULT LoadFromRegistry();
    HRESULT SaveToRegistry();
    HRESULT GetReadPos(LONGLONG* pllReadPos, LONG* plReadSpeed);
    // One pass of the statistics thread: the rates of the last second from
    // the positions now and at the previous pass. Public for tests.
    void UpdateStatistics();

    // The run-time settings (control interface), atomic.
    DWORD GetBuffSize() const;
    void SetBuffSize(DWORD dwBuffSize);  // capped at MAX_WAIT_MARGIN
    bool IsSeekingAllowed() const;
    // Returns true when the value changed.
    bool SetSeekingAllowed(bool bAllow);
    DWORD GetWaitSize() const;
    LONG GetWriteSpeed() const;
    LONG GetReadSpeed() const;
    bool IsWriting() const;

    // The positions the statistics thread samples (under m_csStats).
    void GetPositions(LONGLONG* pllReadPos, LONGLONG* pllWritePos);
    void SetPositions(LONGLONG llReadPos, LONGLONG llWritePos);

private:
    static DWORD WINAPI StatisticsThread(LPVOID pPin);
    static LONG NextRate(LONGLONG llPos, LONGLONG* pllPrevPos, LONG volatile* plSpeed, LPCSTR pszFormat);

    // The gate (see above). EnterGate(NULL, false) is a new read or query: it
    // waits while the gate is closed (or fails at once without bWait).
    // EnterGate(&lGeneration, true) continues a read: it fails at once when
    // the generation has moved on.
    bool EnterGate(LONG* plGeneration, bool bContinue, bool bWait = true);
    bool IsFlushing();
    void LeaveGate();
    void CloseGate();
    void OpenGate(bool bFileOpen);

    // With the gate closed: closes the cache and empties the file state.
    void ResetFileState();
    // Closes the gate, empties the file state and opens the gate again: a
    // failed SetFileName leaves no file.
    void DropFile();
    // Copies the open file's name (empty without a file) and identity, and
    // returns the gate's generation.
    LONG CopyFileName(LPSTR pszName, FileIdentity* pId);
    // The write probe: true unless another process writes the file that the
    // name leads to and that file is still the one identified.
    static bool ProbeWriteComplete(LPCSTR pszName, const FileIdentity& id);
    // The probe for the file of generation lGeneration, with the grace time:
    // true once no writer has been seen for WRITER_GRACE_TIME. A writer seen
    // is noted. *pdwGrace, when asked for, gets the ms of grace left.
    bool WriterGone(LPCSTR pszName, const FileIdentity& id, DWORD* pdwGraceLeft);
    void NoteWriterSeen();
    // The file of generation lGeneration is finished at llSize (under the
    // gate's lock, for that generation only); false when the generation has
    // moved on.
    bool MarkFinished(LONG lGeneration, LONGLONG llSize);
    // A finished file measured at llSize: past its finished size it is being
    // written again.
    void NoteSize(LONG lGeneration, LONGLONG llSize);
    // The admission wait of a growing file; m_csFile held, gate open.
    HRESULT WaitForAdmission(LONG lTicket);
    // The wait of a read for growth. Returns S_OK when the read may go on,
    // or ERROR_OPERATION_ABORTED when a swap ended it.
    HRESULT WaitForGrowth(LONGLONG llPosition, LONG lLength, LONGLONG llSize, LONG lGeneration);

    // ---- members, in the order of their destruction's reverse
    BYTE m_bFlushing;
    LONG volatile m_lWriting;
    LONG volatile m_bAllowSeeking;
    CSmartHandle m_shFlash;
    CRITICAL_SECTION m_csFile;
    CCachedReadFile m_fileRead;
    CHAR m_szFileName[FILE_NAME_SIZE];
    DWORD volatile m_dwBuffSize;
    DWORD volatile m_dwWaitSize;
    LONGLONG m_llReadPos;
    LONG volatile m_lReadSpeed;
    LONGLONG m_llWritePos;
    LONG volatile m_lWriteSpeed;
    CSmartHandle m_shTimer;
    CSmartHandle m_shStopThread;
    CSmartHandle m_shTimerThread;

    LONG volatile m_lAlign;  // agreed by RequestAllocator; 0: no check
    // The statistics thread's previous positions; only it touches them
    // (tests call UpdateStatistics with no thread running a pass).
    LONGLONG m_llPrevReadPos;
    LONGLONG m_llPrevWritePos;
    CRITICAL_SECTION m_csStats;

    FileIdentity m_idFile;
    std::atomic<LONGLONG> m_llFinishedSize;  // the size the file was last judged finished at
    LONG volatile m_lWriterSeen;             // tick count of the last sight of a writer or of growth
    LONG volatile m_lLoadTicket;             // counts SetFileName calls; a newer one ends a waiting one
    DWORD m_dwAdmissionStall;                // ADMISSION_STALL_TIME; under m_csFile

    CRITICAL_SECTION m_csGate;
    LONG m_nActive;
    bool m_bClosing;
    bool m_bFileOpen;
    LONG m_lGeneration;
    LONG volatile m_lFlushCount;
    LONG volatile m_lStopped;        // stopped after streaming (FilterStopped)
    LONG volatile m_lStopSignalled;  // the stop set m_shFlash
    CSmartHandle m_shGateOpen;
    CSmartHandle m_shGateIdle;

    // When Length last measured the file (tick count); one for the process.
    static LONG volatile s_lLengthTick;
};
