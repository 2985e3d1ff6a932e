// Behaviour that needs a process of its own and the native platform layer's
// controls: the message box's answer and a writer that is any process.
#include <windows.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "TempDir.h"
#include "TestProcess.h"

namespace {

using testsupport::HelperPath;
using testsupport::TempDir;

// Runs logprobe's assertion with the given box answer; returns its exit code
// and what it printed.
int RunAssertProbe(const char* answer, std::string* printed) {
    TempDir dir;
    const std::string out = dir.File("out.txt");
    const std::string cmd = "COMPAT_MESSAGEBOX=" + std::string(answer) + " '" + HelperPath("logprobe") +
                            "' assert > '" + out + "' 2>/dev/null";
    int status = system(cmd.c_str());
    *printed = testsupport::ReadWholeFile(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(AssertFailedAnswers, AbortEndsTheProcessWithExitCode255) {
    std::string printed;
    EXPECT_EQ(255, RunAssertProbe("abort", &printed));
    EXPECT_EQ("", printed);
}

TEST(AssertFailedAnswers, IgnoreGoesOn) {
    std::string printed;
    EXPECT_EQ(0, RunAssertProbe("ignore", &printed));
    EXPECT_EQ("after assert\n", printed);
}

TEST(SharingRule, AnyProcessHoldingTheFileForWritingCounts) {
    TempDir dir;
    const std::string path = dir.Write("rec.mpg", "x");
    testsupport::ChildProcess sh;
    ASSERT_TRUE(sh.Start({"/bin/sh", "-c", "exec 3>>\"$0\"; exec sleep 5", path}));
    const unsigned long probe = testsupport::ProbeUntil([&] { return testsupport::ProbeForWriter(path); },
                                                        ERROR_SHARING_VIOLATION, 2000);
    EXPECT_EQ((unsigned long)ERROR_SHARING_VIOLATION, probe);
    sh.Kill();
    EXPECT_EQ((unsigned long)ERROR_SUCCESS, testsupport::ProbeForWriter(path));
}

TEST(SharingRule, ProbeNeverOpensTheFileForWriting) {
    TempDir dir;
    const std::string path = dir.Write("rec.mpg", "x");
    struct stat before, after;
    ASSERT_EQ(0, stat(path.c_str(), &before));
    usleep(20000);
    EXPECT_EQ((unsigned long)ERROR_SUCCESS, testsupport::ProbeForWriter(path));
    ASSERT_EQ(0, stat(path.c_str(), &after));
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    // A file the user may not write is refused as on Windows.
    chmod(path.c_str(), 0444);
    if (geteuid() != 0) {
        EXPECT_EQ((unsigned long)ERROR_ACCESS_DENIED, testsupport::ProbeForWriter(path));
    }
}

TEST(SharingRule, FifoIsRefusedWithoutBlocking) {
    TempDir dir;
    const std::string path = dir.File("pipe");
    ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
    auto start = std::chrono::steady_clock::now();
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
