#include "WinAPI/Functions.h"

#include <wchar.h>

namespace {
// Any address inside this module names it.
const char s_chModuleAnchor = 0;
}  // namespace

HMODULE GetCurrentModule() {
    HMODULE hModule = NULL;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       &s_chModuleAnchor, &hModule);
    return hModule;
}

// Converts a wide name to the ANSI code page, refusing every name that does
// not come back unchanged: a best-fit or default-character substitution
// could name, and open, another file. The result must fit cbAnsi bytes with
// its terminator.
static const int kMaxPath = 1024;

static HRESULT ToAnsiExact(LPCWSTR pszWide, LPSTR pszAnsi, int cbAnsi) {
    BOOL bUsedDefault = FALSE;
    int n =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, pszWide, -1, pszAnsi, cbAnsi, NULL, &bUsedDefault);
    DWORD dwErr = n ? 0 : GetLastError();
    if (dwErr == ERROR_INVALID_FLAGS || dwErr == ERROR_INVALID_PARAMETER) {
        // A UTF-8 code page takes neither the flag nor the default-character
        // report; the way back below still tells an exact conversion.
        bUsedDefault = FALSE;
        n = WideCharToMultiByte(CP_ACP, 0, pszWide, -1, pszAnsi, cbAnsi, NULL, NULL);
        dwErr = n ? 0 : GetLastError();
    }
    if (!n) {
        if (dwErr == ERROR_INSUFFICIENT_BUFFER)
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        return dwErr ? HRESULT_FROM_WIN32(dwErr) : HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    }
    if (bUsedDefault)
        return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    WCHAR szBack[kMaxPath];
    if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pszAnsi, -1, szBack, kMaxPath) ||
        wcscmp(szBack, pszWide) != 0)
        return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    return S_OK;
}

// The full path of a name (the current directory may change later, and the
// page's file dialog changes it) in the ANSI code page, exactly.
HRESULT FullAnsiName(LPCWSTR pszName, LPSTR pszAnsi, int cbAnsi, int cchMaxPath) {
    if (cchMaxPath > kMaxPath)
        cchMaxPath = kMaxPath;
    WCHAR szFull[kMaxPath];
    const DWORD cch = GetFullPathNameW(pszName, (DWORD)cchMaxPath, szFull, NULL);
    if (cch == 0) {
        const DWORD dwErr = GetLastError();
        return dwErr ? HRESULT_FROM_WIN32(dwErr) : HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    }
    if (cch >= (DWORD)cchMaxPath)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    return ToAnsiExact(szFull, pszAnsi, cbAnsi);
}

DWORD MillisecondsSince(const FILETIME& ft) {
    FILETIME ftNow;
    GetSystemTimeAsFileTime(&ftNow);
    const ULONGLONG ullNow = ((ULONGLONG)ftNow.dwHighDateTime << 32) | ftNow.dwLowDateTime;
    const ULONGLONG ullThen = ((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    if (ullThen >= ullNow)
        return 0;
    const ULONGLONG ullMs = (ullNow - ullThen) / 10000;
    return ullMs >= INFINITE ? INFINITE : (DWORD)ullMs;
}
