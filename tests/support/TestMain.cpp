#include <gtest/gtest.h>

#include "DShowX/DSTrace.h"
#include "DebugCapture.h"

int main(int argc, char** argv) {
    testsupport::InstallDebugCapture();
    // Every message reaches the capture, whether a listener exists or not.
    DSTraceForceOutput(TRUE);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
