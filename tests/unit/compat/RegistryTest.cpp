// The registry's primitives, on both targets: natively against the platform
// layer's store, under Wine against Wine's registry, with the same
// expectations.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "RegistrySandbox.h"
#include "TestProcess.h"

namespace {

using testsupport::RegistrySandbox;

HKEY Create(HKEY hRoot, const std::string& path, DWORD* pDisposition = NULL) {
    HKEY hKey = NULL;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(hRoot, path.c_str(), 0, NULL, REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS, NULL, &hKey, pDisposition))
        << path;
    return hKey;
}

LONG SetText(HKEY hKey, const char* name, const std::string& text) {
    return RegSetValueExA(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          (DWORD)text.size() + 1);
}

LONG SetDword(HKEY hKey, const char* name, DWORD dw) {
    return RegSetValueExA(hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dw), sizeof(dw));
}

TEST(Registry, CreateAndOpenKeys) {
    RegistrySandbox reg;
    DWORD disposition = 0;
    HKEY hKey = Create(HKEY_CURRENT_USER, reg.Key() + "\\One\\Two", &disposition);
    EXPECT_EQ((DWORD)REG_CREATED_NEW_KEY, disposition);
    RegCloseKey(hKey);
    hKey = Create(HKEY_CURRENT_USER, reg.Key() + "\\one\\TWO", &disposition);
    EXPECT_EQ((DWORD)REG_OPENED_EXISTING_KEY, disposition);
    ASSERT_EQ(ERROR_SUCCESS, SetDword(hKey, "v", 7));
    RegCloseKey(hKey);

    // Names compare without case; an empty subkey opens the key itself again.
    HKEY hOne = NULL, hSame = NULL;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CURRENT_USER, (reg.Key() + "\\ONE").c_str(), 0, KEY_READ, &hOne));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(hOne, "two", 0, KEY_READ, &hKey));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(hKey, "", 0, KEY_READ, &hSame));
    DWORD dw = 0, cb = sizeof(dw);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hSame, "V", NULL, NULL, reinterpret_cast<BYTE*>(&dw), &cb));
    EXPECT_EQ(7u, dw);
    RegCloseKey(hSame);
    RegCloseKey(hKey);

    HKEY hMissing = NULL;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(hOne, "Three", 0, KEY_READ, &hMissing));
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegOpenKeyExA(hOne, "\\Two", 0, KEY_READ, &hMissing));
    RegCloseKey(hOne);

    // The classes root takes keys too.
    const std::string classKey = "TallowFileSourceTests." + reg.Key().substr(reg.Key().rfind('\\') + 1);
    RegCloseKey(Create(HKEY_CLASSES_ROOT, classKey + "\\CLSID"));
    EXPECT_EQ(ERROR_SUCCESS, testsupport::DeleteKeyTree(HKEY_CLASSES_ROOT, classKey));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExA(HKEY_CLASSES_ROOT, classKey.c_str(), 0, KEY_READ, &hMissing));
}

TEST(Registry, ValuesTheirTypesAndSizes) {
    RegistrySandbox reg;
    HKEY hKey = Create(HKEY_CURRENT_USER, reg.Key());
    ASSERT_EQ(ERROR_SUCCESS, SetText(hKey, "ThreadingModel", "Both"));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(hKey, "AllowSeeking", 1));

    // Size and type without a buffer; a short buffer gets ERROR_MORE_DATA, the
    // size needed and no bytes.
    DWORD type = 0, cb = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hKey, "threadingmodel", NULL, &type, NULL, &cb));
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ(5u, cb);
    char text[8] = "xxxxxxx";
    cb = 3;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(hKey, "ThreadingModel", NULL, NULL, (BYTE*)text, &cb));
    EXPECT_EQ(5u, cb);
    cb = sizeof(text);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hKey, "ThreadingModel", NULL, NULL, (BYTE*)text, &cb));
    EXPECT_STREQ("Both", text);
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExA(hKey, "ThreadingModel", NULL, NULL, (BYTE*)text, NULL));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(hKey, "Missing", NULL, NULL, NULL, &cb));

    // A new key has no default value; "" and a null name both name it.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(hKey, NULL, NULL, NULL, NULL, &cb));
    ASSERT_EQ(ERROR_SUCCESS, SetText(hKey, "", "TallowFileSource"));
    EXPECT_EQ("TallowFileSource", testsupport::ReadText(HKEY_CURRENT_USER, reg.Key(), NULL));

    // Setting again replaces type and bytes; deleting twice fails the second time.
    ASSERT_EQ(ERROR_SUCCESS, SetText(hKey, "ALLOWSEEKING", "1"));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hKey, "AllowSeeking", NULL, &type, NULL, &cb));
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ(2u, cb);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(hKey, "allowseeking"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(hKey, "AllowSeeking"));
    RegCloseKey(hKey);
}

