// The pin's read path: refused ranges, short reads and reads past the end,
// the wait for growth (ended by a flush, a pending flush or the writer
// closing the file), and Length while the file grows and after.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "FileReadProbe.h"
#include "PinTestSupport.h"
#include "TempDir.h"
#include "TestProcess.h"

using namespace testsupport;
using readertest::Content;
using readertest::kSeed;

namespace {

std::string ContentFile(const TempDir& dir, const char* name, size_t n) {
    const std::vector<BYTE> v = Content(kSeed, 0, n);
    return dir.Write(name, std::string(v.begin(), v.end()));
}

bool AllBytes(const std::vector<BYTE>& v, size_t from, BYTE b) {
    for (size_t i = from; i < v.size(); ++i)
        if (v[i] != b)
            return false;
    return true;
}

const HRESULT kPastEnd = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);

long long MillisecondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t)
        .count();
}

TEST(PinRead, RefusedRangesShortReadsAndTheEndOfTheFile) {
    TempDir dir;
    PinUnderTest pin;
    std::vector<BYTE> buf(4096, 0xCD);
    // No file, nothing connected: past the end, zeros, and no call through a
    // missing peer.
    EXPECT_EQ(kPastEnd, pin->SyncRead(0, 100, buf.data()));
    EXPECT_EQ(std::vector<BYTE>(100, 0), std::vector<BYTE>(buf.begin(), buf.begin() + 100));
    EXPECT_EQ(0xCD, buf[100]);

    ASSERT_EQ(S_OK, pin.Load(ContentFile(dir, "a.bin", 100000)));
    CComObject<CScriptedInputPin>* pPeer = NewScriptedPin();
    pPeer->m_accepted = {GUID_NULL};
    ASSERT_EQ(S_OK, pin->Connect(pPeer, NULL));

    std::fill(buf.begin(), buf.end(), 0xCD);
    EXPECT_EQ(E_INVALIDARG, pin->SyncRead(0, -1, buf.data()));
    EXPECT_EQ(E_INVALIDARG, pin->SyncRead(-1, 10, buf.data()));
    EXPECT_EQ(S_OK, pin->SyncRead(0, 0, buf.data()));
    EXPECT_TRUE(AllBytes(buf, 0, 0xCD));

    EXPECT_EQ(S_OK, pin->SyncRead(5000, 4096, buf.data()));
    EXPECT_EQ(Content(kSeed, 5000, 4096), buf);
    // Across the end: the tail, then zeros instead of the buffer's old bytes.
    std::fill(buf.begin(), buf.end(), 0xCD);
    EXPECT_EQ(S_FALSE, pin->SyncRead(99000, 4096, buf.data()));
    EXPECT_EQ(Content(kSeed, 99000, 1000), std::vector<BYTE>(buf.begin(), buf.begin() + 1000));
    EXPECT_TRUE(AllBytes(buf, 1000, 0));
    // At the end: nothing; past it the read fails, which ends a pull-mode
    // splitter's stream. The splitter sends the end of stream itself: the
    // pin calls nothing on it.
    std::fill(buf.begin(), buf.end(), 0xCD);
    EXPECT_EQ(S_FALSE, pin->SyncRead(100000, 4096, buf.data()));
    EXPECT_TRUE(AllBytes(buf, 0, 0));
    std::fill(buf.begin(), buf.end(), 0xCD);
    EXPECT_EQ(kPastEnd, pin->SyncRead(100001, 4096, buf.data()));
    EXPECT_TRUE(AllBytes(buf, 0, 0));
    EXPECT_EQ(0, pPeer->m_nEndOfStream.load());

    IMediaSample* pSample = reinterpret_cast<IMediaSample*>(1);
    EXPECT_EQ(E_NOTIMPL, pin->WaitForNext(INFINITE, &pSample, NULL));
    EXPECT_EQ(NULL, pSample);
    EXPECT_EQ(E_NOTIMPL, pin->Request(NULL, 0));
    pin->BeginFlush();
    EXPECT_EQ(VFW_E_TIMEOUT, pin->WaitForNext(INFINITE, &pSample, NULL));
    pin->EndFlush();

    EXPECT_EQ(S_OK, pin->Disconnect());
    pPeer->Release();
}

