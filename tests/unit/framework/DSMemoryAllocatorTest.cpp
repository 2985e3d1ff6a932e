#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <thread>

#include "AllocCounter.h"
#include "ComStubs.h"
#include "DShowX/DSAllocators.h"
#include "DebugCapture.h"

namespace {

class MemoryAllocator : public ::testing::Test {
protected:
    void SetUp() override {
        m_nLocks = CComModuleLock::GetLockCount();
        ASSERT_EQ(S_OK, CreateMemoryAllocator(&m_pAlloc));
        ASSERT_EQ(S_OK,
                  m_pAlloc->QueryInterface(IID_IMemAllocatorCallbackTemp, reinterpret_cast<void**>(&m_pCb)));
        m_pCb->Release();  // the same object: m_pAlloc keeps it
    }
    void TearDown() override {
        if (m_pAlloc) {
            m_pAlloc->Decommit();
            EXPECT_EQ(0u, m_pAlloc->Release());
        }
        EXPECT_EQ(m_nLocks, CComModuleLock::GetLockCount());
    }
    HRESULT Set(LONG cBuffers, LONG cbBuffer, LONG cbAlign, LONG cbPrefix,
                ALLOCATOR_PROPERTIES* pActual = NULL) {
        ALLOCATOR_PROPERTIES req = {cBuffers, cbBuffer, cbAlign, cbPrefix}, act;
        HRESULT hr = m_pAlloc->SetProperties(&req, pActual ? pActual : &act);
        return hr;
    }
    AllocatorState State() { return static_cast<CMemoryAllocator*>(m_pCb)->GetState(); }
    LONG FreeCount() {
        LONG n = -1;
        EXPECT_EQ(S_OK, m_pCb->GetFreeCount(&n));
        return n;
    }

    LONG m_nLocks = 0;
    IMemAllocator* m_pAlloc = NULL;
    IMemAllocatorCallbackTemp* m_pCb = NULL;
};

TEST_F(MemoryAllocator, PropertiesAreCorrected) {
    ALLOCATOR_PROPERTIES act;
    testsupport::ClearDebugText();
    ASSERT_EQ(S_OK, Set(4, 1000, 0, 0, &act));
    EXPECT_EQ(4, act.cBuffers);
    EXPECT_EQ(1000, act.cbBuffer);
    EXPECT_EQ(1, act.cbAlign);
    EXPECT_EQ(0, act.cbPrefix);
    EXPECT_NE(std::string::npos,
              testsupport::DebugText().find("WARNING. CAllocatorBuffers::Correct(): rgProps.cbAlign == 0\n"));

    ASSERT_EQ(S_OK, Set(2, 1000, 16, 4, &act));
    EXPECT_EQ(1004, act.cbBuffer);
    EXPECT_NE(std::string::npos, testsupport::DebugText().find(
                                     "WARNING. CAllocatorBuffers::Correct(): input props = { 2, 1000, 16, 4 "
                                     "}, corrected size of buffer = 1004\n"));
    ALLOCATOR_PROPERTIES got;
    ASSERT_EQ(S_OK, m_pAlloc->GetProperties(&got));
    EXPECT_EQ(0, memcmp(&act, &got, sizeof(got)));

    // One record for request and result.
    ALLOCATOR_PROPERTIES both = {3, 10, 8, 0};
    ASSERT_EQ(S_OK, m_pAlloc->SetProperties(&both, &both));
    EXPECT_EQ(3, both.cBuffers);
    EXPECT_EQ(16, both.cbBuffer);
}

TEST_F(MemoryAllocator, BadPropertiesAreRefusedWithZerosAndNoChange) {
    ALLOCATOR_PROPERTIES act;
    ASSERT_EQ(S_OK, Set(2, 64, 8, 0));
    // The caller's mistake: a code and a trace, no assertion's box.
    testsupport::ClearDebugText();
    EXPECT_EQ(VFW_E_BADALIGN, Set(4, 1000, 3, 0, &act));
    EXPECT_NE(std::string::npos, testsupport::DebugText().find(
                                     "CCAllocatorBuffers::Correct(): Alignment requested not a power of 2"));
    EXPECT_EQ(0, act.cBuffers | act.cbBuffer | act.cbAlign | act.cbPrefix);
    EXPECT_EQ(VFW_E_BADALIGN, Set(4, 1000, -4, 0, &act));
    EXPECT_EQ(VFW_E_BADALIGN, Set(4, 1000, LONG(0x80000000), 0, &act));
    EXPECT_EQ(VFW_E_SIZENOTSET, Set(0, 1000, 4, 0, &act));
    EXPECT_EQ(VFW_E_SIZENOTSET, Set(4, 0, 4, 0, &act));
    EXPECT_EQ(E_INVALIDARG, Set(4, 1000, 4, -1, &act));
    EXPECT_EQ(E_INVALIDARG, Set(1, 0x7FFFFFF0, 64, 64, &act));
    ALLOCATOR_PROPERTIES got;
    ASSERT_EQ(S_OK, m_pAlloc->GetProperties(&got));
    EXPECT_EQ(64, got.cbBuffer);
    EXPECT_EQ(8, got.cbAlign);
    testsupport::ExpectAsserts expect;
    EXPECT_EQ(E_POINTER, m_pAlloc->SetProperties(NULL, &act));
    EXPECT_EQ(E_POINTER, m_pAlloc->GetProperties(NULL));
}

TEST_F(MemoryAllocator, BuffersAreAlignedPastTheirPrefixAndDoNotOverlap) {
    struct Layout {
        LONG cBuffers, cbBuffer, cbAlign, cbPrefix;
    };
    const Layout layouts[] = {{3, 100, 1, 0},   {4, 1000, 16, 4},     {5, 33, 64, 7},
                              {2, 10, 4096, 0}, {2, 5000, 32768, 12}, {3, 70000, 131072, 100}};
    for (const Layout& l : layouts) {
        ALLOCATOR_PROPERTIES act;
        ASSERT_EQ(S_OK, Set(l.cBuffers, l.cbBuffer, l.cbAlign, l.cbPrefix, &act));
        ASSERT_EQ(S_OK, m_pAlloc->Commit());
        IMediaSample* samples[8] = {};
        for (LONG i = 0; i < l.cBuffers; ++i) {
            ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&samples[i], NULL, NULL, AM_GBF_NOWAIT));
            BYTE* p = NULL;
            ASSERT_EQ(S_OK, samples[i]->GetPointer(&p));
            EXPECT_EQ(act.cbBuffer, samples[i]->GetSize());
            EXPECT_EQ(0u, ((UINT_PTR)p - l.cbPrefix) % l.cbAlign) << l.cbAlign << " " << i;
            // The whole prefix and buffer are writable and belong to this buffer.
            memset(p - l.cbPrefix, (int)i, l.cbPrefix + act.cbBuffer);
        }
        for (LONG i = 0; i < l.cBuffers; ++i) {
            BYTE* p = NULL;
            samples[i]->GetPointer(&p);
            EXPECT_EQ((BYTE)i, p[0]);
            EXPECT_EQ((BYTE)i, p[act.cbBuffer - 1]);
            samples[i]->Release();
        }
        ASSERT_EQ(S_OK, m_pAlloc->Decommit());
    }
}

