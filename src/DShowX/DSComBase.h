// The library's COM object model: the module lock count, the object root,
// interface tables, creation with FinalConstruct and destruction with
// FinalRelease, class factories, and a counted interface pointer.
//
// A COM class of the system is written as a plain class that derives from its
// interfaces and from an object root, declares its interface table and, where
// it needs them, FinalConstruct and FinalRelease. It is never instantiated
// itself: CComObject<T> adds IUnknown and the module lock, CComCreator<T> or
// CComObject<T>::CreateObject make it (not CreateInstance: that name
// belongs to IClassFactory, which class objects implement).
//
//   class CThing : public IThing, public CComObjectRootMT {
//   public:
//       BEGIN_INTERFACE_TABLE(CThing)
//           INTERFACE_ENTRY(IThing)
//       END_INTERFACE_TABLE()
//       HRESULT FinalConstruct();
//       void FinalRelease();
//   };
#pragma once

#include <windows.h>

#include <atomic>
#include <new>

#include "DShowX/DSTrace.h"
#include "WinAPI/CriticalSection.h"

// ---------------------------------------------------------------- module lock count

// The count that decides whether the component may be unloaded: one for every
// live object, and one for every outstanding IClassFactory::LockServer(TRUE).
// Changed only by interlocked increment and decrement.
class CComModuleLock {
public:
    static LONG Lock();
    static LONG Unlock();
    static LONG GetLockCount();

private:
    static LONG volatile s_nLockCount;
};

// ---------------------------------------------------------------- interface tables

// One row of an object's interface table. A plain row casts the object to
// the interface; a row with a query function decides itself (and must
// add-reference what it hands out). A row with a null identifier ends the
// table. The first row must be plain: it also answers IUnknown.
struct DSInterfaceEntry {
    const IID* piid;
    IUnknown* (*pfnCast)(void* pThis);
    HRESULT (*pfnQuery)(void* pThis, REFIID riid, void** ppv);
};

template <class T, class I>
IUnknown* DSCastToInterface(void* pThis) {
    return static_cast<I*>(static_cast<T*>(pThis));
}

// The table is a function-local constant array: it holds only addresses, so
// it is initialised at compile time and needs no guard.
#define BEGIN_INTERFACE_TABLE(cls)                       \
    typedef cls _InterfaceTableClass;                    \
    static const DSInterfaceEntry* GetInterfaceTable() { \
        static const DSInterfaceEntry s_arrEntries[] = {
#define INTERFACE_ENTRY(itf) {&IID_##itf, &DSCastToInterface<_InterfaceTableClass, itf>, NULL},
// An interface reached through one of several paths (e.g. IPersist through
// IMediaFilter): the cast goes through the named base.
#define INTERFACE_ENTRY2(itf, path) {&IID_##itf, &DSCastToInterface<_InterfaceTableClass, path>, NULL},
#define INTERFACE_ENTRY_IID(iid, itf) {&iid, &DSCastToInterface<_InterfaceTableClass, itf>, NULL},
#define INTERFACE_ENTRY_FUNC(iid, func) {&iid, NULL, func},
#define END_INTERFACE_TABLE() \
    { NULL, NULL, NULL }      \
    }                         \
    ;                         \
    return s_arrEntries;      \
    }

// ---------------------------------------------------------------- object roots

// The reference count of an object, changed by interlocked operations, and
// the default construction and release hooks.
class CComObjectRootBase {
public:
    CComObjectRootBase() : m_dwRef(0) {}

    // The checks read the count with a plain atomic load, no locked
    // instruction (other threads change it meanwhile); the local copy keeps
    // the name the failure report shows.
    ULONG InternalAddRef() {
        {
            const LONG m_dwRef = CurrentRef();
            ASSERT(m_dwRef != -1L);
        }
        return (ULONG)(m_dwRef.fetch_add(1) + 1);
    }
    ULONG InternalRelease() {
        {
            const LONG m_dwRef = CurrentRef();
            ASSERT(m_dwRef > 0);
        }
        return (ULONG)(m_dwRef.fetch_sub(1) - 1);
    }
    LONG CurrentRef() const { return m_dwRef.load(std::memory_order_relaxed); }

    // Runs once after construction, under a temporary reference; a failure
    // destroys the object before anyone sees it.
    HRESULT FinalConstruct() { return S_OK; }
    // Runs once before destruction, with the count pinned at 1, also when
    // FinalConstruct failed: it must cope with a partly constructed object.
    void FinalRelease() {}

