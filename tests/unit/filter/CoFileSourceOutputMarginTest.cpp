// The wait margin in time: the pin keeps a second of the file's measured
// growth (never below the largest burst seen) until a margin is set in
// bytes, and admits a slow recording once it holds two seconds of growth.
// Recorder processes write at a radio's, an SD's and an HD's rate, and in
// bursts.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "FileReadProbe.h"
#include "PinTestSupport.h"
#include "TempDir.h"
#include "TestProcess.h"

using namespace testsupport;

namespace {

typedef std::chrono::steady_clock Clock;

// Starts a recorder from an empty file and waits until it holds the file.
void StartRecorder(ChildProcess& recorder, const std::string& path, long rate,
                   std::vector<std::string> more) {
    std::vector<std::string> args = {
        HelperPath("recorder"), path,      "--seed", "5",         "--size", "60000000", "--rate",
        std::to_string(rate),   "--chunk", "8192",   "--truncate"};
    args.insert(args.end(), more.begin(), more.end());
    ASSERT_TRUE(recorder.Start(args));
    ASSERT_TRUE(
        readertest::WaitUntil([&] { return ProbeForWriter(path) == ERROR_SHARING_VIOLATION; }, 30000));
}

// Reads the file sequentially from its start for the time given, as a
// splitter pulls: reads near the live edge wait, and each look of the pin
// measures the file. A flush ends the last wait.
void Follow(PinUnderTest& pin, int milliseconds) {
    std::atomic<bool> bStop{false};
    std::thread reader([&] {
        std::vector<BYTE> buf(16384);
        for (LONGLONG pos = 0; !bStop; pos += (LONGLONG)buf.size())
            if (FAILED(pin->SyncRead(pos, (LONG)buf.size(), buf.data())))
                break;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    bStop = true;
    pin->BeginFlush();
    reader.join();
    pin->EndFlush();
}

TEST(PinMargin, FollowsTheMeasuredGrowthUntilSetInBytes) {
    TempDir dir;
    for (const long rate : {16000L, 1000000L, 2000000L}) {
        SCOPED_TRACE(rate);
        const std::string path = dir.File("rec" + std::to_string(rate) + ".bin");
        ChildProcess recorder;
        StartRecorder(recorder, path, rate, {});
        PinUnderTest pin;
        pin.Filter()->SetFilterState(State_Running);
        ASSERT_EQ(S_OK, pin.Load(path));
        // A radio's 768 KiB last most of a minute: admitted on two seconds
        // of growth (and at least 64 KiB) instead.
        if (rate < 100000) {
            EXPECT_LT(pin->GetFileLength(FALSE), rate * 8);
            EXPECT_GE(pin->GetFileLength(FALSE), 65536);
        }
        Follow(pin, 2500);
        DWORD dwBytes = 0, dwMs = 0;
        bool bMeasured = false;
        pin->GetMargin(&dwBytes, &dwMs, &bMeasured);
        EXPECT_TRUE(bMeasured);
        EXPECT_EQ(dwBytes, pin->GetBuffSize());
        const double dWant = std::max(65536.0, (double)rate);
        EXPECT_GE(dwBytes, dWant * 0.6);
        EXPECT_LE(dwBytes, dWant * 1.6);
        if (rate > 65536) {
            EXPECT_GE(dwMs, 600u);
            EXPECT_LE(dwMs, 1600u);
        }
        // Set in bytes, the margin stays so, whatever grows.
        pin->SetBuffSize(300000);
        Follow(pin, 600);
        pin->GetMargin(&dwBytes, &dwMs, &bMeasured);
        EXPECT_FALSE(bMeasured);
        EXPECT_EQ(300000u, dwBytes);
        recorder.Kill();
    }
}

TEST(PinMargin, CoversTheLargestBurst) {
    // 2 s of a 200 KB/s stream written at once every 2 s: a margin of one
    // second's growth would stall at every burst; it covers the burst.
    TempDir dir;
    const std::string path = dir.File("burst.bin");
    ChildProcess recorder;
    StartRecorder(recorder, path, 200000, {"--burst", "2"});
    PinUnderTest pin;
    pin.Filter()->SetFilterState(State_Running);
    ASSERT_EQ(S_OK, pin.Load(path));
    Follow(pin, 5000);
    EXPECT_GE(pin->GetBuffSize(), 380000u);
    recorder.Kill();
}

}  // namespace