// The allocator's states, one test each: before properties, with them,
// committed, in use and exhausted, decommitted with a buffer out, and
// committed again.
TEST_F(MemoryAllocator, BeforePropertiesNothingCommitsOrHandsOut) {
    ALLOCATOR_PROPERTIES props;
    IMediaSample* pSample = reinterpret_cast<IMediaSample*>(1);
    LONG n = 5;
    EXPECT_EQ(AS_Init, State());
    EXPECT_EQ(VFW_E_BUFFER_NOTSET, m_pAlloc->GetProperties(&props));
    EXPECT_EQ(E_FAIL, m_pAlloc->Commit());
    EXPECT_EQ(E_FAIL, m_pAlloc->Decommit());
    EXPECT_EQ(VFW_E_BUFFER_NOTSET, m_pAlloc->GetBuffer(&pSample, NULL, NULL, 0));
    EXPECT_EQ(nullptr, pSample);
    EXPECT_EQ(VFW_E_BUFFER_NOTSET, m_pCb->GetFreeCount(&n));
    EXPECT_EQ(0, n);
}

TEST_F(MemoryAllocator, WithPropertiesButNotCommittedNothingIsHandedOut) {
    IMediaSample* pSample = NULL;
    LONG n = 5;
    ASSERT_EQ(S_OK, Set(2, 64, 1, 0));
    EXPECT_EQ(AS_Prop, State());
    EXPECT_EQ(S_OK, m_pAlloc->Decommit());
    EXPECT_EQ(VFW_E_NOT_COMMITTED, m_pAlloc->GetBuffer(&pSample, NULL, NULL, 0));
    EXPECT_EQ(VFW_E_NOT_COMMITTED, m_pCb->GetFreeCount(&n));
}

