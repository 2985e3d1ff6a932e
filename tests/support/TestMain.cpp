#include <gtest/gtest.h>

#include "DebugCapture.h"

int main(int argc, char** argv) {
    testsupport::InstallDebugCapture();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
