// Randomized: OpenFile, CachedRead, GetFileSize, CloseFile and file growth
// in random order, each result compared with what a plain positioned read of
// the same file gives.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>

#include "DebugCapture.h"
#include "FileReadProbe.h"
#include "TempDir.h"

using namespace readertest;

namespace {

// The plain read: bytes, count and result that CachedRead must match.
struct Expected {
    HRESULT hr;
    std::vector<BYTE> bytes;
};

Expected PlainRead(HANDLE hFile, LONGLONG llSize, DWORD dwBlock, LONGLONG pos, LONG len) {
    Expected e;
    if (pos >= llSize) {
        e.hr = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        return e;
    }
    e.bytes.resize((size_t)len);
    DWORD cb = 0;
    OVERLAPPED ov = {};
    ov.Offset = (DWORD)pos;
    ov.OffsetHigh = (DWORD)((ULONGLONG)pos >> 32);
    if (len > 0 && !ReadFile(hFile, e.bytes.data(), (DWORD)len, &cb, &ov))
        cb = 0;
    e.bytes.resize(cb);
    // S_FALSE when the read ran into the end: it came up short, or its last
    // block was the file's last (the cache then finds no next block). A last
    // block that is incomplete is read directly, and that read answers S_OK
    // when it delivered everything.
    if (len == 0) {
        e.hr = S_OK;
    } else {
        const LONGLONG llLastBlock = (pos + (LONGLONG)cb - 1) / dwBlock * dwBlock;
        if (llLastBlock + dwBlock > llSize)
            e.hr = (LONG)cb < len ? S_FALSE : S_OK;
        else
            e.hr = llLastBlock + dwBlock >= llSize ? S_FALSE : S_OK;
    }
    return e;
}

void RunModel(uint32_t seed, int nOps) {
    std::mt19937 rng(seed);
    testsupport::TempDir dir;
    const std::string paths[2] = {dir.File("a.bin"), dir.File("b.bin")};
    const uint64_t seeds[2] = {kSeed, kSeed + 7};
    uint64_t sizes[2] = {rng() % 50000, rng() % 50000};
    for (int i = 0; i < 2; ++i)
        GrowTo(paths[i], sizes[i], seeds[i]);

    const DWORD dwBlock = 4096u * (1 + rng() % 3);
    CCachedReadFile file;
    ASSERT_EQ(S_OK, file.Init(dwBlock, dwBlock * (3 + rng() % 4)));
    int open = -1;  // which file is open
    CSmartHandle shPlain;
    std::vector<BYTE> buf;

    for (int op = 0; op < nOps; ++op) {
        const unsigned what = rng() % 20;
        SCOPED_TRACE(testing::Message() << "seed " << seed << " op " << op << " kind " << what);
        if (what == 0 || open < 0) {
            const int which = (int)(rng() % 2);
            ASSERT_EQ(S_OK, file.OpenFile(paths[which].c_str()));
            open = which;
            shPlain = CreateFileA(paths[which].c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_TRUE(shPlain.IsValid());
        } else if (what == 1) {
            file.CloseFile();
            EXPECT_FALSE(file.IsFileOpen());
            shPlain.Close();
            open = -1;
        } else if (what <= 4) {
            // Growth by a few bytes up to a few blocks, often not to a block end.
            const int which = (int)(rng() % 2);
            sizes[which] += rng() % (3 * dwBlock);
            GrowTo(paths[which], sizes[which], seeds[which]);
        } else if (what == 5) {
            EXPECT_EQ((LONGLONG)sizes[open], file.GetFileSize());
        } else {
            const LONGLONG size = (LONGLONG)sizes[open];
            // Mostly inside the file, sometimes at or past its end.
            const LONGLONG pos = (LONGLONG)(rng() % (uint64_t)(size + 2 * dwBlock + 1));
            const LONG len = (rng() % 8 == 0) ? 0 : (LONG)(rng() % (4 * dwBlock));
            const Expected e = PlainRead(shPlain, size, dwBlock, pos, len);
            buf.assign((size_t)len + 1, 0xCD);
            LONG cb = -1;
            const HRESULT hr = file.CachedRead(pos, len, buf.data(), &cb);
            ASSERT_EQ(e.hr, hr) << "pos " << pos << " len " << len << " size " << size;
            ASSERT_EQ((LONG)e.bytes.size(), cb);
            ASSERT_TRUE(cb == 0 || memcmp(e.bytes.data(), buf.data(), (size_t)cb) == 0);
            ASSERT_EQ(0xCD, buf[(size_t)cb]) << "written past the bytes counted";
        }
    }
}

TEST(FileReadModelTest, RandomOperationsMatchPlainReads) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        RunModel(seed, 1500);
        if (HasFatalFailure())
            return;
    }
}

}  // namespace
