// Everything at once on one pin: readers, flushes, Length, the statistics
// pass and file changes between a finished file and one a writer process
// holds (so reads near its end wait). Every read must give exactly the bytes
// of one of the two files (then zeros), or be ended by a file change with
// nothing in its buffer; no Load may hang behind a waiting read.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "FileReadProbe.h"
#include "PinTestSupport.h"
#include "TempDir.h"
#include "TestProcess.h"

using namespace testsupport;

namespace {

typedef std::chrono::steady_clock Clock;

struct TestFile {
    std::string path;
    uint64_t seed;
    LONGLONG size;
    // What a read of [pos, pos + len) must give: the bytes there, then zeros.
    std::vector<BYTE> Expected(LONGLONG pos, LONG len) const {
        std::vector<BYTE> v((size_t)len, 0);
        const LONGLONG n = std::max<LONGLONG>(0, std::min<LONGLONG>(len, size - pos));
        if (n > 0)
            recorder::FillContent(seed, (uint64_t)pos, v.data(), (size_t)n);
        return v;
    }
};

TestFile MakeFile(const TempDir& dir, const char* name, uint64_t seed, LONGLONG size) {
    TestFile f{dir.File(name), seed, size};
    const std::vector<BYTE> v = readertest::Content(seed, 0, (size_t)size);
    dir.Write(name, std::string(v.begin(), v.end()));
    return f;
}

TEST(PinStress, ReadsFlushesLengthStatisticsAndFileChanges) {
    TempDir dir;
    const TestFile files[2] = {MakeFile(dir, "done.bin", 11, 3 << 20),
                               MakeFile(dir, "held.bin", 12, 1600000)};
    ChildProcess writer;
    ASSERT_TRUE(writer.Start({HelperPath("holdwrite"), files[1].path, "60000"}));
    ASSERT_TRUE(readertest::WaitUntil(
        [&] { return ProbeForWriter(files[1].path) == ERROR_SHARING_VIOLATION; }, 30000));

    PinUnderTest pin;
    pin->SetBuffSize(256 * 1024);
    pin.Filter()->SetFilterState(State_Running);
    ASSERT_EQ(S_OK, pin.Load(files[0].path));

    std::atomic<bool> bStop{false}, bWriterGone{false};
    std::atomic<long> nReads{0}, nWrong{0}, nAborted{0}, nOddResults{0}, nLoads{0}, nLongestLoadMs{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937_64 rng(50 + t);
            std::vector<BYTE> buf;
            while (!bStop) {
                const LONGLONG pos = (LONGLONG)(rng() % (3400000));
                const LONG len = 1 + (LONG)(rng() % (256 * 1024));
                buf.assign((size_t)len, 0xCD);
                const HRESULT hr = pin->SyncRead(pos, len, buf.data());
                ++nReads;
                if (hr == HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)) {
                    // Zeros, past the end of the finished file; or past the held
                    // one's once its writer is gone (a read that waited).
                    const LONGLONG llEnd = bWriterGone ? files[1].size : files[0].size;
                    if (pos <= llEnd || buf != std::vector<BYTE>(buf.size(), 0))
                        ++nWrong;
                } else if (hr == HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED)) {
                    ++nAborted;
                    if (buf != std::vector<BYTE>(buf.size(), 0))
                        ++nWrong;
                } else if (hr == S_OK || hr == S_FALSE) {
                    if (buf != files[0].Expected(pos, len) && buf != files[1].Expected(pos, len))
                        ++nWrong;
                } else {
                    ++nOddResults;
                }
            }
        });
    }
    threads.emplace_back([&] {
        while (!bStop) {
            pin->BeginFlush();
            Sleep(5);
            pin->EndFlush();
            Sleep(40);
        }
    });
    threads.emplace_back([&] {
        while (!bStop) {
            LONGLONG llTotal = 0, llAvailable = 0;
            const HRESULT hr = pin->Length(&llTotal, &llAvailable);
            if (hr != S_OK && hr != VFW_S_ESTIMATED)
                ++nOddResults;
            pin->UpdateStatistics();
            LONGLONG llPos = 0;
            pin->GetReadPos(&llPos, NULL);
            Sleep(3);
        }
    });
    const auto end = Clock::now() + std::chrono::milliseconds(2500);
    for (int i = 1; Clock::now() < end; ++i) {
        const auto t0 = Clock::now();
        EXPECT_EQ(S_OK, pin.Load(files[i % 2].path));
        const long ms =
            (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
        nLongestLoadMs = std::max<long>(nLongestLoadMs, ms);
        ++nLoads;
        Sleep(20);
    }
    bStop = true;
    // With the writer gone, no read waits any longer.
    bWriterGone = true;
    writer.Kill();
    for (std::thread& t : threads)
        t.join();

    EXPECT_EQ(0, nWrong.load());
    EXPECT_EQ(0, nOddResults.load());
    EXPECT_GT(nReads.load(), 50);
    EXPECT_GT(nLoads.load(), 10);
    // A Load waits only for reads that copy, never for one that waits.
    EXPECT_LT(nLongestLoadMs.load(), 2000);
    printf(
        "[ stress   ] pin: %ld reads (%ld ended by a file change), %ld loads (longest %ld ms), %ld wrong\n",
        nReads.load(), nAborted.load(), nLoads.load(), nLongestLoadMs.load(), nWrong.load());
}

