// Stand-ins around the output pin: the filter that owns it, a scripted
// downstream input pin that records what the pin does to it, and a pin owned
// by a test filter.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <string>
#include <vector>

#include "CoFileSourceOutput.h"
#include "RegistrySandbox.h"

namespace testsupport {

// The owning filter: a state under a state lock and an IBaseFilter (only
// GetClassID answers).
class CTestFilter : public IBaseFilter, public _FilterStateBase, public CComObjectRootBase {
public:
    BEGIN_INTERFACE_TABLE(CTestFilter)
    INTERFACE_ENTRY(IBaseFilter)
    END_INTERFACE_TABLE()

    void SetFilterState(FILTER_STATE eState) {
        CCritSecLock lock(m_csState);
        StoreState(eState);
    }

    STDMETHOD(GetClassID)(CLSID* pClassID) override;
    STDMETHOD(Stop)() override { return E_NOTIMPL; }
    STDMETHOD(Pause)() override { return E_NOTIMPL; }
    STDMETHOD(Run)(REFERENCE_TIME) override { return E_NOTIMPL; }
    STDMETHOD(GetState)(DWORD, FILTER_STATE*) override { return E_NOTIMPL; }
    STDMETHOD(SetSyncSource)(IReferenceClock*) override { return E_NOTIMPL; }
    STDMETHOD(GetSyncSource)(IReferenceClock**) override { return E_NOTIMPL; }
    STDMETHOD(EnumPins)(IEnumPins**) override { return E_NOTIMPL; }
    STDMETHOD(FindPin)(LPCWSTR, IPin**) override { return E_NOTIMPL; }
    STDMETHOD(QueryFilterInfo)(FILTER_INFO*) override { return E_NOTIMPL; }
    STDMETHOD(JoinFilterGraph)(IFilterGraph*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHOD(QueryVendorInfo)(LPWSTR*) override { return E_NOTIMPL; }
};

// A downstream input pin run from a script: the types it enumerates, which
// offered subtypes it accepts and with what result, and whether it asks the
// connecting pin for IAsyncReader. It records the calls it gets.
class CScriptedInputPin : public IPin, public CComObjectRootMT {
public:
    BEGIN_INTERFACE_TABLE(CScriptedInputPin)
    INTERFACE_ENTRY(IPin)
    END_INTERFACE_TABLE()

    void FinalRelease();

    // ---- the script
    std::vector<std::pair<GUID, GUID>> m_offered;  // major type, subtype
    std::vector<GUID> m_accepted;                  // subtypes of MEDIATYPE_Stream it takes
    HRESULT m_hrAccept = S_OK;                     // ReceiveConnection's result for an accepted type
    bool m_bAskReader = true;
    PIN_DIRECTION m_eDir = PINDIR_INPUT;

    // ---- the record
    std::vector<std::string> m_calls;  // "Receive <subtype>", "Disconnect"; under the object lock
    std::atomic<int> m_nEndOfStream{0};
    std::vector<std::string> Calls();
    CComPtr<IPin> m_spConnector;
    CComPtr<IAsyncReader> m_spReader;

    STDMETHOD(Connect)(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHOD(ReceiveConnection)(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    STDMETHOD(Disconnect)() override;
    STDMETHOD(ConnectedTo)(IPin**) override { return E_NOTIMPL; }
    STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    // The owning filter, when a test gives it one (not counted).
    IBaseFilter* m_pOwner = NULL;
    STDMETHOD(QueryPinInfo)(PIN_INFO* pInfo) override;
    STDMETHOD(QueryDirection)(PIN_DIRECTION* pPinDir) override {
        *pPinDir = m_eDir;
        return S_OK;
    }
    STDMETHOD(QueryId)(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** ppEnum) override;
    STDMETHOD(QueryInternalConnections)(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHOD(EndOfStream)() override {
        ++m_nEndOfStream;
        return S_OK;
    }
    STDMETHOD(BeginFlush)() override { return E_NOTIMPL; }
    STDMETHOD(EndFlush)() override { return E_NOTIMPL; }
    STDMETHOD(NewSegment)(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_NOTIMPL; }
};

// A readable name of a subtype for the call record: "MPEG2", "NULL" or "other".
std::string SubtypeName(REFGUID subtype);

// The file source pin as the filter creates it ("Output", index 0), owned
// by a stopped test filter that has joined a graph. Seeking is off whatever
// the stored setting says; natively the setting the pin saves at release goes
// to a private store. The destructor disconnects and releases both.
class PinUnderTest {
public:
    PinUnderTest(UINT nIndex = 0, LPCSTR pszName = "Output");
    ~PinUnderTest();
    PinUnderTest(const PinUnderTest&) = delete;
    PinUnderTest& operator=(const PinUnderTest&) = delete;

    CFileSourceOutput* operator->() const { return m_pPin; }
    CComObject<CFileSourceOutput>* Pin() const { return m_pPin; }
    CComObject<CTestFilter>* Filter() const { return m_pFilter; }
    // Opens a file by its ANSI (test) path.
    HRESULT Load(const std::string& path);

private:
    RegistrySandbox m_registry;
    CComObject<CFileSourceOutput>* m_pPin = NULL;
    CComObject<CTestFilter>* m_pFilter = NULL;
};

// Creates a scripted pin (one reference for the caller).
CComObject<CScriptedInputPin>* NewScriptedPin();

// A wide string from a test path (ASCII).
std::wstring Widen(const std::string& s);

}  // namespace testsupport
