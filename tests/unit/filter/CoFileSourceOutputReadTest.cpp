// The pin's read path: refused ranges, short reads and reads past the end,
// the wait for growth (ended by a flush or the writer closing the file,
// never by a flush that has ended), and Length while the file grows and after.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
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

TEST(PinRead, WithoutAFileReadsArePastTheEndAndGetZeros) {
    PinUnderTest pin;
    std::vector<BYTE> buf(4096, 0xCD);
    // No file, nothing connected: past the end, zeros, and no call through a
    // missing peer.
    EXPECT_EQ(kPastEnd, pin->SyncRead(0, 100, buf.data()));
    EXPECT_EQ(std::vector<BYTE>(100, 0), std::vector<BYTE>(buf.begin(), buf.begin() + 100));
    EXPECT_EQ(0xCD, buf[100]);
}

// The pin on a finished file of 100,000 bytes, connected to a scripted
// splitter input.
class PinReadFinished : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_pin.Load(ContentFile(m_dir, "a.bin", 100000)));
        m_pPeer = NewScriptedPin();
        m_pPeer->m_accepted = {GUID_NULL};
        ASSERT_EQ(S_OK, m_pin->Connect(m_pPeer, NULL));
    }
    void TearDown() override {
        if (m_pPeer) {
            EXPECT_EQ(S_OK, m_pin->Disconnect());
            m_pPeer->Release();
        }
    }

    TempDir m_dir;
    PinUnderTest m_pin;
    CComObject<CScriptedInputPin>* m_pPeer = NULL;
    std::vector<BYTE> m_buf = std::vector<BYTE>(4096, 0xCD);
};

TEST_F(PinReadFinished, RefusesBadRangesAndTakesAnEmptyRead) {
    EXPECT_EQ(E_INVALIDARG, m_pin->SyncRead(0, -1, m_buf.data()));
    EXPECT_EQ(E_INVALIDARG, m_pin->SyncRead(-1, 10, m_buf.data()));
    EXPECT_EQ(S_OK, m_pin->SyncRead(0, 0, m_buf.data()));
    EXPECT_TRUE(AllBytes(m_buf, 0, 0xCD));
}

TEST_F(PinReadFinished, ReadsInsideAndAcrossTheEnd) {
    EXPECT_EQ(S_OK, m_pin->SyncRead(5000, 4096, m_buf.data()));
    EXPECT_EQ(Content(kSeed, 5000, 4096), m_buf);
    // Across the end: the tail, then zeros instead of the buffer's old bytes.
    std::fill(m_buf.begin(), m_buf.end(), 0xCD);
    EXPECT_EQ(S_FALSE, m_pin->SyncRead(99000, 4096, m_buf.data()));
    EXPECT_EQ(Content(kSeed, 99000, 1000), std::vector<BYTE>(m_buf.begin(), m_buf.begin() + 1000));
    EXPECT_TRUE(AllBytes(m_buf, 1000, 0));
}

TEST_F(PinReadFinished, AtTheEndNothingAndPastItAFailureWithoutEndOfStream) {
    // At the end: nothing; past it the read fails, which ends a pull-mode
    // splitter's stream. The splitter sends the end of stream itself: the
    // pin calls nothing on it.
    EXPECT_EQ(S_FALSE, m_pin->SyncRead(100000, 4096, m_buf.data()));
    EXPECT_TRUE(AllBytes(m_buf, 0, 0));
    std::fill(m_buf.begin(), m_buf.end(), 0xCD);
    EXPECT_EQ(kPastEnd, m_pin->SyncRead(100001, 4096, m_buf.data()));
    EXPECT_TRUE(AllBytes(m_buf, 0, 0));
    EXPECT_EQ(0, m_pPeer->m_nEndOfStream.load());
}

TEST_F(PinReadFinished, WaitForNextWithNothingAskedAndDuringAFlush) {
    // Nothing queued: a time-out at once, whatever the time given; during a
    // flush the wrong state, with no sample.
    IMediaSample* pSample = reinterpret_cast<IMediaSample*>(1);
    EXPECT_EQ(VFW_E_TIMEOUT, m_pin->WaitForNext(INFINITE, &pSample, NULL));
    EXPECT_EQ(NULL, pSample);
    EXPECT_EQ(E_POINTER, m_pin->Request(NULL, 0));
    m_pin->BeginFlush();
    EXPECT_EQ(VFW_E_WRONG_STATE, m_pin->WaitForNext(INFINITE, &pSample, NULL));
    EXPECT_EQ(NULL, pSample);
    m_pin->EndFlush();
}

