// CBlockStore: slots, their marks and the index (see the header).
#include "Reader/FileReadBlocks.h"

#include <string.h>

#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"

CBlockStore::CBlockStore() : m_dwBlockSize(0), m_dwBlockNum(0), m_cbSlot(0), m_lNextIndex(0) {}

HRESULT CBlockStore::Init(DWORD cbBlockSize, DWORD nBlocks) {
    Uninit();
    if (cbBlockSize == 0 || cbBlockSize % 4 != 0 || nBlocks == 0)
        return E_INVALIDARG;
    // Counted in 64 bits: the slots of a large cache must not wrap to a
    // small allocation. Every slot starts on a header boundary, so each
    // header is aligned and each block's data starts on a cache line.
    const ULONGLONG cbSlot =
        ((ULONGLONG)cbBlockSize + 2 * SLOT_HEADER_SIZE - 1) / SLOT_HEADER_SIZE * SLOT_HEADER_SIZE;
    const ULONGLONG cbTotal = cbSlot * nBlocks;
    const HRESULT hr =
        cbTotal > 0xFFFFFFFFull ? E_OUTOFMEMORY : m_blobBuffer.AllocMem((DWORD)cbTotal, TRUE, 0);
    if (FAILED(hr))
        return hr;
    m_dwBlockSize = cbBlockSize;
    m_dwBlockNum = nBlocks;
    m_cbSlot = (DWORD)cbSlot;
    for (DWORD i = 0; i < m_dwBlockNum; ++i)
        Header((LONG)i)->llBlockPos = -1;
    return S_OK;
}

void CBlockStore::Uninit() {
    Clear();
    m_blobBuffer.Empty();
    m_dwBlockSize = m_dwBlockNum = m_cbSlot = 0;
}

void CBlockStore::Clear() {
    CCritSecLock lock(m_csIndex);
    InterlockedExchange(&m_lNextIndex, 0);
    m_mapIndex.clear();
}

LONG CBlockStore::Mark(LONG _lIndex) const {
    return InterlockedCompareExchange(&Header(_lIndex)->lMark, 0, 0);
}

bool CBlockStore::IsIndexed(LONGLONG llBlockPos) {
    CCritSecLock lock(m_csIndex);
    return m_mapIndex.count(llBlockPos) != 0;
}

SlotHeader* CBlockStore::Header(LONG _lIndex) const {
    return (SlotHeader*)m_blobBuffer.Offset(SlotNumber(_lIndex) * m_cbSlot);
}

bool CBlockStore::NextIndexed(std::map<LONGLONG, LONG>::const_iterator it) const {
    const LONGLONG llNext = it->first + (LONGLONG)m_dwBlockSize;
    ++it;
    return it != m_mapIndex.end() && it->first == llNext;
}

void CBlockStore::DropBlocksFrom(LONGLONG llSize) {
    // Blocks are indexed by their start: the first one that does not end
    // inside the file starts after llSize - block size.
    CCritSecLock lock(m_csIndex);
    m_mapIndex.erase(m_mapIndex.upper_bound(llSize - (LONGLONG)m_dwBlockSize), m_mapIndex.end());
}

