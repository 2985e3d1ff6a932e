// Small helpers over the platform's functions.
#pragma once

#include <windows.h>

// The module (DLL or program) that holds the calling code: the component
// when it runs as the component, the test program in unit tests. Its string
// table and file name are the component's own.
HMODULE GetCurrentModule();

// The full path of a name (the current directory may change later) in the
// ANSI code page, exactly: a name that does not convert back unchanged (a
// best-fit or default-character substitution could name, and open, another
// file) is refused with ERROR_NO_UNICODE_TRANSLATION, a full path of
// cchMaxPath characters or more, or one that does not fit cbAnsi bytes, with
// ERROR_FILENAME_EXCED_RANGE.
HRESULT FullAnsiName(LPCWSTR pszName, LPSTR pszAnsi, int cbAnsi, int cchMaxPath);

// How long ago a time of the system's clock (a file's time stamp) lies, in
// ms: 0 for one in the future, INFINITE for one further back than that holds.
DWORD MillisecondsSince(const FILETIME& ft);
