// CCachedReadFile on real temporary files: set-up, opening, the read cases
// at the ends of blocks and files, and the faults it must not have.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "AllocCounter.h"
#include "DebugCapture.h"
#include "FileReadProbe.h"
#include "TempDir.h"

using namespace readertest;
using testsupport::ExpectAsserts;

namespace {

const DWORD kBlock = 4096;
const HRESULT kEof = (HRESULT)0x80070026;

class FileReadTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::ClearDebugText(); }
    // A file of n seeded bytes.
    std::string MakeFile(const std::string& name, uint64_t n) {
        const std::string path = m_dir.File(name);
        GrowTo(path, n);
        return path;
    }
    testsupport::TempDir m_dir;
};

TEST_F(FileReadTest, InitSizesTheCacheAndRefusesBadSizes) {
    CReaderProbe f;
    EXPECT_EQ(E_INVALIDARG, f.Init(kBlock, 2 * kBlock));
    EXPECT_NE(std::string::npos,
              testsupport::DebugText().find("###Err### CCachedReadFile::Init( 4 096, 8 192 )Too big "
                                            "block size [4096] or too small cache size[8 192]\n"));
    EXPECT_EQ(E_INVALIDARG, f.Init(0, 1 << 20));     // would divide by zero
    EXPECT_EQ(E_INVALIDARG, f.Init(4098, 1 << 20));  // marks would be unaligned
    EXPECT_EQ(0u, f.BlockNum());

    ASSERT_EQ(S_OK, f.Init(kBlock, 3 * kBlock));
    EXPECT_EQ(3u, f.BlockNum());
    EXPECT_EQ(S_OK, f.Init(kBlock, 3 * kBlock - 100));  // a remainder takes one more slot
    EXPECT_EQ(3u, f.BlockNum());

    ASSERT_EQ(S_OK, f.Init(0x60000, 0x1400000));
    EXPECT_EQ(54u, f.BlockNum());
    EXPECT_EQ(21237120u, f.Blocks().MemorySize());  // 54 slots of 64 + 393,216 bytes
    EXPECT_EQ(21237760u, f.Blocks().MemoryCapacity());
    EXPECT_EQ(13981012, f.ForwardReadSize());
    for (LONG i = 0; i < 54; ++i) {
        EXPECT_EQ(0, f.Blocks().Mark(i));
        EXPECT_EQ(-1, f.Blocks().SlotPos(i));
    }

    // Slots whose total passes 4 GiB must not wrap to a small allocation.
    EXPECT_EQ(E_OUTOFMEMORY, f.Init(0x40000000, 0xFFFFFFFC));
    EXPECT_EQ(0u, f.BlockNum());
}

TEST_F(FileReadTest, RefusesUseWithoutInitOrFile) {
    CReaderProbe f;
    const std::string path = MakeFile("a.bin", 1000);
    EXPECT_EQ(E_UNEXPECTED, f.OpenFile(path.c_str()));
    BYTE buf[16];
    LONG cb = 7;
    {
        ExpectAsserts asserts;
        EXPECT_EQ(E_UNEXPECTED, f.CachedRead(0, 16, buf, &cb));
        EXPECT_EQ(0, cb);
        EXPECT_TRUE(asserts.Saw("m_shManualFile"));
    }
    ASSERT_EQ(S_OK, f.Init(kBlock, 8 * kBlock));
    ASSERT_EQ(S_OK, f.OpenFile(path.c_str()));
    {
        ExpectAsserts asserts;
        EXPECT_EQ(E_UNEXPECTED, f.Init(kBlock, 8 * kBlock));
        EXPECT_EQ(E_POINTER, f.CachedRead(0, 16, nullptr, &cb));
        EXPECT_EQ(E_POINTER, f.CachedRead(0, 16, buf, nullptr));
        EXPECT_EQ(E_INVALIDARG, f.CachedRead(-1, 16, buf, &cb));
        EXPECT_EQ(E_INVALIDARG, f.CachedRead(0, -16, buf, &cb));
        EXPECT_EQ(0, cb);
        EXPECT_EQ(5u, asserts.Count());
    }
    EXPECT_TRUE(f.IsFileOpen());
}

