// Linux: a person takes time to answer an assertion's question. CloseFile
// must wait for the answer rather than end the read-ahead thread inside the
// box (the platform layer lets a test stand in for the person).
#include <windows.h>
#include <compat/compat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "DShowX/DSTrace.h"
#include "DebugCapture.h"
#include "FileReadProbe.h"
#include "TempDir.h"

using namespace readertest;

namespace {

const DWORD kBlock = 4096;

struct CSlowPerson {
    CSmartHandle shShown{CreateEvent(NULL, TRUE, FALSE, NULL)};
    CSmartHandle shAnswer{CreateEvent(NULL, TRUE, FALSE, NULL)};
    static int Answer(void* context, const char*, const char*) {
        CSlowPerson* p = static_cast<CSlowPerson*>(context);
        SetEvent(p->shShown);
        WaitForSingleObject(p->shAnswer, INFINITE);
        return IDIGNORE;
    }
};

TEST(FileReadAssert, CloseFileWaitsForTheReadAheadThreadsQuestion) {
    testsupport::TempDir dir;
    const std::string path = dir.File("a.bin");
    GrowTo(path, 8 * kBlock);
    CReaderProbe f;
    ASSERT_EQ(S_OK, f.Init(kBlock, 8 * kBlock));
    ASSERT_EQ(S_OK, f.OpenFile(path.c_str()));
    f.SetStopThreadTime(50);

    CSlowPerson person;
    CompatSetMessageBoxHandler(&CSlowPerson::Answer, &person);
    testsupport::ExpectAsserts asserts;
    // The thread finds its file gone: a broken invariant of the cache, which
    // asks its question (a failing read no longer does).
    f.LoseThreadFile();
    f.Signal(0, 0, 8 * kBlock);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(person.shShown, 10000));
    EXPECT_TRUE(IsThreadInAssert(f.ReadThreadId()));
    EXPECT_FALSE(IsThreadInAssert(GetCurrentThreadId()));

    std::atomic<bool> bClosed{false};
    std::thread closer([&] {
        f.CloseFile();
        bClosed = true;
    });
    Sleep(400);  // eight times the stop time
    EXPECT_FALSE(bClosed);
    SetEvent(person.shAnswer);
    closer.join();
    CompatSetMessageBoxHandler(NULL, NULL);

    EXPECT_FALSE(f.IsFileOpen());
    EXPECT_TRUE(asserts.Saw("_hFile && _hFile != INVALID_HANDLE_VALUE"));
    EXPECT_EQ(std::string::npos, testsupport::DebugText().find("Terminate Thread"));
}

}  // namespace
