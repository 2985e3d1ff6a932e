#include "DShowX/VEZizuradFilter.h"

#include <string.h>
#include <wchar.h>

#include "DShowX/DSEnums.h"
#include "DShowX/DSGraphDump.h"
#include "DShowX/DSParsers.h"
#include "DShowX/DSTrace.h"

// ---------------------------------------------------------------- _FilterBase

_FilterBase::_FilterBase() : m_pFilterGraphJoin(NULL), m_pEventSink(NULL), m_bReleased(false) {
    m_szName[0] = 0;
}

IBaseFilter* _FilterBase::ReferenceFilter() {
    // Only from a count above 0: a count that has reached 0 never rises
    // again for a weak holder.
    LONG nRef = m_dwRef.load();
    do {
        if (nRef <= 0)
            return NULL;
    } while (!m_dwRef.compare_exchange_weak(nRef, nRef + 1));
    // The count read was the one pinned for the teardown: give it back
    // without a Release, which would free the object a second time.
    if (m_bReleased.load()) {
        m_dwRef.fetch_sub(1);
        return NULL;
    }
    return GetFilterInterface();
}

_FilterBase::~_FilterBase() {
    ASSERT(m_eState == State_Stopped);
}

void _FilterBase::ParseGraphToLogFile() {
    CComPtr<IFilterGraph> spGraph;
    {
        CCritSecLock lock(m_cs);
        spGraph = m_pFilterGraphJoin;
    }
    DumpGraphToLog(spGraph);
}

void _FilterBase::ResetFilterBase() {
    ASSERT(m_eState == State_Stopped);
    {
        CCritSecLock state(m_csState);
        StoreState(State_Stopped);
    }
    m_szName[0] = 0;
    m_pFilterGraphJoin = NULL;
    m_pEventSink = NULL;
    m_spClock.Release();
}

void _FilterBase::SetFilterName(LPCWSTR pszName) {
    m_szName[0] = 0;
    if (!pszName)
        return;
    // Whole characters only: a name cut inside a multi-byte character would
    // not convert back.
    int cch = (int)wcslen(pszName);
    if (cch > FILTER_NAME_SIZE - 1)
        cch = FILTER_NAME_SIZE - 1;
    for (; cch > 0; --cch) {
        const int cb =
            WideCharToMultiByte(CP_ACP, 0, pszName, cch, m_szName, FILTER_NAME_SIZE - 1, NULL, NULL);
        if (cb > 0) {
            m_szName[cb] = 0;
            return;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            break;
    }
    m_szName[0] = 0;
}

// ---------------------------------------------------------------- _SourceFilterBase

bool _SourceFilterBase::IsPinConnected() {
    _PinBase* pPin = GetOutputPinBase();
    return pPin && pPin->IsConnected();
}

void _SourceFilterBase::DetachPin() {
    _PinBase* pPin = GetOutputPinBase();
    if (!pPin)
        return;
    ASSERT(!pPin->IsConnected());
    pPin->SetFilter(NULL, NULL);
}

HRESULT _SourceFilterBase::AttachPin() {
    _PinBase* pPin = GetOutputPinBase();
    ASSERT(pPin != NULL);
    if (!pPin)
        return E_FAIL;
    IBaseFilter* pFilter = GetFilterInterface();
    ASSERT(pFilter != NULL);
    pPin->SetFilter(this, pFilter);
    return S_OK;
}

void _SourceFilterBase::ResetSourceFilter() {
    ResetFilterBase();
    CCritSecLock state(m_csState);
    m_tStart = 0;
    m_bDumpGraph = true;
    m_bDumpPending = false;
}

HRESULT _SourceFilterBase::SetState(FILTER_STATE eState, REFERENCE_TIME tStart) {
    if (eState != State_Stopped && !IsPinConnected()) {
        StoreState(State_Stopped);
        m_bDumpGraph = true;
        const HRESULT hr = VFW_E_NOT_CONNECTED;
        DSTrace(TRACE_APP1, 8,
                "CCoFileSource::SetState(%s) - _SourceFilterBase::SetState() FAILED hr = 0x%08X",
                eState == State_Paused ? "State_Paused" : "State_Running", hr);
        return hr;
    }
    // Once each time the filter leaves the stopped state; written by
    // ChangeState once the locks are let go.
    if (eState != State_Stopped && m_bDumpGraph)
        m_bDumpPending = true;
    m_bDumpGraph = eState == State_Stopped;
    if (eState == State_Running)
        m_tStart = tStart;
    StoreState(eState);
    return S_OK;
}

// ---------------------------------------------------------------- CFilterBase

HRESULT CFilterBase::ReconnectPin(IPin* pPin) {
    DSTrace(TRACE_COM, 4, "%sCFilterBase::ReconnectPin\n", GetDebugPrefix());
    CComPtr<IFilterGraph> spGraph;
    {
        CCritSecLock lock(m_cs);
        spGraph = m_pFilterGraphJoin;
    }
    if (!spGraph)
        return RefuseCall(VFW_E_NOT_IN_GRAPH, "CFilterBase::ReconnectPin - the filter is in no graph");
    // The graph is called with no lock held: it calls back into the filter.
    CComPtr<IFilterGraph2> spGraph2;
    if (SUCCEEDED(spGraph->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&spGraph2))) &&
        spGraph2)
        return spGraph2->ReconnectEx(pPin, NULL);
    return spGraph->Reconnect(pPin);
}

