// The request queue against a reader whose cache and file the test sets:
// the order, results and lengths of what comes back, waiting and its
// time-outs, a flush with requests queued and one being served, the
// samples' references at the end, and a stress of several threads
// requesting and waiting while flushes come (TSan).
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "AsyncRequests.h"
#include "DShowX/DSMemoryAllocator.h"

namespace {

const LONG kPiece = 256;

BYTE ByteAt(LONGLONG pos) {
    return (BYTE)(pos * 7 + (pos >> 8));
}

// Bytes below m_llCached are cached (served at once); bytes below
// m_llAvailable are in the file, and ServeRequest waits for the rest until
// the file has them, is finished (m_bFinished: a short read, or past its
// end) or a flush ends the wait (Cancel).
class CFakeReader : public IRequestReader {
public:
    bool TryServeAtOnce(LONGLONG llPos, LONG lLength, BYTE* pb, LONG* pcb, HRESULT* phr) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (llPos + lLength > m_llCached)
            return false;
        ++m_nAtOnce;
        *phr = Fill(llPos, lLength, pb, pcb);
        return true;
    }
    HRESULT ServeRequest(LONGLONG llPos, LONG lLength, BYTE* pb, LONG* pcb) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        const long nCancel = m_nCancel;
        ++m_nServing;
        m_cv.notify_all();
        m_cv.wait(lock, [&] {
            return llPos + lLength <= m_llAvailable || m_bFinished || m_nCancel != nCancel || m_bStopped;
        });
        --m_nServing;
        *pcb = 0;
        if (llPos + lLength > m_llAvailable && !m_bFinished)
            return VFW_E_WRONG_STATE;
        return Fill(llPos, lLength, pb, pcb);
    }

    void Set(LONGLONG llCached, LONGLONG llAvailable, bool bFinished = false) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_llCached = llCached;
        m_llAvailable = llAvailable;
        m_bFinished = bFinished;
        m_cv.notify_all();
    }
    // What the pin's BeginFlush does between the queue's two calls.
    void Cancel() {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nCancel;
        m_cv.notify_all();
    }
    // Ends every wait from now on (the pin at its end).
    void Stop() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopped = true;
        m_cv.notify_all();
    }
    // Waits until the worker is inside ServeRequest.
    void WaitUntilServing() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return m_nServing > 0; });
    }
    int AtOnce() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nAtOnce;
    }

private:
    HRESULT Fill(LONGLONG llPos, LONG lLength, BYTE* pb, LONG* pcb) {
        const LONGLONG llEnd = m_bFinished ? m_llAvailable : llPos + lLength;
        if (llPos >= llEnd) {
            *pcb = 0;
            return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        }
        const LONG cb = (LONG)std::min<LONGLONG>(lLength, llEnd - llPos);
        for (LONG i = 0; i < cb; ++i)
            pb[i] = ByteAt(llPos + i);
        *pcb = cb;
        return cb == lLength ? S_OK : S_FALSE;
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    LONGLONG m_llCached = 0;
    LONGLONG m_llAvailable = 0;
    bool m_bFinished = false;
    long m_nCancel = 0;
    bool m_bStopped = false;
    int m_nServing = 0;
    int m_nAtOnce = 0;
};

// The library's allocator with n pieces, committed.
IMemAllocator* NewAllocator(LONG n) {
    IMemAllocator* pAlloc = NULL;
    EXPECT_EQ(S_OK, CreateMemoryAllocator(&pAlloc));
    ALLOCATOR_PROPERTIES props = {n, kPiece, 1, 0}, actual = {};
    EXPECT_EQ(S_OK, pAlloc->SetProperties(&props, &actual));
    EXPECT_EQ(S_OK, pAlloc->Commit());
    return pAlloc;
}

