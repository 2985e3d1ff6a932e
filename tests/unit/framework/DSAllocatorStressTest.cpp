// Several threads take and give back samples of one allocator while another
// thread decommits and commits it: nothing may be handed out twice, nothing
// may leak, and every waiting thread must wake.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ComStubs.h"
#include "DShowX/DSAllocators.h"
#include "DebugCapture.h"

namespace {

using testsupport::CountingNotify;

struct WorkerResult {
    long nGot = 0;
    long nNotCommitted = 0;
    long nTimeouts = 0;
    long nErrors = 0;
    long nStolen = 0;  // a buffer that another thread wrote into while we held it
};

TEST(AllocatorStress, TakeAndGiveBackWhileDecommittingAndCommitting) {
    const LONG nLocks = CComModuleLock::GetLockCount();
    const int kBuffers = 3;
    const int kWorkers = 4;
    const DWORD kMilliseconds = 600;

    IMemAllocator* pAlloc = NULL;
    ASSERT_EQ(S_OK, CreateMemoryAllocator(&pAlloc));
    IMemAllocatorCallbackTemp* pCb = NULL;
    ASSERT_EQ(S_OK, pAlloc->QueryInterface(IID_IMemAllocatorCallbackTemp, reinterpret_cast<void**>(&pCb)));
    CountingNotify notify;
    ASSERT_EQ(S_OK, pCb->SetNotify(&notify));
    ALLOCATOR_PROPERTIES req = {kBuffers, 256, 16, 8}, act;
    ASSERT_EQ(S_OK, pAlloc->SetProperties(&req, &act));
    ASSERT_EQ(S_OK, pAlloc->Commit());

    std::atomic<bool> bStop(false);
    std::atomic<int> nOut(0), nMaxOut(0), nRunning(kWorkers + 1);
    HANDLE hDone = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::vector<WorkerResult> results(kWorkers);
    std::vector<std::thread> threads;

    for (int w = 0; w < kWorkers; ++w) {
        threads.emplace_back([&, w] {
            WorkerResult& r = results[w];
            unsigned nSeed = 1234u + w;
            for (unsigned i = 0; !bStop; ++i) {
                IMediaSample* pSample = NULL;
                const DWORD dwFlags = (i % 3 == 2) ? AM_GBF_NOWAIT : 0;
                const HRESULT hr = pAlloc->GetBuffer(&pSample, NULL, NULL, dwFlags);
                if (hr == VFW_E_NOT_COMMITTED) {
                    ++r.nNotCommitted;
                    std::this_thread::yield();
                    continue;
                }
                if (hr == VFW_E_TIMEOUT) {
                    ++r.nTimeouts;
                    continue;
                }
                if (hr != S_OK || !pSample) {
                    ++r.nErrors;
                    continue;
                }
                ++r.nGot;
                const int n = ++nOut;
                int nMax = nMaxOut;
                while (n > nMax && !nMaxOut.compare_exchange_weak(nMax, n)) {
                }
                // Mark the whole buffer as ours, let others run, check the mark.
                BYTE* pBuffer = NULL;
                pSample->GetPointer(&pBuffer);
                const LONG cb = pSample->GetSize();
                const BYTE bMark = (BYTE)(w * 61 + i);
                memset(pBuffer, bMark, cb);
                nSeed = nSeed * 1103515245u + 12345u;
                if ((nSeed >> 16) % 4 == 0)
                    std::this_thread::yield();
                if (pBuffer[0] != bMark || pBuffer[cb - 1] != bMark)
                    ++r.nStolen;
                pSample->SetActualDataLength(cb / 2);
                --nOut;
                pSample->Release();
            }
            if (--nRunning == 0)
                SetEvent(hDone);
        });
    }
    long nCycles = 0;
    threads.emplace_back([&] {
        const DWORD dwStart = GetTickCount();
        while (GetTickCount() - dwStart < kMilliseconds) {
            Sleep(2);
            EXPECT_EQ(S_OK, pAlloc->Decommit());
            Sleep(1);
            EXPECT_EQ(S_OK, pAlloc->Commit());
            ++nCycles;
        }
        bStop = true;
        // Whoever still waits for a buffer must wake.
        EXPECT_EQ(S_OK, pAlloc->Decommit());
        if (--nRunning == 0)
            SetEvent(hDone);
    });

    if (WaitForSingleObject(hDone, 60000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "a thread never woke";
        abort();  // joining would hang
    }
    for (std::thread& t : threads)
        t.join();
    CloseHandle(hDone);

    long nGot = 0;
    for (const WorkerResult& r : results) {
        EXPECT_EQ(0, r.nErrors);
        EXPECT_EQ(0, r.nStolen);
        nGot += r.nGot;
    }
    EXPECT_GT(nGot, 0);
    EXPECT_GT(nCycles, 0);
    EXPECT_LE(nMaxOut.load(), kBuffers);
    // Every sample that came back told the callback.
    EXPECT_EQ(nGot, notify.m_nCalls.load());

    // Everything is back: a new commit has every buffer free.
    EXPECT_EQ(AS_Prop, static_cast<CMemoryAllocator*>(pCb)->GetState());
    ASSERT_EQ(S_OK, pAlloc->Commit());
    LONG nFree = 0;
    EXPECT_EQ(S_OK, pCb->GetFreeCount(&nFree));
    EXPECT_EQ(kBuffers, nFree);
    EXPECT_EQ(S_OK, pAlloc->Decommit());
    pCb->SetNotify(NULL);
    EXPECT_EQ(1u, notify.m_nRef.load());
    pCb->Release();
    EXPECT_EQ(0u, pAlloc->Release());
    EXPECT_EQ(nLocks, CComModuleLock::GetLockCount());
}

}  // namespace
