// Linux: a read served from cached blocks makes no kernel call at all. The
// helper reads under strace; its reading thread's calls between the markers
// are counted. The read of the partial last block, which must go to the
// file, shows that the count sees the calls it should.
#include <windows.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "AllocCounter.h"
#include "FileReadProbe.h"
#include "TempDir.h"
#include "TestProcess.h"

namespace {

// The calls made by the thread that wrote marker `from`, up to marker `to`.
std::vector<std::string> CallsBetween(const std::string& trace, const std::string& from,
                                      const std::string& to) {
    std::istringstream in(trace);
    std::string line, tid;
    std::vector<std::string> calls;
    bool bIn = false;
    while (std::getline(in, line)) {
        const std::string lineTid = line.substr(0, line.find(' '));
        if (line.find("write(-1, \"" + from + "\"") != std::string::npos) {
            bIn = true;
            tid = lineTid;
        } else if (bIn && lineTid == tid) {
            if (line.find("write(-1, \"" + to + "\"") != std::string::npos)
                return calls;
            calls.push_back(line);
        }
    }
    return {"marker " + to + " not found"};
}

TEST(FileReadSyscalls, CacheHitsMakeNoKernelCall) {
    // AllocationCountingAvailable is false exactly under the thread
    // sanitizer, whose run-time maps memory from the reading thread.
    if (!testsupport::AllocationCountingAvailable())
        GTEST_SKIP() << "the thread sanitizer's run-time makes kernel calls of its own";
    const std::string strace = "/usr/bin/strace";
    if (access(strace.c_str(), X_OK) != 0)
        GTEST_SKIP() << "strace is not installed";
    testsupport::TempDir dir;
    const std::string path = dir.File("hits.bin");
    readertest::GrowTo(path, 8 * 0x60000 + 5000);
    const std::string trace = dir.File("strace.txt");
    // The leak checker cannot work under a tracer.
    ASSERT_EQ(0, testsupport::RunProcess(
                     {strace, "-f", "-qq", "-o", trace, testsupport::HelperPath("hitreads"), path},
                     {"ASAN_OPTIONS=detect_leaks=0"}));
    std::ifstream in(trace);
    std::stringstream text;
    text << in.rdbuf();

    const std::vector<std::string> hits = CallsBetween(text.str(), "HITS", "MISS");
    EXPECT_TRUE(hits.empty()) << hits.size() << " calls, the first: " << (hits.empty() ? "" : hits[0]);
    const std::vector<std::string> miss = CallsBetween(text.str(), "MISS", "DONE");
    ASSERT_FALSE(miss.empty());
    EXPECT_NE(std::string::npos, miss[0].find("pread64(")) << miss[0];
}

}  // namespace
