// Linux: the platform layer's debugger-output sink is the listener.
#include <windows.h>

#include <gtest/gtest.h>

#include "DShowX/DSTrace.h"
#include "DebugCapture.h"

namespace {

TEST(DSTraceListener, TheSinkCountsAsAListener) {
    DSTraceForceOutput(FALSE);
    DSTraceRefreshListener();
    EXPECT_TRUE(DSTraceListening());  // the test's capture is a sink
    testsupport::ClearDebugText();
    DSTrace(TRACE_APP1, 8, "to the sink\n");
    EXPECT_EQ("to the sink\n", testsupport::DebugText());
    {
        testsupport::NoDebugListener none;
        EXPECT_FALSE(DSTraceListening());
    }
    DSTraceForceOutput(FALSE);
    DSTraceRefreshListener();
    EXPECT_TRUE(DSTraceListening());
    DSTraceForceOutput(TRUE);
}

}  // namespace