LONG FreeBuffers(IMemAllocator* pAlloc) {
    IMemAllocatorCallbackTemp* pCallback = NULL;
    EXPECT_EQ(S_OK, pAlloc->QueryInterface(IID_IMemAllocatorCallbackTemp, (void**)&pCallback));
    LONG n = -1;
    pCallback->GetFreeCount(&n);
    pCallback->Release();
    return n;
}

class AsyncRequests : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_queue.Init());
        m_pAlloc = NewAllocator(8);
    }
    void TearDown() override {
        m_reader.Stop();
        m_queue.Shutdown();
        // Every sample is back: the queue kept no reference.
        EXPECT_EQ(8, FreeBuffers(m_pAlloc));
        m_pAlloc->Decommit();
        m_pAlloc->Release();
    }
    // Requests the piece at index i (user value i), with the test's own
    // reference kept as a splitter keeps it: handed back by WaitForNext, or
    // at *ppKept when asked for.
    HRESULT RequestPiece(LONG i, IMediaSample** ppKept = NULL) {
        IMediaSample* pSample = NULL;
        EXPECT_EQ(S_OK, m_pAlloc->GetBuffer(&pSample, NULL, NULL, 0));
        BYTE* pb = NULL;
        pSample->GetPointer(&pb);
        memset(pb, 0xCD, kPiece);
        const HRESULT hr = m_queue.Request(pSample, (DWORD_PTR)i, (LONGLONG)i * kPiece, kPiece, pb);
        if (FAILED(hr))
            pSample->Release();
        else if (ppKept)
            *ppKept = pSample;
        return hr;
    }
    struct Next {
        HRESULT hr;
        IMediaSample* pSample;
        DWORD_PTR dwUser;
    };
    Next WaitNext(DWORD dwTimeout) {
        Next n = {E_FAIL, (IMediaSample*)1, (DWORD_PTR)77};
        n.hr = m_queue.WaitForNext(dwTimeout, &n.pSample, &n.dwUser);
        return n;
    }
    // Checks a sample's bytes against the piece it was asked for, and
    // releases it.
    void Verify(const Next& n, LONG cbExpected) {
        ASSERT_NE(nullptr, n.pSample);
        EXPECT_EQ(cbExpected, n.pSample->GetActualDataLength());
        BYTE* pb = NULL;
        n.pSample->GetPointer(&pb);
        int bad = 0;
        for (LONG i = 0; i < cbExpected; ++i)
            bad += pb[i] != ByteAt((LONGLONG)n.dwUser * kPiece + i);
        EXPECT_EQ(0, bad) << "piece " << n.dwUser;
        n.pSample->Release();
    }

    CFakeReader m_reader;
    CAsyncRequests m_queue{&m_reader};
    IMemAllocator* m_pAlloc = NULL;
};

TEST_F(AsyncRequests, ServesInOrderWithResultsAndLengths) {
    // Pieces 0 and 1 cached, 2 to 4 in the file, piece 5 ends half way
    // through the finished file, piece 6 lies past its end.
    m_reader.Set(2 * kPiece, 5 * kPiece + kPiece / 2, true);
    for (LONG i = 0; i < 7; ++i)
        ASSERT_EQ(S_OK, RequestPiece(i));
    EXPECT_EQ(2, m_reader.AtOnce());
    for (LONG i = 0; i < 7; ++i) {
        const Next n = WaitNext(INFINITE);
        EXPECT_EQ((DWORD_PTR)i, n.dwUser);
        EXPECT_EQ(i < 5 ? S_OK : i == 5 ? S_FALSE : HRESULT_FROM_WIN32(ERROR_HANDLE_EOF), n.hr);
        Verify(n, i < 5 ? kPiece : i == 5 ? kPiece / 2 : 0);
    }
    // Nothing asked for: no wait, whatever the time-out.
    const Next none = WaitNext(INFINITE);
    EXPECT_EQ(VFW_E_TIMEOUT, none.hr);
    EXPECT_EQ(nullptr, none.pSample);
    EXPECT_EQ(0u, none.dwUser);
}

