#include "DShowX/DSMemoryAllocator.h"

#include "DShowX/DSMediaSample.h"
#include "DShowX/DSTrace.h"

CMemoryAllocator::CMemoryAllocator()
    : m_eState(AS_Create), m_hSem(NULL), m_samples(sizeof(CComSampleObject)), m_nWaiters(0) {
    m_props.cBuffers = 0;
    m_props.cbBuffer = 0;
    m_props.cbAlign = 1;
    m_props.cbPrefix = 0;
}

CMemoryAllocator::~CMemoryAllocator() {}

LPCSTR CMemoryAllocator::GetDebugPrefix() const {
    return "CMemoryAllocator - ";
}

HRESULT CMemoryAllocator::FinalConstruct() {
    DSTrace(TRACE_GENERAL, 2, "CMemoryAllocator::FinalConstruct\n");
    CCritSecLock lock(m_cs);
    ASSERT(m_eState == AS_Create);
    ASSERT(m_hSem == NULL);
    m_hSem = CreateSemaphoreA(NULL, 0, 0x7FFFFFFF, NULL);
    if (!m_hSem)
        return E_OUTOFMEMORY;
    m_eState = AS_Init;
    return S_OK;
}

void CMemoryAllocator::FinalRelease() {
    DSTrace(TRACE_GENERAL, 2, "CMemoryAllocator::FinalRelease\n");
    CCritSecLock lock(m_cs);
    ASSERT(m_eState == AS_Create || m_eState == AS_Init || m_eState == AS_Prop);
    if (m_hSem)
        CloseHandle(m_hSem);
    m_hSem = NULL;
    m_eState = AS_Create;
    m_samples.Free();
    ASSERT(m_buffers.IsAllReturn());
    m_buffers.Free();
    m_spNotify.Release();
}

HRESULT CMemoryAllocator::CheckState(bool bNeedCommit) const {
    switch (m_eState) {
        case AS_Create:
            return E_ABORT;
        case AS_Init:
            return VFW_E_BUFFER_NOTSET;
        case AS_Prop:
        case AS_Decommit:
            return bNeedCommit ? VFW_E_NOT_COMMITTED : S_OK;
        default:
            return S_OK;
    }
}

AllocatorState CMemoryAllocator::GetState() {
    CCritSecLock lock(m_cs);
    return m_eState;
}

STDMETHODIMP CMemoryAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) {
    DSTrace(TRACE_COM, 8, "%sIMemAllocator::SetProperties( %i, %i, %i, %i )\n", GetDebugPrefix(),
            pRequest ? pRequest->cBuffers : 0, pRequest ? pRequest->cbBuffer : 0,
            pRequest ? pRequest->cbAlign : 0, pRequest ? pRequest->cbPrefix : 0);
    if (!pRequest || !pActual)
        return RefuseCall(E_POINTER, "CMemoryAllocator::SetProperties - null pRequest or pActual");
    // Copied before *pActual is cleared: callers may pass one record for both.
    ALLOCATOR_PROPERTIES props = *pRequest;
    pActual->cBuffers = pActual->cbBuffer = pActual->cbAlign = pActual->cbPrefix = 0;

    CCritSecLock lock(m_cs);
    switch (m_eState) {
        case AS_Init:
        case AS_Prop: {
            const HRESULT hr = CAllocatorBuffers::Correct(props);
            if (FAILED(hr))
                return hr;
            m_props = props;
            *pActual = props;
            m_eState = AS_Prop;
            return S_OK;
        }
        case AS_Commit:
        case AS_InUse:
        case AS_Exhausted:
            return VFW_E_ALREADY_COMMITTED;
        case AS_Decommit:
            return VFW_E_BUFFERS_OUTSTANDING;
        default:
            return E_ABORT;
    }
}

STDMETHODIMP CMemoryAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
    DSTrace(TRACE_COM, 8, "%sIMemAllocator::GetProperties\n", GetDebugPrefix());
    if (!pProps)
        return RefuseCall(E_POINTER, "CMemoryAllocator::GetProperties - null pProps");
    CCritSecLock lock(m_cs);
    const HRESULT hr = CheckState(false);
    if (SUCCEEDED(hr))
        *pProps = m_props;
    return hr;
}