TEST(Registry, DeletingKeys) {
    RegistrySandbox reg;
    HKEY hParent = Create(HKEY_CURRENT_USER, reg.Key());
    HKEY hChild = Create(hParent, "Child\\Grandchild");
    RegCloseKey(hChild);
    hChild = Create(hParent, "Child");

    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(hParent, "Child"));  // it has a subkey
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(hParent, "Child\\Nobody"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(hParent, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(hParent, "child\\grandchild"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(hParent, "Child"));

    // A handle to a deleted key stays deleted, even when a key of the same name
    // is created again.
    RegCloseKey(Create(hParent, "Child"));
    DWORD cb = 0;
    HKEY hSub = NULL;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(hChild, NULL, NULL, NULL, NULL, &cb));
    EXPECT_EQ(ERROR_KEY_DELETED, SetDword(hChild, "v", 1));
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegCreateKeyExA(hChild, "Sub", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hSub, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hChild));

    // An empty subkey deletes the key of the handle itself.
    hChild = Create(hParent, "Child");
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(hChild, ""));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(hParent, "Child", 0, KEY_READ, &hSub));
    RegCloseKey(hChild);
    RegCloseKey(hParent);
}

TEST(Registry, EnumeratingSubkeysAndValues) {
    RegistrySandbox reg;
    HKEY hKey = Create(HKEY_CURRENT_USER, reg.Key());
    for (const char* name : {"beta", "Gamma", "Alpha"})
        RegCloseKey(Create(hKey, name));
    EXPECT_EQ((std::vector<std::string>{"Alpha", "beta", "Gamma"}),
              testsupport::SubkeyNames(HKEY_CURRENT_USER, reg.Key()));
    char name[16];
    DWORD cch = 3;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(hKey, 0, name, &cch, NULL, NULL, NULL, NULL));
    cch = sizeof(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(hKey, 3, name, &cch, NULL, NULL, NULL, NULL));

    ASSERT_EQ(ERROR_SUCCESS, SetText(hKey, "0", "0, 5, FFFFFFFFC0 ,000001BA40"));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(hKey, "Source Filter", 2));
    std::vector<std::string> values = testsupport::ValueNames(HKEY_CURRENT_USER, reg.Key());
    std::sort(values.begin(), values.end());
    EXPECT_EQ((std::vector<std::string>{"0", "Source Filter"}), values);

    // A short data buffer gets the size it needs (and, under Wine, no name).
    int nMoreData = 0, nWhole = 0;
    for (DWORD i = 0; i < 3; ++i) {
        cch = sizeof(name);
        DWORD type = 0, cb = 4;
        BYTE data[4];
        const LONG r = RegEnumValueA(hKey, i, name, &cch, NULL, &type, data, &cb);
        if (r == ERROR_MORE_DATA) {
            ++nMoreData;
            EXPECT_EQ(29u, cb);
        } else if (r == ERROR_SUCCESS) {
            ++nWhole;
            EXPECT_STREQ("Source Filter", name);
            EXPECT_EQ((DWORD)REG_DWORD, type);
        } else {
            EXPECT_EQ(ERROR_NO_MORE_ITEMS, r);
            EXPECT_EQ(2u, i);
        }
    }
    EXPECT_EQ(1, nMoreData);
    EXPECT_EQ(1, nWhole);
    RegCloseKey(hKey);
}

TEST(Registry, HandlesCarryTheirAccess) {
    RegistrySandbox reg;
    RegCloseKey(Create(HKEY_CURRENT_USER, reg.Key()));
    HKEY hRead = NULL, hWrite = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, reg.Key().c_str(), 0, KEY_READ, &hRead));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, reg.Key().c_str(), 0, KEY_SET_VALUE, &hWrite));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(hRead, "v", 1));
    EXPECT_EQ(ERROR_SUCCESS, SetDword(hWrite, "v", 1));
    DWORD cb = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(hWrite, "v", NULL, NULL, NULL, &cb));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hRead, "v", NULL, NULL, NULL, &cb));

    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hWrite));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(hWrite));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(hWrite, "v", NULL, NULL, NULL, &cb));
    RegCloseKey(hRead);
}

TEST(Registry, TwoProcessesChangingAtOnceLoseNothing) {
    RegistrySandbox reg;
    const int kEach = 30;
    testsupport::ChildProcess a, b;
    const std::string writer = testsupport::HelperPath("regwriter");
    ASSERT_TRUE(a.Start({writer, reg.Key(), "a", std::to_string(kEach)}, reg.Env()));
    ASSERT_TRUE(b.Start({writer, reg.Key(), "b", std::to_string(kEach)}, reg.Env()));
    EXPECT_EQ(0, a.Wait(120000));
    EXPECT_EQ(0, b.Wait(120000));

    EXPECT_EQ((size_t)(2 * kEach + 1), testsupport::SubkeyNames(HKEY_CURRENT_USER, reg.Key()).size());
    std::vector<std::string> values = testsupport::ValueNames(HKEY_CURRENT_USER, reg.Key() + "\\Shared");
    EXPECT_EQ((size_t)(2 * kEach), values.size());
    for (int i = 0; i < kEach; ++i)
        for (const char* tag : {"a_", "b_"})
            EXPECT_NE(values.end(), std::find(values.begin(), values.end(), tag + std::to_string(i)));
}

}  // namespace