// The pin on a file of 1,000,000 bytes that a writer process holds open:
// 213,568 bytes (the size less the wait margin) count as there, and a read
// that ends after them waits.
class PinReadGrowing : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = ContentFile(m_dir, "growing.bin", 1000000);
        ASSERT_TRUE(m_writer.Start({HelperPath("holdwrite"), m_path, "60000"}));
        ASSERT_TRUE(
            readertest::WaitUntil([&] { return ProbeForWriter(m_path) == ERROR_SHARING_VIOLATION; }, 30000));
        ASSERT_EQ(S_OK, m_pin.Load(m_path));
        EXPECT_TRUE(m_pin->IsWriting());
    }
    // Starts a read of one byte at the end of what is there, and returns once
    // it waits.
    void StartWaitingRead(std::future<HRESULT>* pWaiting) {
        *pWaiting = std::async(std::launch::async, [&] { return m_pin->SyncRead(213568, 1, &m_b); });
        ASSERT_TRUE(readertest::WaitUntil([&] { return m_pin->GetWaitSize() != 0; }));
    }

    TempDir m_dir;
    std::string m_path;
    ChildProcess m_writer;
    PinUnderTest m_pin;
    BYTE m_b = 0;
};

TEST_F(PinReadGrowing, LengthIsAnEstimateWithoutSeekingAndWhatIsThereWithIt) {
    // Length while the writer is active: an estimate without seeking, the
    // size less the threshold with it.
    LONGLONG llTotal = 0, llAvailable = 0;
    EXPECT_EQ(VFW_S_ESTIMATED, m_pin->Length(&llTotal, &llAvailable));
    EXPECT_EQ(107374182400LL, llTotal);
    EXPECT_EQ(213568, llAvailable);
    m_pin->SetSeekingAllowed(true);
    EXPECT_EQ(S_OK, m_pin->Length(&llTotal, &llAvailable));
    EXPECT_EQ(213568, llTotal);
    EXPECT_EQ(213568, llAvailable);
}

TEST_F(PinReadGrowing, PausedWithSeekingAllowedReadsWhatIsThereAtOnce) {
    m_pin->SetSeekingAllowed(true);
    m_pin.Filter()->SetFilterState(State_Paused);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(S_OK, m_pin->SyncRead(999999, 1, &m_b));
    EXPECT_LT(MillisecondsSince(start), 400);
}

TEST_F(PinReadGrowing, FarFromTheEndOrPastTheEstimatedTotalNoWait) {
    m_pin.Filter()->SetFilterState(State_Running);
    // Far enough from the end: no wait. Past the end, where a splitter
    // probes the estimated total as it connects: zeros at once, no failure.
    std::vector<BYTE> buf(4096);
    EXPECT_EQ(S_OK, m_pin->SyncRead(0, 4096, buf.data()));
    std::fill(buf.begin(), buf.end(), 0xCD);
    EXPECT_EQ(S_FALSE, m_pin->SyncRead(107374182400LL - 32768, 4096, buf.data()));
    EXPECT_TRUE(AllBytes(buf, 0, 0));
}

TEST_F(PinReadGrowing, NearTheEndWaitsUntilAFlushFromAnotherThread) {
    m_pin.Filter()->SetFilterState(State_Running);
    std::future<HRESULT> waiting;
    ASSERT_NO_FATAL_FAILURE(StartWaitingRead(&waiting));
    EXPECT_EQ(std::future_status::timeout, waiting.wait_for(std::chrono::milliseconds(200)));
    EXPECT_EQ(213568u + 1 + DEFAULT_WAIT_MARGIN - 1000000, m_pin->GetWaitSize());
    auto start = std::chrono::steady_clock::now();
    m_pin->BeginFlush();
    EXPECT_EQ(S_OK, waiting.get());
    EXPECT_LT(MillisecondsSince(start), 600);
    m_pin->EndFlush();
    EXPECT_EQ(0u, m_pin->GetWaitSize());
}