STDMETHODIMP CMemoryAllocator::Commit() {
    DSTrace(TRACE_COM, 8, "%sIMemAllocator::Commit\n", GetDebugPrefix());
    CCritSecLock lock(m_cs);
    switch (m_eState) {
        case AS_Create:
            return E_ABORT;
        case AS_Init:
            return E_FAIL;
        case AS_Prop: {
            ASSERT(m_eState == AS_Prop);
            // A count no stream needs would only exhaust the heap record by
            // record: refused before anything is allocated.
            if (m_props.cBuffers > MAX_ALLOCATOR_BUFFERS)
                return E_INVALIDARG;
            // Memory stays allocated after a decommit; a new commit replaces
            // it (the buffers are all back in AS_Prop; sample blocks may not
            // be yet, CSampleArray copes). The buffer block first: it is the
            // one that may not be had, and nothing is then left behind.
            if (FAILED(m_buffers.Allocate(m_props)))
                return E_OUTOFMEMORY;
            if (FAILED(m_samples.Reserve(m_props.cBuffers))) {
                m_buffers.Free();
                m_samples.Reserve(0);  // gives back the free sample records
                return E_OUTOFMEMORY;
            }
            // The commit reference: kept until every buffer is back after
            // the decommit.
            AddRef();
            m_eState = AS_Commit;
            return S_OK;
        }
        case AS_Decommit:
            m_eState = m_buffers.GetFreeCount() == 0 ? AS_Exhausted : AS_InUse;
            return S_OK;
        default:
            return S_OK;
    }
}

STDMETHODIMP CMemoryAllocator::Decommit() {
    DSTrace(TRACE_COM, 8, "%sIMemAllocator::Decommit\n", GetDebugPrefix());
    HRESULT hr = S_OK;
    bool bDropCommit = false;
    {
        CCritSecLock lock(m_cs);
        switch (m_eState) {
            case AS_Create:
                hr = E_ABORT;
                break;
            case AS_Init:
                hr = E_FAIL;
                break;
            case AS_Commit:
                bDropCommit = true;
                m_eState = AS_Prop;
                break;
            case AS_InUse:
            case AS_Exhausted:
                m_eState = AS_Decommit;
                WakeWaiters();
                break;
            case AS_Decommit:
                WakeWaiters();
                break;
            default:
                break;
        }
    }
    // The caller holds a reference, so this is never the last one; it is
    // still given back outside the lock.
    if (bDropCommit)
        Release();
    return hr;
}

HRESULT CMemoryAllocator::CreateSample(IMediaSample** ppSample) {
    BYTE* pBuffer = m_buffers.Pop();
    if (!pBuffer)
        return S_FALSE;
    void* pBlock = m_samples.Get();
    if (!pBlock) {
        m_buffers.Push(pBuffer);
        return E_OUTOFMEMORY;
    }
    return CComSampleObject::InitInstance(pBlock, this, pBuffer, m_props.cbBuffer, ppSample);
}

STDMETHODIMP CMemoryAllocator::GetBuffer(IMediaSample** ppSample, REFERENCE_TIME* /*pStartTime*/,
                                         REFERENCE_TIME* /*pEndTime*/, DWORD dwFlags) {
    DSTrace(TRACE_COM, 10, "%sIMemAllocator::GetBuffer\n", GetDebugPrefix());
    if (!ppSample)
        return RefuseCall(E_POINTER, "CMemoryAllocator::GetBuffer - null ppSample");
    *ppSample = NULL;
    const bool bNoWait = (dwFlags & AM_GBF_NOWAIT) != 0;
    CCritSecLock lock(m_cs);
    for (;;) {
        const HRESULT hrState = CheckState(true);
        if (FAILED(hrState))
            return hrState;
        switch (m_eState) {
            case AS_Commit:
            case AS_InUse: {
                const HRESULT hr = CreateSample(ppSample);
                if (FAILED(hr)) {
                    ASSERT(!_T("IMemAllocatorImpl::GetBuffer(): CreateSample() FAILED"));
                    return hr;
                }
                if (hr == S_OK) {
                    m_eState = AS_InUse;
                    return S_OK;
                }
                ASSERT(hr == S_FALSE);
                if (m_eState == AS_Commit)
                    return E_FAIL;
                m_eState = AS_Exhausted;
                DSTrace(TRACE_COM, 8, "[Allocator] Allocator busy, waiting = %s\n", bNoWait ? "NO" : "YES");
                break;
            }
            default:  // AS_Exhausted
                break;
        }
        if (bNoWait)
            return VFW_E_TIMEOUT;
        // Asleep without the lock: a returned block or Decommit wakes it.
        ++m_nWaiters;
        lock.Unlock();
        WaitForSingleObject(m_hSem, INFINITE);
        DSTrace(TRACE_COM, 10, "[Allocator] Ending wait period\n");
        lock.Lock();
    }
}

