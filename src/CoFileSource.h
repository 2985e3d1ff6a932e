// CCoFileSource: the component's filter. A source filter with exactly one
// output pin (CFileSourceOutput, "Output"), created with the filter and kept
// until it is destroyed. It takes the file name through IFileSourceFilter,
// offers the control interface IOrvexFileSource and names its property page
// through ISpecifyPropertyPages. Graph membership, state and clock come from
// the library's filter base (DShowX/VEZizuradFilter.h, with its lock order).
//
// While the filter is in a graph its pin holds it (a plain pointer through
// which the pin reads the state, and a counted IBaseFilter): the filter and
// its pin hold each other, and the graph's removal of the filter breaks the
// cycle (Filter_Activate).
//
// Load and GetCurFile take neither filter lock: a Load waits for a growing
// file's first bytes and must not hold up the graph's state changes
// meanwhile. The pin serialises Loads itself, and answers GetCurFile from
// its current recording without waiting for one.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "CoFileSourceOutput.h"
#include "DShowX/VEZizuradFilter.h"
#include "IOrvexFileSource.h"

class CCoFileSource : public CFilterBase,
                      public IFileSourceFilter,
                      public IOrvexFileSource2,
                      public ISpecifyPropertyPagesImpl<CCoFileSource> {
public:
    CCoFileSource() : m_apOut(NULL) {}
    ~CCoFileSource();

    BEGIN_INTERFACE_TABLE(CCoFileSource)
    INTERFACE_ENTRY(IBaseFilter)
    INTERFACE_ENTRY(IFileSourceFilter)
    INTERFACE_ENTRY2(IOrvexFileSource, IOrvexFileSource2)
    INTERFACE_ENTRY(IOrvexFileSource2)
    INTERFACE_ENTRY(ISpecifyPropertyPages)
    INTERFACE_ENTRY2(IPersist, IBaseFilter)
    INTERFACE_ENTRY2(IMediaFilter, IBaseFilter)
    END_INTERFACE_TABLE()

    BEGIN_PROP_MAP(CCoFileSource)
    PROP_PAGE(CLSID_FileSourcePage)
    END_PROP_MAP()

    HRESULT FinalConstruct();
    void FinalRelease();

    // The filter base's hooks.
    LPCSTR GetDebugPrefix() const override { return "CCoFileSource::"; }
    const CLSID& GetFilterClassID() const override { return CLSID_CoFileSource; }
    _PinBase* GetOutputPinBase() override { return m_apOut; }
    IPin* GetOutputPin() override { return m_apOut; }
    HRESULT Filter_Activate(BOOL bJoin) REQUIRES(m_cs) override;
    // The base's state change, and the pin told of a stop or a start.
    HRESULT SetState(FILTER_STATE eState, REFERENCE_TIME tStart) REQUIRES(m_cs, m_csState) override;

    // IFileSourceFilter
    STDMETHOD(Load)(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
    STDMETHOD(GetCurFile)(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

    // IOrvexFileSource (CoFileSourceControl.cpp)
    STDMETHOD(SetBuffSize)(DWORD dwBuffSize) override;
    STDMETHOD(GetBuffSize)(DWORD* _pdwBuffSizeKb) override;
    STDMETHOD(GetFileSize)(LONGLONG* _pn64FileSize, LONG* _plWriteSpeed) override;
    STDMETHOD(GetReadPos)(LONGLONG* _pn64ReadPos, LONG* _plReadSpeed) override;
    STDMETHOD(GetWaitSize)(DWORD* _pdwWaitSize) override;
    STDMETHOD(IsSeekingSupported)() override;
    STDMETHOD(SetSeekingSupported)(BOOL bAllow) override;
    // IOrvexFileSource2
    STDMETHOD(GetMargin)(DWORD* pdwBytes, DWORD* pdwMilliseconds, BOOL* pbMeasured) override;
    STDMETHOD(SetMarginTime)(DWORD dwMilliseconds) override;

    CComObject<CFileSourceOutput>* m_apOut;  // the output pin, one reference

private:
    // Makes the downstream filter start again from the new file's first byte.
    void SeekDownstreamToStart();
    // The pin, or null after the assertion every method begins with.
    CFileSourceOutput* Pin();
};
