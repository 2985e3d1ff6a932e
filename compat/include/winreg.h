// The registry for the Linux build: HKEY_CLASSES_ROOT and HKEY_CURRENT_USER,
// with the names, values, error codes and semantics of Windows.
//
// The keys live in one file, $XDG_CONFIG_HOME/tallowfilesource/registry
// (~/.config when XDG_CONFIG_HOME is unset or not absolute), shared by every
// process of the user. HKEY_CLASSES_ROOT is a root of its own there (on
// Windows it is a merged view of the machine's and the user's classes).
//  - Every change is written to a temporary file that then replaces the
//    store, so a crash or a full disk never leaves a partial store.
//  - Changes are made under a lock file, on a store read afresh under that
//    lock: two processes writing at once lose nothing.
//  - A corrupt store reads as empty; the first change sets it aside (the file
//    "registry.corrupt.<time>.<pid>" beside it) before it writes a new one.
//    A store that exists but cannot be read also reads as empty, and changes
//    fail with the error of the read, so it is never replaced.
//  - Key and value names compare without regard to ASCII case and keep the
//    case they were created with; subkeys and values enumerate in that order
//    of names (Windows lists values in creation order: do not rely on it).
//  - Text data (REG_SZ and the like) is stored as the bytes given: the ANSI
//    code page of the Linux build is UTF-8.
//  - A handle to a key that is deleted, by this process or another, fails
//    with ERROR_KEY_DELETED from then on.
// Volatile keys, classes, security and last-write times are not provided.
#pragma once

#include <windef.h>
#include <winerror.h>
#include <winbase.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))

#define READ_CONTROL 0x00020000L
#define WRITE_DAC 0x00040000L
#define WRITE_OWNER 0x00080000L
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_ALL 0x001F0000L
#define MAXIMUM_ALLOWED 0x02000000L

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x00020019L
#define KEY_WRITE 0x00020006L
#define KEY_EXECUTE KEY_READ
#define KEY_ALL_ACCESS 0x000F003FL

#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                            REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition);
LONG WINAPI RegCloseKey(HKEY hKey);
LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData);
LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                           DWORD cbData);
// The wide forms of the two value calls, for REG_SZ text: the name and the
// text go through the ANSI code page (UTF-8 here, so nothing is lost), and
// the store keeps one form, which the ANSI calls read too.
LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                           DWORD cbData);
LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData);
// Refuses a key that still has subkeys (ERROR_ACCESS_DENIED), as Windows does.
LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                          LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);

#define RegOpenKeyEx RegOpenKeyExA
#define RegCreateKeyEx RegCreateKeyExA
#define RegQueryValueEx RegQueryValueExA
#define RegSetValueEx RegSetValueExA
#define RegDeleteKey RegDeleteKeyA
#define RegDeleteValue RegDeleteValueA
#define RegEnumKeyEx RegEnumKeyExA
#define RegEnumValue RegEnumValueA

#ifdef __cplusplus
}
#endif
