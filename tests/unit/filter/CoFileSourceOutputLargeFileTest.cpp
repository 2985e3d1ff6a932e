// A file past 4 GiB read through the pin's IAsyncReader and through the
// block cache's read-ahead thread, on every build (on the 32-bit one too,
// where a position cut to 32 bits anywhere on the way would read from the
// first 4 GiB). The file is sparse: content at a few places, holes
// elsewhere. The content at every offset differs from the one 4 GiB lower,
// so a cut position shows as wrong bytes.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>

#include "FileReadProbe.h"
#include "PinTestSupport.h"
#include "TempDir.h"

using namespace testsupport;
using readertest::Content;
using readertest::kSeed;

namespace {

const LONGLONG k4G = 0x100000000LL;
const LONGLONG kSize = k4G + 0x30000000LL;  // 4.75 GiB
const LONG kPart = 256 * 1024;

struct Range {
    LONGLONG pos;
    LONG len;
};
// Where the file holds content: its start, both sides of 4 GiB, its end, and
// the places 4 GiB below the end.
const Range kRanges[] = {
    {0, kPart}, {k4G - kPart / 2, kPart}, {kSize - k4G - kPart, kPart}, {kSize - kPart, kPart}};

std::string SparseFile(const TempDir& dir) {
    const std::string path = dir.File("large.bin");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const Range& r : kRanges) {
        const std::vector<BYTE> v = Content(kSeed, (uint64_t)r.pos, (size_t)r.len);
        out.seekp(r.pos);
        out.write(reinterpret_cast<const char*>(v.data()), r.len);
    }
    out.close();
    testsupport::Backdate(path);
    return out ? path : std::string();
}

// What a read of [pos, pos + len) must give: content inside the ranges,
// zeros in the holes and past the end.
std::vector<BYTE> Expected(LONGLONG pos, LONG len) {
    std::vector<BYTE> v((size_t)len, 0);
    for (const Range& r : kRanges) {
        const LONGLONG from = std::max(pos, r.pos), to = std::min(pos + len, r.pos + r.len);
        if (from < to)
            recorder::FillContent(kSeed, (uint64_t)from, &v[(size_t)(from - pos)], (size_t)(to - from));
    }
    return v;
}

TEST(PinLargeFile, PositionsPastFourGiBReachTheirBytes) {
    TempDir dir;
    const std::string path = SparseFile(dir);
    ASSERT_FALSE(path.empty()) << "cannot write a sparse file of " << kSize << " bytes";
    PinUnderTest pin;
    ASSERT_EQ(S_OK, pin.Load(path));

    LONGLONG llTotal = 0, llAvailable = 0;
    EXPECT_EQ(S_OK, pin->Length(&llTotal, &llAvailable));
    EXPECT_EQ(kSize, llTotal);
    EXPECT_EQ(kSize, llAvailable);

    // Across 4 GiB, just past it, inside the last part, a hole whose twin
    // 4 GiB lower holds content, across the end and past it; each read
    // twice, the second time partly from the block cache.
    const struct {
        LONGLONG pos;
        LONG len;
        HRESULT hr;
    } reads[] = {{k4G - 3000, 6000, S_OK},
                 {k4G + 5, 70000, S_OK},
                 {kSize - kPart + 12345, 65536, S_OK},
                 {k4G + kPart, 4096, S_OK},
                 {kSize - 100, 1000, S_FALSE},
                 {kSize + 10, 100, HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)}};
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& r : reads) {
            std::vector<BYTE> buf((size_t)r.len, 0xCD);
            EXPECT_EQ(r.hr, pin->SyncRead(r.pos, r.len, buf.data())) << r.pos;
            EXPECT_TRUE(buf == Expected(r.pos, r.len)) << "read at " << r.pos << ", pass " << pass;
        }
    }
}

// The read-ahead thread follows a read past 4 GiB: the blocks it caches
// there (a positioned read for the first, the file pointer for the next)
// hold the bytes of their own positions.
TEST(CachedReadLargeFile, ReadAheadPastFourGiBCachesTheRightBlocks) {
    TempDir dir;
    const std::string path = SparseFile(dir);
    ASSERT_FALSE(path.empty());
    readertest::CReaderProbe file;
    const DWORD kBlock = 64 * 1024;
    ASSERT_EQ(S_OK, file.Init(kBlock, 32 * kBlock));
    ASSERT_EQ(S_OK, file.OpenFile(path.c_str()));
    EXPECT_EQ(kSize, file.GetFileSize());

    std::vector<BYTE> buf(2 * kBlock);
    LONG cb = 0;
    // The read ends in the block at 4 GiB: the thread goes on from the next.
    EXPECT_EQ(S_OK, file.CachedRead(k4G - 3000, 6000, buf.data(), &cb));
    const LONGLONG llFrom = k4G + kBlock;  // content, then a hole
    ASSERT_TRUE(readertest::WaitUntil(
        [&] { return file.Blocks().IsIndexed(llFrom) && file.Blocks().IsIndexed(llFrom + kBlock); }));
    std::fill(buf.begin(), buf.end(), 0xCD);
    EXPECT_EQ(S_OK, file.CachedRead(llFrom, (LONG)buf.size(), buf.data(), &cb));
    EXPECT_EQ((LONG)buf.size(), cb);
    EXPECT_TRUE(buf == Expected(llFrom, (LONG)buf.size()));
    file.CloseFile();
}

}  // namespace