TEST_F(FileReadTest, OpenFailuresLeaveNoFileOpen) {
    CReaderProbe f;
    ASSERT_EQ(S_OK, f.Init(kBlock, 8 * kBlock));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), f.OpenFile(m_dir.File("missing.bin").c_str()));
    EXPECT_NE(std::string::npos,
              testsupport::DebugText().find("- CreateFile() [Manual file] FAILED dwRes = 2\n"));
    EXPECT_FALSE(f.IsFileOpen());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), f.OpenFile(m_dir.Path().c_str()));  // a directory
    EXPECT_FALSE(f.IsFileOpen());
    EXPECT_EQ(0, f.GetLastFileSize());

    const std::string path = MakeFile("a.bin", 3 * kBlock);
    ASSERT_EQ(S_OK, f.OpenFile(path.c_str()));
    EXPECT_EQ(3 * kBlock, f.GetLastFileSize());
    EXPECT_EQ(3 * kBlock, f.GetFileSize());
    f.CloseFile();
    EXPECT_FALSE(f.IsFileOpen());
    EXPECT_EQ(0, f.GetLastFileSize());
}

// The cases at the ends of blocks and of the file, all against the content,
// on a file of five blocks and 1000 bytes.
class FileReadEnds : public FileReadTest {
protected:
    void SetUp() override {
        FileReadTest::SetUp();
        ASSERT_EQ(S_OK, m_f.Init(kBlock, 8 * kBlock));
        ASSERT_EQ(S_OK, m_f.OpenFile(MakeFile("a.bin", kSize).c_str()));
    }
    static constexpr LONGLONG kSize = 5 * kBlock + 1000;
    CReaderProbe m_f;
};

TEST_F(FileReadEnds, ReadsInsideAndAcrossBlocks) {
    ReadResult r = ReadChecked(m_f, 100, 200);  // inside one block
    EXPECT_EQ(S_OK, r.hr);
    EXPECT_EQ(200, r.cb);
    EXPECT_EQ(200u, r.firstBad);

    r = ReadChecked(m_f, kBlock - 10, 3 * kBlock);  // spans four blocks
    EXPECT_EQ(S_OK, r.hr);
    EXPECT_EQ(3 * (LONG)kBlock, r.cb);
    EXPECT_EQ((size_t)r.cb, r.firstBad);

    r = ReadChecked(m_f, 0, 0);
    EXPECT_EQ(S_OK, r.hr);
    EXPECT_EQ(0, r.cb);
}

TEST_F(FileReadEnds, AReadPastTheEndGetsTheTailUncachedAndCached) {
    ReadResult r = ReadChecked(m_f, 4 * kBlock + 5, 2 * kBlock);
    EXPECT_EQ(S_FALSE, r.hr);
    EXPECT_EQ(kBlock - 5 + 1000, (DWORD)r.cb);
    EXPECT_EQ((size_t)r.cb, r.firstBad);
    // Again, now that block 4 is cached and block 5 is not a full block.
    r = ReadChecked(m_f, 4 * kBlock + 5, 2 * kBlock);
    EXPECT_EQ(S_FALSE, r.hr);
    EXPECT_EQ(kBlock - 5 + 1000, (DWORD)r.cb);
    EXPECT_EQ((size_t)r.cb, r.firstBad);
}

TEST_F(FileReadEnds, AReadAtOrFarBeyondTheEndReportsTheEnd) {
    ReadResult r = ReadChecked(m_f, kSize, 10);  // at the end
    EXPECT_EQ(kEof, r.hr);
    EXPECT_EQ(0, r.cb);
    EXPECT_NE(std::string::npos,
              testsupport::DebugText().find(
                  "[FS] CCachedReadFile::CachedRead( 21 480, 10 ) - EOF ( 21 480 ) REACHED\n"));
    r = ReadChecked(m_f, kSize + 1 + (1LL << 40), 10);  // far beyond, above 32 bits
    EXPECT_EQ(kEof, r.hr);
    EXPECT_EQ(0, r.cb);
}