TEST_F(PinReadGrowing, AFlushThatMetNoReadLeavesNothingForTheNextWait) {
    m_pin.Filter()->SetFilterState(State_Running);
    // A seek near the live edge: the flush ends, and the read that follows
    // must wait for the recorder's bytes, not get zeros where they will be.
    m_pin->BeginFlush();
    m_pin->EndFlush();
    std::future<HRESULT> waiting;
    ASSERT_NO_FATAL_FAILURE(StartWaitingRead(&waiting));
    EXPECT_EQ(std::future_status::timeout,
              waiting.wait_for(std::chrono::milliseconds(GROWTH_POLL_TIME + 200)));
    m_pin->BeginFlush();
    EXPECT_EQ(S_OK, waiting.get());
    m_pin->EndFlush();
}

TEST_F(PinReadGrowing, StopEndsAWaitAndReadsWaitAgainOnceTheFilterStarts) {
    m_pin.Filter()->SetFilterState(State_Running);
    // The filter's stop ends a wait that began while it streamed, and while
    // it stays stopped reads do not wait (the graph tears down). Once it
    // starts again, or the pin connects anew, they wait again.
    std::future<HRESULT> waiting;
    ASSERT_NO_FATAL_FAILURE(StartWaitingRead(&waiting));
    auto start = std::chrono::steady_clock::now();
    m_pin.Filter()->SetFilterState(State_Stopped);
    m_pin->FilterStopped(true);
    EXPECT_EQ(S_OK, waiting.get());
    EXPECT_LT(MillisecondsSince(start), 400);
    EXPECT_EQ(S_OK, m_pin->SyncRead(213568, 1, &m_b));
    EXPECT_LT(MillisecondsSince(start), 400);
    m_pin->FilterStarting();
    m_pin.Filter()->SetFilterState(State_Running);
    ASSERT_NO_FATAL_FAILURE(StartWaitingRead(&waiting));
    m_pin->BeginFlush();
    EXPECT_EQ(S_OK, waiting.get());
    m_pin->EndFlush();
}

TEST_F(PinReadGrowing, StoppedAReadGivesUpOnAStalledRecorderRunningItWaits) {
    // A splitter reading as it connects (the filter stopped, no flush can
    // come) must not hang the graph's RenderFile behind a stalled recorder.
    m_pin->SetAdmissionStallTime(1000);
    std::vector<BYTE> buf(4096, 0xCD);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), m_pin->SyncRead(999000, 4096, buf.data()));
    EXPECT_TRUE(AllBytes(buf, 0, 0));
    // While the graph runs, a recorder that pauses is normal: no limit.
    m_pin.Filter()->SetFilterState(State_Running);
    std::future<HRESULT> waiting;
    ASSERT_NO_FATAL_FAILURE(StartWaitingRead(&waiting));
    EXPECT_EQ(std::future_status::timeout, waiting.wait_for(std::chrono::milliseconds(1500)));
    m_pin->BeginFlush();
    EXPECT_EQ(S_OK, waiting.get());
    m_pin->EndFlush();
}

TEST_F(PinReadGrowing, AFileChangeEndsAWaitingReadWithoutWaitingForIt) {
    m_pin.Filter()->SetFilterState(State_Running);
    // Without touching the new file.
    const std::string other = ContentFile(m_dir, "other.bin", 300000);
    std::vector<BYTE> waitBuf(4096, 0xCD);
    auto waiting =
        std::async(std::launch::async, [&] { return m_pin->SyncRead(213568, 4096, waitBuf.data()); });
    ASSERT_TRUE(readertest::WaitUntil([&] { return m_pin->GetWaitSize() != 0; }));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(S_OK, m_pin.Load(other));
    EXPECT_LT(MillisecondsSince(start), 400);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED), waiting.get());
    EXPECT_TRUE(AllBytes(waitBuf, 0, 0));
    ASSERT_EQ(S_OK, m_pin.Load(m_path));
}

TEST_F(PinReadGrowing, OnceTheWriterIsGoneAWaitEndsAfterItsGraceAndTheFileIsFinished) {
    m_pin.Filter()->SetFilterState(State_Running);
    std::vector<BYTE> buf(4096);
    m_writer.Kill();
    ASSERT_TRUE(readertest::WaitUntil([&] { return ProbeForWriter(m_path) == ERROR_SUCCESS; }));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(S_FALSE, m_pin->SyncRead(999000, 4096, buf.data()));
    EXPECT_LT(MillisecondsSince(start), WRITER_GRACE_TIME + 600);
    EXPECT_FALSE(m_pin->IsWriting());
    EXPECT_EQ(kPastEnd, m_pin->SyncRead(1003096, 4096, buf.data()));
    LONGLONG llTotal = 0, llAvailable = 0;
    EXPECT_EQ(S_OK, m_pin->Length(&llTotal, &llAvailable));
    EXPECT_EQ(1000000, llTotal);
    EXPECT_EQ(1000000, llAvailable);
}

