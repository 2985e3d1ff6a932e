// Windows: a debug-output listener built the way DebugView-style tools are
// (the DBWIN_BUFFER mapping and its two events) receives every message of
// level 0 to 8 and none above, while the tests' own capture stands aside.
// With nobody listening, assertion reports are still written.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "DShowX/DSTrace.h"
#include "DebugCapture.h"

namespace {

class CDebugListener {
public:
    CDebugListener() {
        m_hMap = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
        m_pView = m_hMap ? static_cast<const char*>(MapViewOfFile(m_hMap, FILE_MAP_READ, 0, 0, 4096)) : NULL;
        m_hReady = CreateEventA(NULL, FALSE, TRUE, "DBWIN_BUFFER_READY");
        m_hData = CreateEventA(NULL, FALSE, FALSE, "DBWIN_DATA_READY");
        m_thread = std::thread([this] { Run(); });
    }
    ~CDebugListener() {
        m_bStop = true;
        SetEvent(m_hData);
        m_thread.join();
        if (m_pView)
            UnmapViewOfFile(m_pView);
        CloseHandle(m_hMap);
        CloseHandle(m_hReady);
        CloseHandle(m_hData);
    }
    bool Ready() const { return m_pView && m_hReady && m_hData; }
    std::string Text() {
        std::lock_guard<std::mutex> g(m_lock);
        return m_text;
    }

private:
    // Who wakes it: a writer's DBWIN_DATA_READY, or the destructor.
    void Run() {
        while (!m_bStop) {
            if (WaitForSingleObject(m_hData, 1000) != WAIT_OBJECT_0 || m_bStop)
                continue;
            if (*reinterpret_cast<const DWORD*>(m_pView) == GetCurrentProcessId()) {
                std::lock_guard<std::mutex> g(m_lock);
                m_text += m_pView + sizeof(DWORD);
            }
            SetEvent(m_hReady);
        }
    }

    HANDLE m_hMap, m_hReady, m_hData;
    const char* m_pView;
    std::atomic<bool> m_bStop{false};
    std::mutex m_lock;  // guards m_text
    std::string m_text;
    std::thread m_thread;
};

TEST(DSTraceListener, DebugViewListenerGetsLevelsUpToEight) {
    testsupport::NoDebugListener none;
    testsupport::SetDebugCapturePassThrough(true);
    {
        CDebugListener listener;
        ASSERT_TRUE(listener.Ready());
        DSTraceRefreshListener();
        EXPECT_TRUE(DSTraceListening());
        for (UINT nLevel = 0; nLevel <= 12; ++nLevel)
            DSTrace(TRACE_APP1, nLevel, "listener level %u\n", nLevel);
        DSTrace(TRACE_APP2, 8, "listener done\n");
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (listener.Text().find("listener done\n") == std::string::npos &&
               std::chrono::steady_clock::now() < end)
            Sleep(5);
        std::string expected;
        for (UINT nLevel = 0; nLevel <= 8; ++nLevel)
            expected += "listener level " + std::to_string(nLevel) + "\n";
        EXPECT_EQ(expected + "listener done\n", listener.Text());
    }
    testsupport::SetDebugCapturePassThrough(false);
    DSTraceRefreshListener();
    EXPECT_FALSE(DSTraceListening());
}

TEST(DSTraceListener, AssertionReportsAreWrittenWithoutAListener) {
    testsupport::NoDebugListener none;
    EXPECT_FALSE(DSTraceListening());
    testsupport::ExpectAsserts asserts;
    ASSERT(sizeof(int) == 1);
    EXPECT_TRUE(asserts.Saw("sizeof(int) == 1"));
}

}  // namespace
