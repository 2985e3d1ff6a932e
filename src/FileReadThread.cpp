// The read-ahead thread of CCachedReadFile.
//
// It caches one block per work signal, at m_llCacheReadPos, and signals
// itself to go on while the next block lies inside the forward window and
// wholly in the file. Who wakes it: CachedRead (EVENT (1) before a read,
// EVENT (2) for every block a read copies from), the thread itself
// (EVENT (3)), and CloseFile through the stop event. It never waits for the
// file to grow and never reads a block that is not wholly in the file as last
// measured.
#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"
#include "FileRead.h"

unsigned __stdcall CCachedReadFile::ReadThread(void* pCachedFile) {
    ASSERT(pCachedFile);
    if (!pCachedFile)
        return 0;
    CCachedReadFile* const p = static_cast<CCachedReadFile*>(pCachedFile);

    const DWORD dwBlockSize = p->m_dwBlockSize;
    LONGLONG llFileReadPos = 0;
    LONGLONG llCacheReadPos = -1;
    LONGLONG llLastFileSize = 0;
    const LONGLONG llForwardReadSize = p->m_llForwardReadSize;
    // The thread file stands at the next block: the previous pass read the
    // whole block before it through that file.
    BOOL bSequential = FALSE;
    const HANDLE arrEvents[2] = {p->m_arrEvents[0], p->m_arrEvents[1]};
    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE], szC[CONV_BUFFER_SIZE];

    for (;;) {
        if (WaitForMultipleObjects(2, arrEvents, FALSE, INFINITE) != WAIT_OBJECT_0)
            break;
        DSTrace(TRACE_APP2, 1, "(***)");

        EnterCriticalSection(&p->m_csPos);
        llFileReadPos = p->m_llFileReadPos;
        if (llCacheReadPos != p->m_llCacheReadPos) {
            DSTrace(TRACE_APP2, 1,
                    "[FS] CCachedReadFile::ReadThread() - Cache position CHANGED [%s -> %s] ( possible "
                    "seeking )\n",
                    LL2Str(llCacheReadPos, szA), LL2Str(p->m_llCacheReadPos, szB));
            bSequential = FALSE;
            llCacheReadPos = p->m_llCacheReadPos;
        } else {
            DSTrace(TRACE_APP2, 1, "[FS] CCachedReadFile::ReadThread() - Sequential cache position: [%s]\n",
                    LL2Str(llCacheReadPos, szA));
        }
        p->m_llCacheReadPos += dwBlockSize;
        EnterCriticalSection(&p->m_csPos);
        llLastFileSize = p->m_llFileSize;
        LeaveCriticalSection(&p->m_csPos);
        LeaveCriticalSection(&p->m_csPos);

        if (llCacheReadPos + dwBlockSize <= llLastFileSize) {
            ASSERT(llCacheReadPos + dwBlockSize <= llLastFileSize);
            LONG lIndex = 0;
            if (p->AcquireBlock(llCacheReadPos, &lIndex, FALSE)) {
                bSequential = FALSE;
            } else {
                // Wide enough to compare with the unsigned block size.
                const LONGLONG lCached =
                    p->CacheBlock(lIndex, p->m_shThreadFile, bSequential ? -1 : llCacheReadPos, FALSE);
                ASSERT(lCached == dwBlockSize);
                // After a failed or short read the file no longer stands at
                // the next block: read that one at its own position.
                bSequential = lCached == dwBlockSize;
            }
            llCacheReadPos += dwBlockSize;

            if (llCacheReadPos < llFileReadPos + llForwardReadSize) {
                if (llCacheReadPos + dwBlockSize > llLastFileSize) {
                    llLastFileSize = p->GetFileSize();
                    if (llCacheReadPos + dwBlockSize > llLastFileSize)
                        continue;
                }
                SetEvent(arrEvents[0]);
                DSTrace(TRACE_APP2, 1,
                        "[FS] EVENT (3) CCachedReadFile::ReadThread() - Next block [%s] READY for caching ( "
                        "size %s, "
                        "forward %s )\n",
                        LL2Str(llCacheReadPos, szA), LL2Str(llLastFileSize, szB),
                        LL2Str(llFileReadPos + llForwardReadSize, szC));
            }
        } else {
            DSTrace(TRACE_APP2, 1,
                    "[FS] ###Err### CCachedReadFile::ReadThread() - INVALID Cache block start ( Start: %s "
                    "FileSize: %s "
                    "BlockSize: %s)\n",
                    LL2Str(llCacheReadPos, szA), LL2Str(llLastFileSize, szB), LL2Str(dwBlockSize, szC));
            // The block is still to be cached: the next signal, raised once it
            // is in the file, must find the thread there, not past it.
            EnterCriticalSection(&p->m_csPos);
            if (p->m_llCacheReadPos == llCacheReadPos + dwBlockSize)
                p->m_llCacheReadPos = llCacheReadPos;
            LeaveCriticalSection(&p->m_csPos);
            llCacheReadPos = -1;
            ResetEvent(arrEvents[0]);
        }
    }
    return 0;
}
