// Enumerators: one template, CAccessorEnum, implements the platform's
// enumerator interfaces (Next, Skip, Reset, Clone) over a source object
// through a small accessor class.
//
// An enumerator takes no snapshot: it holds a counted reference on its source
// and a position, and fetches the element at a position from the source at
// each call, so a change of the source shows in the next call.
//
// Concurrency: AddRef and Release are interlocked; Next, Skip, Reset and
// Clone take no lock (one enumerator serves one thread at a time). The
// accessors read the source without its lock; the reference keeps it alive.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "DShowX/DSComBase.h"
#include "DShowX/DSTrace.h"
#include "DShowX/DSTypes.h"

// What the accessors share: the source with one counted reference, taken on
// what TDerived::Counted(source) returns, and the checks a fetch begins with.
template <class TDerived, class TSource>
class CAccessorBase {
public:
    typedef TSource SourceType;

    CAccessorBase() : m_pSource(NULL) {}
    CAccessorBase(const CAccessorBase&) = delete;
    CAccessorBase& operator=(const CAccessorBase&) = delete;

    void SetSource(TSource* pSource) {
        if (pSource)
            TDerived::Counted(pSource)->AddRef();
        TSource* pOld = m_pSource;
        m_pSource = pSource;
        if (pOld)
            TDerived::Counted(pOld)->Release();
    }

    TSource* m_pSource;

protected:
    ~CAccessorBase() { SetSource(NULL); }

    template <class TData>
    HRESULT BeginGetData(TData** ppData) {
        ASSERT(m_pSource != NULL);
        if (!ppData)
            return RefuseCall(E_POINTER, "IEnum::Next - null result pointer");
        *ppData = NULL;
        return m_pSource ? S_OK : E_UNEXPECTED;
    }
};

// The pins of a filter: its output pin at position 0, when it has one.
// TFilter provides IBaseFilter* GetFilterInterface() and GetOutputPin(),
// which returns the pin object (anything with QueryInterface) or null. The
// reference on the filter is taken through its IBaseFilter.
template <class TFilter>
class CPinAccessor : public CAccessorBase<CPinAccessor<TFilter>, TFilter> {
public:
    typedef IEnumPins EnumInterface;
    typedef IPin* DataType;
    static const IID* EnumIID() { return &IID_IEnumPins; }
    static IBaseFilter* Counted(TFilter* pFilter) { return pFilter->GetFilterInterface(); }

    CPinAccessor() { DSTrace(TRACE_COM, 10, "CPinAccessor::Constructor\n"); }
    ~CPinAccessor() { DSTrace(TRACE_COM, 10, "CPinAccessor::Destructor\n"); }

    HRESULT GetData(ULONG nPos, IPin** ppData) {
        const HRESULT hr = this->BeginGetData(ppData);
        if (hr != S_OK)
            return hr;
        if (nPos != 0)
            return S_FALSE;
        auto pPin = this->m_pSource->GetOutputPin();
        if (!pPin)
            return S_FALSE;
        return pPin->QueryInterface(IID_IPin, reinterpret_cast<void**>(ppData));
    }

    void FreeData(IPin* pData) {
        if (pData)
            pData->Release();
    }
};

// The media types of a pin: its connection type as a list of at most one.
// TPin provides AddRef/Release and const CMType& GetPinMediaType(); the
// reference is taken on the pin itself.
template <class TPin>
class CMediaTypesAccessor : public CAccessorBase<CMediaTypesAccessor<TPin>, TPin> {
public:
    typedef IEnumMediaTypes EnumInterface;
    typedef AM_MEDIA_TYPE* DataType;
    static const IID* EnumIID() { return &IID_IEnumMediaTypes; }
    static TPin* Counted(TPin* pPin) { return pPin; }

    CMediaTypesAccessor() { DSTrace(TRACE_COM, 12, "CMediaTypesAccessor::Constructor\n"); }
    ~CMediaTypesAccessor() { DSTrace(TRACE_COM, 12, "CMediaTypesAccessor::Destructor\n"); }

    // An independent copy the caller frees with MTFree; E_FAIL when no copy
    // could be made.
    HRESULT GetData(ULONG nPos, AM_MEDIA_TYPE** ppData) {
        const HRESULT hr = this->BeginGetData(ppData);
        if (hr != S_OK)
            return hr;
        return this->m_pSource->GetPinMediaType().GetAt(nPos, ppData);
    }

    void FreeData(AM_MEDIA_TYPE* pData) {
        ASSERT(pData != NULL);
        MTFree(pData);
    }
};