    // Walks the table in order; IUnknown is answered by the first row.
    static HRESULT InternalQueryInterface(void* pThis, const DSInterfaceEntry* pEntries, REFIID riid,
                                          void** ppv);

protected:
    std::atomic<LONG> m_dwRef;
};

// The object root of multi-threaded objects: the count and a recursive
// critical section, the object's lock (held for a scope with CCritSecLock).
class CComObjectRootMT : public CComObjectRootBase {
public:
    CComObjectRootMT() = default;
    CComObjectRootMT(const CComObjectRootMT&) = delete;
    CComObjectRootMT& operator=(const CComObjectRootMT&) = delete;

protected:
    CCriticalSection m_cs;
};

// ---------------------------------------------------------------- the created object

// Constructs a TObject (CComObject<T> or CComObjectCached<T>) and runs its
// FinalConstruct under a temporary reference. On success *pp holds the object
// with one reference; on failure the object is already destroyed.
template <class TObject>
HRESULT DSConstructObject(TObject** pp) {
    ASSERT(pp != NULL);
    if (!pp)
        return E_POINTER;
    *pp = NULL;
    TObject* p = new (std::nothrow) TObject();
    if (!p)
        return E_OUTOFMEMORY;
    p->InternalAddRef();
    const HRESULT hr = p->FinalConstruct();
    p->InternalRelease();
    if (FAILED(hr)) {
        delete p;
        return hr;
    }
    p->InternalAddRef();
    *pp = p;
    return hr;
}

// Holds one module lock from before the object's construction until after
// its destruction. As the first base of the object it is built first and
// destroyed last: the object's own destructor and its members' destructors
// (a pin's cache waits there for its read-ahead thread) run while the
// component still counts the object, so it cannot be unloaded under them.
class CComModuleLockHolder {
protected:
    CComModuleLockHolder() { CComModuleLock::Lock(); }
    ~CComModuleLockHolder() { CComModuleLock::Unlock(); }
};

// The most derived class of every heap object: IUnknown over the table of T,
// the module lock for the object's whole life, FinalRelease before the
// destructors of T run.
template <class T>
class CComObject final : private CComModuleLockHolder, public T {
public:
    CComObject() {}
    ~CComObject() {
        this->m_dwRef = 1;
        this->FinalRelease();
    }

    STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG nRef = this->InternalRelease();
        if (nRef == 0)
            delete this;
        return nRef;
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return T::InternalQueryInterface(static_cast<T*>(this), T::GetInterfaceTable(), riid, ppv);
    }

    // Constructs an object and runs its FinalConstruct under a temporary
    // reference. On success *pp holds the object with one reference, which
    // the caller owns; on failure the object is already destroyed.
    static HRESULT CreateObject(CComObject<T>** pp) { return DSConstructObject(pp); }
};

// A class object cached by the module for its whole life: the cache's own
// reference does not hold the module lock, every further reference does, so
// DllCanUnloadNow answers S_OK while nobody outside uses the class object.
template <class T>
class CComObjectCached final : public T {
public:
    ~CComObjectCached() {
        this->m_dwRef = 1;
        this->FinalRelease();
    }

    STDMETHOD_(ULONG, AddRef)() override {
        const ULONG nRef = this->InternalAddRef();
        if (nRef == 2)
            CComModuleLock::Lock();
        return nRef;
    }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG nRef = this->InternalRelease();
        if (nRef == 0)
            delete this;
        else if (nRef == 1)
            CComModuleLock::Unlock();
        return nRef;
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return T::InternalQueryInterface(static_cast<T*>(this), T::GetInterfaceTable(), riid, ppv);
    }

    // As CComObject<T>::CreateObject; the reference handed out is the
    // cache's own.
    static HRESULT CreateObject(CComObjectCached<T>** pp) { return DSConstructObject(pp); }
};

// The creator of a class: refuses aggregation, creates the object, asks it for
// the interface and destroys it again when it has none.
template <class T>
class CComCreator {
public:
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
        if (!ppv)
            return E_POINTER;
        *ppv = NULL;
        if (pUnkOuter)
            return CLASS_E_NOAGGREGATION;
        CComObject<T>* p = NULL;
        HRESULT hr = CComObject<T>::CreateObject(&p);
        if (FAILED(hr))
            return hr;
        hr = p->QueryInterface(riid, ppv);
        p->Release();
        return hr;
    }
};