// A file that ends on a block boundary: a read that ends there, or inside
// the last block, got every byte it asked for; one that asks for more
// reports the shortfall.
TEST_F(FileReadTest, AFileEndingOnABlockBoundaryReportsOnlyAShortfall) {
    CReaderProbe f;
    ASSERT_EQ(S_OK, f.Init(kBlock, 8 * kBlock));
    ASSERT_EQ(S_OK, f.OpenFile(MakeFile("b.bin", 4 * kBlock).c_str()));
    ReadResult r = {};
    for (LONG len : {(LONG)(2 * kBlock - 7), (LONG)1}) {
        r = ReadChecked(f, 2 * kBlock + 7, len);
        EXPECT_EQ(S_OK, r.hr);
        EXPECT_EQ(len, r.cb);
        EXPECT_EQ((size_t)r.cb, r.firstBad);
    }
    EXPECT_EQ(S_OK, ReadChecked(f, 0, 1).hr);
    r = ReadChecked(f, 2 * kBlock + 7, 2 * kBlock);
    EXPECT_EQ(S_FALSE, r.hr);
    EXPECT_EQ(2 * (LONG)kBlock - 7, r.cb);
    EXPECT_NE(std::string::npos,
              testsupport::DebugText().find("Block start [16 384] after EOF ( 16 384 ) REACHED\n"));
}

// Blocks the file could fill only partly are never found again: once the
// file has grown, the bytes past the old end come from the file.
TEST_F(FileReadTest, PartlyFilledBlockNeverServesItsTail) {
    CReaderProbe f;
    ASSERT_EQ(S_OK, f.Init(kBlock, 8 * kBlock));
    const std::string path = MakeFile("a.bin", kBlock + 1500);
    ASSERT_EQ(S_OK, f.OpenFile(path.c_str()));
    ReadResult r = ReadChecked(f, kBlock, kBlock);
    EXPECT_EQ(S_FALSE, r.hr);
    EXPECT_EQ(1500, r.cb);
    EXPECT_EQ(1500u, r.firstBad);
    EXPECT_FALSE(f.Blocks().IsIndexed(kBlock));

    GrowTo(path, 4 * kBlock);
    for (int i = 0; i < 2; ++i) {  // read directly, then (possibly) from the cache
        r = ReadChecked(f, kBlock + 1000, kBlock);
        EXPECT_EQ(S_OK, r.hr);
        EXPECT_EQ((LONG)kBlock, r.cb);
        EXPECT_EQ((size_t)kBlock, r.firstBad);
    }
}

TEST_F(FileReadTest, SlotsAreTakenRoundRobinFromSlotOne) {
    CReaderProbe f;
    ASSERT_EQ(S_OK, f.Init(kBlock, 3 * kBlock));
    ASSERT_EQ(S_OK, f.OpenFile(MakeFile("a.bin", 8 * kBlock).c_str()));
    HANDLE hFile = f.ManualFile();
    // Driven directly: the read-ahead thread is never signalled here.
    LONG lIndex = -1;
    for (LONG i = 0; i < 4; ++i) {
        lIndex = Claimed(f.Blocks(), i * kBlock);
        EXPECT_EQ(i + 1, lIndex);
        EXPECT_EQ(-1, f.Blocks().Mark(lIndex));
        EXPECT_EQ((LONG)kBlock, f.Blocks().CacheBlock(lIndex, hFile, i * kBlock));
        EXPECT_EQ(0, f.Blocks().Mark(lIndex));
    }
    // Slot 1 now holds block 3: block 0 was taken out of the index.
    EXPECT_FALSE(f.Blocks().IsIndexed(0));
    lIndex = Pinned(f.Blocks(), 3 * kBlock);
    EXPECT_EQ(4, lIndex);
    EXPECT_EQ(1, f.Blocks().Mark(lIndex));
    BYTE buf[100];
    EXPECT_EQ(0, f.Blocks().ReadFromBlock(lIndex, buf, 100, 10));
    EXPECT_EQ(0, memcmp(Content(kSeed, 3 * kBlock + 10, 100).data(), buf, 100));
    EXPECT_NE(std::string::npos,
              testsupport::DebugText().find("[FS] Remove FROM cache [ Index: 1 , Pos: 0]\n"));

    // After CloseFile the counter starts again and no old block is found.
    // Slots 1, 2, 3 still name blocks 3, 1, 2 of the first file.
    f.CloseFile();
    ASSERT_EQ(S_OK, f.OpenFile(MakeFile("b.bin", 8 * kBlock).c_str()));
    lIndex = Claimed(f.Blocks(), kBlock);
    EXPECT_EQ(1, lIndex);
    EXPECT_EQ((LONG)kBlock, f.Blocks().CacheBlock(lIndex, f.ManualFile(), kBlock));
    // Slot 2's stale block 1 must not take the new entry of block 1 along.
    lIndex = Claimed(f.Blocks(), 3 * kBlock);
    EXPECT_EQ(2, lIndex);
    EXPECT_EQ((LONG)kBlock, f.Blocks().CacheBlock(lIndex, f.ManualFile(), 3 * kBlock));
    EXPECT_TRUE(f.Blocks().IsIndexed(kBlock));
    EXPECT_TRUE(f.Blocks().IsIndexed(3 * kBlock));
}

