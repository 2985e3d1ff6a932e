// The COM run-time calls the component makes, on both targets.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "RegistrySandbox.h"

namespace {

TEST(ComRuntime, InitialisationIsCountedPerThreadAndUnknownClassesAreNotRegistered) {
    testsupport::RegistrySandbox reg;
    const CLSID kUnknown = {0x2D2B8E5A, 0x61F0, 0x4E3B, {0x9C, 0x1D, 0x7F, 0x2A, 0x44, 0x10, 0xE9, 0x03}};
    std::thread([&] {
        EXPECT_EQ(S_OK, CoInitializeEx(NULL, COINIT_APARTMENTTHREADED));
        EXPECT_EQ(S_FALSE, CoInitializeEx(NULL, COINIT_APARTMENTTHREADED));
        EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitializeEx(NULL, COINIT_MULTITHREADED));
        IUnknown* pUnk = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(kUnknown, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                        reinterpret_cast<void**>(&pUnk)));
        EXPECT_EQ(nullptr, pUnk);
        CoUninitialize();
        CoUninitialize();
    }).join();
}

}  // namespace
