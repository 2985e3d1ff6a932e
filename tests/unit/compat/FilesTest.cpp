// Files and the sharing rule, on both targets, with real temporary files.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "TempDir.h"
#include "TestProcess.h"

namespace {

using testsupport::TempDir;

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = (char)(i * 7 + 3);
    return s;
}

HANDLE OpenShared(const std::string& path) {
    return CreateFileA(path.c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       0, NULL);
}

TEST(Files, OpenFailuresCarryWindowsErrors) {
    TempDir dir;
    HANDLE h = OpenShared(dir.File("missing.mpg"));
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());

    h = OpenShared(dir.File("no-such-dir/x.mpg"));
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, GetLastError());

    // A directory is not a file.
    std::string path = dir.Path();
    path.pop_back();
    h = OpenShared(path);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
}

TEST(Files, SequentialReadsSeeksAndEndOfFile) {
    TempDir dir;
    const std::string content = Pattern(10000);
    HANDLE h = OpenShared(dir.Write("a.bin", content));
    ASSERT_NE(INVALID_HANDLE_VALUE, h);

    DWORD high = 99;
    EXPECT_EQ(10000u, GetFileSize(h, &high));
    EXPECT_EQ(0u, high);

    char buf[8192];
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(h, buf, 6000, &got, NULL));
    EXPECT_EQ(6000u, got);
    EXPECT_EQ(content.substr(0, 6000), std::string(buf, got));
    // A read across the end is short but succeeds; at the end it reads nothing.
    ASSERT_TRUE(ReadFile(h, buf, 8192, &got, NULL));
    EXPECT_EQ(4000u, got);
    EXPECT_EQ(content.substr(6000), std::string(buf, got));
    ASSERT_TRUE(ReadFile(h, buf, 100, &got, NULL));
    EXPECT_EQ(0u, got);

    LARGE_INTEGER to, now;
    to.QuadPart = 123;
    ASSERT_TRUE(SetFilePointerEx(h, to, &now, FILE_BEGIN));
    EXPECT_EQ(123, now.QuadPart);
    ASSERT_TRUE(ReadFile(h, buf, 10, &got, NULL));
    EXPECT_EQ(content.substr(123, 10), std::string(buf, got));

    // SetFilePointer with a high half reaches positions past 4 GiB, and a
    // move before the start fails without moving.
    LONG lHigh = 1;
    SetLastError(0);
    DWORD low = SetFilePointer(h, 5, &lHigh, FILE_BEGIN);
    EXPECT_EQ(5u, low);
    EXPECT_EQ(1, lHigh);
    EXPECT_EQ((DWORD)NO_ERROR, GetLastError());
    to.QuadPart = -1;
    EXPECT_FALSE(SetFilePointerEx(h, to, &now, FILE_BEGIN));
    EXPECT_EQ((DWORD)ERROR_NEGATIVE_SEEK, GetLastError());
    CloseHandle(h);
}

TEST(Files, PositionedReadsIgnoreAndThenSetTheFilePointer) {
    TempDir dir;
    const std::string content = Pattern(5000);
    HANDLE h = OpenShared(dir.Write("b.bin", content));
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    char buf[100];
    DWORD got = 0;
    OVERLAPPED ov = {};
    ov.Offset = 4000;
    ASSERT_TRUE(ReadFile(h, buf, 100, &got, &ov));
    EXPECT_EQ(100u, got);
    EXPECT_EQ(content.substr(4000, 100), std::string(buf, got));
    // The file pointer now follows the bytes read.
    ASSERT_TRUE(ReadFile(h, buf, 10, &got, NULL));
    EXPECT_EQ(content.substr(4100, 10), std::string(buf, got));
    // A positioned read across the end is short; one at or past the end fails.
    ov.Offset = 4995;
    ASSERT_TRUE(ReadFile(h, buf, 10, &got, &ov));
    EXPECT_EQ(5u, got);
    ov.Offset = 5000;
    EXPECT_FALSE(ReadFile(h, buf, 10, &got, &ov));
    EXPECT_EQ(0u, got);
    EXPECT_EQ((DWORD)ERROR_HANDLE_EOF, GetLastError());
    CloseHandle(h);
}

TEST(Files, SizeFollowsAnotherWriter) {
    TempDir dir;
    const std::string path = dir.Write("grow.bin", Pattern(1000));
    HANDLE h = OpenShared(path);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out << Pattern(500);
    }
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(1500, size.QuadPart);
    CloseHandle(h);
}

// The writer is a process of its own that holds the file open for writing,
// as a recorder does; it never cooperates with the probe.
TEST(Files, SharingProbeMeetsAViolationOnlyWhileAWriterHoldsTheFile) {
    TempDir dir;
    const std::string path = dir.Write("rec.mpg", Pattern(100));
    EXPECT_EQ((unsigned long)ERROR_SUCCESS, testsupport::ProbeForWriter(path));

    testsupport::ChildProcess writer;
    ASSERT_TRUE(writer.Start({testsupport::HelperPath("holdwrite"), path, "3000"}));
    const unsigned long probe = testsupport::ProbeUntil([&] { return testsupport::ProbeForWriter(path); },
                                                        ERROR_SHARING_VIOLATION, 4000);
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, probe);

    // Readers that share writing are not disturbed, those that don't are refused.
    HANDLE h = OpenShared(path);
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    h = CreateFileA(path.c_str(), FILE_READ_DATA, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());

    EXPECT_EQ(0, writer.Wait(20000));
    EXPECT_EQ((unsigned long)ERROR_SUCCESS, testsupport::ProbeForWriter(path));
}

}  // namespace
