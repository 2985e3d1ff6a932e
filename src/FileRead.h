// CCachedReadFile: reads one file that another process may still be
// appending to, through a cache of large blocks kept filled ahead of the
// reader by a background thread.
#pragma once

#include <windows.h>

#include <map>

#include "WinAPI/Blob.h"
#include "WinAPI/Wrappers.h"

// How long CloseFile waits for the read-ahead thread to end, and once more
// after trying to terminate it.
#define STOP_THREAD_TIME 10000

// The block cache. The cache memory is split into m_dwBlockNum slots of
// m_dwBlockSize + 12 bytes, laid out by hand:
//   offset 0, LONG     lMark       -1 being written (WRITE mark), 0 free,
//                                  n > 0: n readers copy out of it (READ mark)
//   offset 4, LONGLONG llBlockPos  file position of the block held, -1 empty
//   offset 12          data        the block's bytes
// A slot is addressed by a slot counter value (any non-negative LONG, taken
// modulo m_dwBlockNum); m_mapIndex maps block positions to counter values.
// Only complete blocks stay in the index: a block the file could fill only
// partly is served once to the reader that read it and then forgotten.
//
// The file is opened twice: the manual file serves the reader's direct reads
// (always at an explicit offset, so concurrent readers never move each
// other's position) and all size queries; the thread file belongs to the
// read-ahead thread, which reads consecutive blocks through it.
//
// Locks, never nested in each other and never held while data is copied or
// the file is read:
//   m_csPos   guards m_llFileReadPos, m_llCacheReadPos and m_llFileSize.
//   m_csIndex guards m_mapIndex and the choice of slots (AcquireBlock); a
//             writer also takes it, while still holding the slot's WRITE
//             mark, to drop a block it could not fill (CacheBlock), and
//             CachedRead for one look-up (IsIndexed).
// Slot marks are changed only by interlocked operations. Lock order: a
// WRITE mark, then m_csIndex. AcquireBlock holds m_csIndex and only tries
// marks, never waits for one, so the order cannot close a cycle.
//
// Calling order: Init once; any number of OpenFile ... CloseFile cycles with
// CachedRead and GetFileSize in between (CachedRead may be called from
// several threads at once, but not concurrently with OpenFile or CloseFile);
// Uninit or destruction last.
class CCachedReadFile {
public:
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

    // Opens the file (ANSI name) with shared read and write access and starts
    // the read-ahead thread. E_UNEXPECTED before Init; the system error as an
    // HRESULT when the file or the thread cannot be had; ERROR_BUSY as an
    // HRESULT while the thread of the previous file still refuses to end.
    HRESULT OpenFile(LPCSTR pszFileName);
    // Stops the read-ahead thread and closes the file. A thread that neither
    // ends nor can be terminated keeps everything it uses: the file stays
    // open, and the next CloseFile, OpenFile or the destructor tries again.
    void CloseFile();

    // Measures the file, stores the size as the last known size and returns
    // it; -1 when no file is open or the measurement fails.
    LONGLONG GetFileSize();
    // The size as last measured, without touching the file.
    LONGLONG GetLastFileSize();
    // True while a file is open (the read-ahead thread exists).
    bool IsFileOpen() const { return m_shReadThread.IsValid(); }

    // Copies up to lLength bytes from _llPosition into _pbBuffer and counts
    // them at _pcbReaded. Never waits for the file to grow: S_OK when every
    // byte was delivered, S_FALSE when the file ended first (also when it
    // ends exactly where the read does, at a block boundary),
    // 0x80070026 (ERROR_HANDLE_EOF) when _llPosition is at or past the end.
    // E_POINTER, E_INVALIDARG for a negative position or length,
    // E_UNEXPECTED without an open file.
    HRESULT CachedRead(LONGLONG _llPosition, LONG lLength, BYTE* _pbBuffer, LONG* _pcbReaded);

