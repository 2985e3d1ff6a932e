// Registration: the script rules on a test script in a scratch key, and the
// component's own registration (filter and page) through its exports, on both targets
// (natively into the platform layer's store, under Wine into Wine's registry
// with its real filter mapper).
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <string>

#include "CoFileSourceRegister.h"
#include "RegistrySandbox.h"
#include "TestProcess.h"

namespace {

using testsupport::KeyTreeText;
using testsupport::ReadText;
using testsupport::RegistrySandbox;

const CLSID kClsid = {0x12345678, 0x9ABC, 0xDEF0, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}};
const char kClsidText[] = "{12345678-9ABC-DEF0-1234-56789ABCDEF0}";

const RegScriptKey kTestKeys[] = {
    {"Kept", REGKEY_KEEP, {}, NULL},
    {"Kept\\%CLSID%", REGKEY_REPLACE, {{NULL, "Class"}, {"Path", "%MODULE%"}}, NULL},
    {"Kept\\%CLSID%\\Sub", REGKEY_NORMAL, {{NULL, "sub"}}, NULL},
    {"Plain", REGKEY_NORMAL, {{NULL, "plain"}, {"Extra", "x"}}, NULL},
    {"Plain\\Child", REGKEY_NORMAL, {{NULL, "%CLSID%"}}, NULL},
    {"Gone", REGKEY_NORMAL, {{NULL, "gone"}}, NULL},
    {"CLSID", REGKEY_KEEP, {}, NULL},
    {"CLSID\\%CLSID%", REGKEY_REPLACE, {{NULL, "Class"}}, NULL},
    {"Entry", REGKEY_REPLACE, {{"0", "ours"}, {"Owner", "%CLSID%"}}, "Owner"},
};
const RegScript kTestScript = {kTestKeys, sizeof(kTestKeys) / sizeof(kTestKeys[0])};

// A test script registered under a scratch key that stands in for the root.
class ScriptRules : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, m_reg.Key().c_str(), 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &m_hRoot, NULL));
    }
    void TearDown() override { RegCloseKey(m_hRoot); }

    void Put(const std::string& path, const char* name, const std::string& text) {
        HKEY hKey;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(m_hRoot, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 (DWORD)text.size() + 1));
        RegCloseKey(hKey);
    }
    std::string Text(const std::string& path, const char* name) { return ReadText(m_hRoot, path, name); }
    std::string Tree(const std::string& path) { return KeyTreeText(m_hRoot, path); }
    HRESULT Register() { return RegisterScript(m_hRoot, kTestScript, kClsid, NULL); }
    HRESULT Unregister() { return UnregisterScript(m_hRoot, kTestScript, kClsid, NULL); }

    RegistrySandbox m_reg;
    HKEY m_hRoot = NULL;
};

size_t CountLines(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

std::string ProgramFile() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    return std::string(path, n);
}

TEST_F(ScriptRules, KeptReplacedAndOtherKeys) {
    Put("Kept\\Foreign", "v", "theirs");
    Put(std::string("Kept\\") + kClsidText + "\\Stale", "v", "old");
    Put("Plain\\Foreign", "v", "theirs");

    ASSERT_EQ(S_OK, Register());
    const std::string classKey = std::string("Kept\\") + kClsidText;
    EXPECT_EQ("Class", Text(classKey, NULL));
    EXPECT_EQ(ProgramFile(), Text(classKey, "Path"));  // %MODULE% of the null module: the program
    EXPECT_EQ("", Tree(classKey + "\\Stale"));         // a replaced key loses what it held
    EXPECT_EQ(kClsidText, Text("Plain\\Child", NULL));
    EXPECT_EQ("x", Text("Plain", "Extra"));

    // Registering again leaves the same keys.
    const std::string once = Tree("");
    ASSERT_EQ(S_OK, Register());
    EXPECT_EQ(once, Tree(""));

    // Kept keys stay, replaced ones go with their subtree; the others go
    // unless something else lives under them.
    ASSERT_EQ(S_OK, Unregister());
    EXPECT_EQ("[.]\n  [Foreign]\n    v=1:theirs\n", Tree("Kept"));
    EXPECT_EQ("[.]\n  [Foreign]\n    v=1:theirs\n", Tree("Plain"));
    EXPECT_EQ("", Tree("Gone"));
    EXPECT_EQ("[.]\n", Tree("CLSID"));
    EXPECT_EQ("", Tree("Entry"));
}

