#include "DShowX/DSComBase.h"

LONG volatile CComModuleLock::s_nLockCount = 0;

LONG CComModuleLock::Lock() {
    return InterlockedIncrement(&s_nLockCount);
}

LONG CComModuleLock::Unlock() {
    const LONG nCount = InterlockedDecrement(&s_nLockCount);
    ASSERT(nCount >= 0);
    return nCount;
}

LONG CComModuleLock::GetLockCount() {
    return InterlockedCompareExchange(&s_nLockCount, 0, 0);
}

HRESULT CComObjectRootBase::InternalQueryInterface(void* pThis, const DSInterfaceEntry* pEntries, REFIID riid,
                                                   void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    ASSERT(pEntries != NULL && pEntries->pfnCast != NULL);
    if (!pEntries || !pEntries->piid)
        return E_NOINTERFACE;

    if (IsEqualIID(riid, IID_IUnknown)) {
        IUnknown* pUnk = pEntries->pfnCast(pThis);
        pUnk->AddRef();
        *ppv = pUnk;
        return S_OK;
    }
    for (const DSInterfaceEntry* pEntry = pEntries; pEntry->piid; ++pEntry) {
        if (!IsEqualIID(riid, *pEntry->piid))
            continue;
        if (!pEntry->pfnCast)
            return pEntry->pfnQuery(pThis, riid, ppv);
        IUnknown* pItf = pEntry->pfnCast(pThis);
        pItf->AddRef();
        *ppv = pItf;
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT DSGetClassObject(const DSObjectMapEntry* pMap, REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    for (const DSObjectMapEntry* p = pMap; p && p->pclsid; ++p)
        if (IsEqualCLSID(*p->pclsid, rclsid))
            return p->pfnGetClassObject(riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}