// The forward read size belongs to the cache, not to one file: the second
// file is read ahead exactly like the first.
TEST_F(FileReadTest, SecondFileIsReadAheadLikeTheFirst) {
    CReaderProbe f;
    ASSERT_EQ(S_OK, f.Init(kBlock, 12 * kBlock));  // forward read size 8 blocks
    for (const char* name : {"a.bin", "b.bin"}) {
        ASSERT_EQ(S_OK, f.OpenFile(MakeFile(name, 20 * kBlock).c_str()));
        EXPECT_EQ(8 * (LONGLONG)kBlock, f.ForwardReadSize());
        EXPECT_EQ(S_OK, ReadChecked(f, 0, 100).hr);
        // Blocks 1 to 7 arrive through the thread alone.
        EXPECT_TRUE(WaitUntil([&] { return f.Blocks().IsIndexed(7 * kBlock); })) << name;
        f.CloseFile();
        EXPECT_EQ(8 * (LONGLONG)kBlock, f.ForwardReadSize());
    }
}

// A failed read leaves the slot empty, zeroed, released and out of the index.
TEST_F(FileReadTest, FailedBlockReadLeavesNoIndexEntry) {
    CReaderProbe f;
    ASSERT_EQ(S_OK, f.Init(kBlock, 3 * kBlock));
    ASSERT_EQ(S_OK, f.OpenFile(MakeFile("a.bin", 8 * kBlock).c_str()));
    LONG lIndex = -1;
    lIndex = Claimed(f.Blocks(), 2 * kBlock);
    EXPECT_EQ((LONG)kBlock, f.Blocks().CacheBlock(lIndex, f.ManualFile(), 2 * kBlock));
    for (LONGLONG llPos : {5 * kBlock, 6 * kBlock}) {  // slots 2 and 3
        lIndex = Claimed(f.Blocks(), llPos);
        EXPECT_EQ((LONG)kBlock, f.Blocks().CacheBlock(lIndex, f.ManualFile(), llPos));
    }
    lIndex = Claimed(f.Blocks(), 7 * kBlock);
    EXPECT_EQ(4, lIndex);  // slot 1, which held block 2
    // An event is a valid handle that cannot be read.
    CSmartHandle shEvent(CreateEvent(NULL, TRUE, FALSE, NULL));
    EXPECT_EQ(0, f.Blocks().CacheBlock(lIndex, shEvent, 7 * kBlock));
    EXPECT_NE(std::string::npos,
              testsupport::DebugText().find("###Err### CCachedReadFile::CacheBlock() - ReadFile() FAILED"));
    EXPECT_EQ(0, f.Blocks().Mark(lIndex));
    EXPECT_EQ(-1, f.Blocks().SlotPos(lIndex));
    EXPECT_FALSE(f.Blocks().IsIndexed(7 * kBlock));
    const std::vector<BYTE> zeros(kBlock, 0);
    EXPECT_EQ(0, memcmp(zeros.data(), f.Blocks().Data(lIndex), kBlock));
    // The next request reads the block again, from the file.
    ReadResult r = ReadChecked(f, 7 * kBlock, kBlock);
    EXPECT_EQ(S_OK, r.hr);  // the file ends with this block, and all of it came
    EXPECT_EQ((LONG)kBlock, r.cb);
    EXPECT_EQ((size_t)kBlock, r.firstBad);
}