// A cached piece asked for while an earlier one waits for the file is not
// served before it.
TEST_F(AsyncRequests, ACachedPieceWaitsBehindAnEarlierOne) {
    m_reader.Set(kPiece, kPiece);
    ASSERT_EQ(S_OK, RequestPiece(3));
    m_reader.WaitUntilServing();
    ASSERT_EQ(S_OK, RequestPiece(0));
    EXPECT_EQ(0, m_reader.AtOnce());
    EXPECT_EQ(VFW_E_TIMEOUT, WaitNext(0).hr);
    EXPECT_EQ(VFW_E_TIMEOUT, WaitNext(20).hr);
    m_reader.Set(kPiece, 4 * kPiece);
    Next n = WaitNext(INFINITE);
    EXPECT_EQ(3u, n.dwUser);
    Verify(n, kPiece);
    n = WaitNext(INFINITE);
    EXPECT_EQ(0u, n.dwUser);
    Verify(n, kPiece);
    EXPECT_EQ(E_POINTER, m_queue.WaitForNext(0, NULL, NULL));
}

TEST_F(AsyncRequests, AFlushEndsQueuedAndServedRequestsAndWakesAWaiter) {
    m_reader.Set(0, 0);
    for (LONG i = 0; i < 4; ++i)
        ASSERT_EQ(S_OK, RequestPiece(i));
    m_reader.WaitUntilServing();
    // A splitter's thread blocked in WaitForNext when the flush begins.
    Next blocked = {};
    std::thread waiter([&] { blocked = WaitNext(INFINITE); });

    m_queue.BeginFlush();
    m_reader.Cancel();
    m_queue.WaitUntilIdle();
    EXPECT_EQ(VFW_E_WRONG_STATE, RequestPiece(4));
    waiter.join();
    EXPECT_EQ(VFW_E_WRONG_STATE, blocked.hr);
    EXPECT_EQ(0u, blocked.dwUser);
    Verify(blocked, 0);
    // The rest comes back in order, then no sample.
    for (LONG i = 1; i < 4; ++i) {
        const Next n = WaitNext(0);
        EXPECT_EQ(VFW_E_WRONG_STATE, n.hr);
        EXPECT_EQ((DWORD_PTR)i, n.dwUser);
        Verify(n, 0);
    }
    const Next none = WaitNext(0);
    EXPECT_EQ(VFW_E_WRONG_STATE, none.hr);
    EXPECT_EQ(nullptr, none.pSample);
    m_queue.EndFlush();

    m_reader.Set(kPiece, 8 * kPiece);
    ASSERT_EQ(S_OK, RequestPiece(5));
    const Next n = WaitNext(INFINITE);
    EXPECT_EQ(S_OK, n.hr);
    EXPECT_EQ(5u, n.dwUser);
    Verify(n, kPiece);
}

// Requests never collected (a splitter that disconnects, a filter released)
// lose the queue's reference: once the caller lets go of its own, every
// sample is back in the allocator (checked by TearDown).
TEST_F(AsyncRequests, PendingRequestsGiveTheirSamplesBack) {
    m_reader.Set(0, 2 * kPiece);
    std::vector<IMediaSample*> mine(6);
    for (LONG i = 0; i < 6; ++i)
        ASSERT_EQ(S_OK, RequestPiece(i, &mine[i]));
    m_reader.WaitUntilServing();
    // Two completed, one being served, three queued: dropped after a flush.
    m_queue.BeginFlush();
    m_reader.Cancel();
    m_queue.WaitUntilIdle();
    EXPECT_TRUE(m_queue.HasPending());
    m_queue.DropPending();
    EXPECT_FALSE(m_queue.HasPending());
    m_queue.EndFlush();
    EXPECT_EQ(VFW_E_TIMEOUT, WaitNext(0).hr);
    for (IMediaSample* p : mine)
        EXPECT_EQ(0u, p->Release());
    EXPECT_EQ(8, FreeBuffers(m_pAlloc));

    // And at the end: completed and waiting requests when the queue shuts
    // down.
    m_reader.Set(0, kPiece);
    mine.assign(3, NULL);
    for (LONG i = 0; i < 3; ++i)
        ASSERT_EQ(S_OK, RequestPiece(i, &mine[i]));
    m_reader.WaitUntilServing();
    m_reader.Stop();
    m_queue.Shutdown();
    EXPECT_EQ(VFW_E_WRONG_STATE, RequestPiece(3));
    for (IMediaSample* p : mine)
        EXPECT_EQ(0u, p->Release());
}

