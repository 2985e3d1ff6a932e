// CBlockStore: slots, their marks and the index (see the header).
#include "Reader/FileReadBlocks.h"

#include <string.h>

#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"

CBlockStore::CBlockStore() : m_dwBlockSize(0), m_dwBlockNum(0), m_lNextIndex(0) {}

HRESULT CBlockStore::Init(DWORD cbBlockSize, DWORD nBlocks) {
    Uninit();
    if (cbBlockSize == 0 || cbBlockSize % 4 != 0 || nBlocks == 0)
        return E_INVALIDARG;
    // Counted in 64 bits: the slots of a large cache must not wrap to a
    // small allocation.
    const ULONGLONG cbTotal = ((ULONGLONG)cbBlockSize + SLOT_HEADER_SIZE) * nBlocks;
    const HRESULT hr =
        cbTotal > 0xFFFFFFFFull ? E_OUTOFMEMORY : m_blobBuffer.AllocMem((DWORD)cbTotal, TRUE, 0);
    if (FAILED(hr))
        return hr;
    m_dwBlockSize = cbBlockSize;
    m_dwBlockNum = nBlocks;
    for (DWORD i = 0; i < m_dwBlockNum; ++i)
        SetSlotPos((LONG)i, -1);
    return S_OK;
}

void CBlockStore::Uninit() {
    Clear();
    m_blobBuffer.Empty();
    m_dwBlockSize = m_dwBlockNum = 0;
}

void CBlockStore::Clear() {
    CCritSecLock lock(m_csIndex);
    InterlockedExchange(&m_lNextIndex, 0);
    m_mapIndex.clear();
}

LONG CBlockStore::Mark(LONG _lIndex) const {
    return InterlockedCompareExchange(BlockAccessPtr(_lIndex), 0, 0);
}

bool CBlockStore::IsIndexed(LONGLONG llBlockPos) {
    CCritSecLock lock(m_csIndex);
    return m_mapIndex.count(llBlockPos) != 0;
}

LONG* CBlockStore::BlockAccessPtr(LONG _lIndex) const {
    const DWORD dwSlot = SlotNumber(_lIndex);
    return (LONG*)m_blobBuffer.Offset(dwSlot * (m_dwBlockSize + SLOT_HEADER_SIZE) + SLOT_HEADER_SIZE - 12);
}

// The position field is not 8-byte aligned in the slot: copied, not
// dereferenced. Only the holder of a mark on the slot reads or writes it,
// so the mark's interlocked operations order these accesses.
LONGLONG CBlockStore::SlotPos(LONG _lIndex) const {
    LONGLONG llPos;
    memcpy(&llPos, (BYTE*)BlockAccessPtr(_lIndex) + 4, sizeof(llPos));
    return llPos;
}

void CBlockStore::SetSlotPos(LONG _lIndex, LONGLONG llPos) {
    memcpy((BYTE*)BlockAccessPtr(_lIndex) + 4, &llPos, sizeof(llPos));
}

BYTE* CBlockStore::SlotData(LONG _lIndex) const {
    return (BYTE*)BlockAccessPtr(_lIndex) + 12;
}

void CBlockStore::DropBlocksFrom(LONGLONG llSize) {
    // Blocks are indexed by their start: the first one that does not end
    // inside the file starts after llSize - block size.
    CCritSecLock lock(m_csIndex);
    m_mapIndex.erase(m_mapIndex.upper_bound(llSize - (LONGLONG)m_dwBlockSize), m_mapIndex.end());
}

namespace {
// What AcquireBlock saw under the index lock, traced after it let go.
struct SkippedSlot {
    LONG lMark;
    DWORD dwNext;
};
const DWORD kTracedSkips = 8;

void TraceSkipped(LONGLONG llBlockPos, const SkippedSlot* pSkipped, DWORD dwSkipped) {
    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE];
    for (DWORD i = 0; i < dwSkipped; ++i)
        DSTrace(TRACE_APP2, 8,
                "[FS] ( Update: %s ) !!! Index for WRITE already mark as [%s] - try next [%s] index...\n",
                LL2Str(llBlockPos, szA), pSkipped[i].lMark > 0 ? "READ" : "WRITE",
                LL2Str(pSkipped[i].dwNext, szB));
}
}  // namespace

