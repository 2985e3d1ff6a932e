// The library's filters: graph membership, state and clock (_FilterBase and
// IBaseFilterImpl), the single output pin of a source filter and its state
// change (_SourceFilterBase), pin reconnection (CFilterBase) and the list of
// property pages (ISpecifyPropertyPagesImpl).
//
// Locks, in the order they are taken (never the other way):
//   object lock (the object root's, recursive) -> state lock (m_csState of
//   _FilterStateBase, recursive) -> the pin's locks.
//   The object lock guards the graph pointers, the name, the clock and the
//   pin's attachment; JoinFilterGraph, SetSyncSource, GetSyncSource,
//   EnumPins and QueryFilterInfo take it. Stop, Pause and Run take the
//   object lock and then the state lock, which serialises state changes;
//   the pin's read path reads the state under the state lock alone.
//   GetState and GetClassID take none. Neither lock is held while the filter
//   calls into the graph.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "DShowX/DSComBase.h"
#include "DShowX/VEZizuradPinBase.h"

#define FILTER_NAME_SIZE 128

// What every filter keeps: its name in the graph, the graph and its event
// sink (not counted: the graph holds the filter), the clock (counted), and the
// state with its lock (_FilterStateBase).
class _FilterBase : public _FilterStateBase, public CComObjectRootMT {
public:
    _FilterBase();
    virtual ~_FilterBase();

    // The text that begins the filter's trace lines.
    virtual LPCSTR GetDebugPrefix() const = 0;
    // The filter's IBaseFilter (its identity for references and pins).
    virtual IBaseFilter* GetFilterInterface() = 0;

    // Writes the picture of the whole graph to the outside log library.
    void ParseGraphToLogFile() EXCLUDES(m_cs, m_csState);

    // The reference count, watched for its pins' sake. A pin holds its
    // filter without a reference outside a graph and asks ReferenceFilter
    // for one; the object is torn down with its count pinned at 1 (for
    // FinalRelease), which a plain test of the count would take for a live
    // object. So the count's fall to 0 is noted first (m_bReleased), and a
    // reference taken after it is given back at once. The count's rise from
    // 0 to 1 is its creation's (no reference is ever taken from 0), which
    // clears the note that its FinalConstruct's temporary reference left.
    ULONG InternalAddRef() {
        const ULONG nRef = CComObjectRootMT::InternalAddRef();
        if (nRef == 1)
            m_bReleased.store(false);
        return nRef;
    }
    ULONG InternalRelease() {
        const ULONG nRef = CComObjectRootMT::InternalRelease();
        if (nRef == 0)
            m_bReleased.store(true);
        return nRef;
    }
    IBaseFilter* ReferenceFilter() override;

protected:
    // Forgets the graph, the name and the clock; the state becomes stopped.
    void ResetFilterBase() REQUIRES(m_cs) EXCLUDES(m_csState);
    // Stores the name given by JoinFilterGraph: converted to the ANSI code
    // page, at most FILTER_NAME_SIZE - 1 bytes of whole characters.
    void SetFilterName(LPCWSTR pszName) REQUIRES(m_cs);

    CHAR m_szName[FILTER_NAME_SIZE] GUARDED_BY(m_cs);
    IFilterGraph* m_pFilterGraphJoin GUARDED_BY(m_cs);
    IMediaEventSink* m_pEventSink GUARDED_BY(m_cs);
    CComPtr<IReferenceClock> m_spClock GUARDED_BY(m_cs);

private:
    std::atomic<bool> m_bReleased;  // the count has fallen to 0 (see InternalRelease)
};

// A source filter with one output pin: the pin's attachment while the filter
// is in a graph, and the rule that a filter whose pin is not connected cannot
// leave the stopped state. The graph is dumped to the log each time the
// filter leaves the stopped state, by CFilterBase once it holds no lock.
class _SourceFilterBase : public _FilterBase {
public:
    _SourceFilterBase() : m_tStart(0), m_bDumpGraph(true), m_bDumpPending(false) {}

    // The output pin: its base and its IPin, or null without a pin.
    virtual _PinBase* GetOutputPinBase() = 0;
    virtual IPin* GetOutputPin() = 0;

