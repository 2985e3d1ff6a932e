// The slot marks under contention: readers that meet a writer, writers that
// meet readers, and many threads reading through a cache far too small for
// them, every byte checked.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "DebugCapture.h"
#include "FileReadProbe.h"
#include "TempDir.h"

using namespace readertest;

namespace {

const DWORD kBlock = 4096;

class FileReadSlotsTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ClearDebugText();
        m_path = m_dir.File("slots.bin");
        GrowTo(m_path, 16 * kBlock);
        ASSERT_EQ(S_OK, m_file.Init(kBlock, 3 * kBlock));
        ASSERT_EQ(S_OK, m_file.OpenFile(m_path.c_str()));
    }
    bool Traced(const char* text) { return testsupport::DebugText().find(text) != std::string::npos; }

    testsupport::TempDir m_dir;
    std::string m_path;
    CReaderProbe m_file;
};

// A reader that finds its block still being read ahead does not wait for the
// writer: it reads its bytes from the file, and leaves the writer's mark
// alone. Whether the writer then fills the slot or fails, later reads are
// right.
TEST_F(FileReadSlotsTest, ReaderOfABlockBeingWrittenReadsTheFile) {
    const SlotClaim claim = m_file.Blocks().ClaimSlot(2 * kBlock);
    ASSERT_TRUE(claim.bClaimed);
    const LONG lIndex = claim.lSlot;
    ReadResult r = ReadChecked(m_file, 2 * kBlock + 5, 100);
    EXPECT_EQ(S_OK, r.hr);
    EXPECT_EQ(100, r.cb);
    EXPECT_EQ(100u, r.firstBad);
    EXPECT_TRUE(Traced("BEING READ AHEAD - read directly"));
    EXPECT_EQ(-1, m_file.Blocks().Mark(lIndex));

    // The writer fails: the slot is emptied and dropped, the next read of the
    // block (and of the one after it) reads the file again.
    CSmartHandle shUnreadable(CreateEvent(NULL, TRUE, FALSE, NULL));
    EXPECT_EQ(0, m_file.Blocks().CacheBlock(lIndex, shUnreadable, 2 * kBlock));
    EXPECT_EQ(0, m_file.Blocks().Mark(lIndex));
    r = ReadChecked(m_file, 2 * kBlock + 5, 2 * kBlock);
    EXPECT_EQ(S_OK, r.hr);
    EXPECT_EQ(2 * (LONG)kBlock, r.cb);
    EXPECT_EQ((size_t)r.cb, r.firstBad);
}

