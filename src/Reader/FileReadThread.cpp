// The read-ahead thread of CCachedReadFile.
//
// It keeps the blocks ahead of the reader cached: once woken, it caches
// consecutive blocks from m_llCacheReadPos until the window ahead of the
// latest request (m_llForwardReadSize bytes) is full or the next block is not
// wholly in the file, and then sleeps. It never waits for the file to grow
// and never reads a block that is not wholly in the file as last measured.
//
// Who wakes it:
//   - the work event (m_arrEvents[0]): a reader that found it idle with work
//     (SteerReadAhead), or a measurement that found the file grown;
//   - the stop event (m_arrEvents[1]): CloseFile, which also sets
//     m_lStopThread; the thread checks that flag between blocks, and waits on
//     the stop event before the work event, so stopping is prompt;
//   - the time-out of its wait, every READ_AHEAD_POLL_TIME: when reads went
//     on since the last one it measures the file, so growth and cuts are seen
//     even while every read is served from the cache.
#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"
#include "Reader/FileRead.h"

int CCachedReadFile::CacheOneBlock(LONGLONG llCacheReadPos, BOOL& bSequential) {
    const LONGLONG llBlockSize = m_blocks.BlockSize();
    const SlotClaim claim = m_blocks.ClaimSlot(llCacheReadPos);
    if (!claim.bClaimed) {
        bSequential = FALSE;  // found: the thread file stays where it was
        return 1;
    }
    const LONG lCached =
        m_blocks.CacheBlock(claim.lSlot, m_shThreadFile, bSequential ? -1 : llCacheReadPos, FALSE);
    // After a failed or short read the thread file no longer stands at the
    // next block: that one is read at its own position.
    bSequential = lCached == (LONG)llBlockSize;
    if (bSequential)
        return 1;
    // Short because the file was cut is no fault: the measurement drops what
    // lies past the new end and moves the thread back. Short while the file
    // still holds the block is a read error (traced by CacheBlock): the block
    // is passed over, and a reader reads it from the file. A file that
    // cannot even be measured ends the run; the next wake-up tries again.
    LONGLONG llSize = -1;
    if (FAILED(MeasureFileSize(&llSize)))
        return -1;
    if (llCacheReadPos + llBlockSize > llSize)
        return 0;
    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE];
    DSTrace(TRACE_APP2, 1,
            "###Err### CCachedReadFile::ReadThread() - block [%s] read short ( %s bytes ) - passed over\n",
            LL2Str(llCacheReadPos, szA), LL2Str(lCached, szB));
    return 1;
}

void CCachedReadFile::ReadAheadRun(LONGLONG& llCacheReadPos, BOOL& bSequential) {
    CHAR szA[CONV_BUFFER_SIZE], szB[CONV_BUFFER_SIZE], szC[CONV_BUFFER_SIZE];
    const LONGLONG llBlockSize = m_blocks.BlockSize();
    while (!m_lStopThread.load()) {
        const LONGLONG llFileReadPos = m_llFileReadPos.load();
        const LONGLONG llPos = m_llCacheReadPos.load();
        if (llCacheReadPos != llPos) {
            DSTrace(TRACE_APP2, 1,
                    "[FS] CCachedReadFile::ReadThread() - Cache position CHANGED [%s -> %s] ( possible "
                    "seeking )\n",
                    LL2Str(llCacheReadPos, szA), LL2Str(llPos, szB));
            bSequential = FALSE;
            llCacheReadPos = llPos;
        } else {
            DSTrace(TRACE_APP2, 1, "[FS] CCachedReadFile::ReadThread() - Sequential cache position: [%s]\n",
                    LL2Str(llCacheReadPos, szA));
        }
        if (llCacheReadPos >= llFileReadPos + m_llForwardReadSize)
            return;  // the window is full

        LONGLONG llLastFileSize = m_llFileSize.load();
        if (llCacheReadPos + llBlockSize > llLastFileSize)
            llLastFileSize = GetFileSize();
        if (llCacheReadPos + llBlockSize > llLastFileSize) {
            DSTrace(TRACE_APP2, 1,
                    "[FS] ###Err### CCachedReadFile::ReadThread() - INVALID Cache block start ( Start: %s "
                    "FileSize: %s BlockSize: %s)\n",
                    LL2Str(llCacheReadPos, szA), LL2Str(llLastFileSize, szB), LL2Str(llBlockSize, szC));
            // The block is still to be cached: the thread stays there until
            // the file holds it.
            return;
        }

        const int nStep = CacheOneBlock(llCacheReadPos, bSequential);
        if (nStep < 0)
            return;
        if (nStep == 0)
            continue;

        // On to the next block, unless a reader moved the thread meanwhile:
        // then its position wins and the next round reports the change.
        LONGLONG llExpected = llCacheReadPos;
        llCacheReadPos += llBlockSize;
        m_llCacheReadPos.compare_exchange_strong(llExpected, llCacheReadPos);
        if (llCacheReadPos < llFileReadPos + m_llForwardReadSize)
            DSTrace(TRACE_APP2, 1,
                    "[FS] EVENT (3) CCachedReadFile::ReadThread() - Next block [%s] READY for caching ( size "
                    "%s, forward %s )\n",
                    LL2Str(llCacheReadPos, szA), LL2Str(llLastFileSize, szB),
                    LL2Str(llFileReadPos + m_llForwardReadSize, szC));
    }
}

unsigned __stdcall CCachedReadFile::ReadThread(void* pCachedFile) {
    ASSERT(pCachedFile);
    if (!pCachedFile)
        return 0;
    CCachedReadFile* const p = static_cast<CCachedReadFile*>(pCachedFile);

    // The block the thread expects to handle next; -1 before the first run,
    // so the first run reports where it starts.
    LONGLONG llCacheReadPos = -1;
    // The thread file stands at llCacheReadPos: the previous block was read
    // whole through it.
    BOOL bSequential = FALSE;
    // Stop first: a stop signal raised together with work ends the thread.
    const HANDLE arrWait[2] = {p->m_arrEvents[1], p->m_arrEvents[0]};
    LONG lReadsSeen = p->m_lReads.load();

    while (!p->m_lStopThread.load()) {
        // Going idle: say so, then look once more. A reader that stored its
        // request before the flag was set is seen here; one that stores after
        // it sees the flag and wakes the thread.
        p->m_lThreadIdle.store(1);
        if (p->ReadAheadWanted(p->m_llCacheReadPos.load(), p->m_llWakeAhead)) {
            LONG lIdle = 1;
            if (p->m_lThreadIdle.compare_exchange_strong(lIdle, 0)) {
                p->ReadAheadRun(llCacheReadPos, bSequential);
                continue;
            }
            // A reader claimed the wake-up; its event arrives below.
        }
        const DWORD dwWait = WaitForMultipleObjects(2, arrWait, FALSE, READ_AHEAD_POLL_TIME);
        if (dwWait == WAIT_TIMEOUT) {
            const LONG lReads = p->m_lReads.load(std::memory_order_relaxed);
            if (lReads != lReadsSeen) {
                lReadsSeen = lReads;
                p->GetFileSize();
            }
            continue;  // the flag is still set: the check above decides
        }
        if (dwWait != WAIT_OBJECT_0 + 1 || p->m_lStopThread.load())
            break;  // the stop event, or a failed wait
        p->m_lThreadIdle.store(0);
        DSTrace(TRACE_APP2, 1, "(***)");
        p->ReadAheadRun(llCacheReadPos, bSequential);
    }
    return 0;
}
