// What the cache offers the pin beside CachedRead: the sizes it measures, and
// reads served from cached blocks alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <utility>

#include "DebugCapture.h"
#include "FileReadProbe.h"
#include "TempDir.h"

using namespace readertest;

namespace {

const DWORD kBlock = 4096;

// Every size the cache reports, with the thread that measured it.
class CSizeLog : public IFileSizeObserver {
public:
    void OnFileMeasured(LONGLONG llSize) override {
        std::lock_guard<std::mutex> g(m_lock);
        m_calls.emplace_back(std::this_thread::get_id(), llSize);
    }
    std::vector<std::pair<std::thread::id, LONGLONG>> Calls() {
        std::lock_guard<std::mutex> g(m_lock);
        return m_calls;
    }
    size_t CallsFrom(std::thread::id id) {
        size_t n = 0;
        for (const auto& call : Calls())
            n += call.first == id;
        return n;
    }

private:
    std::mutex m_lock;
    std::vector<std::pair<std::thread::id, LONGLONG>> m_calls;
};

TEST(FileReadObserver, SeesEveryMeasurementAndNoHit) {
    testsupport::TempDir dir;
    const std::string path = dir.File("a.bin");
    GrowTo(path, 4 * kBlock);
    CReaderProbe f;
    ASSERT_EQ(S_OK, f.Init(kBlock, 12 * kBlock));
    CSizeLog log;
    ASSERT_EQ(S_OK, f.SetSizeObserver(&log));
    const std::thread::id self = std::this_thread::get_id();

    ASSERT_EQ(S_OK, f.OpenFile(path.c_str()));
    ASSERT_EQ(1u, log.Calls().size());  // OpenFile's own measurement
    EXPECT_EQ(4 * kBlock, log.Calls()[0].second);
    {
        testsupport::ExpectAsserts asserts;
        EXPECT_EQ(E_UNEXPECTED, f.SetSizeObserver(NULL));
    }
    GrowTo(path, 6 * kBlock);
    EXPECT_EQ(6 * kBlock, f.GetFileSize());
    LONGLONG llSize = 0;
    EXPECT_EQ(S_OK, f.MeasureFileSize(&llSize));
    ASSERT_EQ(3u, log.CallsFrom(self));
    EXPECT_EQ(6 * kBlock, log.Calls()[1].second);
    EXPECT_EQ(6 * kBlock, log.Calls()[2].second);

    // A read from block 0 sends the thread over blocks 1 to 5; reads of
    // those are hits, which measure nothing.
    EXPECT_EQ(S_OK, ReadChecked(f, 0, 10).hr);
    ASSERT_TRUE(WaitUntil([&] { return f.Blocks().IsIndexed(5 * kBlock); }));
    const size_t nOwn = log.CallsFrom(self);
    BYTE buf[100];
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(S_OK, f.ReadCachedOnly(kBlock + i * 97, sizeof(buf), buf));
        EXPECT_EQ(S_OK, ReadChecked(f, kBlock + i * 101, sizeof(buf)).hr);
    }
    EXPECT_EQ(nOwn, log.CallsFrom(self));

    // The thread's own measurements, made while reads go on, see growth.
    GrowTo(path, 9 * kBlock);
    ASSERT_TRUE(WaitUntil([&] {
        ReadChecked(f, kBlock, 10);
        const auto calls = log.Calls();
        return calls.back().second == 9 * kBlock && calls.back().first != self;
    }));
    f.CloseFile();
    EXPECT_EQ(S_OK, f.SetSizeObserver(NULL));
}

class FileReadCachedOnly : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = m_dir.File("a.bin");
        GrowTo(m_path, kSize);
    }
    static constexpr LONGLONG kSize = 20 * kBlock + 1000;
    testsupport::TempDir m_dir;
    std::string m_path;
    CReaderProbe m_file;
};

// Served from cached blocks, or left to CachedRead: the file's last block
// and blocks not cached are never read for it.
TEST_F(FileReadCachedOnly, ServesCachedBlocksOnly) {
    ASSERT_EQ(S_OK, m_file.Init(kBlock, 32 * kBlock));  // forward read size 21 blocks
    ASSERT_EQ(S_OK, m_file.OpenFile(m_path.c_str()));
    std::vector<BYTE> buf(3 * kBlock);
    EXPECT_EQ(E_PENDING, m_file.ReadCachedOnly(kBlock, 10, buf.data()));  // nothing cached yet
    EXPECT_EQ(S_OK, ReadChecked(m_file, 0, 10).hr);
    ASSERT_TRUE(WaitUntil([&] { return m_file.Blocks().IsIndexed(19 * kBlock); }));

    EXPECT_EQ(S_OK, m_file.ReadCachedOnly(kBlock + 10, 3 * kBlock, buf.data()));
    EXPECT_EQ(3 * kBlock, recorder::FirstMismatch(kSeed, kBlock + 10, buf.data(), 3 * kBlock));
    EXPECT_EQ(S_OK, m_file.ReadCachedOnly(19 * kBlock, kBlock, buf.data()));
    EXPECT_EQ(kBlock, recorder::FirstMismatch(kSeed, 19 * kBlock, buf.data(), kBlock));
    EXPECT_EQ(S_OK, m_file.ReadCachedOnly(kBlock, 0, buf.data()));

    EXPECT_EQ(E_PENDING, m_file.ReadCachedOnly(10, 10, buf.data()));  // block 0 was read directly
    EXPECT_EQ(E_PENDING, m_file.ReadCachedOnly(19 * kBlock, kBlock + 1, buf.data()));  // into the last block
    EXPECT_EQ(E_PENDING, m_file.ReadCachedOnly(kSize - 10, 10, buf.data()));
    EXPECT_EQ(E_PENDING, m_file.ReadCachedOnly(kSize, 10, buf.data()));
    EXPECT_FALSE(m_file.Blocks().IsIndexed(0));
    EXPECT_FALSE(m_file.Blocks().IsIndexed(20 * kBlock));
}

// A read served from the cache alone moves the read-ahead thread on, as
// CachedRead does.
TEST_F(FileReadCachedOnly, SteersTheReadAheadThread) {
    ASSERT_EQ(S_OK, m_file.Init(kBlock, 6 * kBlock));  // forward read size 4 blocks
    ASSERT_EQ(S_OK, m_file.OpenFile(m_path.c_str()));
    BYTE buf[10];
    EXPECT_EQ(S_OK, ReadChecked(m_file, 0, 10).hr);
    ASSERT_TRUE(WaitUntil([&] { return m_file.Blocks().IsIndexed(3 * kBlock); }));
    EXPECT_FALSE(m_file.Blocks().IsIndexed(4 * kBlock));
    EXPECT_EQ(S_OK, m_file.ReadCachedOnly(3 * kBlock, sizeof(buf), buf));
    EXPECT_TRUE(WaitUntil([&] { return m_file.Blocks().IsIndexed(6 * kBlock); }));
}

}  // namespace