TEST_F(ScriptRules, SomeoneElsesEntryIsKeptAsideAndPutBack) {
    Put("Entry", "0", "theirs");
    Put("Entry", "Owner", "{e436ebb5-524f-11ce-9f53-0020af0ba770}");
    Put("Entry\\Deep", "v", "1");
    const std::string theirs = Tree("Entry");
    const std::string copy = std::string("CLSID\\") + kClsidText + "\\Replaced Keys\\Entry";

    for (int pass = 0; pass < 2; ++pass) {  // registering twice keeps the first copy
        ASSERT_EQ(S_OK, Register());
        EXPECT_EQ(std::string("[.]\n  0=1:ours\n  Owner=1:") + kClsidText + "\n", Tree("Entry"));
        EXPECT_EQ(theirs, Tree(copy));
    }
    ASSERT_EQ(S_OK, Unregister());
    EXPECT_EQ(theirs, Tree("Entry"));
    EXPECT_EQ("[.]\n", Tree("CLSID"));

    // An entry someone else has written after us is left alone, and the
    // copy of the original waits (also through another registration of
    // ours) until it can go back: after that one has removed its entry.
    ASSERT_EQ(S_OK, Register());
    Put("Entry", "Owner", "{00000000-0000-0000-0000-000000000001}");
    const std::string later = Tree("Entry");
    ASSERT_EQ(S_OK, Unregister());
    EXPECT_EQ(later, Tree("Entry"));
    EXPECT_EQ(theirs, Tree(copy));
    ASSERT_EQ(S_OK, Register());
    EXPECT_EQ(theirs, Tree(copy));
    ASSERT_EQ(S_OK, Unregister());
    EXPECT_EQ(theirs, Tree("Entry"));
    EXPECT_EQ("[.]\n", Tree("CLSID"));
}

// A registration ended after any number of its changes (a regsvr32 killed)
// leaves the entry it replaces or a whole copy of it, and a registration
// run to its end afterwards still puts the original back when it goes.
TEST_F(ScriptRules, ARegistrationEndedAnywhereLosesNoEntry) {
    if (!testsupport::LimitRegistryChanges(-1))
        GTEST_SKIP() << "the platform's registry cannot be stopped after a number of changes";
    Put("Entry", "0", "theirs");
    Put("Entry", "Owner", "{e436ebb5-524f-11ce-9f53-0020af0ba770}");
    Put("Entry\\Deep", "v", "1");
    const std::string theirs = Tree("Entry");
    const std::string copy = std::string("CLSID\\") + kClsidText + "\\Replaced Keys\\Entry";
    for (long n = 0; n < 200; ++n) {
        testsupport::LimitRegistryChanges(n);
        const HRESULT hr = Register();
        testsupport::LimitRegistryChanges(-1);
        EXPECT_TRUE(Tree("Entry") == theirs || Tree(copy) == theirs) << "ended after " << n << " changes";
        ASSERT_EQ(S_OK, Register());
        ASSERT_EQ(S_OK, Unregister());
        EXPECT_EQ(theirs, Tree("Entry")) << "ended after " << n << " changes";
        if (SUCCEEDED(hr))
            break;
    }
    EXPECT_EQ("[.]\n", Tree("CLSID"));
}

// ---------------------------------------------------------------- the filter

const char kFilterClsid[] = "{50838349-7C4B-4700-AE28-23940A6BF6B6}";
const char kPageClsid[] = "{5083834A-7C4B-4700-AE28-23940A6BF6B6}";
const char kMpeg2Entry[] =
    "Media Type\\{e436eb83-524f-11ce-9f53-0020af0ba770}\\{e06d8022-db46-11cf-b4d1-00805f6cbbea}";
const char kMapperEntry[] =
    "CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\{50838349-7C4B-4700-AE28-23940A6BF6B6}";