BOOL CBlockStore::AcquireBlock(LONGLONG _llBlockPos, LONG* _plIndex, BOOL _bForRead, BOOL* _pbWaitWrite,
                               BOOL* _pbNextIndexed, BOOL _bTakeSlot) {
    ASSERT(_plIndex);
    if (_pbWaitWrite)
        *_pbWaitWrite = FALSE;
    if (_pbNextIndexed)
        *_pbNextIndexed = FALSE;
    if (!_plIndex)
        return TRUE;  // nothing marked, nothing to fill
    CHAR szA[CONV_BUFFER_SIZE];
    const LONGLONG llNext = _llBlockPos + (LONGLONG)m_dwBlockSize;
    SkippedSlot arrSkipped[kTracedSkips];
    DWORD dwSkipped = 0;

    CCritSecLock lock(m_csIndex);
    for (;;) {
        const std::map<LONGLONG, LONG>::const_iterator it = m_mapIndex.find(_llBlockPos);
        if (it != m_mapIndex.end()) {
            if (_bForRead) {
                *_plIndex = it->second;
                LONG* plMark = BlockAccessPtr(it->second);
                const LONG lMark = InterlockedCompareExchange(plMark, 1, 0);
                if (lMark == -1) {
                    if (_pbWaitWrite)
                        *_pbWaitWrite = TRUE;
                } else if (lMark > 0) {
                    InterlockedIncrement(plMark);
                }
            }
            if (_pbNextIndexed) {
                std::map<LONGLONG, LONG>::const_iterator itNext = it;
                ++itNext;
                *_pbNextIndexed = itNext != m_mapIndex.end() && itNext->first == llNext;
            }
            return TRUE;
        }

        if (!_bTakeSlot) {
            if (_pbNextIndexed)
                *_pbNextIndexed = m_mapIndex.find(llNext) != m_mapIndex.end();
            return FALSE;
        }

        // Round-robin over the slots, skipping those in use. After a whole
        // round of busy slots the lock is let go for a moment: a writer may
        // need it to finish (CacheBlock), and the block may get indexed
        // meanwhile, so the look-up starts again.
        LONG lIndex = InterlockedIncrement(&m_lNextIndex);
        DWORD dwTries = 0;
        LONG lMark;
        while ((lMark = InterlockedCompareExchange(BlockAccessPtr(lIndex), -1, 0)) != 0 &&
               ++dwTries < m_dwBlockNum) {
            const LONG lNext = InterlockedIncrement(&m_lNextIndex);
            if (dwSkipped < kTracedSkips)
                arrSkipped[dwSkipped++] = {lMark, SlotNumber(lNext)};
            lIndex = lNext;
        }
        if (lMark != 0) {
            lock.Unlock();
            TraceSkipped(_llBlockPos, arrSkipped, dwSkipped);
            dwSkipped = 0;
            Sleep(1);
            lock.Lock();
            continue;
        }

        // The WRITE mark is held: re-point the slot at the new block.
        const LONGLONG llOldPos = SlotPos(lIndex);
        if (llOldPos >= 0) {
            // Only the slot's own entry goes: the old block may be indexed in
            // another slot by now (after CloseFile, or after it was dropped).
            const std::map<LONGLONG, LONG>::iterator itOld = m_mapIndex.find(llOldPos);
            if (itOld != m_mapIndex.end() && SlotNumber(itOld->second) == SlotNumber(lIndex))
                m_mapIndex.erase(itOld);
        }
        SetSlotPos(lIndex, _llBlockPos);
        const std::map<LONGLONG, LONG>::iterator itNew =
            m_mapIndex.insert_or_assign(_llBlockPos, lIndex).first;
        if (_pbNextIndexed) {
            std::map<LONGLONG, LONG>::iterator itNext = itNew;
            ++itNext;
            *_pbNextIndexed = itNext != m_mapIndex.end() && itNext->first == llNext;
        }
        *_plIndex = lIndex;
        lock.Unlock();

        TraceSkipped(_llBlockPos, arrSkipped, dwSkipped);
        if (llOldPos >= 0)
            DSTrace(TRACE_APP1, 8, "[FS] Remove FROM cache [ Index: %u , Pos: %s]\n", SlotNumber(lIndex),
                    LL2Str(llOldPos, szA));
        return FALSE;
    }
}

