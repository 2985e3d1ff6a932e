// The registry for a test, on both targets: a scratch key of its own under
// HKEY_CURRENT_USER, removed with everything under it at the end. Natively
// the whole store is private too: XDG_CONFIG_HOME points at a temporary
// folder while the sandbox lives (child processes get it through Env()).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "TempDir.h"

namespace testsupport {

class RegistrySandbox {
public:
    RegistrySandbox();
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    // "Software\TallowFileSourceTests\<unique name>" (not created yet).
    const std::string& Key() const { return m_key; }
    // The folder that holds the native store.
    const std::string& ConfigHome() const { return m_configHome; }
    // The environment a child process needs to see the same store.
    std::vector<std::string> Env() const { return {"XDG_CONFIG_HOME=" + m_configHome}; }

private:
    TempDir m_dir;
    std::string m_configHome;
    std::string m_savedConfigHome;
    std::string m_key;
};

// Platform controls a test may not have (they exist in the Linux platform
// layer; under Wine they answer false and do nothing):
// the registry fails every change after n more (-1: no limit), as for a
// process ended in the middle of its changes;
bool LimitRegistryChanges(long n);
// opens that ask for a right to change a key fail, as in a low-integrity
// or sandboxed process.
bool SetRegistryWritable(bool bWritable);

// Deletes a key and everything under it: ERROR_SUCCESS, or the first failure
// (ERROR_FILE_NOT_FOUND when the key is not there).
LONG DeleteKeyTree(HKEY hRoot, const std::string& path);

// The names of a key's subkeys or values in enumeration order; empty when
// the key cannot be opened.
std::vector<std::string> SubkeyNames(HKEY hRoot, const std::string& path);
std::vector<std::string> ValueNames(HKEY hRoot, const std::string& path);

// A value's type and bytes; false when it cannot be read.
bool ReadValue(HKEY hRoot, const std::string& path, const char* name, DWORD* pType, std::string* pData);
// A REG_SZ value's text without its terminator, or "<missing>".
std::string ReadText(HKEY hRoot, const std::string& path, const char* name);

// A text picture of the key and everything under it, with names relative to
// the key and in a fixed order, so that two trees compare as texts; "" when
// the key is not there.
std::string KeyTreeText(HKEY hRoot, const std::string& path);

}  // namespace testsupport