TEST_F(MemoryAllocator, CommittedHandsOutBuffersUntilExhaustedAndKeepsItsProperties) {
    IMediaSample* pSample = NULL;
    ASSERT_EQ(S_OK, Set(2, 64, 1, 0));
    ASSERT_EQ(S_OK, m_pAlloc->Commit());
    EXPECT_EQ(AS_Commit, State());
    EXPECT_EQ(S_OK, m_pAlloc->Commit());
    EXPECT_EQ(2, FreeCount());
    EXPECT_EQ(VFW_E_ALREADY_COMMITTED, Set(2, 64, 1, 0));
    IMediaSample* p1 = NULL;
    IMediaSample* p2 = NULL;
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&p1, NULL, NULL, 0));
    EXPECT_EQ(AS_InUse, State());
    EXPECT_EQ(1, FreeCount());
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&p2, NULL, NULL, 0));
    EXPECT_EQ(0, FreeCount());
    EXPECT_EQ(VFW_E_TIMEOUT, m_pAlloc->GetBuffer(&pSample, NULL, NULL, AM_GBF_NOWAIT));
    EXPECT_EQ(AS_Exhausted, State());
    EXPECT_EQ(VFW_E_ALREADY_COMMITTED, Set(2, 64, 1, 0));
    p1->Release();
    EXPECT_EQ(AS_InUse, State());
    p2->Release();
}

TEST_F(MemoryAllocator, DecommittedWithABufferOutRefusesPropertiesAndBuffers) {
    IMediaSample* pSample = NULL;
    LONG n = 5;
    ASSERT_EQ(S_OK, Set(2, 64, 1, 0));
    ASSERT_EQ(S_OK, m_pAlloc->Commit());
    IMediaSample* pOut = NULL;
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&pOut, NULL, NULL, 0));
    EXPECT_EQ(S_OK, m_pAlloc->Decommit());
    EXPECT_EQ(AS_Decommit, State());
    EXPECT_EQ(VFW_E_BUFFERS_OUTSTANDING, Set(2, 64, 1, 0));
    EXPECT_EQ(VFW_E_NOT_COMMITTED, m_pAlloc->GetBuffer(&pSample, NULL, NULL, 0));
    EXPECT_EQ(VFW_E_NOT_COMMITTED, m_pCb->GetFreeCount(&n));
    pOut->Release();
}

TEST_F(MemoryAllocator, CommittedAgainBeforeTheBufferCameBackIsInUse) {
    ASSERT_EQ(S_OK, Set(2, 64, 1, 0));
    ASSERT_EQ(S_OK, m_pAlloc->Commit());
    IMediaSample* pOut = NULL;
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&pOut, NULL, NULL, 0));
    EXPECT_EQ(S_OK, m_pAlloc->Decommit());
    EXPECT_EQ(S_OK, m_pAlloc->Commit());
    EXPECT_EQ(AS_InUse, State());
    EXPECT_EQ(S_OK, m_pAlloc->Decommit());
    pOut->Release();
    EXPECT_EQ(AS_Prop, State());
}

TEST_F(MemoryAllocator, PropertiesChangeAfterADecommitAndTheNextCommitUsesThem) {
    ASSERT_EQ(S_OK, Set(2, 64, 1, 0));
    ASSERT_EQ(S_OK, m_pAlloc->Commit());
    IMediaSample* p1 = NULL;
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&p1, NULL, NULL, 0));
    EXPECT_EQ(S_OK, m_pAlloc->Decommit());
    p1->Release();
    ASSERT_EQ(AS_Prop, State());
    ASSERT_EQ(S_OK, Set(3, 128, 1, 0));
    ASSERT_EQ(S_OK, m_pAlloc->Commit());
    EXPECT_EQ(3, FreeCount());
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&p1, NULL, NULL, 0));
    EXPECT_EQ(128, p1->GetSize());
    p1->Release();
    EXPECT_EQ(AS_Commit, State());
}

// A count no stream needs is refused before anything is allocated; a block
// that cannot be had leaves the allocator as it was, ready for a sane commit.
TEST_F(MemoryAllocator, CommitRefusesAbsurdCountsAndLeavesNothingBehind) {
    ASSERT_EQ(S_OK, Set(MAX_ALLOCATOR_BUFFERS + 1, 16, 1, 0));
    EXPECT_EQ(E_INVALIDARG, m_pAlloc->Commit());
    EXPECT_EQ(AS_Prop, State());
    ASSERT_EQ(S_OK, Set(MAX_ALLOCATOR_BUFFERS, 0x7FFFFFF0, 16, 0));  // 128 TiB
    EXPECT_EQ(E_OUTOFMEMORY, m_pAlloc->Commit());
    EXPECT_EQ(AS_Prop, State());
    ASSERT_EQ(S_OK, Set(2, 1000, 1, 0));
    ASSERT_EQ(S_OK, m_pAlloc->Commit());
    IMediaSample* pSample = NULL;
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&pSample, NULL, NULL, 0));
    EXPECT_EQ(1000, pSample->GetSize());
    pSample->Release();
}

