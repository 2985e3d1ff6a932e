// A file that grows while it is read: the recorder, a separate process,
// appends seeded bytes at a steady rate while reader threads follow it, one
// sequentially and two at random. Every delivered byte is checked against
// the content the seed gives for its offset, so a byte that was not yet in
// the file, or came from the wrong place, is caught.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "FileReadProbe.h"
#include "TempDir.h"
#include "TestProcess.h"

using namespace readertest;

namespace {

struct Tally {
    std::atomic<long long> reads{0}, bytes{0}, badBytes{0}, pastEnd{0}, failures{0};
};

// Checks one read; counts its wrong bytes (from the first wrong one on).
void Check(Tally& tally, CCachedReadFile& file, HRESULT hr, LONGLONG pos, LONG len, const BYTE* buf,
           LONG cb) {
    ++tally.reads;
    if (FAILED(hr) && hr != (HRESULT)0x80070026)
        ++tally.failures;
    if (cb < 0 || cb > len) {
        ++tally.failures;
        return;
    }
    tally.bytes += cb;
    const size_t bad = recorder::FirstMismatch(kSeed, (uint64_t)pos, buf, (size_t)cb);
    if (bad != (size_t)cb)
        tally.badBytes += (long long)(cb - bad);
    // The file only grows: what was delivered must lie inside it now.
    if (cb > 0 && pos + cb > file.GetFileSize())
        ++tally.pastEnd;
}

TEST(FileReadGrowingTest, ReadersFollowARecorderProcess) {
    testsupport::TempDir dir;
    const std::string path = dir.File("recording.bin");
    const uint64_t kTotal = 24ull << 20;
    testsupport::ChildProcess recorder;
    ASSERT_TRUE(
        recorder.Start({testsupport::HelperPath("recorder"), path, "--seed", std::to_string(kSeed), "--size",
                        std::to_string(kTotal), "--rate", std::to_string(8 << 20), "--chunk", "40000"}));

    CCachedReadFile file;
    // Small blocks and a small cache: many block ends and slot reuses.
    ASSERT_EQ(S_OK, file.Init(64 * 1024, 1 << 20));
    ASSERT_TRUE(
        WaitUntil([&] { return file.OpenFile(path.c_str()) == S_OK && file.GetFileSize() > 0; }, 20000));

    Tally tally;
    std::atomic<bool> bWriterDone{false}, bStop{false};
    std::atomic<uint64_t> sequentialPos{0};
    std::vector<std::thread> readers;
    // The sequential reader: follows the end of the file, as a player does.
    readers.emplace_back([&] {
        std::mt19937 rng(1);
        std::vector<BYTE> buf(200 * 1024);
        uint64_t pos = 0;
        while (pos < kTotal) {
            const LONG len = 1 + (LONG)(rng() % buf.size());
            LONG cb = -1;
            const HRESULT hr = file.CachedRead((LONGLONG)pos, len, buf.data(), &cb);
            Check(tally, file, hr, (LONGLONG)pos, len, buf.data(), cb);
            if (cb > 0)
                pos += (uint64_t)cb;
            sequentialPos = pos;
            if (cb < len) {
                if (bWriterDone && file.GetFileSize() <= (LONGLONG)pos)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        bStop = true;
    });
    // Random readers anywhere in what the file held a moment ago, and a
    // little past it.
    for (int t = 0; t < 2; ++t) {
        readers.emplace_back([&, t] {
            std::mt19937_64 rng(100 + t);
            std::vector<BYTE> buf(300 * 1024);
            while (!bStop) {
                const LONGLONG size = file.GetLastFileSize();
                if (size <= 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                const LONGLONG pos = (LONGLONG)(rng() % (uint64_t)(size + 100000));
                const LONG len = (LONG)(rng() % buf.size());
                LONG cb = -1;
                const HRESULT hr = file.CachedRead(pos, len, buf.data(), &cb);
                Check(tally, file, hr, pos, len, buf.data(), cb);
            }
        });
    }

    const int exitCode = recorder.Wait(60000);
    bWriterDone = true;
    for (std::thread& t : readers)
        t.join();
    EXPECT_EQ(0, exitCode);
    EXPECT_EQ(kTotal, sequentialPos.load());
    EXPECT_EQ(0, tally.badBytes.load());
    EXPECT_EQ(0, tally.pastEnd.load());
    EXPECT_EQ(0, tally.failures.load());
    EXPECT_GT(tally.reads.load(), 100);
    file.CloseFile();
    printf("[ growing  ] %lld reads, %lld bytes delivered, %lld differing\n", tally.reads.load(),
           tally.bytes.load(), tally.badBytes.load());
}

}  // namespace
