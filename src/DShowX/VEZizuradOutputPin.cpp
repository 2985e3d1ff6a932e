#include "DShowX/VEZizuradOutputPin.h"

#include "DShowX/DSParsers.h"

namespace {

const char kBannerBegin[] = "  -------------------bbbbbbbbbb-------------------\n";
const char kBannerEnd[] = "  -------------------eeeeeeeeee-------------------\n";

// Names the filter a pin belongs to, by its class identifier.
// Asks the peer only when the line is wanted.
void Debug_FilterFromPin(DWORD dwCategory, UINT nLevel, IPin* pPin, LPCSTR pszPrefix) {
    if (!DSTraceWanted(dwCategory, nLevel))
        return;
    if (!pPin) {
        DSTrace(dwCategory, nLevel, "###Err### %sDebug_FilterFromPin(): Empty pin pointer\n", pszPrefix);
        return;
    }
    PIN_INFO rgPinInfo = {};
    HRESULT hr = pPin->QueryPinInfo(&rgPinInfo);
    if (FAILED(hr)) {
        DSTrace(dwCategory, nLevel, "###Err### %sDebug_FilterFromPin(): pPin->QueryPinInfo()=0x%X\n",
                pszPrefix, hr);
        return;
    }
    if (!rgPinInfo.pFilter) {
        DSTrace(dwCategory, nLevel, "###Err### %sDebug_FilterFromPin(): rgPinInfo.pFilter == NULL\n",
                pszPrefix);
        return;
    }
    CLSID clsid = GUID_NULL;
    hr = rgPinInfo.pFilter->GetClassID(&clsid);
    rgPinInfo.pFilter->Release();
    if (FAILED(hr)) {
        DSTrace(dwCategory, nLevel, "###Err### %sDebug_FilterFromPin(): pFilter->GetClassID()=0x%X\n",
                pszPrefix, hr);
        return;
    }
    CHAR szName[GUID_NAME_SIZE];
    Guid2Name(clsid, szName, sizeof(szName));
    DSTrace(dwCategory, nLevel, "%sfilter [%s]\n", pszPrefix, szName);
}

}  // namespace

STDMETHODIMP COutputPin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    DSTrace(TRACE_COM, 8, "%sIPinImpl::Connect\n", GetDebugPrefix());
    Debug_FilterFromPin(TRACE_GENERAL, 8, pReceivePin, "COutputPin: Connect() to ");
    DSTrace(TRACE_GENERAL, 8, kBannerBegin);

    if (!pReceivePin)
        return RefuseCall(E_POINTER, "COutputPin::Connect - null pReceivePin");
    ASSERT(m_ePinDir == PINDIR_OUTPUT);
    _FilterStateBase* const pFilter = GetFilter();
    if (!pFilter)
        return RefuseCall(E_UNEXPECTED, "COutputPin::Connect - the filter is in no graph");

    CCritSecLock lock(m_cs);
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (!IsCounterpart(pReceivePin))
        return VFW_E_INVALID_DIRECTION;
    // Without the state lock: the filter takes this pin's lock under it.
    if (pFilter->PeekState() != State_Stopped)
        return VFW_E_NOT_STOPPED;

    // Only this attempt counts: a peer that asked for the pull interface in
    // an earlier, failed attempt says nothing about this one.
    m_bReaderRequested.store(false);
    HRESULT hr;
    if (pmt && !IsWildcardType(pmt)) {
        // A caller's type, partial or whole, names the pin's own: it is
        // completed from it, or refused before the peer sees it.
        CMType mtWhole;
        hr = CompleteType(pmt, mtWhole);
        if (SUCCEEDED(hr))
            hr = AttemptConnection2(pReceivePin, &mtWhole);
    } else {
        hr = TryMediaTypes(pReceivePin);
    }
    if (SUCCEEDED(hr)) {
        if (!IsConnected()) {
            // The peer answered ReceiveConnection with a success code other
            // than S_OK: nothing is connected, so this is no success.
            hr = E_FAIL;
        } else if (m_bReaderRequested.load()) {
            hr = S_OK;
        } else {
            // Accepted, but the peer never asked for the pull interface.
            hr = E_FAIL;
            m_bReaderRequested.store(false);
            BreakConnection();
        }
    }

    DSTrace(TRACE_GENERAL, 8, "  IPinImpl::Connect, hr = 0x%X\n", hr);
    DSTrace(TRACE_GENERAL, 8, kBannerEnd);
    return hr;
}