    // The state change behind Stop, Pause and Run. Paused or Running with
    // the pin not connected leaves the filter stopped and returns
    // VFW_E_NOT_CONNECTED.
    virtual HRESULT SetState(FILTER_STATE eState, REFERENCE_TIME tStart) REQUIRES(m_cs, m_csState);

protected:
    bool IsPinConnected();
    // The pin lets go of the filter (assertion: the pin is not connected).
    void DetachPin();
    // The pin holds the filter while it is in a graph.
    HRESULT AttachPin();
    // ResetFilterBase, and the source state: start time 0, dump armed.
    void ResetSourceFilter() REQUIRES(m_cs) EXCLUDES(m_csState);

    REFERENCE_TIME m_tStart GUARDED_BY(m_csState);
    bool m_bDumpGraph GUARDED_BY(m_csState);    // the next Pause or Run writes the graph to the log
    bool m_bDumpPending GUARDED_BY(m_csState);  // SetState asks its caller to write it, with no lock held
};

// IBaseFilter (with IMediaFilter and IPersist) over _SourceFilterBase, and
// pin reconnection.
class CFilterBase : public IBaseFilter, public _SourceFilterBase {
public:
    // Called by JoinFilterGraph, joining or leaving.
    virtual HRESULT Filter_Activate(BOOL bJoin) REQUIRES(m_cs) = 0;
    virtual const CLSID& GetFilterClassID() const = 0;

    IBaseFilter* GetFilterInterface() override { return this; }

    // Has the graph reconnect the pin (IFilterGraph2::ReconnectEx, else
    // IFilterGraph::Reconnect); VFW_E_NOT_IN_GRAPH outside a graph.
    HRESULT ReconnectPin(IPin* pPin);

    // IPersist
    STDMETHOD(GetClassID)(CLSID* pClassID) override;
    // IMediaFilter
    STDMETHOD(Stop)() override;
    STDMETHOD(Pause)() override;
    STDMETHOD(Run)(REFERENCE_TIME tStart) override;
    STDMETHOD(GetState)(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    STDMETHOD(SetSyncSource)(IReferenceClock* pClock) override;
    STDMETHOD(GetSyncSource)(IReferenceClock** pClock) override;
    // IBaseFilter
    STDMETHOD(EnumPins)(IEnumPins** ppEnum) override;
    STDMETHOD(FindPin)(LPCWSTR Id, IPin** ppPin) override;
    STDMETHOD(QueryFilterInfo)(FILTER_INFO* pInfo) override;
    STDMETHOD(JoinFilterGraph)(IFilterGraph* pGraph, LPCWSTR pName) override;
    STDMETHOD(QueryVendorInfo)(LPWSTR* pVendorInfo) override { return E_NOTIMPL; }

private:
    HRESULT ChangeState(FILTER_STATE eState, REFERENCE_TIME tStart) EXCLUDES(m_cs, m_csState);
};

// ISpecifyPropertyPages over the class's property map:
//   BEGIN_PROP_MAP(CThing)
//       PROP_PAGE(CLSID_ThingPage)
//   END_PROP_MAP()
// Entries with a null class identifier are skipped, duplicates left out.
struct DSPropertyMapEntry {
    const CLSID* pclsid;
};
#define BEGIN_PROP_MAP(cls)                             \
    static const DSPropertyMapEntry* GetPropertyMap() { \
        static const DSPropertyMapEntry s_arrPages[] = {
#define PROP_PAGE(clsid) {&clsid},
#define END_PROP_MAP() \
    { NULL }           \
    }                  \
    ;                  \
    return s_arrPages; \
    }

// The pages of a property map, in CoTaskMemAlloc memory.
HRESULT GetPropertyPages(const DSPropertyMapEntry* pMap, CAUUID* pPages);

template <class T>
class ISpecifyPropertyPagesImpl : public ISpecifyPropertyPages {
public:
    STDMETHOD(GetPages)(CAUUID* pPages) override { return GetPropertyPages(T::GetPropertyMap(), pPages); }
};