// ---------------------------------------------------------------- class factories

// The class object of one class, creating its instances through TCreator
// (CComCreator<T> or one with the same CreateInstance).
template <class TCreator>
class CComClassFactory : public IClassFactory, public CComObjectRootMT {
public:
    BEGIN_INTERFACE_TABLE(CComClassFactory)
    INTERFACE_ENTRY(IClassFactory)
    END_INTERFACE_TABLE()

    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (!ppvObject)
            return E_POINTER;
        *ppvObject = NULL;
        if (pUnkOuter && !IsEqualIID(riid, IID_IUnknown)) {
            DSTrace(TRACE_COM, 0,
                    "CComClassFactory: asked for non IUnknown interface while creating an aggregated object");
            return CLASS_E_NOAGGREGATION;
        }
        return TCreator::CreateInstance(pUnkOuter, riid, ppvObject);
    }

    STDMETHOD(LockServer)(BOOL fLock) override {
        if (fLock)
            CComModuleLock::Lock();
        else
            CComModuleLock::Unlock();
        return S_OK;
    }
};

// ---------------------------------------------------------------- the object map

// One class of the component: its CLSID and the function that hands out its
// class object.
struct DSObjectMapEntry {
    const CLSID* pclsid;
    HRESULT (*pfnGetClassObject)(REFIID riid, void** ppv);
};

// The class object of T, created on first use (the static's initialisation
// is the module's lock for it) and cached for the life of the module; the
// cache's own reference is given back when the module is unloaded.
template <class T>
HRESULT DSGetCachedClassObject(REFIID riid, void** ppv) {
    typedef CComObjectCached<CComClassFactory<CComCreator<T>>> TFactory;
    struct CHolder {
        TFactory* p = NULL;
        CHolder() { TFactory::CreateObject(&p); }
        ~CHolder() {
            if (p)
                p->Release();
        }
    };
    static CHolder s_holder;
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (!s_holder.p)
        return E_OUTOFMEMORY;
    return s_holder.p->QueryInterface(riid, ppv);
}

#define OBJECT_ENTRY(clsid, cls) {&clsid, &DSGetCachedClassObject<cls>},

// DllGetClassObject over a map that ends with a null entry:
// CLASS_E_CLASSNOTAVAILABLE for a class not in it.
HRESULT DSGetClassObject(const DSObjectMapEntry* pMap, REFCLSID rclsid, REFIID riid, void** ppv);

// ---------------------------------------------------------------- counted interface pointer

// Owns one reference to an interface (members named m_sp...).
template <class T>
class CComPtr {
public:
    CComPtr() : p(NULL) {}
    CComPtr(T* lp) : p(lp) {
        if (p)
            p->AddRef();
    }
    CComPtr(const CComPtr& other) : p(other.p) {
        if (p)
            p->AddRef();
    }
    ~CComPtr() {
        if (p)
            p->Release();
    }

    // Takes the new reference before giving back the old one, so assigning
    // an object that only this pointer keeps alive is safe.
    T* operator=(T* lp) {
        if (lp)
            lp->AddRef();
        T* pOld = p;
        p = lp;
        if (pOld)
            pOld->Release();
        return p;
    }
    CComPtr& operator=(const CComPtr& other) {
        *this = other.p;
        return *this;
    }

    operator T*() const { return p; }
    T* operator->() const {
        ASSERT(p != NULL);
        return p;
    }
    // For out parameters: the pointer must be empty, or its reference leaks.
    T** operator&() {
        ASSERT(p == NULL);
        return &p;
    }
    bool operator!() const { return p == NULL; }

    // Gives back the reference and empties the pointer.
    void Release() {
        T* pOld = p;
        if (pOld) {
            p = NULL;
            pOld->Release();
        }
    }
    // Takes over a reference the caller owns.
    void Attach(T* lp) {
        T* pOld = p;
        p = lp;
        if (pOld)
            pOld->Release();
    }
    // Hands the reference to the caller.
    T* Detach() {
        T* pOld = p;
        p = NULL;
        return pOld;
    }
    HRESULT CopyTo(T** pp) const {
        ASSERT(pp != NULL);
        if (!pp)
            return E_POINTER;
        *pp = p;
        if (p)
            p->AddRef();
        return S_OK;
    }

    T* p;
};
