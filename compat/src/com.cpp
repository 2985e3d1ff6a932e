// COM basics: task memory, GUID text and the interface identifiers of IUnknown
// and IClassFactory.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

EXTERN_C const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
EXTERN_C const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
EXTERN_C const IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

extern "C" {

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