LONG CBlockStore::CacheBlock(LONG _lIndex, HANDLE _hFile, LONGLONG _llPosition, BOOL _bKeepReadMark) {
    ASSERT(_hFile && _hFile != INVALID_HANDLE_VALUE);
    LONG* plMark = BlockAccessPtr(_lIndex);
    // The mark is read atomically: other threads try it at the same time.
    if (InterlockedCompareExchange(plMark, -1, -1) != -1)
        AssertFailed(__FILE__, __LINE__, "*BlockAccessPtr( _lIndex ) == -1");
    BYTE* pbData = SlotData(_lIndex);
    const LONGLONG llBlockPos = SlotPos(_lIndex);

    DWORD cbRead = 0;
    BOOL bRead;
    DWORD dwErr = ERROR_SUCCESS;
    if (_llPosition >= 0) {
        // A positioned read: it cannot be torn apart from its positioning by
        // another thread, and it leaves the file pointer after the bytes read.
        OVERLAPPED ov = {};
        ov.Offset = (DWORD)(ULONGLONG)_llPosition;
        ov.OffsetHigh = (DWORD)((ULONGLONG)_llPosition >> 32);
        bRead = ReadFile(_hFile, pbData, m_dwBlockSize, &cbRead, &ov);
        // At or past the end a positioned read fails with ERROR_HANDLE_EOF on
        // Windows: that is a read of 0 bytes, not an error.
        if (!bRead && GetLastError() == ERROR_HANDLE_EOF)
            bRead = TRUE;
    } else {
        bRead = ReadFile(_hFile, pbData, m_dwBlockSize, &cbRead, NULL);
    }
    if (!bRead) {
        dwErr = GetLastError();
        memset(pbData, 0, m_dwBlockSize);
        cbRead = 0;
    }

    if (cbRead < m_dwBlockSize) {
        // An incomplete block must never be found: its tail holds no file
        // data, and the file may grow past it later. Readers that found it
        // while it was written see the emptied slot and look again.
        SetSlotPos(_lIndex, -1);
        CCritSecLock lock(m_csIndex);
        const std::map<LONGLONG, LONG>::iterator it = m_mapIndex.find(llBlockPos);
        if (it != m_mapIndex.end() && SlotNumber(it->second) == SlotNumber(_lIndex))
            m_mapIndex.erase(it);
    }
    InterlockedExchange(plMark, _bKeepReadMark ? 1 : 0);

    if (!bRead)
        DSTrace(TRACE_APP2, 1, "###Err### CCachedReadFile::CacheBlock() - ReadFile() FAILED dwRes = %d\n",
                dwErr);
    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE];
    DSTrace(TRACE_APP1, 8, "[FS] Read INTO cache [ Index: %u , Pos: %s, Size: %s ]\n", SlotNumber(_lIndex),
            LL2Str(_llPosition > 0 ? _llPosition : llBlockPos, szA), LL2Str(cbRead, szB));
    return (LONG)cbRead;
}

LONG CBlockStore::ReadFromBlock(LONG _lIndex, void* _pvDest, DWORD _dwSize, DWORD _dwShift) {
    ASSERT(_pvDest);
    ASSERT(_dwSize + _dwShift <= m_dwBlockSize);
    LONG* plMark = BlockAccessPtr(_lIndex);
    const LONGLONG llPos = SlotPos(_lIndex);
    if (_pvDest && (ULONGLONG)_dwSize + _dwShift <= m_dwBlockSize)
        memcpy(_pvDest, SlotData(_lIndex) + _dwShift, _dwSize);
    const LONG lMark = InterlockedDecrement(plMark);
    CHAR szA[CONV_BUFFER_SIZE];
    DSTrace(TRACE_APP1, 8, "[FS] Read FROM cache [ Index: %u , Pos: %s]\n", SlotNumber(_lIndex),
            LL2Str(llPos, szA));
    return lMark;
}
