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

// The block cache. Its blocks live in a CBlockStore (FileReadBlocks.h: the
// slot layout, the marks and the index). Only blocks wholly inside the file
// as last measured are ever indexed: the block the file ends in is read
// straight into the caller's buffer (as is a block not cached yet, or one
// the read-ahead thread is still filling: a reader that has caught up with
// the thread never waits for its copy), and a measurement that finds the
// file smaller than before drops every block from the new end on, so a file
// that is cut and written again never serves its old bytes once the cut has
// been measured.
//
// The file is opened twice: the manual file serves the reader's direct reads
// (always at an explicit offset, so concurrent readers never move each
// other's position) and all size queries; the thread file belongs to the
// read-ahead thread, which reads consecutive blocks through it.
//
// A read served from cached blocks makes no kernel call: it uses the size as
// last measured, takes the store's index lock once per block, copies under
// the slot's mark, and wakes the read-ahead thread only when that thread is
// idle and the run it keeps ahead of the reader has fallen below
// m_llWakeAhead bytes.
// The file is measured where a read reaches past the last known size, by the
// read-ahead thread when it needs the next block, and by that thread at most
// every READ_AHEAD_POLL_TIME while reads go on (so growth and cuts are seen
// even when every read is a hit).
//
// Shared positions are 64-bit atomics: m_llFileReadPos (latest request),
// m_llCacheReadPos (the next block the thread looks at; the reader moves it
// when it reads outside the thread's run, the thread advances it with a
// compare-exchange so a move made meanwhile wins), m_llFileSize (last
// measured size). m_lThreadIdle is the wake-up handshake: the thread sets it
// before it waits and then checks once more for work; a reader that finds
// work claims the wake-up by exchanging it from 1 to 0 and only then sets the
// work event, so each idle period costs at most one event.
//
// Locks, never held while data is copied or the file is read, and never
// while a trace is written:
//   m_csPos   serialises size measurements and what they change: the writes
//             of m_llFileSize and, when the file got smaller, the index (so
//             two measurements never store their sizes out of order).
//   the store's index lock (FileReadBlocks.h), taken after m_csPos.
// Slot marks change only by interlocked operations.
//
// Calling order: Init once; any number of OpenFile ... CloseFile cycles with
// CachedRead and GetFileSize in between (CachedRead may be called from
// several threads at once, but not concurrently with OpenFile or CloseFile);
// Uninit or destruction last.
struct ISizeObserver {
    virtual void OnFileMeasured(LONGLONG llSize) = 0;

protected:
    ~ISizeObserver() = default;
};

class CCachedReadFile {
public:
    void SetSizeObserver(ISizeObserver* p) { m_pObserver = p; }
    HRESULT MeasureFileSize(LONGLONG* pll) {
        *pll = GetFileSize();
        return *pll < 0 ? E_FAIL : S_OK;
    }
    HRESULT ReadUncached(LONGLONG llPos, BYTE* pb, DWORD cb, DWORD* pcb) {
        *pcb = (DWORD)ReadDirect(llPos, pb, cb);
        return S_OK;
    }
    ISizeObserver* m_pObserver = NULL;

    CCachedReadFile();
    // Stops the read-ahead thread, waiting for it as long as it takes: the
    // thread reads into the cache memory, which must outlive it.
    ~CCachedReadFile();
    CCachedReadFile(const CCachedReadFile&) = delete;
    CCachedReadFile& operator=(const CCachedReadFile&) = delete;

    // Sets up the cache: blocks of cbBlockSize bytes (a non-zero multiple of
    // 4, so every slot's mark is aligned for interlocked operations), as many
    // slots as cover cbCacheSize, and a forward read size of two thirds of
    // cbCacheSize. E_INVALIDARG for fewer than 3 slots or a bad block size,
    // E_OUTOFMEMORY without cache memory, E_UNEXPECTED while a file is open.
    HRESULT Init(DWORD cbBlockSize, DWORD cbCacheSize);
    // Undoes Init, closing a file first.
    void Uninit();

    // Opens the file (ANSI name), sharing read, write and delete, and starts
    // the read-ahead thread. E_UNEXPECTED before Init; the system error as an
    // HRESULT when the file or the thread cannot be had; ERROR_BUSY as an
    // HRESULT while the thread of the previous file still refuses to end.
    HRESULT OpenFile(LPCSTR pszFileName);
    // Stops the read-ahead thread and closes the file. A thread that neither
    // ends nor can be terminated keeps everything it uses: the file stays
    // open, and the next CloseFile, OpenFile or the destructor tries again.
    void CloseFile();

    // Measures the file, stores the size as the last known size and returns
    // it; -1 when no file is open or the measurement fails. A file found
    // smaller than before loses every cached block from its new end on.
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
    // 0x80070026 (ERROR_HANDLE_EOF) when _llPosition is at or past the end.
    // E_POINTER, E_INVALIDARG for a negative position or length,
    // E_UNEXPECTED without an open file.
    HRESULT CachedRead(LONGLONG _llPosition, LONG lLength, BYTE* _pbBuffer, LONG* _pcbReaded);

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
    // True when the thread should cache the block at llCachePos: it lies
    // less than llAhead bytes ahead of the latest request and wholly inside
    // the file as last measured.
    bool ReadAheadWanted(LONGLONG llCachePos, LONGLONG llAhead) const;

    // ---- the reader's side (FileRead.cpp)
    // After a read found or cached the block at _llBlockStart: moves the
    // thread to the next block when the read is outside the thread's run,
    // and wakes it when it is idle and has work.
    void SteerReadAhead(LONGLONG _llBlockStart, BOOL bNextIndexed, LONGLONG llLastFileSize);
    // Wakes the thread when it is idle and the run it keeps ahead of the
    // latest request is shorter than m_llWakeAhead; true when this call set
    // the work event.
    bool WakeReadAhead();
    // Reads up to _dwSize bytes at _llPosition from the manual file straight
    // into _pbDest; returns the bytes read (0 after a failure).
    LONG ReadDirect(LONGLONG _llPosition, BYTE* _pbDest, DWORD _dwSize);

    CBlockStore m_blocks;
    std::atomic<LONGLONG> m_llFileReadPos;   // position of the latest CachedRead
    std::atomic<LONGLONG> m_llCacheReadPos;  // next block the read-ahead thread looks at
    LONGLONG m_llForwardReadSize;            // how far the thread may run ahead; set by Init only
    LONGLONG m_llWakeAhead;                  // a shorter run ahead of the reader wakes the thread
    std::atomic<LONGLONG> m_llFileSize;      // size as last measured; written under m_csPos
    CCriticalSection m_csPos;
    std::atomic<LONG> m_lThreadIdle;  // 1 while the thread waits and nobody has claimed its wake-up
    std::atomic<LONG> m_lStopThread;  // set with the stop event; checked between blocks
    std::atomic<LONG> m_lReads;       // counts CachedRead calls, so the thread knows reads go on
    CSmartHandle m_shReadThread;
    DWORD m_dwReadThreadId;
    CSmartHandle m_arrEvents[2];  // [0] work, [1] stop; auto-reset
    CSmartHandle m_shThreadFile;
    CSmartHandle m_shManualFile;
    DWORD m_dwStopThreadTime;  // STOP_THREAD_TIME; shortened by tests
};
