// Registration from a folder whose name the ANSI code page cannot write:
// the module's path is registered exactly as the system names it.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "CoFileSourceRegister.h"
#include "RegistrySandbox.h"
#include "TempDir.h"
#include "TestProcess.h"

namespace {

const CLSID kClsid = {0x12345678, 0x9ABC, 0xDEF0, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF1}};
const RegScriptKey kKeys[] = {{"Server", REGKEY_REPLACE, {{NULL, "%MODULE%"}}, NULL}};
const RegScript kScript = {kKeys, 1};

TEST(RegisterPath, AFolderOutsideTheAnsiCodePageIsRegisteredExactly) {
    // The first of these letters the code page has no form for.
    std::wstring folder;
    for (const wchar_t* psz : {L"\x0416\x0443\x0440", L"\x65E5\x672C", L"\x05D0\x05D1"}) {
        BOOL bDefault = FALSE;
        char sz[16];
        WideCharToMultiByte(CP_ACP, 0, psz, -1, sz, sizeof(sz), NULL, &bDefault);
        if (bDefault) {
            folder = psz;
            break;
        }
    }
    if (folder.empty())
        GTEST_SKIP() << "the ANSI code page writes every letter tried";
    testsupport::TempDir dir;
    const std::filesystem::path target = std::filesystem::path(dir.Path()) / folder / L"log.dll";
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(testsupport::ProgramDir() + testsupport::ModuleFile("log"), target);
    HMODULE hModule = LoadLibraryW(target.c_str());
    ASSERT_NE(nullptr, hModule);
    WCHAR wszModule[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameW(hModule, wszModule, MAX_PATH));

    testsupport::RegistrySandbox sandbox;
    HKEY hRoot = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, sandbox.Key().c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &hRoot, NULL));
    EXPECT_EQ(S_OK, RegisterScript(hRoot, kScript, kClsid, hModule));
    WCHAR wszValue[MAX_PATH] = L"";
    DWORD cb = sizeof(wszValue), dwType = 0;
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(hRoot, "Server", 0, KEY_READ, &hKey));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(hKey, NULL, NULL, &dwType, (BYTE*)wszValue, &cb));
    RegCloseKey(hKey);
    EXPECT_EQ(std::wstring(wszModule), std::wstring(wszValue));
    EXPECT_EQ(S_OK, UnregisterScript(hRoot, kScript, kClsid, hModule));
    RegCloseKey(hRoot);
    FreeLibrary(hModule);
}

}  // namespace