namespace {
// What ClaimSlot saw under the index lock, traced after it let go.
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

BlockPin CBlockStore::PinBlock(LONGLONG llBlockPos) {
    BlockPin pin = {BP_Absent, 0, false};
    CCritSecLock lock(m_csIndex);
    const std::map<LONGLONG, LONG>::const_iterator it = m_mapIndex.find(llBlockPos);
    if (it == m_mapIndex.end()) {
        pin.bNextIndexed = m_mapIndex.count(llBlockPos + (LONGLONG)m_dwBlockSize) != 0;
        return pin;
    }
    pin.bNextIndexed = NextIndexed(it);
    volatile LONG* plMark = &Header(it->second)->lMark;
    const LONG lMark = InterlockedCompareExchange(plMark, 1, 0);
    if (lMark == -1) {
        pin.eState = BP_Writing;
        return pin;
    }
    if (lMark > 0)
        InterlockedIncrement(plMark);
    pin.eState = BP_Hit;
    pin.lSlot = it->second;
    return pin;
}

SlotClaim CBlockStore::ClaimSlot(LONGLONG llBlockPos) {
    CHAR szA[CONV_BUFFER_SIZE];
    SkippedSlot arrSkipped[kTracedSkips];
    DWORD dwSkipped = 0;

    CCritSecLock lock(m_csIndex);
    for (;;) {
        if (m_mapIndex.count(llBlockPos) != 0)
            return {false, 0};

        // Round-robin over the slots, skipping those in use. After a whole
        // round of busy slots the lock is let go for a moment: a writer may
        // need it to finish (CacheBlock), and the block may get indexed
        // meanwhile, so the look-up starts again.
        LONG lIndex = InterlockedIncrement(&m_lNextIndex);
        DWORD dwTries = 0;
        LONG lMark;
        while ((lMark = InterlockedCompareExchange(&Header(lIndex)->lMark, -1, 0)) != 0 &&
               ++dwTries < m_dwBlockNum) {
            const LONG lNext = InterlockedIncrement(&m_lNextIndex);
            if (dwSkipped < kTracedSkips)
                arrSkipped[dwSkipped++] = {lMark, SlotNumber(lNext)};
            lIndex = lNext;
        }
        if (lMark != 0) {
            lock.Unlock();
            TraceSkipped(llBlockPos, arrSkipped, dwSkipped);
            dwSkipped = 0;
            Sleep(1);
            lock.Lock();
            continue;
        }

        // The WRITE mark is held: re-point the slot at the new block.
        SlotHeader* const pHeader = Header(lIndex);
        const LONGLONG llOldPos = pHeader->llBlockPos;
        if (llOldPos >= 0) {
            // Only the slot's own entry goes: the old block may be indexed in
            // another slot by now (after CloseFile, or after it was dropped).
            const std::map<LONGLONG, LONG>::iterator itOld = m_mapIndex.find(llOldPos);
            if (itOld != m_mapIndex.end() && SlotNumber(itOld->second) == SlotNumber(lIndex))
                m_mapIndex.erase(itOld);
        }
        pHeader->llBlockPos = llBlockPos;
        m_mapIndex.insert_or_assign(llBlockPos, lIndex);
        lock.Unlock();

        TraceSkipped(llBlockPos, arrSkipped, dwSkipped);
        if (llOldPos >= 0)
            DSTrace(TRACE_APP1, 8, "[FS] Remove FROM cache [ Index: %u , Pos: %s]\n", SlotNumber(lIndex),
                    LL2Str(llOldPos, szA));
        return {true, lIndex};
    }
}

LONG CBlockStore::CacheBlock(LONG _lIndex, HANDLE _hFile, LONGLONG _llPosition, BOOL _bKeepReadMark) {
    ASSERT(_hFile && _hFile != INVALID_HANDLE_VALUE);
    SlotHeader* const pHeader = Header(_lIndex);
    // The mark is read atomically: other threads try it at the same time.
    if (InterlockedCompareExchange(&pHeader->lMark, -1, -1) != -1)
        AssertFailed(__FILE__, __LINE__, "pHeader->lMark == -1");
    BYTE* pbData = SlotData(_lIndex);
    const LONGLONG llBlockPos = pHeader->llBlockPos;

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
        pHeader->llBlockPos = -1;
        CCritSecLock lock(m_csIndex);
        const std::map<LONGLONG, LONG>::iterator it = m_mapIndex.find(llBlockPos);
        if (it != m_mapIndex.end() && SlotNumber(it->second) == SlotNumber(_lIndex))
            m_mapIndex.erase(it);
    }
    InterlockedExchange(&pHeader->lMark, _bKeepReadMark ? 1 : 0);

    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE], szErr[FORMAT_ERROR_BUFFER_SIZE];
    if (!bRead)
        DSTrace(TRACE_APP2, 1, "###Err### CCachedReadFile::CacheBlock() - ReadFile() FAILED dwRes = %d\n%s\n",
                dwErr, FormatError(szErr, "ReadFile", "dwRes", dwErr));
    DSTrace(TRACE_APP1, 8, "[FS] Read INTO cache [ Index: %u , Pos: %s, Size: %s ]\n", SlotNumber(_lIndex),
            LL2Str(_llPosition > 0 ? _llPosition : llBlockPos, szA), LL2Str(cbRead, szB));
    return (LONG)cbRead;
}

LONG CBlockStore::ReadFromBlock(LONG _lIndex, void* _pvDest, DWORD _dwSize, DWORD _dwShift) {
    ASSERT(_pvDest);
    ASSERT(_dwSize + _dwShift <= m_dwBlockSize);
    SlotHeader* const pHeader = Header(_lIndex);
    const LONGLONG llPos = pHeader->llBlockPos;
    if (_pvDest && (ULONGLONG)_dwSize + _dwShift <= m_dwBlockSize)
        memcpy(_pvDest, SlotData(_lIndex) + _dwShift, _dwSize);
    const LONG lMark = InterlockedDecrement(&pHeader->lMark);
    CHAR szA[CONV_BUFFER_SIZE];
    DSTrace(TRACE_APP1, 8, "[FS] Read FROM cache [ Index: %u , Pos: %s]\n", SlotNumber(_lIndex),
            LL2Str(llPos, szA));
    return lMark;
}
