#include "GraphStubs.h"

#include <string.h>
#include <wchar.h>

namespace testsupport {
namespace {

std::atomic<long> g_nLiveEnumerators{0};

// An enumerator over a snapshot of items, failing Next at one position.
template <class IEnum, class IItem, const IID* piid>
class StubEnum : public IEnum {
public:
    StubEnum(std::vector<IItem*> items, size_t nFailAt) : m_items(std::move(items)), m_nFailAt(nFailAt) {
        ++g_nLiveEnumerators;
    }
    virtual ~StubEnum() { --g_nLiveEnumerators; }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, *piid)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++m_nRef; }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG n = --m_nRef;
        if (n == 0)
            delete this;
        return n;
    }
    STDMETHOD(Next)(ULONG c, IItem** pp, ULONG* pcFetched) override {
        ULONG n = 0;
        while (n < c && m_nPos < m_items.size()) {
            if (m_nPos == m_nFailAt)
                return E_FAIL;
            pp[n] = m_items[m_nPos++];
            pp[n++]->AddRef();
        }
        if (pcFetched)
            *pcFetched = n;
        return n == c ? S_OK : S_FALSE;
    }
    STDMETHOD(Skip)(ULONG) override { return E_NOTIMPL; }
    STDMETHOD(Reset)() override {
        m_nPos = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(IEnum**) override { return E_NOTIMPL; }

private:
    std::atomic<ULONG> m_nRef{1};
    std::vector<IItem*> m_items;
    size_t m_nFailAt;
    size_t m_nPos = 0;
};

template <class T>
HRESULT AnswerOwnInterface(T* pThis, REFIID riid, REFIID iidOwn, void** ppv) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iidOwn)) {
        *ppv = pThis;
        pThis->AddRef();
        return S_OK;
    }
    *ppv = NULL;
    return E_NOINTERFACE;
}

void CopyName(const std::wstring& name, WCHAR* achName, size_t cchMax) {
    wcsncpy(achName, name.c_str(), cchMax - 1);
    achName[cchMax - 1] = 0;
}

}  // namespace

long LiveStubEnumerators() {
    return g_nLiveEnumerators;
}

// ---------------------------------------------------------------- pin

StubPin::StubPin(IBaseFilter* pOwner, const wchar_t* pszName, PIN_DIRECTION dir)
    : m_pOwner(pOwner), m_name(pszName), m_dir(dir) {}

void StubPin::Link(StubPin& out, StubPin& in, REFGUID majortype, REFGUID subtype) {
    out.m_pPeer = &in;
    in.m_pPeer = &out;
    out.m_mt.majortype = in.m_mt.majortype = majortype;
    out.m_mt.subtype = in.m_mt.subtype = subtype;
}

STDMETHODIMP StubPin::QueryInterface(REFIID riid, void** ppv) {
    return AnswerOwnInterface(this, riid, IID_IPin, ppv);
}

STDMETHODIMP StubPin::ConnectedTo(IPin** ppPin) {
    *ppPin = NULL;
    if (FAILED(m_hrConnectedTo))
        return m_hrConnectedTo;
    if (!m_pPeer)
        return VFW_E_NOT_CONNECTED;
    *ppPin = m_pPeer;
    m_pPeer->AddRef();
    return S_OK;
}

STDMETHODIMP StubPin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    memset(pmt, 0, sizeof(*pmt));
    if (FAILED(m_hrConnectionMediaType))
        return m_hrConnectionMediaType;
    if (!m_pPeer)
        return VFW_E_NOT_CONNECTED;
    return MTCopy(pmt, &m_mt);
}

STDMETHODIMP StubPin::QueryPinInfo(PIN_INFO* pInfo) {
    if (FAILED(m_hrQueryPinInfo))
        return m_hrQueryPinInfo;
    pInfo->pFilter = m_pOwner;
    if (m_pOwner)
        m_pOwner->AddRef();
    pInfo->dir = m_dir;
    CopyName(m_name, pInfo->achName, MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP StubPin::QueryDirection(PIN_DIRECTION* pPinDir) {
    *pPinDir = m_dir;
    return S_OK;
}

// ---------------------------------------------------------------- filter

StubFilter::StubFilter(IFilterGraph* pGraph, const wchar_t* pszName, REFCLSID clsid)
    : m_pGraph(pGraph), m_name(pszName), m_clsid(clsid) {}

STDMETHODIMP StubFilter::QueryInterface(REFIID riid, void** ppv) {
    return AnswerOwnInterface(this, riid, IID_IBaseFilter, ppv);
}

STDMETHODIMP StubFilter::GetClassID(CLSID* pClassID) {
    if (FAILED(m_hrGetClassID))
        return m_hrGetClassID;
    *pClassID = m_clsid;
    return S_OK;
}

STDMETHODIMP StubFilter::EnumPins(IEnumPins** ppEnum) {
    *ppEnum = NULL;
    if (FAILED(m_hrEnumPins))
        return m_hrEnumPins;
    *ppEnum = new StubEnum<IEnumPins, IPin, &IID_IEnumPins>(std::vector<IPin*>(m_pins.begin(), m_pins.end()),
                                                            (size_t)-1);
    return S_OK;
}

STDMETHODIMP StubFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (FAILED(m_hrQueryFilterInfo))
        return m_hrQueryFilterInfo;
    CopyName(m_name, pInfo->achName, MAX_FILTER_NAME);
    pInfo->pGraph = m_pGraph;
    if (m_pGraph)
        m_pGraph->AddRef();
    return S_OK;
}

// ---------------------------------------------------------------- graph

STDMETHODIMP StubGraph::QueryInterface(REFIID riid, void** ppv) {
    if (IsEqualIID(riid, IID_IMediaEventSink)) {
        *ppv = static_cast<IMediaEventSink*>(this);
        AddRef();
        return S_OK;
    }
    return AnswerOwnInterface(static_cast<IFilterGraph*>(this), riid, IID_IFilterGraph, ppv);
}

STDMETHODIMP StubGraph::EnumFilters(IEnumFilters** ppEnum) {
    *ppEnum = NULL;
    if (FAILED(m_hrEnumFilters))
        return m_hrEnumFilters;
    if (m_onEnumFilters)
        m_onEnumFilters();
    std::vector<IBaseFilter*> filters(m_filters.begin(), m_filters.end());
    filters.insert(filters.end(), m_joined.begin(), m_joined.end());
    *ppEnum = new StubEnum<IEnumFilters, IBaseFilter, &IID_IEnumFilters>(std::move(filters), m_nFailNextAt);
    return S_OK;
}

}  // namespace testsupport