    DWORD BlockSize() const { return m_dwBlockSize; }
    DWORD BlockNum() const { return m_dwBlockNum; }

protected:
    // ---- block store (FileReadBlocks.cpp)
    // The address of the mark of the slot that counter value _lIndex names.
    LONG* BlockAccessPtr(LONG _lIndex) const;
    // Finds the block starting at _llBlockPos, or takes a slot for it.
    // Found: returns TRUE; for reading, *_plIndex names the slot and the
    // caller holds a READ mark on it, unless the slot is still being written
    // (*_pbWaitWrite TRUE, no mark held: ReadFromBlock waits for the writer).
    // Not for reading, a found block is only reported.
    // Absent: returns FALSE with the caller holding the WRITE mark of slot
    // *_plIndex, already indexed for the block; CacheBlock must fill it.
    BOOL AcquireBlock(LONGLONG _llBlockPos, LONG* _plIndex, BOOL _bForRead, BOOL* _pbWaitWrite = NULL);
    // True when the block is in the index (cached or being written).
    bool IsIndexed(LONGLONG _llBlockPos);
    // Fills the WRITE-marked slot from _hFile: at _llPosition, or where the
    // handle stands when _llPosition is -1. A block read short or not at all
    // is emptied and dropped from the index before the mark is released.
    // Releases the WRITE mark, or turns it into a READ mark of the caller
    // (_bKeepReadMark) so the slot cannot be taken before the caller copies.
    // Returns the bytes read.
    LONG CacheBlock(LONG _lIndex, HANDLE _hFile, LONGLONG _llPosition, BOOL _bKeepReadMark = FALSE);
    // Copies _dwSize bytes from data offset _dwShift of the slot and drops
    // one READ mark. With _llWaitFor -1 the caller holds that mark. With a
    // block position the caller holds none: the slot was being written for
    // that block when it was found, so this waits (10 ms polls) until the
    // writer is done, takes a mark, and copies only if the slot still holds
    // that block. Returns the mark left after the release, or -1 when the
    // block was not there (nothing copied).
    LONG ReadFromBlock(LONG _lIndex, void* _pvDest, DWORD _dwSize, DWORD _dwShift, LONGLONG _llWaitFor = -1);

    // The read-ahead thread (FileReadThread.cpp). Woken by the work event
    // (m_arrEvents[0], set by CachedRead and by the thread itself) to cache
    // one block, and by the stop event (m_arrEvents[1], set by CloseFile).
    static unsigned __stdcall ReadThread(void* pCachedFile);

    LONGLONG SlotPos(LONG _lIndex) const;
    void SetSlotPos(LONG _lIndex, LONGLONG llPos);
    BYTE* SlotData(LONG _lIndex) const;
    DWORD SlotNumber(LONG _lIndex) const { return (DWORD)_lIndex % m_dwBlockNum; }

    DWORD m_dwBlockSize;                  // bytes per block; 0 before Init
    DWORD m_dwBlockNum;                   // number of slots; 0 before Init
    CBlob m_blobBuffer;                   // the slots
    LONG m_lNextIndex;                    // round-robin slot counter; interlocked increments only
    std::map<LONGLONG, LONG> m_mapIndex;  // block position -> slot counter value
    CRITICAL_SECTION m_csIndex;
    LONGLONG m_llFileReadPos;      // position of the latest CachedRead
    LONGLONG m_llCacheReadPos;     // next block the read-ahead thread caches
    LONGLONG m_llForwardReadSize;  // how far the thread may run ahead; set by Init only
    LONGLONG m_llFileSize;         // size as last measured
    CRITICAL_SECTION m_csPos;
    CSmartHandle m_shReadThread;
    CSmartHandle m_arrEvents[2];  // [0] work, [1] stop; auto-reset, adjacent so the thread waits on both
    CSmartHandle m_shThreadFile;
    CSmartHandle m_shManualFile;
    DWORD m_dwStopThreadTime;  // STOP_THREAD_TIME; shortened by tests
};
