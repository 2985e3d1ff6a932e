// The platform layer's registry store on disk: where it lives, and that a
// damaged store or a failed write never loses what the store held.
#include <windows.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "RegistrySandbox.h"
#include "TempDir.h"
#include "TestProcess.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadText;
using testsupport::RegistrySandbox;

LONG WriteText(const std::string& path, const char* name, const std::string& text) {
    HKEY hKey;
    LONG r = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL);
    if (r != ERROR_SUCCESS)
        return r;
    r = RegSetValueExA(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       (DWORD)text.size() + 1);
    RegCloseKey(hKey);
    return r;
}

std::string StoreFile(const RegistrySandbox& reg) {
    return reg.ConfigHome() + "/tallowfilesource/registry";
}

int CountFiles(const std::string& dir, const std::string& prefix) {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            ++n;
    return n;
}

// True when a store set aside as corrupt holds exactly these bytes.
bool HasAsideCopy(const std::string& dir, const std::string& bytes) {
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind("registry.corrupt.", 0) == 0 &&
            testsupport::ReadWholeFile(entry.path().string()) == bytes)
            return true;
    return false;
}

TEST(RegistryStore, LivesUnderTheConfigHome) {
    RegistrySandbox reg;
    ASSERT_EQ(ERROR_SUCCESS, WriteText(reg.Key(), "name", "value"));
    const std::string text = testsupport::ReadWholeFile(StoreFile(reg));
    EXPECT_EQ(0u, text.find("tallowfilesource registry 1\n"));
    EXPECT_NE(std::string::npos, text.find("TallowFileSourceTests"));

    // Without an absolute XDG_CONFIG_HOME the store is ~/.config's.
    testsupport::TempDir home;
    const std::string savedHome = testsupport::GetEnvVar("HOME");
    testsupport::SetEnvVar("XDG_CONFIG_HOME", "relative/config");
    testsupport::SetEnvVar("HOME", home.Path());
    EXPECT_EQ(ERROR_SUCCESS, WriteText(reg.Key(), "name", "home"));
    testsupport::SetEnvVar("HOME", savedHome);
    EXPECT_TRUE(fs::exists(home.Path() + ".config/tallowfilesource/registry"));
}

TEST(RegistryStore, CorruptStoreReadsEmptyAndIsSetAsideOnTheNextChange) {
    RegistrySandbox reg;
    ASSERT_EQ(ERROR_SUCCESS, WriteText(reg.Key(), "name", "first"));
    const std::string path = StoreFile(reg);
    const std::string whole = testsupport::ReadWholeFile(path);
    // A store cut short (here: its last line gone) is as corrupt as garbage.
    for (const std::string& bad : {whole.substr(0, whole.rfind("end ")), std::string("\x01garbage\n")}) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bad;
        EXPECT_EQ("<missing>", ReadText(HKEY_CURRENT_USER, reg.Key(), "name"));
        EXPECT_EQ(ERROR_SUCCESS, WriteText(reg.Key(), "name", "second"));
        EXPECT_EQ("second", ReadText(HKEY_CURRENT_USER, reg.Key(), "name"));
        EXPECT_TRUE(HasAsideCopy(reg.ConfigHome() + "/tallowfilesource", bad));
    }
    EXPECT_EQ(2, CountFiles(reg.ConfigHome() + "/tallowfilesource", "registry.corrupt."));
}

TEST(RegistryStore, UnreadableStoreIsNeverReplaced) {
    RegistrySandbox reg;
    const std::string path = StoreFile(reg);
    fs::create_directories(path);  // a directory where the file belongs cannot be read
    EXPECT_EQ("<missing>", ReadText(HKEY_CURRENT_USER, reg.Key(), "name"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, WriteText(reg.Key(), "name", "value"));
    EXPECT_TRUE(fs::is_directory(path));
}

TEST(RegistryStore, FailedWriteLeavesTheStoreAsItWas) {
    RegistrySandbox reg;
    ASSERT_EQ(ERROR_SUCCESS, WriteText(reg.Key(), "name", "kept"));
    const std::string path = StoreFile(reg);
    const std::string before = testsupport::ReadWholeFile(path);

    // A file size limit below the new store's size makes the write fail part way.
    struct rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    struct sigaction ignore = {}, old;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    struct rlimit small = saved;
    small.rlim_cur = before.size();
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const LONG r = WriteText(reg.Key(), "other", std::string(4096, 'x'));
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &old, NULL);

    EXPECT_NE(ERROR_SUCCESS, r);
    EXPECT_EQ(before, testsupport::ReadWholeFile(path));
    EXPECT_EQ("kept", ReadText(HKEY_CURRENT_USER, reg.Key(), "name"));
    EXPECT_EQ(0, CountFiles(reg.ConfigHome() + "/tallowfilesource", "registry.tmp"));
}

}  // namespace