// The enumerator object over one accessor. Created with CAccessorEnum::Create;
// each live enumerator holds the module lock (CComObject).
template <class TAccessor>
class CAccessorEnum : public TAccessor::EnumInterface, public CComObjectRootBase {
public:
    typedef typename TAccessor::EnumInterface EnumInterface;
    typedef typename TAccessor::DataType DataType;
    typedef typename TAccessor::SourceType SourceType;

    CAccessorEnum() : m_nPos(0), m_bOutOfSync(false) {}

    static const DSInterfaceEntry* GetInterfaceTable() {
        static const DSInterfaceEntry s_arrEntries[] = {
            {TAccessor::EnumIID(), &DSCastToInterface<CAccessorEnum, EnumInterface>, NULL},
            {NULL, NULL, NULL}};
        return s_arrEntries;
    }

    // An enumerator over pSource at position nStart, with one reference for
    // the caller.
    static HRESULT Create(SourceType* pSource, ULONG nStart, EnumInterface** ppEnum) {
        ASSERT(ppEnum != NULL);
        if (!ppEnum)
            return E_POINTER;
        *ppEnum = NULL;
        ASSERT(pSource != NULL);
        if (!pSource)
            return E_INVALIDARG;
        CComObject<CAccessorEnum>* p = NULL;
        HRESULT hr = CComObject<CAccessorEnum>::CreateObject(&p);
        if (FAILED(hr))
            return hr;
        p->m_accessor.SetSource(pSource);
        p->m_nPos = nStart;
        p->m_bOutOfSync = false;
        hr = p->QueryInterface(*TAccessor::EnumIID(), reinterpret_cast<void**>(ppEnum));
        p->Release();
        return hr;
    }

    STDMETHOD(Next)(ULONG cElems, DataType* pElems, ULONG* pcFetched) override {
        if (!pElems)
            return E_POINTER;
        if (pcFetched)
            *pcFetched = 0;
        else if (cElems >= 2)
            return E_INVALIDARG;
        if (m_bOutOfSync)
            return VFW_E_ENUM_OUT_OF_SYNC;

        ULONG nFetched = 0;
        HRESULT hr = S_OK;
        while (nFetched < cElems) {
            hr = m_accessor.GetData(m_nPos, &pElems[nFetched]);
            if (hr != S_OK)
                break;
            ++m_nPos;
            ++nFetched;
        }
        if (SUCCEEDED(hr)) {
            if (pcFetched)
                *pcFetched = nFetched;
            return nFetched == cElems ? S_OK : S_FALSE;
        }
        // No element survives a failure; the position goes back to where
        // this call began, so nothing is skipped.
        pElems[nFetched] = NULL;
        for (ULONG i = 0; i < nFetched; ++i) {
            m_accessor.FreeData(pElems[i]);
            pElems[i] = NULL;
        }
        m_nPos -= nFetched;
        if (hr == VFW_E_ENUM_OUT_OF_SYNC)
            m_bOutOfSync = true;
        return hr;
    }

    STDMETHOD(Skip)(ULONG cElems) override {
        if (m_bOutOfSync)
            return VFW_E_ENUM_OUT_OF_SYNC;
        // A count that runs past the last position ends there, with nothing.
        if (cElems > (ULONG)-1 - m_nPos) {
            m_nPos = (ULONG)-1;
            return S_FALSE;
        }
        const HRESULT hr = Probe(cElems ? m_nPos + cElems - 1 : m_nPos);
        if (SUCCEEDED(hr))
            m_nPos += cElems;
        return hr;
    }

    STDMETHOD(Reset)() override {
        m_nPos = 0;
        m_bOutOfSync = false;
        return S_OK;
    }

    STDMETHOD(Clone)(EnumInterface** ppEnum) override {
        if (m_bOutOfSync)
            return VFW_E_ENUM_OUT_OF_SYNC;
        const HRESULT hr = Probe(m_nPos);
        if (FAILED(hr))
            return hr;
        return Create(m_accessor.m_pSource, m_nPos, ppEnum);
    }

private:
    // Fetches the element at nPos and frees it at once: S_OK when there is
    // one, S_FALSE when there is none.
    HRESULT Probe(ULONG nPos) {
        DataType data = NULL;
        const HRESULT hr = m_accessor.GetData(nPos, &data);
        if (data)
            m_accessor.FreeData(data);
        if (hr == VFW_E_ENUM_OUT_OF_SYNC)
            m_bOutOfSync = true;
        return hr;
    }

    TAccessor m_accessor;
    ULONG m_nPos;       // index of the next element to fetch
    bool m_bOutOfSync;  // set by VFW_E_ENUM_OUT_OF_SYNC from the source; cleared by Reset
};

template <class TFilter>
using CPinEnum = CAccessorEnum<CPinAccessor<TFilter>>;
template <class TPin>
using CMediaTypesEnum = CAccessorEnum<CMediaTypesAccessor<TPin>>;