TEST_F(MemoryAllocator, BuffersComeBackLastInFirstOut) {
    ASSERT_EQ(S_OK, Set(3, 16, 1, 0));
    ASSERT_EQ(S_OK, m_pAlloc->Commit());
    IMediaSample *p1, *p2;
    BYTE *b1, *b2, *b3;
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&p1, NULL, NULL, 0));
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&p2, NULL, NULL, 0));
    p1->GetPointer(&b1);
    p2->GetPointer(&b2);
    EXPECT_EQ(b1 - 16, b2);  // the last buffer of the block goes out first
    p1->Release();
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&p1, NULL, NULL, 0));
    p1->GetPointer(&b3);
    EXPECT_EQ(b1, b3);
    p1->Release();
    p2->Release();
}

TEST_F(MemoryAllocator, WaitingGetBufferWakesForAReleasedSample) {
    ASSERT_EQ(S_OK, Set(1, 32, 1, 0));
    ASSERT_EQ(S_OK, m_pAlloc->Commit());
    IMediaSample* pFirst = NULL;
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&pFirst, NULL, NULL, 0));
    BYTE* pBuffer = NULL;
    pFirst->GetPointer(&pBuffer);

    std::atomic<bool> bDone(false);
    HRESULT hr = E_FAIL;
    IMediaSample* pSecond = NULL;
    std::thread waiter([&] {
        hr = m_pAlloc->GetBuffer(&pSecond, NULL, NULL, 0);
        bDone = true;
    });
    Sleep(100);
    EXPECT_FALSE(bDone);
    pFirst->Release();
    waiter.join();
    ASSERT_EQ(S_OK, hr);
    BYTE* pBuffer2 = NULL;
    pSecond->GetPointer(&pBuffer2);
    EXPECT_EQ(pBuffer, pBuffer2);
    pSecond->Release();
}

TEST_F(MemoryAllocator, DecommitWakesEveryWaiter) {
    ASSERT_EQ(S_OK, Set(1, 32, 1, 0));
    ASSERT_EQ(S_OK, m_pAlloc->Commit());
    IMediaSample* pFirst = NULL;
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&pFirst, NULL, NULL, 0));
    const int kWaiters = 3;
    HRESULT results[kWaiters];
    std::thread waiters[kWaiters];
    for (int i = 0; i < kWaiters; ++i) {
        results[i] = S_OK;
        waiters[i] = std::thread([&, i] {
            IMediaSample* p = NULL;
            results[i] = m_pAlloc->GetBuffer(&p, NULL, NULL, 0);
            if (p)
                p->Release();
        });
    }
    Sleep(100);
    EXPECT_EQ(S_OK, m_pAlloc->Decommit());
    for (int i = 0; i < kWaiters; ++i) {
        waiters[i].join();
        EXPECT_EQ(VFW_E_NOT_COMMITTED, results[i]);
    }
    pFirst->Release();
    EXPECT_EQ(AS_Prop, State());
}

// A release callback that proves it runs with no allocator lock held: another
// thread must get through the allocator's lock while the callback waits.
class ProbingNotify : public testsupport::CountingNotify {
public:
    void OnNotify() override {
        std::atomic<bool> bThrough(false);
        std::thread other([&] {
            LONG n;
            m_pCb->GetFreeCount(&n);
            m_nFreeSeen = n;
            bThrough = true;
        });
        for (int i = 0; i < 500 && !bThrough; ++i)
            Sleep(10);
        m_bLockFree = bThrough;
        other.join();  // returns at last in any case, once this thread lets go
    }
    bool m_bLockFree = false;
    LONG m_nFreeSeen = -1;
    IMemAllocatorCallbackTemp* m_pCb = NULL;
};

TEST_F(MemoryAllocator, ReleaseCallbackRunsOutsideTheLockWithTheSampleBack) {
    ProbingNotify notify;
    notify.m_pCb = m_pCb;
    ASSERT_EQ(S_OK, m_pCb->SetNotify(&notify));
    EXPECT_EQ(2u, notify.m_nRef.load());
    ASSERT_EQ(S_OK, Set(2, 32, 1, 0));
    ASSERT_EQ(S_OK, m_pAlloc->Commit());
    IMediaSample* p = NULL;
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&p, NULL, NULL, 0));
    p->Release();
    EXPECT_EQ(1, notify.m_nCalls.load());
    EXPECT_TRUE(notify.m_bLockFree);
    EXPECT_EQ(2, notify.m_nFreeSeen);
    EXPECT_EQ(S_OK, m_pCb->SetNotify(NULL));
    EXPECT_EQ(1u, notify.m_nRef.load());
}

