// The common file-open dialog for the Linux build. There is no window
// system: GetOpenFileNameA answers from a policy, as MessageBoxA does. By
// default the person cancels; a test names the file to choose
// (CompatSetOpenFileNameAnswer, compat/compat.h).
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef UINT_PTR(CALLBACK* LPOFNHOOKPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagOFNA {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    LPCSTR lpstrFilter;
    LPSTR lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;
    LPSTR lpstrFile;
    DWORD nMaxFile;
    LPSTR lpstrFileTitle;
    DWORD nMaxFileTitle;
    LPCSTR lpstrInitialDir;
    LPCSTR lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    LPCSTR lpstrDefExt;
    LPARAM lCustData;
    LPOFNHOOKPROC lpfnHook;
    LPCSTR lpTemplateName;
    void* pvReserved;
    DWORD dwReserved;
    DWORD FlagsEx;
} OPENFILENAMEA, *LPOPENFILENAMEA;

#define CDERR_STRUCTSIZE 0x0001
#define CDERR_INITIALIZATION 0x0002
#define FNERR_BUFFERTOOSMALL 0x3003

// TRUE with the chosen file's full name in lpstrFile (and nFileOffset,
// nFileExtension); FALSE when the person cancels (CommDlgExtendedError 0)
// or the name does not fit nMaxFile (FNERR_BUFFERTOOSMALL, the needed size
// in the first two bytes of lpstrFile, as on Windows).
BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA lpofn);
#define GetOpenFileName GetOpenFileNameA
// The reason of the calling thread's last failed dialog; 0 after a cancel.
DWORD WINAPI CommDlgExtendedError(void);

#ifdef __cplusplus
}
#endif