// A thread that believes a block complete (the file was cut after it was
// measured) comes up short: that is no fault, the block is not indexed, and
// the next block is read at its own position, not where the short read ended.
TEST_F(FileReadTest, ReadAheadSurvivesAShortRead) {
    CReaderProbe f;
    ASSERT_EQ(S_OK, f.Init(kBlock, 3 * kBlock));  // forward read size 2 blocks
    const std::string path = MakeFile("a.bin", 4 * kBlock + 2000);
    ASSERT_EQ(S_OK, f.OpenFile(path.c_str()));
    f.Signal(4 * kBlock, 4 * kBlock, 8 * kBlock);
    ASSERT_TRUE(WaitUntil([&] {
        return testsupport::DebugText().find("Read INTO cache [ Index: 1 , Pos: 16 384, Size: 2 000 ]") !=
               std::string::npos;
    }));
    ASSERT_TRUE(WaitUntil([&] { return f.GetLastFileSize() == 4 * kBlock + 2000; }));
    EXPECT_FALSE(f.Blocks().IsIndexed(4 * kBlock));

    GrowTo(path, 8 * kBlock);
    f.Signal(5 * kBlock, 4 * kBlock, 8 * kBlock);
    ASSERT_TRUE(WaitUntil([&] { return f.Blocks().IsIndexed(5 * kBlock) && f.Blocks().Mark(2) == 0; }));
    EXPECT_EQ(0, memcmp(Content(kSeed, 5 * kBlock, kBlock).data(), f.Blocks().Data(2), kBlock));
    ReadResult r = ReadChecked(f, 5 * kBlock, kBlock);
    EXPECT_EQ((size_t)kBlock, r.firstBad);
}

// A recorder that starts a new recording into the same name cuts the file and
// writes it again. Once a measurement has seen the cut, no old byte is served
// and no count exceeds what the file holds; the read-ahead thread's own
// measurements, made while reads go on, see the regrowth.
TEST_F(FileReadTest, CutFileNeverServesOldBytes) {
    CReaderProbe f;
    ASSERT_EQ(S_OK, f.Init(kBlock, 16 * kBlock));
    const std::string path = MakeFile("a.bin", 10 * kBlock);
    ASSERT_EQ(S_OK, f.OpenFile(path.c_str()));
    ASSERT_EQ((size_t)kBlock, ReadChecked(f, 0, kBlock).firstBad);
    ASSERT_TRUE(
        WaitUntil([&] { return f.Blocks().IsIndexed(9 * kBlock); }));  // the thread cached blocks 1 to 9
    for (LONGLONG pos = kBlock; pos < 10 * kBlock; pos += kBlock)
        ASSERT_EQ((size_t)kBlock, ReadChecked(f, pos, kBlock).firstBad);

    const uint64_t kNewSeed = kSeed + 1;
    { std::ofstream cut(path, std::ios::binary | std::ios::trunc); }
    GrowTo(path, 5, kNewSeed);
    EXPECT_EQ(5, f.GetFileSize());
    ReadResult r = ReadChecked(f, 0, 65536, kNewSeed);
    EXPECT_EQ(S_FALSE, r.hr);
    EXPECT_EQ(5, r.cb);
    EXPECT_EQ(5u, r.firstBad);
    EXPECT_EQ(kEof, ReadChecked(f, 3 * kBlock, 10).hr);
    for (LONGLONG pos = 0; pos < 10 * kBlock; pos += kBlock)
        EXPECT_FALSE(f.Blocks().IsIndexed(pos));

    const LONGLONG llNewSize = 12 * kBlock + 100;
    GrowTo(path, llNewSize, kNewSeed);
    // Reads go on, each one served without measuring: the thread measures.
    ASSERT_TRUE(WaitUntil([&] {
        ReadChecked(f, 0, 10, kNewSeed);
        return f.GetLastFileSize() == llNewSize;
    }));
    for (LONGLONG pos = 0; pos < llNewSize; pos += kBlock / 2) {
        r = ReadChecked(f, pos, kBlock, kNewSeed);
        ASSERT_EQ((size_t)r.cb, r.firstBad) << pos;
        ASSERT_EQ(pos + kBlock <= llNewSize ? (LONG)kBlock : (LONG)(llNewSize - pos), r.cb) << pos;
    }
}