class FilterRegistration : public ::testing::Test {
protected:
    void SetUp() override {
        const HRESULT hrInit = CoInitialize(NULL);
        m_bComInit = SUCCEEDED(hrInit);
        ASSERT_TRUE(m_bComInit) << hrInit;
        m_hDll = testsupport::ComponentModule();
        ASSERT_NE((HMODULE)NULL, m_hDll);
        m_pfnRegister = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void (*)()>(GetProcAddress(m_hDll, "DllRegisterServer")));
        m_pfnUnregister = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void (*)()>(GetProcAddress(m_hDll, "DllUnregisterServer")));
        ASSERT_TRUE(m_pfnRegister && m_pfnUnregister);
        char path[MAX_PATH];
        m_module.assign(path, GetModuleFileNameA(m_hDll, path, MAX_PATH));

        // The platform's own reader owns the MPEG-2 entry before we register
        // (Wine registers it; natively a stand-in plays its part).
        m_original = KeyTreeText(HKEY_CLASSES_ROOT, kMpeg2Entry);
        if (m_original.empty()) {
            HKEY hKey;
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, kMpeg2Entry, 0, NULL, 0,
                                                     KEY_ALL_ACCESS, NULL, &hKey, NULL));
            const char check[] = "0,5,ffffffffc0,000001ba40",
                       reader[] = "{e436ebb5-524f-11ce-9f53-0020af0ba770}";
            RegSetValueExA(hKey, "0", 0, REG_SZ, reinterpret_cast<const BYTE*>(check), sizeof(check));
            RegSetValueExA(hKey, "Source Filter", 0, REG_SZ, reinterpret_cast<const BYTE*>(reader),
                           sizeof(reader));
            RegCloseKey(hKey);
            m_original = KeyTreeText(HKEY_CLASSES_ROOT, kMpeg2Entry);
            m_bMadeOriginal = true;
        }
    }
    void TearDown() override {
        if (m_bRegistered) {
            EXPECT_EQ(Expected(), m_pfnUnregister());
        }
        if (m_bMadeOriginal)
            testsupport::DeleteKeyTree(HKEY_CLASSES_ROOT, kMpeg2Entry);
        if (m_bComInit)
            CoUninitialize();
    }

    // Natively there is no filter mapper: the keys are written, the last step fails.
    HRESULT Expected() const { return testsupport::HasMediaRuntime() ? S_OK : REGDB_E_CLASSNOTREG; }
    // Registers the component; the test's end unregisters it.
    void Register() {
        m_bRegistered = true;
        ASSERT_EQ(Expected(), m_pfnRegister());
    }
    static std::string Text(const std::string& path, const char* name) {
        return ReadText(HKEY_CLASSES_ROOT, path, name);
    }
    // A COM class's keys: its ProgID with and without the version, and its
    // CLSID key with the module.
    void ExpectClassKeys(const std::string& progId, const std::string& clsid, const char* name,
                         const char* independentName, const char* threadingModel) {
        const std::string clsidKey = "CLSID\\" + clsid;
        EXPECT_EQ(name, Text(progId + ".1", NULL));
        EXPECT_EQ(clsid, Text(progId + ".1\\CLSID", NULL));
        EXPECT_EQ(independentName, Text(progId, NULL));
        EXPECT_EQ(clsid, Text(progId + "\\CLSID", NULL));
        EXPECT_EQ(progId + ".1", Text(progId + "\\CurVer", NULL));
        EXPECT_EQ(name, Text(clsidKey, NULL));
        EXPECT_EQ(progId + ".1", Text(clsidKey + "\\ProgID", NULL));
        EXPECT_EQ(progId, Text(clsidKey + "\\VersionIndependentProgID", NULL));
        EXPECT_EQ(m_module, Text(clsidKey + "\\InprocServer32", NULL));
        EXPECT_EQ(threadingModel, Text(clsidKey + "\\InprocServer32", "ThreadingModel"));
    }
    static std::string PageKeys() {
        return KeyTreeText(HKEY_CLASSES_ROOT, "OrvexFileSource.FileSourcePage.1") +
               KeyTreeText(HKEY_CLASSES_ROOT, "OrvexFileSource.FileSourcePage") +
               KeyTreeText(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kPageClsid);
    }
    static std::string OurKeys() {
        return PageKeys() + KeyTreeText(HKEY_CLASSES_ROOT, "OrvexFileSource.CoFileSource.1") +
               KeyTreeText(HKEY_CLASSES_ROOT, "OrvexFileSource.CoFileSource") +
               KeyTreeText(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kFilterClsid) +
               KeyTreeText(HKEY_CLASSES_ROOT, kMpeg2Entry) + KeyTreeText(HKEY_CLASSES_ROOT, kMapperEntry);
    }

    RegistrySandbox m_reg;
    HMODULE m_hDll = NULL;
    HRESULT(STDAPICALLTYPE* m_pfnRegister)() = nullptr;
    HRESULT(STDAPICALLTYPE* m_pfnUnregister)() = nullptr;
    std::string m_module;
    std::string m_original;
    bool m_bMadeOriginal = false;
    bool m_bComInit = false;
    bool m_bRegistered = false;
};

