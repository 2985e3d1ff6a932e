// COM object interfaces for the Linux build: IPersist, and the names of the
// interfaces the media framework's declarations mention without calling.
#pragma once

#include <unknwn.h>

struct IMoniker;
struct IBindCtx;
struct IEnumMoniker;
typedef IMoniker* LPMONIKER;
typedef IBindCtx* LPBC;

EXTERN_C const IID IID_IPersist;
DEFINE_GUID(IID_IPersist, 0x0000010c, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IPersist : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) = 0;
};
typedef IPersist* LPPERSIST;