// Several splitter threads request and wait on one queue while another
// thread flushes now and then. Every request comes back exactly once,
// with a whole piece or the flush's code, and every sample returns.
TEST(AsyncRequestsStress, ThreadsRequestAndWaitWhileFlushesCome) {
    CFakeReader reader;
    CAsyncRequests queue(&reader);
    ASSERT_EQ(S_OK, queue.Init());
    const int kThreads = 3, kRequests = 300;
    std::atomic<long> nOutstanding{0}, nBad{0}, nBack{0};
    std::atomic<bool> bDone{false};
    std::vector<IMemAllocator*> allocs;
    for (int t = 0; t < kThreads; ++t)
        allocs.push_back(NewAllocator(4));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            auto take = [&](DWORD dwTimeout) {
                IMediaSample* pSample = NULL;
                DWORD_PTR dwUser = 0;
                const HRESULT hr = queue.WaitForNext(dwTimeout, &pSample, &dwUser);
                if (!pSample)
                    return;
                BYTE* pb = NULL;
                pSample->GetPointer(&pb);
                const LONGLONG llPos = (LONGLONG)dwUser * kPiece;
                if (hr == S_OK) {
                    nBad += pSample->GetActualDataLength() != kPiece || pb[0] != ByteAt(llPos) ||
                            pb[kPiece - 1] != ByteAt(llPos + kPiece - 1);
                } else if (hr != VFW_E_WRONG_STATE) {
                    ++nBad;
                }
                pSample->Release();
                --nOutstanding;
                ++nBack;
            };
            for (int i = 0; i < kRequests; ++i) {
                // This thread's samples may all wait in the queue for
                // another thread to take them: it takes some itself first.
                IMediaSample* pSample = NULL;
                while (allocs[t]->GetBuffer(&pSample, NULL, NULL, AM_GBF_NOWAIT) != S_OK)
                    take(5);
                BYTE* pb = NULL;
                pSample->GetPointer(&pb);
                const LONG piece = (LONG)(t * kRequests + i) % 64;
                ++nOutstanding;
                if (FAILED(queue.Request(pSample, piece, (LONGLONG)piece * kPiece, kPiece, pb))) {
                    --nOutstanding;
                    pSample->Release();
                }
                if (i % 3 == 2)
                    take(i % 2 ? 0 : 5);
            }
            while (nOutstanding > 0 || !bDone) {
                take(5);
                std::this_thread::yield();
            }
        });
    }
    // Half the pieces cached, the rest served by the worker; a flush every
    // so often, as a splitter's seek does.
    reader.Set(32 * kPiece, 64 * kPiece);
    for (int i = 0; i < 40; ++i) {
        queue.BeginFlush();
        reader.Cancel();
        queue.WaitUntilIdle();
        queue.EndFlush();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    bDone = true;
    for (std::thread& t : threads)
        t.join();
    queue.Shutdown();
    EXPECT_EQ(0, nBad.load());
    EXPECT_EQ(0, nOutstanding.load());
    EXPECT_GT(nBack.load(), 0);
    for (IMemAllocator* p : allocs) {
        EXPECT_EQ(4, FreeBuffers(p));
        p->Decommit();
        p->Release();
    }
}

}  // namespace