TEST_F(FilterRegistration, WritesTheFiltersKeysAndTakesTheReaderEntry) {
    ASSERT_NO_FATAL_FAILURE(Register());
    ExpectClassKeys("OrvexFileSource.CoFileSource", kFilterClsid, "TallowFileSource", "DS File Source",
                    "Both");
    EXPECT_EQ("0, 5, FFFFFFFFC0 ,000001BA40", Text(kMpeg2Entry, "0"));
    EXPECT_EQ(kFilterClsid, Text(kMpeg2Entry, "Source Filter"));
    EXPECT_NE("", KeyTreeText(HKEY_CLASSES_ROOT, "Media Type\\Extensions"));
    EXPECT_EQ(testsupport::HasMediaRuntime() ? "TallowFileSource" : "<missing>",
              Text(kMapperEntry, "FriendlyName"));
}

// The page's script runs after the filter's mapper step: natively, where
// that step fails, registration stops before it.
TEST_F(FilterRegistration, WritesThePagesKeysAfterTheMapperStep) {
    ASSERT_NO_FATAL_FAILURE(Register());
    if (testsupport::HasMediaRuntime()) {
        ExpectClassKeys("OrvexFileSource.FileSourcePage", kPageClsid, "FileSourcePage Class",
                        "FileSourcePage Class", "Apartment");
        EXPECT_EQ(10u, CountLines(PageKeys(), "=1:"));  // nothing else
    } else {
        EXPECT_EQ("", PageKeys());
    }
}

// COM finds the class through the keys: the component's DllGetClassObject answers.
TEST_F(FilterRegistration, ComFindsTheClassThroughTheKeys) {
    ASSERT_NO_FATAL_FAILURE(Register());
    IUnknown* pUnk = NULL;
    const HRESULT hr = CoCreateInstance(CLSID_CoFileSource, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                        reinterpret_cast<void**>(&pUnk));
    EXPECT_NE(REGDB_E_CLASSNOTREG, hr);
    if (pUnk)
        pUnk->Release();
}

TEST_F(FilterRegistration, RegisteringAgainLeavesOneSetOfKeysAndTheSameKeptCopy) {
    ASSERT_NO_FATAL_FAILURE(Register());
    const std::string keys = OurKeys();
    ASSERT_EQ(Expected(), m_pfnRegister());
    EXPECT_EQ(keys, OurKeys());
    EXPECT_EQ(m_original, KeyTreeText(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kFilterClsid +
                                                             "\\Replaced Keys\\" + kMpeg2Entry));
}

TEST_F(FilterRegistration, UnregisteringRemovesOurKeysAndRestoresTheReaderEntry) {
    ASSERT_NO_FATAL_FAILURE(Register());
    m_bRegistered = false;
    ASSERT_EQ(Expected(), m_pfnUnregister());
    EXPECT_EQ("", KeyTreeText(HKEY_CLASSES_ROOT, "OrvexFileSource.CoFileSource.1"));
    EXPECT_EQ("", KeyTreeText(HKEY_CLASSES_ROOT, "OrvexFileSource.CoFileSource"));
    EXPECT_EQ("", KeyTreeText(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kFilterClsid));
    EXPECT_EQ("", KeyTreeText(HKEY_CLASSES_ROOT, kMapperEntry));
    EXPECT_EQ("", PageKeys());
    EXPECT_EQ(m_original, KeyTreeText(HKEY_CLASSES_ROOT, kMpeg2Entry));
    EXPECT_NE("", KeyTreeText(HKEY_CLASSES_ROOT, "Media Type\\Extensions"));
}

}  // namespace