// Readers keep their slot: two READ marks add up, and a writer looking for a
// slot passes a marked one by until it is free.
TEST_F(FileReadSlotsTest, MarkedSlotsArePassedByUntilFree) {
    LONG arrIndex[3];
    for (LONG i = 0; i < 3; ++i) {
        arrIndex[i] = Claimed(m_file.Blocks(), i * kBlock);
        ASSERT_EQ((LONG)kBlock, m_file.Blocks().CacheBlock(arrIndex[i], m_file.ManualFile(), i * kBlock));
    }
    const LONG lFirst = Pinned(m_file.Blocks(), 0);
    const LONG lSecond = Pinned(m_file.Blocks(), 0);
    EXPECT_EQ(lFirst, lSecond);
    EXPECT_EQ(2, m_file.Blocks().Mark(lFirst));
    for (LONG i = 1; i < 3; ++i)
        arrIndex[i] = Pinned(m_file.Blocks(), i * kBlock);

    // Every slot is READ-marked: the writer goes round until one is freed.
    LONG lNew = 0;
    std::atomic<bool> bAcquired{false};
    std::thread writer([&] {
        lNew = Claimed(m_file.Blocks(), 9 * kBlock);
        bAcquired = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return Traced("!!! Index for WRITE already mark as [READ] - try next"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(bAcquired);
    BYTE buf[64];
    EXPECT_EQ(1, m_file.Blocks().ReadFromBlock(lFirst, buf, sizeof(buf), 0));
    EXPECT_FALSE(bAcquired);  // one reader is still in block 0's slot
    EXPECT_EQ(0, m_file.Blocks().ReadFromBlock(arrIndex[2], buf, sizeof(buf), 0));
    writer.join();
    EXPECT_EQ(arrIndex[2] % 3, lNew % 3);
    EXPECT_EQ(-1, m_file.Blocks().Mark(lNew));
    EXPECT_EQ((LONG)kBlock, m_file.Blocks().CacheBlock(lNew, m_file.ManualFile(), 9 * kBlock));
    EXPECT_FALSE(m_file.Blocks().IsIndexed(2 * kBlock));
    EXPECT_EQ(0, m_file.Blocks().ReadFromBlock(lSecond, buf, sizeof(buf), 0));
    EXPECT_EQ(0, m_file.Blocks().ReadFromBlock(arrIndex[1], buf, sizeof(buf), 0));
    EXPECT_EQ(0, memcmp(Content(kSeed, kBlock, sizeof(buf)).data(), buf, sizeof(buf)));
}

// A reader that filled a slot keeps it until it has copied: the write mark
// turns into its read mark, with no moment in which the slot is free.
TEST_F(FileReadSlotsTest, FilledSlotStaysWithItsReader) {
    const LONG lIndex = Claimed(m_file.Blocks(), 4 * kBlock);
    EXPECT_EQ((LONG)kBlock, m_file.Blocks().CacheBlock(lIndex, m_file.ManualFile(), 4 * kBlock, TRUE));
    EXPECT_EQ(1, m_file.Blocks().Mark(lIndex));
    // Writers pass the slot by.
    for (LONG i = 0; i < 4; ++i) {
        const LONG lOther = Claimed(m_file.Blocks(), (8 + i) * kBlock);
        EXPECT_NE(lIndex % 3, lOther % 3);
        m_file.Blocks().CacheBlock(lOther, m_file.ManualFile(), (8 + i) * kBlock);
    }
    BYTE buf[64];
    EXPECT_EQ(0, m_file.Blocks().ReadFromBlock(lIndex, buf, sizeof(buf), 100));
    EXPECT_EQ(0, memcmp(Content(kSeed, 4 * kBlock + 100, sizeof(buf)).data(), buf, sizeof(buf)));
}

// Several readers and the read-ahead thread through three slots: every byte
// delivered is the file's, and no mark is left behind.
TEST_F(FileReadSlotsTest, ConcurrentReadersThroughThreeSlots) {
    const LONGLONG llSize = 16 * kBlock;
    const int kThreads = 4;
    std::atomic<long long> nBad{0}, nReads{0};
    std::vector<std::thread> threads;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937_64 rng(1000 + t);
            std::vector<BYTE> buf(3 * kBlock);
            for (long i = 0; i < 200 || std::chrono::steady_clock::now() < end; ++i) {
                const LONGLONG pos = (LONGLONG)(rng() % llSize);
                const LONG len = (LONG)(rng() % (3 * kBlock));
                LONG cb = -1;
                const HRESULT hr = m_file.CachedRead(pos, len, buf.data(), &cb);
                const LONGLONG llExpected = std::min<LONGLONG>(len, llSize - pos);
                if (FAILED(hr) || cb != llExpected ||
                    recorder::FirstMismatch(kSeed, (uint64_t)pos, buf.data(), (size_t)cb) != (size_t)cb)
                    ++nBad;
                ++nReads;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(0, nBad.load()) << "of " << nReads.load() << " reads";
    m_file.CloseFile();  // the thread is gone: every mark must be back to 0
    for (LONG i = 0; i < 3; ++i)
        EXPECT_EQ(0, m_file.Blocks().Mark(i));
}

// The same, with every other read served from the cache alone: what it
// serves is the file's, while the slots it copies from are taken for other
// blocks all the time.
TEST_F(FileReadSlotsTest, ReadsFromTheCacheAloneThroughThreeSlots) {
    const LONGLONG llSize = 16 * kBlock;
    std::atomic<long long> nBad{0}, nServed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937_64 rng(2000 + t);
            std::vector<BYTE> buf(2 * kBlock);
            for (int i = 0; i < 3000; ++i) {
                const LONGLONG pos = (LONGLONG)(rng() % (llSize - buf.size()));
                const LONG len = 1 + (LONG)(rng() % buf.size());
                LONG cb = len;
                HRESULT hr = m_file.ReadCachedOnly(pos, len, buf.data());
                if (hr == S_OK)
                    ++nServed;
                else if (hr == E_PENDING)
                    hr = m_file.CachedRead(pos, len, buf.data(), &cb);
                if (hr != S_OK || cb != len ||
                    recorder::FirstMismatch(kSeed, (uint64_t)pos, buf.data(), (size_t)len) != (size_t)len)
                    ++nBad;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(0, nBad.load());
    EXPECT_GT(nServed.load(), 0);
    m_file.CloseFile();
    for (LONG i = 0; i < 3; ++i)
        EXPECT_EQ(0, m_file.Blocks().Mark(i));
}

}  // namespace
