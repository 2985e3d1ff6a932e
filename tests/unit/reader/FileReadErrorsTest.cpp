// A file that fails under the cache (a vanished share, a failing disk): the
// measurement and the reads answer with the system's error and trace it,
// and nothing asks an assertion's question (the test support fails a test
// on any assertion report it did not expect).
#include <windows.h>

#include <gtest/gtest.h>

#include "DebugCapture.h"
#include "FileReadProbe.h"
#include "TempDir.h"

using namespace readertest;

namespace {

const DWORD kBlock = 4096;

bool IsWin32Failure(HRESULT hr) {
    return FAILED(hr) && HRESULT_FACILITY(hr) == FACILITY_WIN32 && hr != HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
}

bool Traced(const char* text) {
    return testsupport::DebugText().find(text) != std::string::npos;
}

class FileReadErrors : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ClearDebugText();
        m_path = m_dir.File("a.bin");
        GrowTo(m_path, 8 * kBlock);
        ASSERT_EQ(S_OK, m_file.Init(kBlock, 3 * kBlock));
        ASSERT_EQ(S_OK, m_file.OpenFile(m_path.c_str()));
    }
    testsupport::TempDir m_dir;
    std::string m_path;
    CReaderProbe m_file;
};

TEST_F(FileReadErrors, AFailedMeasurementGivesTheSystemError) {
    m_file.BreakManualFile();
    LONGLONG llSize = 0;
    const HRESULT hr = m_file.MeasureFileSize(&llSize);
    EXPECT_TRUE(IsWin32Failure(hr)) << std::hex << hr;
    EXPECT_EQ(-1, llSize);
    EXPECT_TRUE(Traced("###Err### CCachedReadFile::GetFileSize - GetFileSizeEx() FAILED dwRes = "));
    EXPECT_EQ(-1, m_file.GetFileSize());
    EXPECT_EQ(8 * kBlock, m_file.GetLastFileSize());  // the last good measurement stays
    // A read past the size as last measured must measure: it fails with it.
    const ReadResult r = ReadChecked(m_file, 8 * kBlock + 10, 10);
    EXPECT_EQ(hr, r.hr);
    EXPECT_EQ(0, r.cb);
}

// The first block comes from its slot, the second from the file, which
// fails: the read counts the bytes it delivered and gives the error.
TEST_F(FileReadErrors, AFailedReadGivesTheSystemErrorAndTheBytesBeforeIt) {
    const LONG lSlot = Claimed(m_file.Blocks(), kBlock);
    ASSERT_EQ((LONG)kBlock, m_file.Blocks().CacheBlock(lSlot, m_file.ManualFile(), kBlock));
    m_file.BreakThreadFile();
    m_file.BreakManualFile();
    const ReadResult r = ReadChecked(m_file, kBlock + 100, kBlock);
    EXPECT_TRUE(IsWin32Failure(r.hr)) << std::hex << r.hr;
    EXPECT_EQ((LONG)kBlock - 100, r.cb);
    EXPECT_EQ((size_t)r.cb, r.firstBad);
    EXPECT_TRUE(Traced("###Err### CCachedReadFile::CacheBlock() - ReadFile() FAILED dwRes = "));
}

// The read-ahead thread's reads fail while the file holds its blocks: each
// block is passed over, and the reader reads them from the file.
TEST_F(FileReadErrors, TheReadAheadThreadPassesOverBlocksItCannotRead) {
    m_file.BreakThreadFile();
    EXPECT_EQ(S_OK, ReadChecked(m_file, 0, 10).hr);  // sends the thread over blocks 1 and 2
    ASSERT_TRUE(WaitUntil(
        [] { return Traced("###Err### CCachedReadFile::ReadThread() - block [4 096] read short"); }));
    const ReadResult r = ReadChecked(m_file, 10, 3 * kBlock);
    EXPECT_EQ(S_OK, r.hr);
    EXPECT_EQ((size_t)r.cb, r.firstBad);
    EXPECT_FALSE(m_file.Blocks().IsIndexed(kBlock));
}

}  // namespace