// Whether buf holds the content of the file of this seed from pos, as far
// as the file had it, and zeros after that.
bool OneFilesBytes(const std::vector<BYTE>& buf, LONGLONG pos, uint64_t seed) {
    const size_t i = recorder::FirstMismatch(seed, (uint64_t)pos, buf.data(), buf.size());
    return std::all_of(buf.begin() + (ptrdiff_t)i, buf.end(), [](BYTE b) { return b == 0; });
}

// Loads switch between two recordings every 150 ms while readers follow the
// live edge (at it and just past it), flushes come every 30 ms and the
// figures, Length and GetCurFile are asked all the time: every read is
// answered from one file only (its bytes, then zeros), or ended by the file
// change.
TEST(PinStress, LoadsOfGrowingFilesWhileReadersFollowTheLiveEdge) {
    TempDir dir;
    const std::string paths[2] = {dir.File("a.bin"), dir.File("b.bin")};
    const uint64_t seeds[2] = {21, 22};
    ChildProcess recorders[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(recorders[i].Start({HelperPath("recorder"), paths[i], "--seed", std::to_string(seeds[i]),
                                        "--size", "40000000", "--rate", "2000000", "--chunk", "65536"}));
        ASSERT_TRUE(readertest::WaitUntil([&] { return ProbeForWriter(paths[i]) == ERROR_SHARING_VIOLATION; },
                                          30000));
    }
    PinUnderTest pin;
    pin->SetBuffSize(128 * 1024);
    pin.Filter()->SetFilterState(State_Running);
    ASSERT_EQ(S_OK, pin.Load(paths[0]));

    std::atomic<bool> bStop{false};
    std::atomic<long> nReads{0}, nWrong{0}, nOdd{0}, nLoads{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937_64 rng(70 + t);
            std::vector<BYTE> buf;
            while (!bStop) {
                const LONGLONG llSize = pin->GetFileLength(FALSE);
                const LONGLONG pos = std::max<LONGLONG>(0, llSize - 262144 + (LONGLONG)(rng() % 524288));
                buf.assign(1 + rng() % 131072, 0xCD);
                const HRESULT hr = pin->SyncRead(pos, (LONG)buf.size(), buf.data());
                ++nReads;
                const bool bZeros = std::all_of(buf.begin(), buf.end(), [](BYTE b) { return b == 0; });
                if (hr == S_OK || hr == S_FALSE) {
                    if (!OneFilesBytes(buf, pos, seeds[0]) && !OneFilesBytes(buf, pos, seeds[1]))
                        ++nWrong;
                } else if (hr == HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED)) {
                    nWrong += bZeros ? 0 : 1;
                } else {
                    ++nOdd;
                }
            }
        });
    }
    threads.emplace_back([&] {
        while (!bStop) {
            pin->BeginFlush();
            pin->EndFlush();
            Sleep(30);
        }
    });
    threads.emplace_back([&] {
        while (!bStop) {
            LONGLONG llTotal = 0, llAvailable = 0, llPos = 0;
            pin->Length(&llTotal, &llAvailable);
            pin->GetReadPos(&llPos, NULL);
            pin->GetWaitSize();
            pin->GetBuffSize();
            pin->UpdateStatistics();
            LPOLESTR pszName = NULL;
            AM_MEDIA_TYPE mt = {};
            if (pin->GetCurFile(&pszName, &mt) != S_OK)
                ++nOdd;
            CoTaskMemFree(pszName);
            Sleep(2);
        }
    });
    const auto end = Clock::now() + std::chrono::milliseconds(3000);
    for (int i = 1; Clock::now() < end; ++i) {
        EXPECT_EQ(S_OK, pin.Load(paths[i % 2]));
        ++nLoads;
        Sleep(150);
    }
    bStop = true;
    for (std::thread& t : threads)
        t.join();
    for (ChildProcess& r : recorders)
        r.Kill();

    EXPECT_EQ(0, nWrong.load());
    EXPECT_EQ(0, nOdd.load());
    EXPECT_GT(nReads.load(), 20);
    printf("[ stress   ] live: %ld reads, %ld loads, %ld wrong\n", nReads.load(), nLoads.load(),
           nWrong.load());
}

}  // namespace
