// User-interface services for the Linux build: the message box (answered by
// a policy, there is no window system) and the wsprintf formatters.
#pragma once

#include <windef.h>
#include <stdarg.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_ICONHAND 0x00000010L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONINFORMATION 0x00000040L
#define MB_SYSTEMMODAL 0x00001000L
#define MB_TASKMODAL 0x00002000L
#define MB_SETFOREGROUND 0x00010000L

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *PMSG, *LPMSG;

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

// Never blocks: the answer comes from the process's policy, IDIGNORE unless
// COMPAT_MESSAGEBOX (abort, retry, ignore, ok, cancel, yes, no) or a test
// (compat/compat.h) says otherwise. The box's text goes to the debugger-output
// sink only when COMPAT_DEBUG_OUTPUT asks for stderr.
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
#define MessageBox MessageBoxA

// Reads a string of the module's string table (compat/strings.h; a null
// module is the main program) into the buffer, cut to cchBufferMax - 1
// characters and terminated. Returns the characters copied, or 0 (and an
// empty buffer) when the module has no such string.
int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax);
#define LoadString LoadStringA

// Like Windows, output is limited to 1024 characters including the terminator.
int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...);
int WINAPI wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist);
#define wsprintf wsprintfA
#define wvsprintf wvsprintfA

#ifdef __cplusplus
}
#endif