HRESULT CMemoryAllocator::OnBufferBack(IMemAllocatorNotifyCallbackTemp** ppNotify, bool* pbDropCommit) {
    switch (m_eState) {
        case AS_Commit:
            ASSERT(m_buffers.IsAllReturn());
            return S_OK;
        case AS_Exhausted:
            m_eState = AS_InUse;
            // fall through
        case AS_InUse:
            if (m_buffers.IsAllReturn())
                m_eState = AS_Commit;
            break;
        case AS_Decommit:
            if (m_buffers.IsAllReturn()) {
                *pbDropCommit = true;
                m_eState = AS_Prop;
            }
            break;
        default:
            return E_ABORT;
    }
    m_spNotify.CopyTo(ppNotify);
    return S_OK;
}

STDMETHODIMP CMemoryAllocator::ReleaseBuffer(IMediaSample* pSample) {
    DSTrace(TRACE_COM, 10, "%sIMemAllocator::ReleaseBuffer\n", GetDebugPrefix());
    if (!pSample)
        return RefuseCall(E_POINTER, "CMemoryAllocator::ReleaseBuffer - null pSample");
    return PutBackBuffer(NULL, NULL);
}

HRESULT CMemoryAllocator::PutBackBuffer(BYTE* pBuffer, IMemAllocatorNotifyCallbackTemp** ppNotify) {
    IMemAllocatorNotifyCallbackTemp* pNotify = NULL;
    bool bDropCommit = false;
    HRESULT hr;
    {
        CCritSecLock lock(m_cs);
        if (pBuffer)
            m_buffers.Push(pBuffer);
        hr = OnBufferBack(&pNotify, &bDropCommit);
    }
    if (ppNotify) {
        *ppNotify = pNotify;
    } else if (pNotify) {
        pNotify->NotifyRelease();
        pNotify->Release();
    }
    // Samples hold a reference of their own while they give their buffer
    // back, so the commit reference is never the last one here.
    if (bDropCommit)
        Release();
    return hr;
}

void CMemoryAllocator::ReturnSample(void* pSample) {
    CCritSecLock lock(m_cs);
    ASSERT(pSample != NULL);
    if (!pSample)
        return;
    m_samples.Put(pSample);
    WakeWaiters();
}

void CMemoryAllocator::WakeWaiters() {
    if (m_nWaiters == 0)
        return;
    ASSERT(m_hSem != NULL);
    ReleaseSemaphore(m_hSem, m_nWaiters, NULL);
    m_nWaiters = 0;
}

STDMETHODIMP CMemoryAllocator::SetNotify(IMemAllocatorNotifyCallbackTemp* pNotify) {
    // Addresses are printed by their low 32 bits, as the text's conversion takes.
    DSTrace(TRACE_COM, 8, "%sIMemAllocatorCallbackTemp::SetNotify( 0x%08X )\n", GetDebugPrefix(),
            (UINT)(UINT_PTR)pNotify);
    CComPtr<IMemAllocatorNotifyCallbackTemp> spOld;
    {
        CCritSecLock lock(m_cs);
        spOld.Attach(m_spNotify.Detach());
        m_spNotify = pNotify;
    }
    // spOld's reference goes outside the lock: its release may call anything.
    return S_OK;
}

STDMETHODIMP CMemoryAllocator::GetFreeCount(LONG* plBuffersFree) {
    DSTrace(TRACE_COM, 8, "%sIMemAllocatorCallbackTemp::GetFreeCount\n", GetDebugPrefix());
    if (!plBuffersFree)
        return RefuseCall(E_POINTER, "CMemoryAllocator::GetFreeCount - null plBuffersFree");
    *plBuffersFree = 0;
    CCritSecLock lock(m_cs);
    const HRESULT hr = CheckState(true);
    if (SUCCEEDED(hr))
        *plBuffersFree = m_buffers.GetFreeCount();
    return hr;
}

HRESULT CreateMemoryAllocator(IMemAllocator** ppAllocator) {
    ASSERT(ppAllocator != NULL);
    if (!ppAllocator)
        return E_POINTER;
    return CComCreator<CMemoryAllocator>::CreateInstance(NULL, IID_IMemAllocator,
                                                         reinterpret_cast<void**>(ppAllocator));
}
