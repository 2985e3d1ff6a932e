// The library's pins, first layer: what a pin needs of the filter that owns
// it (_FilterStateBase), what every pin holds (_PinBase), and the creation of
// a pin object (CreatePinInstance).
//
// Lock order, filter and pin together:
//   filter object lock -> filter state lock -> pin lock -> the pin's own
//   locks below it (the concrete pin documents them) -> m_csConn.
// A pin never takes a filter lock while it holds a lock of its own: it reads
// the filter's state under the state lock only from paths that hold nothing
// (the read path), and otherwise with one atomic read (PeekState).
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "DShowX/DSComBase.h"
#include "DShowX/DSTypes.h"

// The part of a filter that its pins depend on: the filter's state, the
// lock that serialises state changes, and a reference to the filter for a
// pin that holds none. The library's filter base derives from it; a pin
// points to it while the filter is in a graph (m_pFilter, not counted), and
// as its owner from creation until the filter goes (m_pOwner, not counted).
//
// m_csState serialises changes of m_eState (a change may do more than store
// the value). m_eState itself is atomic, so it can also be read without the
// lock.
class _FilterStateBase {
public:
    _FilterStateBase() : m_eState(State_Stopped) {}
    virtual ~_FilterStateBase() = default;
    _FilterStateBase(const _FilterStateBase&) = delete;
    _FilterStateBase& operator=(const _FilterStateBase&) = delete;

    // The state once no change is in progress (taken under the state lock).
    FILTER_STATE GetStateLocked() EXCLUDES(m_csState) {
        CCritSecLock lock(m_csState);
        return m_eState.load();
    }
    // The state as it is now, without waiting for a change in progress.
    FILTER_STATE PeekState() const { return m_eState.load(); }
    // For the filter's state change.
    void StoreState(FILTER_STATE eState) REQUIRES(m_csState) { m_eState.store(eState); }
    // The filter's IBaseFilter with a new reference for a caller that holds
    // none (its pin, outside a graph), or null once the filter's last
    // reference has gone: never from a count that has reached 0, also not
    // while the object is torn down. Null here; the library's filter base
    // answers it.
    virtual IBaseFilter* ReferenceFilter() { return NULL; }

protected:
    std::atomic<FILTER_STATE> m_eState;  // written under m_csState
    CCriticalSection m_csState;
};

// Text that begins a pin's trace lines, and its size.
#define PIN_NAME_SIZE 128
#define PIN_PREFIX_SIZE 128

// What every pin holds: index, direction, name, connection, owning filter,
// media types and trace prefix.
//
// Locks:
//   the pin lock (the object root's m_cs, recursive) serialises connecting
//     and disconnecting: held by Connect and Disconnect across their calls
//     to the peer, and by SetSink for m_pQualitySink. The read path of a
//     pull pin never takes it: a peer may read from its own thread while
//     Connect waits in ReceiveConnection.
//   m_csConn guards the values of m_spConnected, m_spFilter, m_pOwner, m_mt
//     and m_mtConn. It is held only to copy or assign them (the copies add
//     references) and while the owner hands out a reference to itself (an
//     interlocked operation, no lock), never while calling a peer, and
//     nothing is taken after it. Whoever assigns m_spConnected also holds
//     the pin lock. The owner clears m_pOwner under it before it is torn
//     down, so a filter seen there is whole.
// m_pFilter and m_bReaderRequested are atomic; m_nIndex, m_szName and
// m_szDebugPrefix are set before the pin is handed out and then only read.
class _PinBase : public CComObjectRootMT {
public:
    _PinBase(PIN_DIRECTION eDir, LPCSTR pszDebugPrefix);
    virtual ~_PinBase();

    virtual LPCSTR GetDebugPrefix() const { return m_szDebugPrefix; }
    // "Out" or "In", for the "[%s]" of the traces.
    LPCSTR DirectionName() const { return m_ePinDir == PINDIR_OUTPUT ? "Out" : "In"; }

    // Index and name, set once by CreatePinInstance: the name cut to 127
    // characters, or "Out %u" / "In %u" when it is null or empty.
    void SetIdentity(UINT nIndex, LPCSTR pszName);
    LPCSTR GetName() const { return m_szName; }
    UINT GetIndex() const { return m_nIndex; }