STDMETHODIMP CFilterBase::GetClassID(CLSID* pClassID) {
    DSTrace(TRACE_COM, 8, "%sIBaseFilterImpl::GetClassID\n", GetDebugPrefix());
    if (!pClassID)
        return RefuseCall(E_INVALIDARG, "CFilterBase::GetClassID - null pClassID");
    *pClassID = GetFilterClassID();
    return S_OK;
}

HRESULT CFilterBase::ChangeState(FILTER_STATE eState, REFERENCE_TIME tStart) {
    HRESULT hr;
    bool bDump;
    {
        CCritSecLock lock(m_cs);
        CCritSecLock state(m_csState);
        hr = SetState(eState, tStart);
        bDump = m_bDumpPending;
        m_bDumpPending = false;
    }
    // The walk calls every filter of the graph, and reads need the state
    // lock: it runs with no lock of ours held, and only when there is a log
    // to write to.
    if (bDump)
        ParseGraphToLogFile();
    return hr;
}

STDMETHODIMP CFilterBase::Stop() {
    DSTrace(TRACE_COM, 8, "%sIBaseFilterImpl::Stop\n", GetDebugPrefix());
    ChangeState(State_Stopped, 0);
    return S_OK;
}

STDMETHODIMP CFilterBase::Pause() {
    DSTrace(TRACE_COM, 8, "%sIBaseFilterImpl::Pause\n", GetDebugPrefix());
    return ChangeState(State_Paused, 0);
}

STDMETHODIMP CFilterBase::Run(REFERENCE_TIME tStart) {
    CHAR sz[CONV_BUFFER_SIZE];
    DSTrace(TRACE_COM, 8, "%sIBaseFilterImpl::Run( %s )\n", GetDebugPrefix(), RefTime2Str(tStart, sz));
    return ChangeState(State_Running, tStart);
}

STDMETHODIMP CFilterBase::GetState(DWORD /*dwMilliSecsTimeout*/, FILTER_STATE* State) {
    DSTrace(TRACE_COM, 10, "%sIBaseFilterImpl::GetState\n", GetDebugPrefix());
    if (!State)
        return RefuseCall(E_POINTER, "CFilterBase::GetState - null State");
    *State = PeekState();
    return S_OK;
}

STDMETHODIMP CFilterBase::SetSyncSource(IReferenceClock* pClock) {
    DSTrace(TRACE_COM, 8, "%sIBaseFilterImpl::SetSyncSource\n", GetDebugPrefix());
    CCritSecLock lock(m_cs);
    m_spClock = pClock;
    return S_OK;
}

STDMETHODIMP CFilterBase::GetSyncSource(IReferenceClock** ppT) {
    DSTrace(TRACE_COM, 8, "%sIBaseFilterImpl::GetSyncSource\n", GetDebugPrefix());
    CCritSecLock lock(m_cs);
    if (!ppT)
        return RefuseCall(E_POINTER, "CFilterBase::GetSyncSource - null ppT");
    return m_spClock.CopyTo(ppT);
}

STDMETHODIMP CFilterBase::EnumPins(IEnumPins** ppEnum) {
    DSTrace(TRACE_COM, 10, "%sIBaseFilterImpl::EnumPins\n", GetDebugPrefix());
    CCritSecLock lock(m_cs);
    if (!ppEnum)
        return RefuseCall(E_POINTER, "CFilterBase::EnumPins - null ppEnum");
    return CPinEnum<_SourceFilterBase>::Create(this, 0, ppEnum);
}