TEST_F(MemoryAllocator, AllocatorOutlivesItsLastSampleAfterDecommit) {
    ASSERT_EQ(S_OK, Set(2, 32, 1, 0));
    ASSERT_EQ(S_OK, m_pAlloc->Commit());
    IMediaSample *p1, *p2;
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&p1, NULL, NULL, 0));
    ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&p2, NULL, NULL, 0));
    EXPECT_EQ(S_OK, m_pAlloc->Decommit());
    // The caller lets go of the allocator: only the commit reference keeps it.
    EXPECT_EQ(1u, m_pAlloc->Release());
    m_pAlloc = NULL;
    EXPECT_EQ(m_nLocks + 1, CComModuleLock::GetLockCount());
    p1->Release();
    // The last sample's buffer drops the commit reference; the allocator must
    // live until the sample's block is back (ASan would see the late access).
    p2->Release();
    EXPECT_EQ(m_nLocks, CComModuleLock::GetLockCount());
}

TEST_F(MemoryAllocator, SteadyStateAllocatesNothing) {
    if (!testsupport::AllocationCountingAvailable())
        GTEST_SKIP() << "allocations are not counted in this build";
    ASSERT_EQ(S_OK, Set(4, 4096, 16, 0));
    ASSERT_EQ(S_OK, m_pAlloc->Commit());
    IMediaSample* p[4];
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&p[i], NULL, NULL, 0));
    for (int i = 0; i < 4; ++i)
        p[i]->Release();
    testsupport::AllocationScope scope;
    for (int round = 0; round < 1000; ++round) {
        IMediaSample* pSample = NULL;
        ASSERT_EQ(S_OK, m_pAlloc->GetBuffer(&pSample, NULL, NULL, 0));
        pSample->SetActualDataLength(10);
        pSample->Release();
    }
    EXPECT_EQ(0u, scope.Count());
}

TEST_F(MemoryAllocator, CreationAndNullArguments) {
    {
        // The component's own call: its invariant is asserted.
        testsupport::ExpectAsserts expect;
        EXPECT_EQ(E_POINTER, CreateMemoryAllocator(NULL));
        EXPECT_TRUE(expect.Saw("ppAllocator != NULL"));
    }
    // A caller's nulls get their code without an assertion's box.
    EXPECT_EQ(E_POINTER, m_pAlloc->GetBuffer(NULL, NULL, NULL, 0));
    EXPECT_EQ(E_POINTER, m_pAlloc->ReleaseBuffer(NULL));
    EXPECT_EQ(E_POINTER, m_pCb->GetFreeCount(NULL));
}

TEST(SampleArray, ReserveKeepsBlocksHeldBySamples) {
    CSampleArray arr(64);
    ASSERT_EQ(S_OK, arr.Reserve(2));
    void* pOut = arr.Get();
    ASSERT_NE(nullptr, pOut);
    // A new commit while a sample still holds its block: fewer, then more.
    ASSERT_EQ(S_OK, arr.Reserve(1));
    EXPECT_EQ(1, arr.GetAll());
    ASSERT_EQ(S_OK, arr.Reserve(3));
    EXPECT_EQ(3, arr.GetAll());
    EXPECT_EQ(2, arr.GetBusy());
    arr.Put(pOut);
    EXPECT_TRUE(arr.IsAllReturn());
    // The array grows when a buffer is free but no block is.
    void* p[4];
    for (int i = 0; i < 4; ++i)
        ASSERT_NE(nullptr, p[i] = arr.Get());
    EXPECT_EQ(4, arr.GetAll());
    for (int i = 0; i < 4; ++i)
        arr.Put(p[i]);
    EXPECT_TRUE(arr.IsAllReturn());
}

TEST(VirtualMemory, RegionsStartAtTheAllocationGranularity) {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    ASSERT_GE(si.dwAllocationGranularity, si.dwPageSize);
    for (SIZE_T cb : {SIZE_T(1), SIZE_T(4096), SIZE_T(70000), SIZE_T(1 << 20)}) {
        void* p = VirtualAlloc(NULL, cb, MEM_COMMIT, PAGE_READWRITE);
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(0u, (UINT_PTR)p % si.dwAllocationGranularity);
        static_cast<BYTE*>(p)[cb - 1] = 1;
        EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
    }
}

}  // namespace