    // The owning filter joins (both set) or leaves (both null) a graph.
    void SetFilter(_FilterStateBase* pFilter, IBaseFilter* pIBaseFilter) EXCLUDES(m_csConn);
    _FilterStateBase* GetFilter() const { return m_pFilter.load(); }
    // The filter that owns the pin, in a graph or not: set by the filter
    // when it creates the pin, null before the filter is torn down. Not
    // counted: the filter holds the pin.
    void SetOwner(_FilterStateBase* pOwner) EXCLUDES(m_csConn);
    // *ppFilter = the owning filter, add-referenced: the graph's filter while
    // it is in one, else the owner while it still lives. VFW_E_NEED_OWNER
    // (and null) once the owner has gone, or for a pin no filter owns.
    HRESULT GetOwnerFilter(IBaseFilter** ppFilter) EXCLUDES(m_csConn);

    bool IsConnected() EXCLUDES(m_csConn);
    // *ppPin = the connected pin, add-referenced, or null.
    void GetConnected(IPin** ppPin) EXCLUDES(m_csConn);

    // The pin's own media type (m_mt: what it offers, the file's), never a
    // connecting caller's: copies it into mt, or assigns a new one (null
    // empties it). On failure the target keeps its value.
    HRESULT CopyMediaTypeTo(CMType& mt) EXCLUDES(m_csConn);
    // MTCopy of the pin's media type into fresh storage (*pmt is not freed).
    HRESULT CopyMediaTypeRecord(AM_MEDIA_TYPE* pmt) EXCLUDES(m_csConn);
    HRESULT SetMediaType(const AM_MEDIA_TYPE* pmt) EXCLUDES(m_csConn);
    // The type of the connection (m_mtConn), set while connecting.
    HRESULT CopyConnectionTypeTo(CMType& mt) EXCLUDES(m_csConn);
    HRESULT SetConnectionType(const AM_MEDIA_TYPE* pmt) EXCLUDES(m_csConn);

    void SetQualitySink(IQualityControl* piqc) EXCLUDES(m_cs);

    PIN_DIRECTION m_ePinDir;

protected:
    // The connected pin becomes pPin (add-referenced), or the old one is
    // handed to the caller with its reference (pPin null).
    void AttachConnected(IPin* pPin) REQUIRES(m_cs) EXCLUDES(m_csConn);
    IPin* DetachConnected() REQUIRES(m_cs) EXCLUDES(m_csConn);

    CCriticalSection m_csConn ACQUIRED_AFTER(m_cs);
    UINT m_nIndex;
    CHAR m_szName[PIN_NAME_SIZE];
    CComPtr<IPin> m_spConnected GUARDED_BY(m_csConn);  // assigned under m_cs too
    IQualityControl* m_pQualitySink GUARDED_BY(m_cs);  // not counted
    std::atomic<_FilterStateBase*> m_pFilter;
    CComPtr<IBaseFilter> m_spFilter GUARDED_BY(m_csConn);
    _FilterStateBase* m_pOwner GUARDED_BY(m_csConn);  // not counted
    CMType m_mt GUARDED_BY(m_csConn);                 // the pin's own type, offered by EnumMediaTypes
    CMType m_mtConn GUARDED_BY(m_csConn);             // the connection's type
    CHAR m_szDebugPrefix[PIN_PREFIX_SIZE];
    // Set when a caller obtains the pull interface; cleared by Disconnect
    // and by a Connect whose peer never asked for it.
    std::atomic<bool> m_bReaderRequested;
};

// Creates a pin object of class TPin (its FinalConstruct included) and names
// it. On success *ppPinObject holds the pin with one reference. A creation
// that reports another success code than S_OK counts as E_FAIL.
template <class TPin>
HRESULT CreatePinInstance(CComObject<TPin>** ppPinObject, UINT nIndex, LPCSTR pszName) {
    ASSERT(ppPinObject != NULL);
    if (!ppPinObject)
        return E_POINTER;
    *ppPinObject = NULL;
    CComObject<TPin>* pPin = NULL;
    HRESULT hr = CComObject<TPin>::CreateObject(&pPin);
    if (FAILED(hr))
        return hr;
    if (hr != S_OK || !pPin) {
        if (pPin)
            pPin->Release();
        return E_FAIL;
    }
    pPin->SetIdentity(nIndex, pszName);
    *ppPinObject = pPin;
    return S_OK;
}