TEST(PinRead, GrowingFileWaitsUntilFlushOrTheWriterCloses) {
    TempDir dir;
    const std::string path = ContentFile(dir, "growing.bin", 1000000);
    ChildProcess writer;
    ASSERT_TRUE(writer.Start({HelperPath("holdwrite"), path, "60000"}));
    ASSERT_TRUE(
        readertest::WaitUntil([&] { return ProbeForWriter(path) == ERROR_SHARING_VIOLATION; }, 30000));

    PinUnderTest pin;
    ASSERT_EQ(S_OK, pin.Load(path));
    EXPECT_TRUE(pin->IsWriting());

    // Length while the writer is active: an estimate without seeking, the
    // size less the threshold with it.
    LONGLONG llTotal = 0, llAvailable = 0;
    EXPECT_EQ(VFW_S_ESTIMATED, pin->Length(&llTotal, &llAvailable));
    EXPECT_EQ(107374182400LL, llTotal);
    EXPECT_EQ(213568, llAvailable);
    pin->SetSeekingAllowed(true);
    EXPECT_EQ(S_OK, pin->Length(&llTotal, &llAvailable));
    EXPECT_EQ(213568, llTotal);
    EXPECT_EQ(213568, llAvailable);

    // Seeking allowed and the graph paused: what is there is read at once.
    BYTE b = 0;
    pin.Filter()->SetFilterState(State_Paused);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(S_OK, pin->SyncRead(999999, 1, &b));
    EXPECT_LT(MillisecondsSince(start), 400);
    pin->SetSeekingAllowed(false);
    pin.Filter()->SetFilterState(State_Running);

    // Far enough from the end: no wait. Past the end, where a splitter
    // probes the estimated total as it connects: zeros at once, no failure.
    std::vector<BYTE> buf(4096);
    EXPECT_EQ(S_OK, pin->SyncRead(0, 4096, buf.data()));
    std::fill(buf.begin(), buf.end(), 0xCD);
    EXPECT_EQ(S_FALSE, pin->SyncRead(107374182400LL - 32768, 4096, buf.data()));
    EXPECT_TRUE(AllBytes(buf, 0, 0));

    // Near the end: waits, until a flush from another thread ends it.
    auto waiting = std::async(std::launch::async, [&] { return pin->SyncRead(213568, 1, &b); });
    ASSERT_TRUE(readertest::WaitUntil([&] { return pin->GetWaitSize() != 0; }));
    EXPECT_EQ(std::future_status::timeout, waiting.wait_for(std::chrono::milliseconds(200)));
    EXPECT_EQ(213568u + 1 + DEFAULT_WAIT_MARGIN - 1000000, pin->GetWaitSize());
    start = std::chrono::steady_clock::now();
    pin->BeginFlush();
    EXPECT_EQ(S_OK, waiting.get());
    EXPECT_LT(MillisecondsSince(start), 600);
    pin->EndFlush();
    EXPECT_EQ(0u, pin->GetWaitSize());

    // A flush that no read took ends the next wait at once, even after
    // EndFlush.
    pin->BeginFlush();
    pin->EndFlush();
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(S_OK, pin->SyncRead(213568, 1, &b));
    EXPECT_LT(MillisecondsSince(start), 400);

    // The filter's stop ends a wait that began while it streamed, and while
    // it stays stopped reads do not wait (the graph tears down). Once it
    // starts again, or the pin connects anew, they wait again.
    waiting = std::async(std::launch::async, [&] { return pin->SyncRead(213568, 1, &b); });
    ASSERT_TRUE(readertest::WaitUntil([&] { return pin->GetWaitSize() != 0; }));
    start = std::chrono::steady_clock::now();
    pin.Filter()->SetFilterState(State_Stopped);
    pin->FilterStopped(true);
    EXPECT_EQ(S_OK, waiting.get());
    EXPECT_LT(MillisecondsSince(start), 400);
    EXPECT_EQ(S_OK, pin->SyncRead(213568, 1, &b));
    EXPECT_LT(MillisecondsSince(start), 400);
    pin->FilterStarting();
    pin.Filter()->SetFilterState(State_Running);
    waiting = std::async(std::launch::async, [&] { return pin->SyncRead(213568, 1, &b); });
    ASSERT_TRUE(readertest::WaitUntil([&] { return pin->GetWaitSize() != 0; }));
    pin->BeginFlush();
    EXPECT_EQ(S_OK, waiting.get());
    pin->EndFlush();

    // A file change ends a waiting read without touching the new file, and
    // does not wait for it.
    const std::string other = ContentFile(dir, "other.bin", 300000);
    std::vector<BYTE> waitBuf(4096, 0xCD);
    waiting = std::async(std::launch::async, [&] { return pin->SyncRead(213568, 4096, waitBuf.data()); });
    ASSERT_TRUE(readertest::WaitUntil([&] { return pin->GetWaitSize() != 0; }));
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(S_OK, pin.Load(other));
    EXPECT_LT(MillisecondsSince(start), 400);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED), waiting.get());
    EXPECT_TRUE(AllBytes(waitBuf, 0, 0));
    ASSERT_EQ(S_OK, pin.Load(path));

    // Once the writer is gone, the next wait ends when the writer's grace
    // has run out, and the file counts as finished.
    writer.Kill();
    ASSERT_TRUE(readertest::WaitUntil([&] { return ProbeForWriter(path) == ERROR_SUCCESS; }));
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(S_FALSE, pin->SyncRead(999000, 4096, buf.data()));
    EXPECT_LT(MillisecondsSince(start), WRITER_GRACE_TIME + 600);
    EXPECT_FALSE(pin->IsWriting());
    EXPECT_EQ(kPastEnd, pin->SyncRead(1003096, 4096, buf.data()));
    EXPECT_EQ(S_OK, pin->Length(&llTotal, &llAvailable));
    EXPECT_EQ(1000000, llTotal);
    EXPECT_EQ(1000000, llAvailable);
}

}  // namespace
