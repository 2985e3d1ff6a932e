// The pin's one persistent setting, "AllowSeeking": read when a pin is
// created, written when it is released, taken only as a 4-byte number.
#include <windows.h>

#include <gtest/gtest.h>

#include "PinTestSupport.h"
#include "RegistrySandbox.h"

namespace {

const char kKey[] = "Software\\VEZizurad\\TallowFileSource";

// Stores the setting's value as given (type and bytes), or removes the key.
void StoreValue(DWORD dwType, const void* pv, DWORD cb) {
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    if (!pv)
        return;
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS, NULL, &hKey, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, "AllowSeeking", 0, dwType, (const BYTE*)pv, cb));
    RegCloseKey(hKey);
}

// The setting as a new pin reads it.
bool SeekingOfNewPin() {
    CComObject<CFileSourceOutput>* pPin = NULL;
    EXPECT_EQ(S_OK, CreatePinInstance(&pPin, 0, "Output"));
    const bool bAllow = pPin->IsSeekingAllowed();
    pPin->Release();
    return bAllow;
}

TEST(PinSetting, ReadAtCreationWrittenAtReleaseOnlyAsANumber) {
    // Natively a private store; under Wine the prefix's own registry.
    testsupport::RegistrySandbox sandbox;
    StoreValue(REG_NONE, NULL, 0);
    CComObject<CFileSourceOutput>* pPin = NULL;
    ASSERT_EQ(S_OK, CreatePinInstance(&pPin, 0, "Output"));
    EXPECT_FALSE(pPin->IsSeekingAllowed());
    pPin->SetSeekingAllowed(true);
    pPin->Release();
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &hKey));
    DWORD dwType = 0, dwValue = 0, cb = sizeof(dwValue);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hKey, "AllowSeeking", NULL, &dwType, (BYTE*)&dwValue, &cb));
    RegCloseKey(hKey);
    EXPECT_EQ((DWORD)REG_DWORD, dwType);
    EXPECT_EQ(1u, dwValue);
    EXPECT_TRUE(SeekingOfNewPin());

    const DWORD dwFive = 5;
    StoreValue(REG_DWORD, &dwFive, sizeof(dwFive));
    EXPECT_TRUE(SeekingOfNewPin());
    // Another type, or a number of another size, is no setting.
    StoreValue(REG_SZ, "1", 2);
    EXPECT_FALSE(SeekingOfNewPin());
    const WORD wOne = 1;
    StoreValue(REG_DWORD, &wOne, sizeof(wOne));
    EXPECT_FALSE(SeekingOfNewPin());
    StoreValue(REG_NONE, NULL, 0);
}

// A host that may not write the user's key (a low-integrity or sandboxed
// process) still reads the setting; only its saving fails.
TEST(PinSetting, ReadInAProcessThatMayNotWriteTheRegistry) {
    testsupport::RegistrySandbox sandbox;
    const DWORD dwOne = 1;
    StoreValue(REG_DWORD, &dwOne, sizeof(dwOne));
    if (!testsupport::SetRegistryWritable(false))
        GTEST_SKIP() << "the platform's registry cannot be made read-only for one process";
    const bool bAllow = SeekingOfNewPin();
    testsupport::SetRegistryWritable(true);
    EXPECT_TRUE(bAllow);
    StoreValue(REG_NONE, NULL, 0);
}

}  // namespace
