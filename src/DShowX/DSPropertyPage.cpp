#include "DShowX/DSPropertyPage.h"

#include <new>

HRESULT CPropertyPageObjects::Set(ULONG nObjects, IUnknown** ppUnk) {
    if (nObjects && !ppUnk)
        return E_POINTER;
    IUnknown** ppNew = NULL;
    if (nObjects) {
        ppNew = new (std::nothrow) IUnknown*[nObjects];
        if (!ppNew)
            return E_OUTOFMEMORY;
        for (ULONG i = 0; i < nObjects; ++i) {
            ppNew[i] = ppUnk[i];
            if (ppNew[i])
                ppNew[i]->AddRef();
        }
    }
    Clear();
    m_ppUnk = ppNew;
    m_nObjects = nObjects;
    return S_OK;
}

void CPropertyPageObjects::Clear() {
    IUnknown** ppOld = m_ppUnk;
    const ULONG nOld = m_nObjects;
    m_ppUnk = NULL;
    m_nObjects = 0;
    for (ULONG i = 0; i < nOld; ++i)
        if (ppOld[i])
            ppOld[i]->Release();
    delete[] ppOld;
}

HRESULT CPropertyPageObjects::QueryFirst(REFIID riid, void** ppv) const {
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    for (ULONG i = 0; i < m_nObjects; ++i)
        if (m_ppUnk[i] && SUCCEEDED(m_ppUnk[i]->QueryInterface(riid, ppv)) && *ppv)
            return S_OK;
    *ppv = NULL;
    return E_NOINTERFACE;
}

HRESULT DSLoadTaskMemString(HINSTANCE hInstance, UINT nID, LPOLESTR* ppsz) {
    *ppsz = NULL;
    if (nID == 0)
        return S_OK;
    CHAR szText[1024];
    const int cch = LoadStringA(hInstance, nID, szText, sizeof(szText));
    if (cch <= 0)
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    const int cchWide = MultiByteToWideChar(CP_ACP, 0, szText, -1, NULL, 0);
    if (cchWide <= 0)
        return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    LPOLESTR psz = static_cast<LPOLESTR>(CoTaskMemAlloc(cchWide * sizeof(WCHAR)));
    if (!psz)
        return E_OUTOFMEMORY;
    MultiByteToWideChar(CP_ACP, 0, szText, -1, psz, cchWide);
    *ppsz = psz;
    return S_OK;
}
