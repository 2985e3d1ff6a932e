// CBlockStore: the block cache's slots, their marks and the index of the
// blocks they hold. CCachedReadFile (FileRead.h) owns one; its tests use it
// directly.
//
// The cache memory is BlockNum() slots, each a SlotHeader and then the
// block's bytes. A slot is named by a slot counter value (any non-negative
// LONG, taken modulo BlockNum()); the index maps block positions to counter
// values.
//
// Three operations meet a slot's mark: PinBlock (a reader: a READ mark on a
// cached block), ClaimSlot (a writer: the WRITE mark of a slot taken for a
// block not cached yet) and IsIndexed (a question, nothing marked). Nobody
// waits for a mark: a writer looking for a slot moves on to the next one, a
// reader that finds its block still being written reads the file instead.
//
// Lock: m_csIndex guards the index and the choice of slots; a writer also
// takes it, while still holding the slot's WRITE mark, to drop a block it
// could not fill (CacheBlock). It is never held while data is copied or the
// file is read, nor while a trace is written. Order: the cache's m_csPos,
// then m_csIndex; a WRITE mark, then m_csIndex. ClaimSlot holds m_csIndex and
// only tries marks, never waits for one, so neither order can close a cycle.
#pragma once

#include <windows.h>

#include <map>

#include "FileSourceConstants.h"
#include "WinAPI/Blob.h"
#include "WinAPI/CriticalSection.h"

// What PinBlock found.
enum BlockPinState {
    BP_Hit = 0,      // cached: the caller holds a READ mark on the slot
    BP_Writing = 1,  // indexed, still being written: no mark held
    BP_Absent = 2    // not indexed: no mark held
};

struct BlockPin {
    BlockPinState eState;
    LONG lSlot;         // BP_Hit: the slot, for ReadFromBlock (which drops the mark)
    bool bNextIndexed;  // the block after this one is indexed (same look-up)
};

struct SlotClaim {
    // True: the caller holds the slot's WRITE mark, the slot is already
    // indexed for the block, and CacheBlock must fill it. False: the block is
    // indexed already; nothing is held.
    bool bClaimed;
    LONG lSlot;
};

// The bytes in front of each slot's data: the header fills a cache line, so
// the data starts on the next one.
struct alignas(SLOT_HEADER_SIZE) SlotHeader {
    // The slot's reader-writer lock, changed only by interlocked operations:
    // -1 being written (WRITE mark), 0 free, n > 0 n readers copy out of it
    // (READ marks). It becomes -1 only in ClaimSlot, under m_csIndex, which
    // is why PinBlock, under the same lock, adds a READ mark by a plain
    // increment once it saw the mark non-negative.
    volatile LONG lMark;
    // The position of the block held, -1 empty. Read and written only by the
    // holder of a mark, so the mark's interlocked operations order them.
    LONGLONG llBlockPos;
};
static_assert(sizeof(SlotHeader) == SLOT_HEADER_SIZE, "a slot header fills SLOT_HEADER_SIZE bytes");

class CBlockStore {
public:
    CBlockStore();
    CBlockStore(const CBlockStore&) = delete;
    CBlockStore& operator=(const CBlockStore&) = delete;

    // Lays out nBlocks empty slots of cbBlockSize bytes (a non-zero multiple
    // of 4). E_INVALIDARG for a bad size or no slot, E_OUTOFMEMORY without
    // memory.
    HRESULT Init(DWORD cbBlockSize, DWORD nBlocks) EXCLUDES(m_csIndex);
    // Frees the slots; the store is empty (BlockSize() and BlockNum() 0).
    void Uninit() EXCLUDES(m_csIndex);
    bool IsValid() const { return m_blobBuffer.IsValid(); }
    DWORD BlockSize() const { return m_dwBlockSize; }
    DWORD BlockNum() const { return m_dwBlockNum; }
    // Forgets every block (the file was closed); marks and slot positions
    // stay, the index alone decides what is cached.
    void Clear() EXCLUDES(m_csIndex);

    // A reader's look-up of the block starting at llBlockPos.
    BlockPin PinBlock(LONGLONG llBlockPos) EXCLUDES(m_csIndex);
    // A writer's look-up: takes a slot for the block unless it is indexed
    // already. Goes round the slots until one is free.
    SlotClaim ClaimSlot(LONGLONG llBlockPos) EXCLUDES(m_csIndex);
    bool IsIndexed(LONGLONG llBlockPos) EXCLUDES(m_csIndex);

    // Fills the claimed slot from _hFile: at _llPosition, or where the handle
    // stands when _llPosition is -1. A block read short or not at all is
    // emptied and dropped from the index before the mark is released.
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
    LONGLONG SlotPos(LONG _lIndex) const { return Header(_lIndex)->llBlockPos; }
    const BYTE* Data(LONG _lIndex) const { return SlotData(_lIndex); }
    DWORD SlotNumber(LONG _lIndex) const { return (DWORD)_lIndex % m_dwBlockNum; }
    // The slots' memory: bytes used, and committed.
    DWORD MemorySize() const { return m_blobBuffer.Size(); }
    DWORD MemoryCapacity() const { return m_blobBuffer.Capacity(); }
    // The index lock, for a test that holds the store still.
    CCriticalSection& IndexLock() RETURN_CAPABILITY(m_csIndex) { return m_csIndex; }

private:
    SlotHeader* Header(LONG _lIndex) const;
    BYTE* SlotData(LONG _lIndex) const { return (BYTE*)(Header(_lIndex) + 1); }
    // Whether the block after the one at it is indexed.
    bool NextIndexed(std::map<LONGLONG, LONG>::const_iterator it) const REQUIRES(m_csIndex);

    DWORD m_dwBlockSize;  // bytes per block; 0 before Init
    DWORD m_dwBlockNum;   // number of slots; 0 before Init
    DWORD m_cbSlot;       // header and data, rounded up to whole headers
    CBlob m_blobBuffer;   // the slots
    LONG m_lNextIndex;    // round-robin slot counter; interlocked operations only
    CCriticalSection m_csIndex;
    std::map<LONGLONG, LONG> m_mapIndex GUARDED_BY(m_csIndex);  // block position -> slot counter value
};
