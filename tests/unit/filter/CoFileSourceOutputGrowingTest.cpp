// The pin in front of a file that a recorder process is still writing: a
// reader thread pulls sequential 64 KiB reads as a splitter does. Every byte
// is checked against the recorder's content, no read may return before the
// file holds its end plus the wait margin (unless the writer has closed it or
// a flush ended the wait), a flush from another thread ends a wait in time,
// and the read after the writer's close gets the true tail and zeros.
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

long long Ms(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

TEST(PinGrowing, SequentialReadsFollowARecorderProcess) {
    const LONG kPiece = 64 * 1024;
    const LONGLONG kTotal = (6 << 20) + 12345;  // ends inside a piece
    const LONGLONG kMargin = GROWTH_THRESHOLD;  // a read that waits always needs growth
    TempDir dir;
    const std::string path = dir.File("recording.mpg");
    ChildProcess recorder;
    ASSERT_TRUE(recorder.Start({HelperPath("recorder"), path, "--seed", std::to_string(readertest::kSeed),
                                "--size", std::to_string(kTotal), "--rate", std::to_string(3 << 20),
                                "--chunk", "40000", "--hold", "2000"}));
    ASSERT_TRUE(
        readertest::WaitUntil([&] { return ProbeForWriter(path) == ERROR_SHARING_VIOLATION; }, 30000));
    // The size as another reader of the file sees it.
    HANDLE hSize = CreateFileA(path.c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hSize);
    auto sizeNow = [&] {
        LARGE_INTEGER li = {};
        GetFileSizeEx(hSize, &li);
        return (LONGLONG)li.QuadPart;
    };

    PinUnderTest pin;
    pin->SetBuffSize((DWORD)kMargin);
    pin.Filter()->SetFilterState(State_Running);
    ASSERT_EQ(S_OK, pin.Load(path));
    LONGLONG llTotal = 0, llAvailable = 0;
    EXPECT_EQ(VFW_S_ESTIMATED, pin->Length(&llTotal, &llAvailable));
    EXPECT_EQ(107374182400LL, llTotal);

    std::atomic<bool> bWriterClosed{false};
    // Like a splitter's, the reading thread does not read during a flush.
    std::atomic<bool> bFlushing{false};
    std::atomic<long> nFlushes{0};
    std::atomic<long long> nReads{0}, nBytes{0}, nBad{0}, nEarly{0}, nWaitMs{0}, nLongestMs{0};
    std::atomic<LONGLONG> llTail{-1};
    std::atomic<Clock::rep> tReturned{0};
    std::thread reader([&] {
        std::vector<BYTE> buf(kPiece);
        for (LONGLONG pos = 0;; pos += kPiece) {
            std::fill(buf.begin(), buf.end(), 0xCD);
            const long flushesBefore = nFlushes;
            if (bFlushing) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                pos -= kPiece;
                continue;
            }
            const auto t0 = Clock::now();
            const HRESULT hr = pin->SyncRead(pos, kPiece, buf.data());
            const auto t1 = Clock::now();
            tReturned = t1.time_since_epoch().count();
            const bool bClosed = bWriterClosed || ProbeForWriter(path) != ERROR_SHARING_VIOLATION;
            ++nReads;
            nWaitMs += Ms(t1 - t0);
            if (Ms(t1 - t0) > nLongestMs)
                nLongestMs = Ms(t1 - t0);
            const LONG cb = (LONG)std::max<LONGLONG>(0, std::min<LONGLONG>(kPiece, sizeNow() - pos));
            nBytes += cb;
            const size_t bad =
                recorder::FirstMismatch(readertest::kSeed, (uint64_t)pos, buf.data(), (size_t)cb);
            for (size_t i = (size_t)cb; i < buf.size(); ++i)
                if (buf[i] != 0) {
                    ++nBad;
                    break;
                }
            nBad += (long long)(cb - bad);
            if (hr == S_OK && !bClosed && nFlushes == flushesBefore && sizeNow() < pos + kPiece + kMargin)
                ++nEarly;
            if (hr != S_OK) {
                EXPECT_EQ(S_FALSE, hr);
                EXPECT_TRUE(bClosed);
                llTail = pos + cb;
                return;
            }
        }
    });

    // Once the recorder has written everything but still holds the file,
    // the reader waits near the end: a flush must end that wait.
    long long flushMs = -1;
    if (readertest::WaitUntil([&] { return sizeNow() == kTotal && pin->GetWaitSize() != 0; }, 30000)) {
        const auto returnedBefore = tReturned.load();
        bFlushing = true;
        ++nFlushes;
        const auto t0 = Clock::now();
        pin->BeginFlush();
        readertest::WaitUntil([&] { return tReturned.load() != returnedBefore; }, 5000);
        flushMs = Ms(Clock::now() - t0);
        pin->EndFlush();
        bFlushing = false;
    }
    EXPECT_EQ(0, recorder.Wait(60000));
    bWriterClosed = true;
    reader.join();
    CloseHandle(hSize);

    EXPECT_EQ(kTotal, llTail.load());
    EXPECT_EQ(0, nBad.load());
    EXPECT_EQ(0, nEarly.load());
    EXPECT_GE(flushMs, 0);
    EXPECT_LT(flushMs, 600);
    EXPECT_EQ(S_OK, pin->Length(&llTotal, &llAvailable));
    EXPECT_EQ(kTotal, llTotal);
    EXPECT_EQ(kTotal, llAvailable);
    printf(
        "[ growing  ] pin: %lld reads, %lld bytes delivered, %lld differing, %lld early; waited %lld ms "
        "(longest %lld ms), a flush ended a wait in %lld ms\n",
        nReads.load(), nBytes.load(), nBad.load(), nEarly.load(), nWaitMs.load(), nLongestMs.load(), flushMs);
}

}  // namespace
