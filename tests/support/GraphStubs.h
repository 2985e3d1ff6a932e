// Stand-ins for a filter graph, its filters and their pins, for tests of code
// that walks a graph. They answer the calls a walk makes (enumeration,
// information, connection and its media type), can be told to fail any of
// them, and count their references, so a test can see that every reference
// handed out was given back. Graph, filters and pins are owned by the test
// and never deleted through Release; enumerators are heap objects that count
// themselves.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "DShowX/DSTypes.h"

namespace testsupport {

// Enumerators handed out and not yet released, over all stand-ins.
long LiveStubEnumerators();

class StubPin : public IPin {
public:
    StubPin(IBaseFilter* pOwner, const wchar_t* pszName, PIN_DIRECTION dir);

    // Connects two pins both ways with the media type.
    static void Link(StubPin& out, StubPin& in, REFGUID majortype, REFGUID subtype);

    std::atomic<ULONG> m_nRef{1};
    IBaseFilter* m_pOwner;  // null: a pin that names no filter
    std::wstring m_name;
    PIN_DIRECTION m_dir;
    StubPin* m_pPeer = nullptr;
    CMType m_mt;
    HRESULT m_hrQueryPinInfo = S_OK;
    HRESULT m_hrConnectedTo = S_OK;  // returned instead of the connection when it is a failure
    HRESULT m_hrConnectionMediaType = S_OK;

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override { return ++m_nRef; }
    STDMETHOD_(ULONG, Release)() override { return --m_nRef; }
    STDMETHOD(Connect)(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHOD(ReceiveConnection)(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHOD(Disconnect)() override { return E_NOTIMPL; }
    STDMETHOD(ConnectedTo)(IPin** ppPin) override;
    STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* pmt) override;
    STDMETHOD(QueryPinInfo)(PIN_INFO* pInfo) override;
    STDMETHOD(QueryDirection)(PIN_DIRECTION* pPinDir) override;
    STDMETHOD(QueryId)(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHOD(EnumMediaTypes)(IEnumMediaTypes**) override { return E_NOTIMPL; }
    STDMETHOD(QueryInternalConnections)(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHOD(EndOfStream)() override { return E_NOTIMPL; }
    STDMETHOD(BeginFlush)() override { return E_NOTIMPL; }
    STDMETHOD(EndFlush)() override { return E_NOTIMPL; }
    STDMETHOD(NewSegment)(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_NOTIMPL; }
};

class StubFilter : public IBaseFilter {
public:
    StubFilter(IFilterGraph* pGraph, const wchar_t* pszName, REFCLSID clsid);

    std::atomic<ULONG> m_nRef{1};
    IFilterGraph* m_pGraph;
    std::wstring m_name;
    CLSID m_clsid;
    std::vector<StubPin*> m_pins;
    HRESULT m_hrQueryFilterInfo = S_OK;
    HRESULT m_hrGetClassID = S_OK;
    HRESULT m_hrEnumPins = S_OK;

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override { return ++m_nRef; }
    STDMETHOD_(ULONG, Release)() override { return --m_nRef; }
    STDMETHOD(GetClassID)(CLSID* pClassID) override;
    STDMETHOD(Stop)() override { return E_NOTIMPL; }
    STDMETHOD(Pause)() override { return E_NOTIMPL; }
    STDMETHOD(Run)(REFERENCE_TIME) override { return E_NOTIMPL; }
    STDMETHOD(GetState)(DWORD, FILTER_STATE*) override { return E_NOTIMPL; }
    STDMETHOD(SetSyncSource)(IReferenceClock*) override { return E_NOTIMPL; }
    STDMETHOD(GetSyncSource)(IReferenceClock**) override { return E_NOTIMPL; }
    STDMETHOD(EnumPins)(IEnumPins** ppEnum) override;
    STDMETHOD(FindPin)(LPCWSTR, IPin**) override { return E_NOTIMPL; }
    STDMETHOD(QueryFilterInfo)(FILTER_INFO* pInfo) override;
    STDMETHOD(JoinFilterGraph)(IFilterGraph*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHOD(QueryVendorInfo)(LPWSTR*) override { return E_NOTIMPL; }
};

// A graph of stand-in filters; real filters that join it (JoinFilterGraph)
// can be listed after them. It is also its own event sink, and counts the
// reconnections filters ask of it.
class StubGraph : public IFilterGraph, public IMediaEventSink {
public:
    std::atomic<ULONG> m_nRef{1};
    std::vector<StubFilter*> m_filters;
    std::vector<IBaseFilter*> m_joined;  // listed after m_filters, not counted
    HRESULT m_hrEnumFilters = S_OK;
    size_t m_nFailNextAt = (size_t)-1;  // the enumerator's Next fails here with E_FAIL
    std::atomic<int> m_nReconnects{0};
    HRESULT m_hrReconnect = S_OK;
    std::function<void()> m_onEnumFilters;  // called as a walk of the graph begins

    STDMETHOD(Notify)(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override { return ++m_nRef; }
    STDMETHOD_(ULONG, Release)() override { return --m_nRef; }
    STDMETHOD(AddFilter)(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHOD(RemoveFilter)(IBaseFilter*) override { return E_NOTIMPL; }
    STDMETHOD(EnumFilters)(IEnumFilters** ppEnum) override;
    STDMETHOD(FindFilterByName)(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    STDMETHOD(ConnectDirect)(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHOD(Reconnect)(IPin*) override {
        ++m_nReconnects;
        return m_hrReconnect;
    }
    STDMETHOD(Disconnect)(IPin*) override { return E_NOTIMPL; }
    STDMETHOD(SetDefaultSyncSource)() override { return E_NOTIMPL; }
};

}  // namespace testsupport
