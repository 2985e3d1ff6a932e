// CCachedReadFile: reads one file that another process may still be
// appending to, through a cache of large blocks kept filled ahead of the
// reader by a background thread.
#pragma once

#include <windows.h>

#include <atomic>

#include "Reader/FileReadBlocks.h"
#include "FileSourceConstants.h"
#include "WinAPI/CriticalSection.h"
#include "WinAPI/Wrappers.h"

// Told of every size the cache measures (SetSizeObserver).
struct IFileSizeObserver {
    // Called once per successful measurement, with the size measured, on the
    // thread that measured (a reader, the read-ahead thread, OpenFile, or a
    // caller of GetFileSize or MeasureFileSize), after the cache's locks are
    // released. Measurements made at the same time on several threads may
    // arrive in either order. It must not call back into the cache.
    virtual void OnFileMeasured(LONGLONG llSize) = 0;

protected:
    ~IFileSizeObserver() = default;
};

// The block cache. Its blocks live in a CBlockStore (FileReadBlocks.h: the
// slots, their marks and the index). Only blocks wholly inside the file as
// last measured are ever indexed: the block the file ends in is read
// straight into the caller's buffer (as is a block not cached yet, or one
// the read-ahead thread is still filling: a reader that has caught up with
// the thread never waits for its copy), and a measurement that finds the
// file smaller than before drops every block from the new end on, so a file
// that is cut and written again never serves its old bytes once the cut has
// been measured.
//
// The name is opened twice, and both handles must name one file (OpenFile
// compares their identities): the manual file serves the reader's direct
// reads (always at an explicit offset, so concurrent readers never move each
// other's position) and all size queries; the thread file belongs to the
// read-ahead thread, which reads consecutive blocks through it at a file
// position of its own (which is why it is no duplicate of the manual file's
// handle: a duplicate shares the position).
//
// A read served from cached blocks makes no kernel call: it uses the size as
// last measured, takes the store's index lock once per block, copies under
// the slot's mark, and wakes the read-ahead thread only when that thread is
// idle and the run it keeps ahead of the reader has fallen below
// m_llWakeAhead bytes. The file is measured where a read reaches past the
// last known size, by the read-ahead thread when it needs the next block,
// and by that thread at most every READ_AHEAD_POLL_TIME while reads go on
// (so growth and cuts are seen even when every read is a hit).
//
// Failures of the file (a read, a measurement, an open) are traced at level
// 1 with the system's text and answered with the Win32 error as an HRESULT;
// ASSERT is kept for the cache's own invariants and its callers' mistakes.
//
// Locks, never held while data is copied, the file is read, a trace is
// written or the size observer is called: m_csPos, then the store's index
// lock (FileReadBlocks.h). Slot marks change only by interlocked operations.
//
// Calling order: Init once; any number of OpenFile ... CloseFile cycles with
// the reads and measurements in between (they may be called from several
// threads at once, but not concurrently with OpenFile or CloseFile); Uninit
// or destruction last.
class CCachedReadFile {
public:
    CCachedReadFile();
    // Stops the read-ahead thread, waiting for it as long as it takes: the
    // thread reads into the cache memory, which must outlive it.
    ~CCachedReadFile();
    CCachedReadFile(const CCachedReadFile&) = delete;
    CCachedReadFile& operator=(const CCachedReadFile&) = delete;

    // Sets up the cache: blocks of cbBlockSize bytes (a non-zero multiple of
    // 4), as many slots as cover cbCacheSize, and a forward read size of two
    // thirds of cbCacheSize. E_INVALIDARG for fewer than 3 slots or a bad
    // block size, E_OUTOFMEMORY without cache memory, E_UNEXPECTED while a
    // file is open.
    HRESULT Init(DWORD cbBlockSize, DWORD cbCacheSize);
    // Undoes Init, closing a file first.
    void Uninit();
    // Sets the observer of measured sizes (null: none). Only while no file
    // is open (E_UNEXPECTED otherwise): the read-ahead thread reads it
    // without a lock.
    HRESULT SetSizeObserver(IFileSizeObserver* pObserver);

