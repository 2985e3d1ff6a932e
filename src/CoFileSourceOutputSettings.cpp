// CFileSourceOutput: the one persistent setting, "AllowSeeking", under the
// current user's key named by string resource 102. Read once at creation,
// written once at release.
#include <windows.h>

#include "CoFileSourceOutput.h"
#include "WinAPI/Functions.h"
#include "resources/resource.h"

namespace {

const char kAllowSeeking[] = "AllowSeeking";
const int kKeySize = 260;

}  // namespace

HRESULT CFileSourceOutput::LoadFromRegistry() {
    CHAR szKey[kKeySize];
    if (!LoadStringA(GetCurrentModule(), IDS_REGISTRY_KEY, szKey, kKeySize))
        return E_FAIL;
    // Read access only: a host that may not write the user's key (a
    // low-integrity or sandboxed process) still reads the setting.
    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, szKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return E_FAIL;
    DWORD dwType = REG_NONE, dwValue = 0, cbValue = sizeof(dwValue);
    const LONG lResult = RegQueryValueExA(hKey, kAllowSeeking, NULL, &dwType, (BYTE*)&dwValue, &cbValue);
    RegCloseKey(hKey);
    // A value of another type or size is no setting at all; any non-zero
    // number means on.
    if (lResult != ERROR_SUCCESS || dwType != REG_DWORD || cbValue != sizeof(dwValue))
        return E_FAIL;
    SetSeekingAllowed(dwValue != 0);
    return S_OK;
}

HRESULT CFileSourceOutput::SaveToRegistry() {
    CHAR szKey[kKeySize];
    if (!LoadStringA(GetCurrentModule(), IDS_REGISTRY_KEY, szKey, kKeySize))
        return E_FAIL;
    HKEY hKey = NULL;
    DWORD dwDisposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, szKey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, NULL,
                        &hKey, &dwDisposition) != ERROR_SUCCESS)
        return E_FAIL;
    const DWORD dwValue = IsSeekingAllowed() ? 1 : 0;
    const LONG lResult =
        RegSetValueExA(hKey, kAllowSeeking, 0, REG_DWORD, (const BYTE*)&dwValue, sizeof(dwValue));
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS ? S_OK : E_FAIL;
}
