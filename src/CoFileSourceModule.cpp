// The component's entry points.
#include <windows.h>

#include "CoFileSource.h"
#include "CoFileSourceRegister.h"
#include "DShowX/DSComBase.h"
#include "DShowX/DSTrace.h"
#include "FileSourcePage.h"
#include "WinAPI/Functions.h"

namespace {

// Loads the optional log library while the component is being loaded, so its
// export and Connect run before any other code of the component.
struct CLogLibraryLoader {
    CLogLibraryLoader() {
        ILogObject* pLog = NULL;
        GetLogObject(&pLog);
    }
} g_logLibraryLoader;

HINSTANCE g_hInstance = NULL;

// The component's classes, in the order registration handles them.
const DSObjectMapEntry g_objectMap[] = {OBJECT_ENTRY(CLSID_CoFileSource, CCoFileSource)     //
                                        OBJECT_ENTRY(CLSID_FileSourcePage, FileSourcePage)  //
                                        {NULL, NULL}};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*lpReserved*/) {
    if (dwReason == DLL_PROCESS_ATTACH) {
        g_hInstance = hInstance;
        DisableThreadLibraryCalls(hInstance);
    }
    return TRUE;
}

// The component stays loaded while any of its objects lives or a client holds
// it with IClassFactory::LockServer.
STDAPI DllCanUnloadNow() {
    return CComModuleLock::GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return DSGetClassObject(g_objectMap, rclsid, riid, ppv);
}

// The module's path comes from the module itself, on Linux too, where no
// DllMain runs.
STDAPI DllRegisterServer() {
    return UpdateFileSourceRegistry(GetCurrentModule(), TRUE);
}

STDAPI DllUnregisterServer() {
    return UpdateFileSourceRegistry(GetCurrentModule(), FALSE);
}
