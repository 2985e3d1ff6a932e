#include "PinTestSupport.h"

#include <uuids.h>

#include <gtest/gtest.h>

namespace testsupport {

namespace {

// The scripted pin's media types, in its order.
class CListEnum : public IEnumMediaTypes, public CComObjectRootBase {
public:
    BEGIN_INTERFACE_TABLE(CListEnum)
    INTERFACE_ENTRY(IEnumMediaTypes)
    END_INTERFACE_TABLE()

    STDMETHOD(Next)(ULONG cTypes, AM_MEDIA_TYPE** ppTypes, ULONG* pcFetched) override {
        ULONG n = 0;
        while (n < cTypes && m_nPos < m_types.size()) {
            AM_MEDIA_TYPE* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
            MTInit(pmt, m_types[m_nPos].first, m_types[m_nPos].second);
            ppTypes[n++] = pmt;
            ++m_nPos;
        }
        if (pcFetched)
            *pcFetched = n;
        return n == cTypes ? S_OK : S_FALSE;
    }
    STDMETHOD(Skip)(ULONG cTypes) override {
        m_nPos += cTypes;
        return m_nPos <= m_types.size() ? S_OK : S_FALSE;
    }
    STDMETHOD(Reset)() override {
        m_nPos = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(IEnumMediaTypes**) override { return E_NOTIMPL; }

    std::vector<std::pair<GUID, GUID>> m_types;
    size_t m_nPos = 0;
};

}  // namespace

STDMETHODIMP CTestFilter::GetClassID(CLSID* pClassID) {
    *pClassID = CLSID_AsyncReader;
    return S_OK;
}

void CScriptedInputPin::FinalRelease() {
    m_spReader.Release();
    m_spConnector.Release();
}

std::vector<std::string> CScriptedInputPin::Calls() {
    CCritSecLock lock(m_cs);
    return m_calls;
}

STDMETHODIMP CScriptedInputPin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    {
        CCritSecLock lock(m_cs);
        m_calls.push_back("Receive " + SubtypeName(pmt->subtype));
    }
    if (m_bAskReader && !m_spReader)
        pConnector->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&m_spReader));
    bool bAccepted = false;
    for (const GUID& subtype : m_accepted)
        bAccepted = bAccepted || IsEqualGUID(subtype, pmt->subtype);
    if (!bAccepted || !IsEqualGUID(pmt->majortype, MEDIATYPE_Stream)) {
        m_spReader.Release();
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (m_hrAccept == S_OK)
        m_spConnector = pConnector;
    else
        m_spReader.Release();
    return m_hrAccept;
}

STDMETHODIMP CScriptedInputPin::Disconnect() {
    {
        CCritSecLock lock(m_cs);
        m_calls.push_back("Disconnect");
    }
    m_spReader.Release();
    m_spConnector.Release();
    return S_OK;
}

STDMETHODIMP CScriptedInputPin::QueryPinInfo(PIN_INFO* pInfo) {
    if (!m_pOwner)
        return E_NOTIMPL;
    pInfo->pFilter = m_pOwner;
    m_pOwner->AddRef();
    pInfo->dir = m_eDir;
    wcscpy(pInfo->achName, L"In");
    return S_OK;
}

STDMETHODIMP CScriptedInputPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    CComObject<CListEnum>* pEnum = NULL;
    const HRESULT hr = CComObject<CListEnum>::CreateObject(&pEnum);
    if (FAILED(hr))
        return hr;
    pEnum->m_types = m_offered;
    *ppEnum = pEnum;
    return S_OK;
}

std::string SubtypeName(REFGUID subtype) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_MPEG2_PROGRAM))
        return "MPEG2";
    if (IsEqualGUID(subtype, GUID_NULL))
        return "NULL";
    return "other";
}

CComObject<CScriptedInputPin>* NewScriptedPin() {
    CComObject<CScriptedInputPin>* p = NULL;
    EXPECT_EQ(S_OK, CComObject<CScriptedInputPin>::CreateObject(&p));
    return p;
}

std::wstring Widen(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

PinUnderTest::PinUnderTest(UINT nIndex, LPCSTR pszName) {
    EXPECT_EQ(S_OK, CComObject<CTestFilter>::CreateObject(&m_pFilter));
    EXPECT_EQ(S_OK, CreatePinInstance(&m_pPin, nIndex, pszName));
    if (m_pPin && m_pFilter) {
        m_pPin->SetFilter(m_pFilter, m_pFilter);
        m_pPin->SetSeekingAllowed(false);
    }
}

PinUnderTest::~PinUnderTest() {
    if (m_pPin) {
        m_pFilter->SetFilterState(State_Stopped);
        m_pPin->Disconnect();
        m_pPin->SetSeekingAllowed(false);
        m_pPin->SetFilter(NULL, NULL);
        m_pPin->Release();
    }
    if (m_pFilter)
        m_pFilter->Release();
}

HRESULT PinUnderTest::Load(const std::string& path) {
    return m_pPin->SetFileName(Widen(path).c_str(), NULL);
}

}  // namespace testsupport
