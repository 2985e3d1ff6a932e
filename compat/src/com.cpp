// COM basics: task memory, GUID text, apartments, in-process class creation
// and the interface identifiers of IUnknown and IClassFactory.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

EXTERN_C const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
EXTERN_C const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
EXTERN_C const IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

// The thread's COM initialisations and their model.
thread_local int t_nInit = 0;
thread_local DWORD t_dwModel = COINIT_MULTITHREADED;

typedef HRESULT(STDAPICALLTYPE* PFN_DLLGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);

// The registered server module of a class, or "" when there is none.
std::string InprocServer(REFCLSID rclsid) {
    WCHAR wsz[39];
    StringFromGUID2(rclsid, wsz, 39);
    std::string key = "CLSID\\";
    for (int i = 0; i < 38; ++i)
        key += (char)wsz[i];
    key += "\\InprocServer32";
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return std::string();
    char path[4096];
    DWORD cb = sizeof(path) - 1, type = 0;
    const LONG r = RegQueryValueExA(hKey, NULL, NULL, &type, reinterpret_cast<BYTE*>(path), &cb);
    RegCloseKey(hKey);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::string();
    path[cb] = 0;
    return path;
}

}  // namespace

extern "C" {

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD dwCoInit) {
    if (dwCoInit & ~(DWORD)(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY))
        return E_INVALIDARG;
    const DWORD dwModel = dwCoInit & COINIT_APARTMENTTHREADED;
    if (t_nInit > 0) {
        if (dwModel != t_dwModel)
            return RPC_E_CHANGED_MODE;
        ++t_nInit;
        return S_FALSE;
    }
    t_nInit = 1;
    t_dwModel = dwModel;
    return S_OK;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void WINAPI CoUninitialize(void) {
    if (t_nInit > 0)
        --t_nInit;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                                LPVOID* ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (t_nInit == 0)
        return CO_E_NOTINITIALIZED;
    const std::string server = (dwClsContext & CLSCTX_INPROC_SERVER) ? InprocServer(rclsid) : std::string();
    if (server.empty())
        return REGDB_E_CLASSNOTREG;
    const HMODULE hModule = LoadLibraryA(server.c_str());
    if (!hModule)
        return CO_E_DLLNOTFOUND;
    const PFN_DLLGETCLASSOBJECT pfn = reinterpret_cast<PFN_DLLGETCLASSOBJECT>(
        reinterpret_cast<void (*)()>(GetProcAddress(hModule, "DllGetClassObject")));
    if (!pfn)
        return CO_E_ERRORINDLL;
    IClassFactory* pFactory = NULL;
    HRESULT hr = pfn(rclsid, IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
    if (FAILED(hr))
        return hr;
    if (!pFactory)
        return CO_E_ERRORINDLL;
    hr = pFactory->CreateInstance(pUnkOuter, riid, ppv);
    pFactory->Release();
    return hr;
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) {
    return malloc(cb ? cb : 1);
}
LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    if (pv && cb == 0) {
        free(pv);
        return NULL;
    }
    return realloc(pv, cb ? cb : 1);
}
void WINAPI CoTaskMemFree(LPVOID pv) {
    free(pv);
}

int WINAPI StringFromGUID2(REFGUID g, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < 39)
        return 0;
    char text[40];
    snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned)g.Data1,
             (unsigned)g.Data2, (unsigned)g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
             g.Data4[5], g.Data4[6], g.Data4[7]);
    for (int i = 0; i < 39; ++i)
        lpsz[i] = (OLECHAR)(unsigned char)text[i];
    return 39;
}

}  // extern "C"
