// Module handles and string tables, on both targets. The test program
// carries the component's string table, as the component itself does.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "TestProcess.h"
#include "WinAPI/Functions.h"
#include "resources/resource.h"

namespace {

std::string FileName(HMODULE h) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(h, path, MAX_PATH);
    return std::string(path, n < MAX_PATH ? n : 0);
}

std::string LoadText(HMODULE h, UINT id) {
    char text[MAX_PATH];
    const int n = LoadStringA(h, id, text, sizeof(text));
    EXPECT_EQ((size_t)n, strlen(text));
    return text;
}

TEST(ModuleStrings, TheCurrentModulesTableHoldsTheComponentsTexts) {
    const HMODULE h = GetCurrentModule();
    ASSERT_NE((HMODULE)NULL, h);
    EXPECT_EQ(FileName(NULL), FileName(h));
    EXPECT_EQ("TallowFileSource", LoadText(h, IDS_PROJNAME));
    EXPECT_EQ("File Source Properties", LoadText(h, IDS_TITLEFileSourcePage));
    EXPECT_EQ("Software\\VEZizurad\\TallowFileSource", LoadText(NULL, IDS_REGISTRY_KEY));

    // A short buffer gets the text cut and terminated; a missing string none.
    char text[5] = "xxxx";
    EXPECT_EQ(4, LoadStringA(h, IDS_PROJNAME, text, sizeof(text)));
    EXPECT_STREQ("Tall", text);
    EXPECT_EQ(0, LoadStringA(h, 999, text, sizeof(text)));
    EXPECT_STREQ("", text);
}

TEST(ModuleStrings, ReadThroughTheComponentsHandle) {
    const HMODULE hDll = LoadLibraryA((testsupport::ProgramDir() + "OrvexFileSource.dll").c_str());
    ASSERT_NE((HMODULE)NULL, hDll);
    EXPECT_EQ("Software\\VEZizurad\\TallowFileSource", LoadText(hDll, IDS_REGISTRY_KEY));

    // The same module by an address inside it and by its name.
    HMODULE hFound = NULL;
    const FARPROC pfn = GetProcAddress(hDll, "DllCanUnloadNow");
    ASSERT_TRUE(GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(pfn), &hFound));
    EXPECT_EQ(hDll, hFound);
    hFound = NULL;
    ASSERT_TRUE(GetModuleHandleExA(0, "OrvexFileSource.dll", &hFound));
    EXPECT_EQ(hDll, hFound);
    EXPECT_NE(FileName(NULL), FileName(hDll));
    FreeLibrary(hFound);  // the reference the last call took
    FreeLibrary(hDll);
}

}  // namespace
