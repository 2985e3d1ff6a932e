// The two pools of the memory allocator: the buffers, carved out of one block
// of virtual memory, and the blocks that samples are built in. Neither has a
// lock: the allocator's lock guards both.
#pragma once

#include <windows.h>
#include <dshow.h>

// The buffers of a committed allocator and the stack of free ones.
class CAllocatorBuffers {
public:
    CAllocatorBuffers();
    ~CAllocatorBuffers();
    CAllocatorBuffers(const CAllocatorBuffers&) = delete;
    CAllocatorBuffers& operator=(const CAllocatorBuffers&) = delete;

    // Checks requested properties and corrects the buffer size so that prefix
    // plus buffer is a multiple of the alignment (an alignment of 0 becomes
    // 1). VFW_E_BADALIGN for an alignment that is not 0 or a power of two,
    // VFW_E_SIZENOTSET for no buffers or no size, E_INVALIDARG for a negative
    // prefix or a size that cannot be laid out; rgProps is then unchanged.
    static HRESULT Correct(ALLOCATOR_PROPERTIES& rgProps);

    // Lays out rgProps.cBuffers buffers in one new block (the old one is
    // freed: every buffer must be back) and puts them all on the stack, the
    // last buffer on top. E_OUTOFMEMORY leaves no block and no buffers.
    HRESULT Allocate(const ALLOCATOR_PROPERTIES& rgProps);
    void Free();

    // The buffer on top of the stack, or null when none is free.
    BYTE* Pop();
    void Push(BYTE* pBuffer);

    LONG GetCount() const { return m_nCount; }
    LONG GetFreeCount() const { return m_nFree; }
    bool IsAllReturn() const { return m_nFree == m_nCount; }

private:
    BYTE* m_pMemory;     // the block, from VirtualAlloc
    LONG m_nCount;       // buffers in the block
    BYTE** m_stackFree;  // m_nCount entries; the first m_nFree are free buffers
    LONG m_nFree;
};

// The blocks samples are built in, each cbBlock bytes from the heap. A block is
// free (in the array) or holds a live sample. The array only grows while a
// sample's buffer is already back and its block not yet (see Get).
class CSampleArray {
public:
    explicit CSampleArray(size_t cbBlock);
    ~CSampleArray();
    CSampleArray(const CSampleArray&) = delete;
    CSampleArray& operator=(const CSampleArray&) = delete;

    // Makes at least nCount blocks exist, freeing free blocks beyond nCount.
    // Blocks still held by samples stay theirs and come back through Put,
    // so a new commit never has to wait for the samples of an old one.
    // E_OUTOFMEMORY leaves what could be made.
    HRESULT Reserve(LONG nCount);
    // Frees the array and every free block; every block must be back.
    void Free();

    // A free block cleared to zero; makes a new one when none is free. Null
    // when memory runs out.
    void* Get();
    void Put(void* pBlock);

    LONG GetAll() const { return m_nAll; }
    LONG GetBusy() const { return m_nBusy; }
    bool IsAllReturn() const { return m_nBusy == m_nAll; }

private:
    bool Grow(LONG nSize);

    const size_t m_cbBlock;
    void** m_ppArr;  // m_nSize entries; the first m_nBusy are free blocks
    LONG m_nSize;
    LONG m_nAll;   // blocks in existence
    LONG m_nBusy;  // blocks in the array
};
