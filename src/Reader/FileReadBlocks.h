// CBlockStore: the block cache's slots, their marks and the index of the
// blocks they hold. CCachedReadFile (FileRead.h) owns one; its tests use it
// directly.
//
// ---- Layout
// The cache memory is split into BlockNum() slots of SLOT_HEADER_SIZE +
// BlockSize() bytes, laid out by hand; from the slot's mark (at
// SLOT_HEADER_SIZE - 12 in the slot) on:
//   offset 0, LONG     lMark       -1 being written (WRITE mark), 0 free,
//                                  n > 0: n readers copy out of it (READ mark)
//   offset 4, LONGLONG llBlockPos  file position of the block held, -1 empty
//   offset 12          data        the block's bytes
// A slot is addressed by a slot counter value (any non-negative LONG, taken
// modulo BlockNum()); the index maps block positions to counter values.
//
// ---- Marks
// A slot's mark is its reader-writer lock. Writers looking for a slot never
// wait for a mark, they move on to the next slot; a reader that finds a
// block still being written does not wait either (it reads the file). Marks
// only ever become -1 inside AcquireBlock, under m_csIndex, which is why a
// READ mark can be added there by a plain increment once it was seen
// non-negative. Only the holder of a mark reads or writes the slot's
// position and data, so the mark's interlocked operations order them.
//
// ---- Lock
// m_csIndex guards the index and the choice of slots (AcquireBlock); a
// writer also takes it, while still holding the slot's WRITE mark, to drop a
// block it could not fill (CacheBlock). It is never held while data is
// copied or the file is read, nor while a trace is written. Order: the
// cache's m_csPos, then m_csIndex; a WRITE mark, then m_csIndex.
// AcquireBlock holds m_csIndex and only tries marks, never waits for one, so
// neither order can close a cycle.
#pragma once

#include <windows.h>

#include <map>

#include "FileSourceConstants.h"
#include "WinAPI/Blob.h"
#include "WinAPI/CriticalSection.h"

class CBlockStore {
public:
    CBlockStore();
    CBlockStore(const CBlockStore&) = delete;
    CBlockStore& operator=(const CBlockStore&) = delete;

    // Lays out nBlocks empty slots of cbBlockSize bytes (a non-zero multiple
    // of 4, so every mark is aligned for interlocked operations).
    // E_INVALIDARG for a bad size or no slot, E_OUTOFMEMORY without memory.
    HRESULT Init(DWORD cbBlockSize, DWORD nBlocks) EXCLUDES(m_csIndex);
    // Frees the slots; the store is empty (BlockSize() and BlockNum() 0).
    void Uninit() EXCLUDES(m_csIndex);
    bool IsValid() const { return m_blobBuffer.IsValid(); }
    DWORD BlockSize() const { return m_dwBlockSize; }
    DWORD BlockNum() const { return m_dwBlockNum; }
    // Forgets every block (the file was closed); marks and slot positions
    // stay, the index alone decides what is cached.
    void Clear() EXCLUDES(m_csIndex);

    // Finds the block starting at _llBlockPos, or takes a slot for it.
    // Found: returns TRUE; for reading, *_plIndex names the slot and the
    // caller holds a READ mark on it, unless the slot is still being written
    // (*_pbWaitWrite TRUE, no mark held: the caller reads the file instead).
    // Not for reading, a found block is only reported.
    // Absent: returns FALSE with the caller holding the WRITE mark of slot
    // *_plIndex, already indexed for the block; CacheBlock must fill it.
    // Without _bTakeSlot an absent block only returns FALSE: no slot is
    // taken, nothing is marked.
    // *_pbNextIndexed, when asked for, tells whether the block after this
    // one is indexed (found in the same look-up).
    BOOL AcquireBlock(LONGLONG _llBlockPos, LONG* _plIndex, BOOL _bForRead, BOOL* _pbWaitWrite = NULL,
                      BOOL* _pbNextIndexed = NULL, BOOL _bTakeSlot = TRUE) EXCLUDES(m_csIndex);
    // Fills the WRITE-marked slot from _hFile: at _llPosition, or where the
    // handle stands when _llPosition is -1. A block read short or not at all
    // is emptied and dropped from the index before the mark is released.
    // Releases the WRITE mark, or turns it into a READ mark of the caller
    // (_bKeepReadMark) so the slot cannot be taken before the caller copies.
    // Returns the bytes read.
    LONG CacheBlock(LONG _lIndex, HANDLE _hFile, LONGLONG _llPosition, BOOL _bKeepReadMark = FALSE)
        EXCLUDES(m_csIndex);
    // Copies _dwSize bytes from data offset _dwShift of the slot and drops
    // the caller's READ mark. Returns the mark left after the release.
    LONG ReadFromBlock(LONG _lIndex, void* _pvDest, DWORD _dwSize, DWORD _dwShift);
    // Drops every indexed block that does not lie wholly inside the first
    // llSize bytes. Readers still copying from such a block finish; the
    // block is never found again.
    void DropBlocksFrom(LONGLONG llSize) EXCLUDES(m_csIndex);

    // ---- what can be looked at (tests, traces)
    // The slot's mark, read atomically; its block's position; its data.
    LONG Mark(LONG _lIndex) const;
    LONGLONG SlotPos(LONG _lIndex) const;
    const BYTE* Data(LONG _lIndex) const { return SlotData(_lIndex); }
    DWORD SlotNumber(LONG _lIndex) const { return (DWORD)_lIndex % m_dwBlockNum; }
    bool IsIndexed(LONGLONG llBlockPos) EXCLUDES(m_csIndex);
    // The slots' memory: bytes used, and committed.
    DWORD MemorySize() const { return m_blobBuffer.Size(); }
    DWORD MemoryCapacity() const { return m_blobBuffer.Capacity(); }
    // The index lock, for a test that holds the store still.
    CCriticalSection& IndexLock() RETURN_CAPABILITY(m_csIndex) { return m_csIndex; }

private:
    // The address of the mark of the slot that counter value _lIndex names.
    LONG* BlockAccessPtr(LONG _lIndex) const;
    void SetSlotPos(LONG _lIndex, LONGLONG llPos);
    BYTE* SlotData(LONG _lIndex) const;

    DWORD m_dwBlockSize;  // bytes per block; 0 before Init
    DWORD m_dwBlockNum;   // number of slots; 0 before Init
    CBlob m_blobBuffer;   // the slots
    LONG m_lNextIndex;    // round-robin slot counter; interlocked operations only
    CCriticalSection m_csIndex;
    std::map<LONGLONG, LONG> m_mapIndex GUARDED_BY(m_csIndex);  // block position -> slot counter value
};
