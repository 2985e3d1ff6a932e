// COM basics for the Linux build: task memory and GUID text.
#pragma once

#include <windef.h>
#include <winerror.h>
#include <guiddef.h>
#include <unknwn.h>
#include <objidl.h>

#ifdef __cplusplus
extern "C" {
#endif

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void WINAPI CoTaskMemFree(LPVOID pv);

// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and returns the characters
// written including the terminator, or 0 when cchMax is below 39.
int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

#ifdef __cplusplus
}
#endif
