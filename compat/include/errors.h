// The media run-time's error codes and texts for the Linux build.
#pragma once

#include <windef.h>
#include <vfwmsgs.h>

#ifdef __cplusplus
extern "C" {
#endif

// Copies the description of a media-framework result code (the VFW_E_ and
// VFW_S_ codes) into pbuffer and returns the characters written, or 0 for a
// code it does not know or a buffer too small for the text.
DWORD WINAPI AMGetErrorTextA(HRESULT hr, LPSTR pbuffer, DWORD MaxLen);

#ifdef __cplusplus
}
#endif