// A thread that does not stop in time keeps everything it uses; once it has
// ended, the next CloseFile or OpenFile cleans up.
TEST_F(FileReadTest, CloseFileKeepsWhatALiveThreadUses) {
    CReaderProbe f;
    ASSERT_EQ(S_OK, f.Init(kBlock, 3 * kBlock));
    const std::string path = MakeFile("a.bin", 8 * kBlock);
    ASSERT_EQ(S_OK, f.OpenFile(path.c_str()));
    f.SetStopThreadTime(100);

    // The thread stalls on the index lock inside its pass.
    CCritSecLock stall(f.Blocks().IndexLock());
    f.Signal(0, 0, 8 * kBlock);
    ASSERT_TRUE(WaitUntil([&] { return testsupport::DebugText().find("(***)") != std::string::npos; }));
    bool bTerminated;
    {
        ExpectAsserts asserts;  // Linux refuses TerminateThread
        f.CloseFile();
        bTerminated = asserts.Count() == 0;
    }
    EXPECT_NE(std::string::npos, testsupport::DebugText().find("== WAIT_TIMEOUT - Terminate Thread\n"));
    if (!bTerminated) {
        EXPECT_NE(std::string::npos,
                  testsupport::DebugText().find("After TerminateThread() - WAIT_TIMEOUT\n"));
        EXPECT_TRUE(f.IsFileOpen());
        EXPECT_TRUE(f.ManualFile() != NULL);
        {
            ExpectAsserts asserts;
            EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BUSY), f.OpenFile(path.c_str()));
        }
    }
    stall.Unlock();
    // The stalled pass finishes into the slots still there; then the stop
    // signal ends the thread.
    if (!bTerminated) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(f.ReadThreadHandle(), 10000));
    }
    f.CloseFile();
    EXPECT_FALSE(f.IsFileOpen());
    f.SetStopThreadTime(STOP_THREAD_TIME);
    ASSERT_EQ(S_OK, f.OpenFile(path.c_str()));
    ReadResult r = ReadChecked(f, 10, 3 * kBlock);
    EXPECT_EQ(S_OK, r.hr);
    EXPECT_EQ((size_t)r.cb, r.firstBad);
}

// A read served from cached blocks allocates nothing; caching a block at
// most its index node.
TEST_F(FileReadTest, ReadsAllocateAtMostTheIndexNode) {
    if (!testsupport::AllocationCountingAvailable())
        GTEST_SKIP() << "allocations are not counted in this build";
    CReaderProbe f;
    ASSERT_EQ(S_OK, f.Init(kBlock, 8 * kBlock));
    ASSERT_EQ(S_OK, f.OpenFile(MakeFile("a.bin", 8 * kBlock).c_str()));
    // The debugger-output capture of the tests appends to a string: give it
    // room first, so only the reader's own allocations are counted.
    const std::string filler(256 * 1024, 'x');
    OutputDebugStringA(filler.c_str());
    testsupport::ClearDebugText();

    BYTE buf[3 * 4096];
    LONG cb = 0;
    // A block that is not cached is read straight into the buffer.
    {
        testsupport::AllocationScope scope;
        EXPECT_EQ(S_OK, f.CachedRead(100, 100, buf, &cb));
        EXPECT_EQ(0u, scope.Count());
    }
    // The thread caches blocks 1 to 5 for that read; they are served
    // without allocating.
    ASSERT_TRUE(WaitUntil([&] { return f.Blocks().IsIndexed(kBlock) && f.Blocks().IsIndexed(4 * kBlock); }));
    {
        testsupport::AllocationScope scope;
        EXPECT_EQ(S_OK, f.CachedRead(kBlock + 100, 3 * kBlock, buf, &cb));
        EXPECT_EQ(0u, scope.Count());
    }
}

}  // namespace