TEST_F(PinReadGrowing, ATailProbeOfTheEstimateGetsZerosAfterTheWriterCloses) {
    // A splitter told the estimate while it connects probes its tail (a type
    // finder's look for a tag in the last 128 bytes); the writer may close
    // meanwhile, and a failure there would end the connection.
    LONGLONG llTotal = 0, llAvailable = 0;
    ASSERT_EQ(VFW_S_ESTIMATED, m_pin->Length(&llTotal, &llAvailable));
    m_pin.Filter()->SetFilterState(State_Running);
    m_writer.Kill();
    ASSERT_TRUE(readertest::WaitUntil([&] { return ProbeForWriter(m_path) == ERROR_SUCCESS; }));
    std::vector<BYTE> buf(128, 0xCD);
    EXPECT_EQ(S_FALSE, m_pin->SyncRead(999990, 128, buf.data()));
    ASSERT_FALSE(m_pin->IsWriting());
    std::fill(buf.begin(), buf.end(), 0xCD);
    EXPECT_EQ(S_FALSE, m_pin->SyncRead(llTotal - 128, 128, buf.data()));
    EXPECT_TRUE(AllBytes(buf, 0, 0));
    // A stream that runs out, or a read below the estimate's tail, still
    // ends; so does the probe once the same file is loaded finished, whose
    // total was exact.
    EXPECT_EQ(kPastEnd, m_pin->SyncRead(1000000 + 128, 128, buf.data()));
    EXPECT_EQ(kPastEnd, m_pin->SyncRead(llTotal - ESTIMATED_TAIL_SIZE - 128, 128, buf.data()));
    ASSERT_EQ(S_OK, m_pin.Load(m_path));
    EXPECT_EQ(kPastEnd, m_pin->SyncRead(llTotal - 128, 128, buf.data()));
}

// A long recording that really ends in the last 64 MiB below the estimated
// total it was told with: past its end, reads end the stream (no zeros that
// would keep a splitter from showing its last picture).
TEST(PinReadEstimate, ARecordingEndingJustBelowTheEstimateEndsThere) {
    TempDir dir;
    const std::string path = dir.File("long.bin");
    const LONGLONG llEnd = ESTIMATED_TOTAL - (10LL << 20);
    {
        std::ofstream out(path, std::ios::binary);
        const std::vector<BYTE> v = Content(kSeed, (uint64_t)(llEnd - 4096), 4096);
        out.seekp(llEnd - 4096);
        out.write(reinterpret_cast<const char*>(v.data()), 4096);
    }
    ChildProcess writer;
    ASSERT_TRUE(writer.Start({HelperPath("holdwrite"), path, "60000"}));
    ASSERT_TRUE(
        readertest::WaitUntil([&] { return ProbeForWriter(path) == ERROR_SHARING_VIOLATION; }, 30000));
    PinUnderTest pin;
    ASSERT_EQ(S_OK, pin.Load(path));
    LONGLONG llTotal = 0, llAvailable = 0;
    ASSERT_EQ(VFW_S_ESTIMATED, pin->Length(&llTotal, &llAvailable));
    ASSERT_EQ(ESTIMATED_TOTAL, llTotal);
    pin.Filter()->SetFilterState(State_Running);
    writer.Kill();
    ASSERT_TRUE(readertest::WaitUntil([&] { return ProbeForWriter(path) == ERROR_SUCCESS; }));
    std::vector<BYTE> buf(4096, 0xCD);
    EXPECT_EQ(S_OK, pin->SyncRead(llEnd - 4096, 4096, buf.data()));
    EXPECT_EQ(Content(kSeed, (uint64_t)(llEnd - 4096), 4096), buf);
    EXPECT_EQ(S_FALSE, pin->SyncRead(llEnd - 100, 4096, buf.data()));
    EXPECT_FALSE(pin->IsWriting());
    EXPECT_EQ(kPastEnd, pin->SyncRead(llEnd + 4096, 4096, buf.data()));
    EXPECT_EQ(kPastEnd, pin->SyncRead(llTotal - 128, 128, buf.data()));
}

}  // namespace