    // Opens the file (ANSI name) twice, sharing read, write and delete, and
    // starts the read-ahead thread. A name that another file is renamed over
    // between the two opens is opened again, a few times, and then refused
    // with ERROR_CANT_RESOLVE_FILENAME as an HRESULT. E_UNEXPECTED before
    // Init; ERROR_NOT_SUPPORTED as an HRESULT for what is not a disk file (a
    // pipe, a device); the system error as an HRESULT when the file or the
    // thread cannot be had; ERROR_BUSY as an HRESULT while the thread of the
    // previous file still refuses to end. A failure leaves no file open.
    HRESULT OpenFile(LPCSTR pszFileName);
    // Stops the read-ahead thread and closes the file. A thread that neither
    // ends nor can be terminated keeps everything it uses: the file stays
    // open, and the next CloseFile, OpenFile or the destructor tries again.
    void CloseFile();

    // Measures the file, stores the size as the last known size and returns
    // it in *pllSize (-1 on failure). A file found smaller than before loses
    // every cached block from its new end on. E_POINTER, E_UNEXPECTED without
    // an open file, the system error as an HRESULT when the measurement
    // fails.
    HRESULT MeasureFileSize(LONGLONG* pllSize);
    // MeasureFileSize's size; -1 when no file is open or the measurement
    // fails.
    LONGLONG GetFileSize();
    // The open file's identity (volume serial number, file index) and the
    // rest of what the system says of it; FALSE without an open file.
    BOOL GetFileInformation(BY_HANDLE_FILE_INFORMATION* pInfo) const;
    // The size as last measured, without touching the file.
    LONGLONG GetLastFileSize() const { return m_llFileSize.load(); }
    // True while a file is open (the read-ahead thread exists).
    bool IsFileOpen() const { return m_shReadThread.IsValid(); }

    // Copies up to lLength bytes from _llPosition into _pbBuffer and counts
    // them at _pcbReaded. Never waits for the file to grow: S_OK when every
    // byte was delivered, S_FALSE when the file ended first,
    // 0x80070026 (ERROR_HANDLE_EOF) when _llPosition is at or past the end,
    // the system error as an HRESULT when reading or measuring the file fails
    // (the bytes delivered before it counted). E_POINTER, E_INVALIDARG for a
    // negative position or length, E_UNEXPECTED without an open file.
    HRESULT CachedRead(LONGLONG _llPosition, LONG lLength, BYTE* _pbBuffer, LONG* _pcbReaded);
    // Copies lLength bytes from llPosition into pb when every one of them is
    // in a cached block wholly inside the size as last measured: S_OK, with
    // the read-ahead thread steered as CachedRead steers it. E_PENDING
    // otherwise, without reading the file (the buffer may hold some of the
    // bytes; CachedRead serves the request). E_POINTER, E_INVALIDARG,
    // E_UNEXPECTED as for CachedRead.
    HRESULT ReadCachedOnly(LONGLONG llPosition, LONG lLength, BYTE* pb);
    // Reads up to cb bytes at llPosition from the file, past the cache:
    // S_OK with the count in *pcbRead (0 at or past the end), the system
    // error as an HRESULT when the read fails. E_POINTER, E_INVALIDARG for a
    // negative position, E_UNEXPECTED without an open file.
    HRESULT ReadUncached(LONGLONG llPosition, BYTE* pb, DWORD cb, DWORD* pcbRead);

    DWORD BlockSize() const { return m_blocks.BlockSize(); }
    DWORD BlockNum() const { return m_blocks.BlockNum(); }
    // The blocks, for tests that look at slots and the index.
    CBlockStore& Blocks() { return m_blocks; }

protected:
    // The read-ahead thread (FileReadThread.cpp). Woken by the work event
    // (m_arrEvents[0], set by a reader that claimed the wake-up), by the stop
    // event (m_arrEvents[1], set by CloseFile), and every
    // READ_AHEAD_POLL_TIME by its own wait's time-out.
    static unsigned __stdcall ReadThread(void* pCachedFile);
    // One run of the thread: caches consecutive blocks from m_llCacheReadPos
    // until the window ahead of the reader is full, the next block is not
    // wholly in the file, or the thread is told to stop.
    void ReadAheadRun(LONGLONG& llCacheReadPos, BOOL& bSequential);
    // Caches the block at llCachePos unless it is cached already: 1 to go
    // on to the next block, 0 to look at this position again (the file was
    // cut), -1 to end the run (the file cannot be measured).
    int CacheOneBlock(LONGLONG llCachePos, BOOL& bSequential);
    // True when the thread should cache the block at llCachePos: it lies
    // less than llAhead bytes ahead of the latest request and wholly inside
    // the file as last measured.
    bool ReadAheadWanted(LONGLONG llCachePos, LONGLONG llAhead) const;

