#include "DShowX/VEZizuradPin.h"

#include <uuids.h>

#include "DShowX/DSEnums.h"
#include "DShowX/DSParsers.h"

namespace {

// The source of a pin's media-type enumerator: a copy of the pin's type,
// taken when the enumerator was made.
class CMediaTypeSnapshot : public IUnknown, public CComObjectRootBase {
public:
    BEGIN_INTERFACE_TABLE(CMediaTypeSnapshot)
    INTERFACE_ENTRY(IUnknown)
    END_INTERFACE_TABLE()

    const CMType& GetPinMediaType() const { return m_mt; }

    CMType m_mt;
};

// Converts the pin's ANSI name into cchWide wide characters, terminated.
void NameToWide(LPCSTR pszName, WCHAR* pszWide, int cchWide) {
    pszWide[0] = 0;
    if (!MultiByteToWideChar(CP_ACP, 0, pszName, -1, pszWide, cchWide))
        pszWide[0] = 0;
    pszWide[cchWide - 1] = 0;
}

}  // namespace

bool IsAcceptablePinType(const AM_MEDIA_TYPE* pmt) {
    return pmt && IsEqualGUID(pmt->majortype, MEDIATYPE_Stream);
}

STDMETHODIMP IPinImpl::ConnectedTo(IPin** ppPin) {
    DSTrace(TRACE_COM, 10, "%sIPinImpl::ConnectedTo() [%s]\n", GetDebugPrefix(), DirectionName());
    if (!ppPin)
        return RefuseCall(E_POINTER, "IPinImpl::ConnectedTo - null ppPin");
    *ppPin = NULL;
    GetConnected(ppPin);
    return *ppPin ? S_OK : VFW_E_NOT_CONNECTED;
}

STDMETHODIMP IPinImpl::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    DSTrace(TRACE_COM, 8, "%sIPinImpl::ConnectionMediaType() [%s]\n", GetDebugPrefix(), DirectionName());
    if (!pmt)
        return RefuseCall(E_POINTER, "IPinImpl::ConnectionMediaType - null pmt");
    CCritSecLock lock(m_csConn);
    return m_spConnected ? MTCopy(pmt, &m_mtConn) : VFW_E_NOT_CONNECTED;
}

STDMETHODIMP IPinImpl::QueryPinInfo(PIN_INFO* pInfo) {
    DSTrace(TRACE_COM, 10, "%sIPinImpl::QueryPinInfo() [%s]\n", GetDebugPrefix(), DirectionName());
    if (!pInfo)
        return RefuseCall(E_POINTER, "IPinImpl::QueryPinInfo - null pInfo");
    // Never a null filter with S_OK: a caller may release what it gets, as
    // the interface allows.
    if (FAILED(GetOwnerFilter(&pInfo->pFilter)))
        return RefuseCall(VFW_E_NEED_OWNER, "IPinImpl::QueryPinInfo - the filter that owned the pin is gone");
    pInfo->dir = m_ePinDir;
    NameToWide(m_szName, pInfo->achName, MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP IPinImpl::QueryDirection(PIN_DIRECTION* pPinDir) {
    DSTrace(TRACE_COM, 10, "%sIPinImpl::QueryDirection() [%s]\n", GetDebugPrefix(), DirectionName());
    if (!pPinDir)
        return RefuseCall(E_POINTER, "IPinImpl::QueryDirection - null pPinDir");
    *pPinDir = m_ePinDir;
    return S_OK;
}

STDMETHODIMP IPinImpl::QueryId(LPWSTR* Id) {
    DSTrace(TRACE_COM, 10, "%sIPinImpl::QueryId() [%s]\n", GetDebugPrefix(), DirectionName());
    if (!Id)
        return RefuseCall(E_POINTER, "IPinImpl::QueryId - null Id");
    WCHAR szWide[PIN_NAME_SIZE];
    NameToWide(m_szName, szWide, PIN_NAME_SIZE);
    const size_t cb = (wcslen(szWide) + 1) * sizeof(WCHAR);
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc(cb));
    if (!*Id)
        return E_OUTOFMEMORY;
    memcpy(*Id, szWide, cb);
    return S_OK;
}

STDMETHODIMP IPinImpl::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    DSTrace(TRACE_COM, 8, "%sIPinImpl::QueryAccept() [%s]\n", GetDebugPrefix(), DirectionName());
    Debug_MediaType(TRACE_APP1, 8, pmt);
    const HRESULT hr = IsAcceptablePinType(pmt) ? S_OK : S_FALSE;
    DSTrace(TRACE_COM, 8, "%sIPinImpl::QueryAccept()=%s [%s]\n", GetDebugPrefix(),
            hr == S_OK ? "S_OK" : "S_FALSE", DirectionName());
    return hr;
}

STDMETHODIMP IPinImpl::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    DSTrace(TRACE_COM, 10, "%sIPinImpl::EnumMediaTypes() [%s]\n", GetDebugPrefix(), DirectionName());
    CCritSecLock lock(m_cs);
    if (!ppEnum)
        return RefuseCall(E_POINTER, "IPinImpl::EnumMediaTypes - null ppEnum");
    *ppEnum = NULL;
    CComObject<CMediaTypeSnapshot>* pSnapshot = NULL;
    HRESULT hr = CComObject<CMediaTypeSnapshot>::CreateObject(&pSnapshot);
    if (FAILED(hr))
        return hr;
    hr = CopyMediaTypeTo(pSnapshot->m_mt);
    if (SUCCEEDED(hr))
        hr = CMediaTypesEnum<CMediaTypeSnapshot>::Create(pSnapshot, 0, ppEnum);
    pSnapshot->Release();
    return hr;
}

STDMETHODIMP IPinImpl::QueryInternalConnections(IPin** apPin, ULONG* nPin) {
    DSTrace(TRACE_COM, 8, "%sIPinImpl::QueryInternalConnections not implemented\n", GetDebugPrefix());
    return E_NOTIMPL;
}