STDMETHODIMP CFilterBase::FindPin(LPCWSTR Id, IPin** ppPin) {
    DSTrace(TRACE_COM, 8, "%sIBaseFilterImpl::FindPin\n", GetDebugPrefix());
    if (!ppPin || !Id)
        return RefuseCall(E_POINTER, "CFilterBase::FindPin - null ppPin or Id");
    *ppPin = NULL;
    CComPtr<IEnumPins> spEnum;
    HRESULT hr = EnumPins(&spEnum);
    if (FAILED(hr))
        return hr;
    spEnum->Reset();
    for (;;) {
        CComPtr<IPin> spPin;
        ULONG cFetched = 0;
        hr = spEnum->Next(1, &spPin, &cFetched);
        if (hr == S_FALSE)
            return VFW_E_NOT_FOUND;
        if (hr != S_OK)
            return FAILED(hr) ? hr : E_FAIL;
        ASSERT(cFetched == 1);
        ASSERT(spPin);
        if (!spPin)
            return E_FAIL;
        LPWSTR pszId = NULL;
        hr = spPin->QueryId(&pszId);
        if (FAILED(hr))
            return hr;
        const bool bMatch = pszId && wcscmp(pszId, Id) == 0;
        CoTaskMemFree(pszId);
        if (bMatch) {
            *ppPin = spPin.Detach();
            return S_OK;
        }
    }
}

STDMETHODIMP CFilterBase::QueryFilterInfo(FILTER_INFO* pInfo) {
    DSTrace(TRACE_COM, 8, "%sIBaseFilterImpl::QueryFilterInfo\n", GetDebugPrefix());
    if (!pInfo)
        return RefuseCall(E_INVALIDARG, "CFilterBase::QueryFilterInfo - null pInfo");
    pInfo->achName[0] = 0;
    CCritSecLock lock(m_cs);
    const int cch = MultiByteToWideChar(CP_ACP, 0, m_szName, -1, pInfo->achName, MAX_FILTER_NAME);
    if (cch <= 0)
        pInfo->achName[0] = 0;
    pInfo->achName[MAX_FILTER_NAME - 1] = 0;
    pInfo->pGraph = m_pFilterGraphJoin;
    if (pInfo->pGraph)
        pInfo->pGraph->AddRef();
    return S_OK;
}

STDMETHODIMP CFilterBase::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    DSTrace(TRACE_COM, 8, "%sIBaseFilterImpl::JoinFilterGraph\n", GetDebugPrefix());
    CCritSecLock lock(m_cs);
    m_pFilterGraphJoin = NULL;
    m_pEventSink = NULL;
    HRESULT hr = Filter_Activate(pGraph != NULL);
    if (FAILED(hr))
        return hr;
    SetFilterName(pName);
    m_pFilterGraphJoin = pGraph;
    if (!pGraph)
        return hr;
    // The sink is held without a reference, like the graph: the graph holds
    // the filter.
    IMediaEventSink* pSink = NULL;
    hr = pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&pSink));
    if (SUCCEEDED(hr) && pSink) {
        m_pEventSink = pSink;
        pSink->Release();
    }
    return hr;
}

// ---------------------------------------------------------------- property pages

HRESULT GetPropertyPages(const DSPropertyMapEntry* pMap, CAUUID* pPages) {
    DSTrace(TRACE_COM, 0, "ISpecifyPropertyPagesImpl::GetPages\n");
    if (!pPages)
        return E_POINTER;
    pPages->cElems = 0;
    pPages->pElems = NULL;
    ULONG nPages = 0;
    for (const DSPropertyMapEntry* p = pMap; p && p->pclsid; ++p)
        if (!IsEqualCLSID(*p->pclsid, CLSID_NULL))
            ++nPages;
    if (nPages == 0)
        return S_OK;
    GUID* pElems = static_cast<GUID*>(CoTaskMemAlloc(nPages * sizeof(GUID)));
    if (!pElems)
        return E_OUTOFMEMORY;
    ULONG nFilled = 0;
    for (const DSPropertyMapEntry* p = pMap; p->pclsid; ++p) {
        if (IsEqualCLSID(*p->pclsid, CLSID_NULL))
            continue;
        bool bDuplicate = false;
        for (ULONG i = 0; i < nFilled && !bDuplicate; ++i)
            bDuplicate = IsEqualCLSID(pElems[i], *p->pclsid) != FALSE;
        if (!bDuplicate)
            pElems[nFilled++] = *p->pclsid;
    }
    pPages->cElems = nFilled;
    pPages->pElems = pElems;
    return S_OK;
}
