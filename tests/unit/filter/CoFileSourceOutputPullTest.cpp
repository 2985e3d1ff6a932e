// The output pin pulled by a splitter's input pin as the base classes' pull
// pin pulls, in its synchronous mode (SyncReadAligned) and its asynchronous
// one (Request and WaitForNext, four ahead): a finished file read to its
// exact end, a recording read while a recorder process writes it (no stall
// while the recorder keeps ahead, a seek near its live edge), and a
// disconnect with requests pending, one of them waiting for the file to
// grow: every sample gets back to its allocator.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include "FileReadProbe.h"
#include "PinTestSupport.h"
#include "PullerPin.h"
#include "TempDir.h"
#include "TestProcess.h"

using namespace testsupport;

namespace {

typedef CPullerPin::Mode Mode;

const HRESULT kPastEnd = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);

const char* ModeName(Mode mode) {
    return mode == Mode::Sync ? "sync" : "async";
}

CPullerPin::Options PullOptions(Mode mode, LONGLONG llBytesPerSecond = 0) {
    CPullerPin::Options o;
    o.mode = mode;
    o.seed = readertest::kSeed;
    o.llBytesPerSecond = llBytesPerSecond;
    return o;
}

// Disconnects the puller through the pin, as a graph does once stopped, and
// tells whether every sample of its allocator came back.
bool DisconnectAndAllBack(PinUnderTest& pin, CPullerPin* pPuller) {
    CMemoryAllocator* pAlloc = pPuller->Allocator();
    pin.Filter()->SetFilterState(State_Stopped);
    EXPECT_EQ(S_OK, pin->Disconnect());
    // Decommitted with no sample out, the allocator is back to its
    // properties; with samples out it waits for them.
    const bool bAllBack = pAlloc && pAlloc->GetState() == AS_Prop;
    if (pAlloc)
        pAlloc->Release();
    return bAllBack;
}

void PrintFigures(const char* what, Mode mode, const CPullerPin::Figures& f, long nStallsAhead) {
    printf(
        "[ pull     ] %s, %s: %lld bytes, %lld bad, %ld stalls (%ld while the writer kept ahead), longest "
        "%u ms, end %lld\n",
        what, ModeName(mode), (long long)f.llDelivered, (long long)f.llBad, f.nStalls, nStallsAhead,
        (unsigned)f.dwLongestMs, (long long)f.llEnd);
}

class Pull : public ::testing::TestWithParam<Mode> {};

TEST_P(Pull, AFinishedFileToItsExactEndThenASeekAndADisconnectWithRequestsPending) {
    const LONGLONG kSize = (3 << 20) + 12345;  // ends inside a piece
    TempDir dir;
    const std::string path = dir.File("finished.bin");
    readertest::GrowTo(path, kSize);
    Backdate(path);
    PinUnderTest pin;
    ASSERT_EQ(S_OK, pin.Load(path));
    CComObject<CPullerPin>* pPuller = NewPuller(PullOptions(GetParam()));
    ASSERT_EQ(S_OK, pin->Connect(pPuller, NULL));
    pin.Filter()->SetFilterState(State_Running);

    pPuller->Start(0);
    ASSERT_TRUE(readertest::WaitUntil([&] { return pPuller->Ended(); }, 60000));
    const CPullerPin::Figures f = pPuller->GetFigures();
    EXPECT_EQ(S_OK, f.hrError);
    EXPECT_EQ(kSize, f.llDelivered);
    EXPECT_EQ(0, f.llBad);
    EXPECT_EQ(0, f.nStalls);
    EXPECT_EQ(kSize, f.llEnd);
    EXPECT_EQ(kPastEnd, f.hrPastEnd);
    PrintFigures("finished", GetParam(), f, f.nStalls);

    // Back into the middle, at a player's pace, and away with requests
    // still pending (asked for, completed or not, never collected).
    const LONGLONG kFrom = (1 << 20) + 7;
    pPuller->Stop(true);
    pPuller->SetOptions(PullOptions(GetParam(), 4 << 20));
    pPuller->Start(kFrom);
    ASSERT_TRUE(readertest::WaitUntil(
        [&] { return pPuller->Position() >= kFrom + (256 << 10) || pPuller->Ended(); }, 30000));
    pPuller->Stop(false);
    EXPECT_TRUE(DisconnectAndAllBack(pin, pPuller));
    EXPECT_EQ(S_OK, pPuller->GetFigures().hrError);
    EXPECT_EQ(0, pPuller->GetFigures().llBad);
    EXPECT_EQ(0u, pPuller->Release());
}

