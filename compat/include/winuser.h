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

// Window messages and notifications the system's dialogs handle. On Linux
// no window system sends them: the library's dialogs deliver them to their
// message maps themselves (DShowX/DSDialog.h).
#define WM_DESTROY 0x0002
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_NCDESTROY 0x0082
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_HSCROLL 0x0114
#define WM_USER 0x0400

#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BST_UNCHECKED 0x0000
#define BST_CHECKED 0x0001
#define BN_CLICKED 0

#define SB_THUMBPOSITION 4
#define SB_ENDSCROLL 8

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))

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
