// COM basics for the Linux build: task memory, GUID text, apartments and the
// creation of registered in-process classes.
#pragma once

#include <windef.h>
#include <winerror.h>
#include <guiddef.h>
#include <unknwn.h>
#include <objidl.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum tagCOINIT {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8
} COINIT;

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

// A thread's use of COM is counted: the first initialisation answers S_OK,
// later ones S_FALSE, one of the other model RPC_E_CHANGED_MODE; each
// success is ended by one CoUninitialize. There is no marshalling: the
// model is only checked.
HRESULT WINAPI CoInitialize(LPVOID pvReserved);
HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void WINAPI CoUninitialize(void);

// Creates an in-process class registered under HKEY_CLASSES_ROOT\CLSID\{clsid}
// \InprocServer32 in the platform layer's registry: the module is loaded (and
// stays loaded; there is no CoFreeUnusedLibraries) and its
// DllGetClassObject's class factory creates the object. REGDB_E_CLASSNOTREG
// for a class that is not registered there (the platform's own classes, such
// as the filter mapper, do not exist on Linux); CO_E_NOTINITIALIZED on a
// thread that has not initialised COM.
HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                                LPVOID* ppv);

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void WINAPI CoTaskMemFree(LPVOID pv);

// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and returns the characters
// written including the terminator, or 0 when cchMax is below 39.
int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

#ifdef __cplusplus
}
#endif