// A recording written by a recorder process at its rate, played at the same
// rate from a head start: no read waits. Then a seek to just behind the live
// edge, where the reads wait for the recorder again, and on to the end of
// the recording once the recorder has closed it.
TEST_P(Pull, ARecordingWhileItIsWrittenWithASeekNearItsLiveEdge) {
    const LONGLONG kTotal = (6 << 20) + 12345;
    const LONGLONG kRate = 2 << 20;
    TempDir dir;
    const std::string path = dir.File("recording.bin");
    ChildProcess recorder;
    ASSERT_TRUE(
        recorder.Start({HelperPath("recorder"), path, "--seed", std::to_string(readertest::kSeed), "--size",
                        std::to_string(kTotal), "--rate", std::to_string(kRate), "--chunk", "32768"}));
    HANDLE hSize = INVALID_HANDLE_VALUE;
    auto sizeNow = [&] {
        LARGE_INTEGER li = {};
        GetFileSizeEx(hSize, &li);
        return (LONGLONG)li.QuadPart;
    };
    ASSERT_TRUE(
        readertest::WaitUntil([&] { return ProbeForWriter(path) == ERROR_SHARING_VIOLATION; }, 30000));
    hSize = CreateFileA(path.c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                        0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hSize);
    // The head start: the farthest request ahead plus the wait margin fit
    // well inside it.
    ASSERT_TRUE(readertest::WaitUntil([&] { return sizeNow() >= (5 << 19); }, 30000));

    PinUnderTest pin;
    pin->SetBuffSize(GROWTH_THRESHOLD);
    ASSERT_EQ(S_OK, pin.Load(path));
    CComObject<CPullerPin>* pPuller = NewPuller(PullOptions(GetParam(), kRate));
    ASSERT_EQ(S_OK, pin->Connect(pPuller, NULL));
    pin.Filter()->SetFilterState(State_Running);
    pPuller->Start(0);
    ASSERT_TRUE(
        readertest::WaitUntil([&] { return pPuller->Position() >= (3 << 19) || pPuller->Ended(); }, 30000));
    const long nStallsAhead = pPuller->Stalls();
    EXPECT_EQ(0, nStallsAhead);

    const LONGLONG llEdge = sizeNow() - (256 << 10);
    pPuller->Seek(llEdge);
    EXPECT_TRUE(readertest::WaitUntil([&] { return pPuller->Ended(); }, 60000));
    EXPECT_EQ(0, recorder.Wait(60000));
    CloseHandle(hSize);
    const CPullerPin::Figures f = pPuller->GetFigures();
    EXPECT_EQ(S_OK, f.hrError);
    EXPECT_EQ(0, f.llBad);
    EXPECT_EQ(kTotal, f.llEnd);
    EXPECT_EQ(kTotal, pPuller->Position());
    EXPECT_EQ(kPastEnd, f.hrPastEnd);
    PrintFigures("growing", GetParam(), f, nStallsAhead);
    EXPECT_TRUE(DisconnectAndAllBack(pin, pPuller));
    EXPECT_EQ(0u, pPuller->Release());
}

INSTANTIATE_TEST_SUITE_P(Modes, Pull, ::testing::Values(Mode::Sync, Mode::Async),
                         [](const ::testing::TestParamInfo<Mode>& info) { return ModeName(info.param); });

// The splitter goes away while one of its requests waits for a recording
// that its recorder still holds open, and three more are pending behind
// it: the disconnect ends the wait, and every sample gets back.
TEST(PullPending, ADisconnectWhileARequestWaitsForGrowthGivesEverySampleBack) {
    const LONGLONG kTotal = (2 << 20) + 5;
    TempDir dir;
    const std::string path = dir.File("held.bin");
    ChildProcess recorder;
    ASSERT_TRUE(recorder.Start({HelperPath("recorder"), path, "--seed", std::to_string(readertest::kSeed),
                                "--size", std::to_string(kTotal), "--rate", "0", "--hold", "60000"}));
    ASSERT_TRUE(
        readertest::WaitUntil([&] { return ProbeForWriter(path) == ERROR_SHARING_VIOLATION; }, 30000));
    PinUnderTest pin;
    ASSERT_EQ(S_OK, pin.Load(path));
    CComObject<CPullerPin>* pPuller = NewPuller(PullOptions(Mode::Async));
    ASSERT_EQ(S_OK, pin->Connect(pPuller, NULL));
    pin.Filter()->SetFilterState(State_Running);
    pPuller->Start(0);
    ASSERT_TRUE(readertest::WaitUntil([&] { return pin->GetWaitSize() != 0 || pPuller->Ended(); }, 30000));
    ASSERT_FALSE(pPuller->Ended());
    pPuller->Stop(false);
    EXPECT_TRUE(DisconnectAndAllBack(pin, pPuller));
    EXPECT_EQ(S_OK, pPuller->GetFigures().hrError);
    EXPECT_EQ(0, pPuller->GetFigures().llBad);
    EXPECT_EQ(0u, pPuller->Release());
    recorder.Kill();
}

}  // namespace