    // ---- the reader's side (FileRead.cpp)
    // A read begins at llPosition: counted, and its position published.
    void NoteRead(LONGLONG llPosition);
    // After a read found the block at _llBlockStart, or is about to read it
    // from the file: moves the thread to the next block when the read is
    // outside the thread's run, and wakes it when it is idle and has work.
    void SteerReadAhead(LONGLONG _llBlockStart, BOOL bNextIndexed, LONGLONG llLastFileSize);
    // Wakes the thread when it is idle and the run it keeps ahead of the
    // latest request is shorter than m_llWakeAhead; true when this call set
    // the work event.
    bool WakeReadAhead();
    // Reads up to cb bytes at llPosition from the manual file straight into
    // pbDest; S_OK with the count (0 at or past the end), or the failure.
    // The checks every read makes of its arguments and of the cache.
    HRESULT CheckRead(LONGLONG llPosition, LONG lLength, const BYTE* pb) const;
    // Reads lInBlock bytes from dwOffset of the block at llBlockStart into
    // pb, from its slot or the file; *pcbRead the bytes delivered. S_OK when
    // all, S_FALSE when the file ended first (re-measured into
    // *pllLastFileSize when it was cut), or the file's failure.
    HRESULT ReadBlockPart(LONGLONG llBlockStart, DWORD dwOffset, LONG lInBlock, BYTE* pb,
                          LONGLONG* pllLastFileSize, LONG* pcbRead);
    HRESULT ReadDirect(LONGLONG llPosition, BYTE* pbDest, DWORD cb, DWORD* pcbRead);

    CBlockStore m_blocks;
    // Positions shared by the readers and the thread, all atomic.
    std::atomic<LONGLONG> m_llFileReadPos;  // position of the latest read
    // The next block the read-ahead thread looks at. A reader moves it when
    // it reads outside the thread's run; the thread advances it with a
    // compare-exchange, so a move made meanwhile wins.
    std::atomic<LONGLONG> m_llCacheReadPos;
    LONGLONG m_llForwardReadSize;  // how far the thread may run ahead; set by Init only
    LONGLONG m_llWakeAhead;        // a shorter run ahead of the reader wakes the thread
    // The size as last measured, written under m_csPos (with, for a file found
    // smaller, the dropping of its blocks), so that two measurements never
    // store their sizes out of order.
    std::atomic<LONGLONG> m_llFileSize;
    CCriticalSection m_csPos;
    // The wake-up handshake: the thread sets it to 1 before it waits and then
    // checks once more for work; a reader that finds work claims the wake-up
    // by exchanging it from 1 to 0 and only then sets the work event, so each
    // idle period costs at most one event.
    std::atomic<LONG> m_lThreadIdle;
    std::atomic<LONG> m_lStopThread;  // set with the stop event; checked between blocks
    std::atomic<LONG> m_lReads;       // counts reads, so the thread knows reads go on
    // Set while no file is open, so the thread (started after) reads it
    // without a lock.
    IFileSizeObserver* m_pSizeObserver;
    CSmartHandle m_shReadThread;
    DWORD m_dwReadThreadId;
    CSmartHandle m_arrEvents[2];  // [0] work, [1] stop; auto-reset
    CSmartHandle m_shThreadFile;
    CSmartHandle m_shManualFile;
    DWORD m_dwStopThreadTime;  // STOP_THREAD_TIME; shortened by tests
};
