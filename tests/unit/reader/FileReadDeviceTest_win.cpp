// Windows: a name that opens a pipe or a device is refused before the
// read-ahead thread starts (the platform layer opens regular files only).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "FileReadProbe.h"

using namespace readertest;

namespace {

TEST(FileReadDevice, PipesAndDevicesAreRefused) {
    const std::string pipe = "\\\\.\\pipe\\tfs-reader-" + std::to_string(GetCurrentProcessId());
    CSmartHandle shServer(
        CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, NULL));
    ASSERT_TRUE(shServer.IsValid()) << GetLastError();
    CReaderProbe f;
    ASSERT_EQ(S_OK, f.Init(4096, 3 * 4096));
    for (const std::string& name : {pipe, std::string("NUL")}) {
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), f.OpenFile(name.c_str())) << name;
        EXPECT_FALSE(f.IsFileOpen()) << name;
        EXPECT_EQ(NULL, f.ManualFile()) << name;
    }
}

}  // namespace