STDMETHODIMP COutputPin::Disconnect() {
    DSTrace(TRACE_COM, 8, "%sIPinImpl::Disconnect() [%s]\n", GetDebugPrefix(), DirectionName());
    CCritSecLock lock(m_cs);
    if (!IsConnected())
        return S_FALSE;
    _FilterStateBase* const pFilter = GetFilter();
    if (!pFilter)
        return RefuseCall(E_UNEXPECTED, "COutputPin::Disconnect - the filter is in no graph");
    if (pFilter->PeekState() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    m_bReaderRequested.store(false);
    BreakConnection();
    return S_OK;
}

bool COutputPin::IsWildcardType(const AM_MEDIA_TYPE* pmt) {
    return IsEqualGUID(pmt->majortype, GUID_NULL) && IsEqualGUID(pmt->subtype, GUID_NULL);
}

bool COutputPin::NamesOwnType(const AM_MEDIA_TYPE* pmt) {
    CMType mtOwn;
    if (FAILED(CopyMediaTypeTo(mtOwn)))
        return false;
    // A null GUID of either side is "any": the pin without a file has a null
    // major type, one whose file is of no known kind a null subtype.
    const auto same = [](REFGUID a, REFGUID b) {
        return IsEqualGUID(a, GUID_NULL) || IsEqualGUID(b, GUID_NULL) || IsEqualGUID(a, b);
    };
    return same(pmt->majortype, mtOwn.majortype) && same(pmt->subtype, mtOwn.subtype);
}

HRESULT COutputPin::CompleteType(const AM_MEDIA_TYPE* pmt, CMType& mtWhole) {
    CMType mtOwn;
    HRESULT hr = CopyMediaTypeTo(mtOwn);
    if (SUCCEEDED(hr))
        hr = mtWhole.Set(pmt);
    if (FAILED(hr))
        return hr;
    if (!NamesOwnType(pmt))
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (IsEqualGUID(mtWhole.majortype, GUID_NULL))
        mtWhole.majortype = mtOwn.majortype;
    if (IsEqualGUID(mtWhole.subtype, GUID_NULL))
        mtWhole.subtype = mtOwn.subtype;
    return S_OK;
}

void COutputPin::BreakConnection() {
    SetConnectionType(NULL);
    IPin* pPeer = DetachConnected();
    if (pPeer) {
        pPeer->Disconnect();
        pPeer->Release();
    }
}

bool COutputPin::IsCounterpart(IPin* pPin) {
    PIN_DIRECTION ePinDirection = PINDIR_INPUT;
    if (!pPin || FAILED(pPin->QueryDirection(&ePinDirection)))
        return false;
    ASSERT(ePinDirection == PINDIR_INPUT || ePinDirection == PINDIR_OUTPUT);
    return ePinDirection != m_ePinDir;
}

HRESULT COutputPin::TryMediaTypes(IPin* pExternInputPin) {
    const HRESULT hr = AgreeExternMT(pExternInputPin);
    if (hr == S_OK)
        return hr;
    return AgreeInnerMT(pExternInputPin);
}

HRESULT COutputPin::AgreeExternMT(IPin* pExternInputPin) {
    CComPtr<IEnumMediaTypes> spEnum;
    const HRESULT hr = pExternInputPin->EnumMediaTypes(&spEnum);
    return AgreeMT(pExternInputPin, spEnum, hr, "AgreeExternMT");
}

HRESULT COutputPin::AgreeInnerMT(IPin* pExternInputPin) {
    CComPtr<IEnumMediaTypes> spEnum;
    const HRESULT hr = EnumMediaTypes(&spEnum);
    return AgreeMT(pExternInputPin, spEnum, hr, "AgreeInnerMT");
}

HRESULT COutputPin::AgreeMT(IPin* pExternInputPin, IEnumMediaTypes* pEnum, HRESULT hrEnum, LPCSTR pszName) {
    HRESULT hr = hrEnum;
    if (hr == S_OK) {
        DSTrace(TRACE_GENERAL, 8, "  %sTryMediaTypes\n", GetDebugPrefix());
        ASSERT(pExternInputPin != NULL && pEnum != NULL);
        hr = pEnum ? pEnum->Reset() : E_POINTER;
        if (SUCCEEDED(hr)) {
            hr = VFW_E_NO_ACCEPTABLE_TYPES;
            for (;;) {
                AM_MEDIA_TYPE* pmt = NULL;
                ULONG ulMediaCount = 0;
                if (pEnum->Next(1, &pmt, &ulMediaCount) != S_OK)
                    break;
                ASSERT(ulMediaCount == 1);
                ASSERT(pmt != NULL);
                const HRESULT hrTry = AttemptConnection2(pExternInputPin, pmt);
                MTFree(pmt);
                if (hrTry == S_OK) {
                    hr = S_OK;
                    break;
                }
            }
            if (hr == S_OK) {
                DSTrace(TRACE_GENERAL, 8, "  %s%s() succeeded\n", GetDebugPrefix(), pszName);
                return S_OK;
            }
        }
    }
    DSTrace(TRACE_GENERAL, 8, "  %s%s() FAILED, hr=0x%X\n", GetDebugPrefix(), pszName, hr);
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT COutputPin::AttemptConnection2(IPin* pExternInputPin, const AM_MEDIA_TYPE* pmt) {
    DSTrace(TRACE_GENERAL, 8, "  %sAttemptConnection$2\n", GetDebugPrefix());
    ASSERT(pmt != NULL);
    if (!pmt)
        return E_POINTER;
    Debug_MediaType(TRACE_APP1, 8, pmt);
    // A peer's type that names another kind of stream than the file's (an
    // MPEG-1 system stream for an MPEG-2 program stream) would have the peer
    // misread every byte.
    if (!CheckMediaType(pmt) || !NamesOwnType(pmt))
        return VFW_E_TYPE_NOT_ACCEPTED;

    // The connection's type only: the pin's own type stays what it offers.
    HRESULT hr = SetConnectionType(pmt);
    if (FAILED(hr))
        return hr;
    hr = AttemptConnection1(pExternInputPin);
    if (hr != S_OK)
        SetConnectionType(NULL);
    return hr;
}

HRESULT COutputPin::AttemptConnection1(IPin* pExternInputPin) {
    DSTrace(TRACE_GENERAL, 8, "  %sAttemptConnection$1\n", GetDebugPrefix());
    ASSERT(pExternInputPin != NULL);
    ASSERT(IsCounterpart(pExternInputPin));
    ASSERT(m_pFilter != NULL);

    // The peer gets its own copy: the pin's type may be replaced (a new file)
    // while the peer still looks at what it was offered.
    CMType mtOffer;
    HRESULT hr = CopyConnectionTypeTo(mtOffer);
    if (FAILED(hr))
        return hr;
    AttachConnected(pExternInputPin);
    hr = pExternInputPin->ReceiveConnection(static_cast<IPin*>(this), &mtOffer);
    if (hr != S_OK) {
        DSTrace(TRACE_GENERAL, 8,
                "  %sAttemptConnection$1 : pExternInputPin->ReceiveConnection() FAILED, hr = 0x%X\n",
                GetDebugPrefix(), hr);
        IPin* pPeer = DetachConnected();
        if (pPeer)
            pPeer->Release();
    } else {
        DSTrace(TRACE_GENERAL, 8, "  %sAttemptConnection$1 : pExternInputPin->ReceiveConnection() is OK\n",
                GetDebugPrefix());
    }
    return hr;
}
