#include "AsyncRequests.h"

#include <initializer_list>
#include <new>

#include "DShowX/DSTrace.h"

// ---------------------------------------------------------------- lists

void CAsyncRequests::CRequestList::PushBack(CRequest* p) {
    p->pNext = NULL;
    if (pTail)
        pTail->pNext = p;
    else
        pHead = p;
    pTail = p;
}

void CAsyncRequests::CRequestList::PushFront(CRequest* p) {
    p->pNext = pHead;
    pHead = p;
    if (!pTail)
        pTail = p;
}

CAsyncRequests::CRequest* CAsyncRequests::CRequestList::PopFront() {
    CRequest* p = pHead;
    if (p) {
        pHead = p->pNext;
        if (!pHead)
            pTail = NULL;
        p->pNext = NULL;
    }
    return p;
}

// ---------------------------------------------------------------- life

CAsyncRequests::CAsyncRequests(IRequestReader* pReader)
    : m_pReader(pReader), m_pServing(NULL), m_pFree(NULL), m_bFlushing(false), m_bShutdown(false) {}

CAsyncRequests::~CAsyncRequests() {
    Shutdown();
    CCritSecLock lock(m_cs);
    while (m_pFree) {
        CRequest* p = m_pFree;
        m_pFree = p->pNext;
        delete p;
    }
}

HRESULT CAsyncRequests::Init() {
    CCritSecLock lock(m_cs);
    for (CSleepers* s : {&m_done, &m_work, &m_idle}) {
        if (s->shEvent)
            continue;
        s->shEvent = CreateEvent(NULL, FALSE, FALSE, NULL);
        if (!s->shEvent)
            return LastErrorResult(GetLastError());
    }
    return S_OK;
}

void CAsyncRequests::Shutdown() {
    CWakes wakes;
    HANDLE hWorker = NULL;
    {
        CCritSecLock lock(m_cs);
        m_bShutdown = true;
        Wake(m_work, wakes);
        hWorker = m_shWorker;
    }
    wakes.SetAll();
    // Nothing else closes or replaces the handle once m_bShutdown is set.
    if (hWorker) {
        WaitForSingleObject(hWorker, INFINITE);
        m_shWorker.Close();
    }
    DropPending();
}

// ---------------------------------------------------------------- sleeping and waking

void CAsyncRequests::Wake(CSleepers& s, CWakes& wakes) {
    if (s.nSleeping == 0 || s.bSignalled)
        return;
    s.bSignalled = true;
    wakes.Add(s.shEvent);
}

bool CAsyncRequests::SleepOn(CSleepers& s, DWORD dwMilliseconds) {
    ++s.nSleeping;
    const HANDLE hEvent = s.shEvent;
    m_cs.Leave();
    const bool bSignalled = WaitForSingleObject(hEvent, dwMilliseconds) == WAIT_OBJECT_0;
    m_cs.Enter();
    --s.nSleeping;
    // A signal set after a time-out stays pending for the next sleeper, which
    // then only looks once more.
    if (bSignalled)
        s.bSignalled = false;
    return bSignalled;
}

// ---------------------------------------------------------------- requests

void CAsyncRequests::Recycle(CRequest* p) {
    p->pSample = NULL;
    p->pNext = m_pFree;
    m_pFree = p;
}

HRESULT CAsyncRequests::QueueForWorker(CRequest* p, bool bFront, CWakes& wakes) {
    if (!m_shWorker) {
        // Started once, with the first request that needs it; it runs until
        // Shutdown.
        m_shWorker = CreateThread(NULL, 0, WorkerThread, this, 0, NULL);
        if (!m_shWorker)
            return LastErrorResult(GetLastError());
    }
    if (bFront)
        m_queued.PushFront(p);
    else
        m_queued.PushBack(p);
    if (!m_pServing)
        Wake(m_work, wakes);
    return S_OK;
}

void CAsyncRequests::Complete(CRequest* p, HRESULT hr, LONG cbRead, CWakes& wakes) {
    ASSERT(m_pServing == p);
    m_pServing = NULL;
    p->cbRead = cbRead < 0 ? 0 : cbRead > p->lLength ? p->lLength : cbRead;
    // A flush that began meanwhile makes it one of the flushed requests.
    p->hr = m_bFlushing ? VFW_E_WRONG_STATE : hr;
    m_completed.PushBack(p);
    // Those a flush found queued behind it follow it, in order.
    if (m_bFlushing)
        FlushQueued();
    Wake(m_done, wakes);
    Wake(m_idle, wakes);
    // Requests that came while a caller served this one at once.
    if (!m_queued.IsEmpty())
        Wake(m_work, wakes);
}

void CAsyncRequests::FlushQueued() {
    while (CRequest* p = m_queued.PopFront()) {
        p->hr = VFW_E_WRONG_STATE;
        p->cbRead = 0;
        m_completed.PushBack(p);
    }
}

CAsyncRequests::CRequest* CAsyncRequests::NewRequest(IMediaSample* pSample, DWORD_PTR dwUser,
                                                     LONGLONG llPosition, LONG lLength, BYTE* pb) {
    CRequest* p = m_pFree;
    if (p)
        m_pFree = p->pNext;
    else
        p = new (std::nothrow) CRequest;
    if (!p)
        return NULL;
    p->pNext = NULL;
    p->pSample = pSample;
    p->dwUser = dwUser;
    p->llPosition = llPosition;
    p->lLength = lLength;
    p->pb = pb;
    p->cbRead = 0;
    p->hr = S_OK;
    return p;
}

HRESULT CAsyncRequests::Request(IMediaSample* pSample, DWORD_PTR dwUser, LONGLONG llPosition, LONG lLength,
                                BYTE* pb) {
    if (!pSample || !pb)
        return RefuseCall(E_POINTER, "CAsyncRequests::Request - null sample or buffer");
    CWakes wakes;
    CRequest* p = NULL;
    bool bAtOnce = false;
    HRESULT hr = S_OK;
    {
        CCritSecLock lock(m_cs);
        if (m_bFlushing || m_bShutdown)
            return VFW_E_WRONG_STATE;
        p = NewRequest(pSample, dwUser, llPosition, lLength, pb);
        if (!p)
            return E_OUTOFMEMORY;
        // Served here only with nothing before it: the order holds.
        bAtOnce = !m_pServing && m_queued.IsEmpty();
        if (bAtOnce) {
            m_pServing = p;
        } else {
            hr = QueueForWorker(p, false, wakes);
            if (FAILED(hr))
                Recycle(p);
        }
        // The queue's reference, before any thread can hand the sample back.
        if (SUCCEEDED(hr))
            pSample->AddRef();
    }
    wakes.SetAll();
    if (!bAtOnce || FAILED(hr))
        return hr;
    LONG cbRead = 0;
    HRESULT hrRead = S_OK;
    const bool bServed = m_pReader->TryServeAtOnce(llPosition, lLength, pb, &cbRead, &hrRead);
    return AfterAtOnce(p, bServed, hrRead, cbRead);
}

HRESULT CAsyncRequests::AfterAtOnce(CRequest* p, bool bServed, HRESULT hrRead, LONG cbRead) {
    HRESULT hr = S_OK;
    CWakes done;
    {
        CCritSecLock lock(m_cs);
        if (bServed || m_bFlushing || m_bShutdown) {
            // A flush or a shutdown that came meanwhile ends it as flushed.
            Complete(p, bServed ? hrRead : VFW_E_WRONG_STATE, bServed ? cbRead : 0, done);
        } else {
            // First in line: the worker serves it before anything queued
            // meanwhile (nothing was, unless the worker runs).
            m_pServing = NULL;
            hr = QueueForWorker(p, true, done);
            if (SUCCEEDED(hr)) {
                Wake(m_idle, done);
            } else {
                // Nothing can serve it: it comes back through WaitForNext
                // with the failure.
                m_pServing = p;
                Complete(p, hr, 0, done);
                hr = S_OK;
            }
        }
    }
    done.SetAll();
    return hr;
}

HRESULT CAsyncRequests::WaitForNext(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) {
    if (pdwUser)
        *pdwUser = 0;
    if (!ppSample)
        return RefuseCall(E_POINTER, "CAsyncRequests::WaitForNext - null sample pointer");
    *ppSample = NULL;
    const DWORD dwStart = GetTickCount();
    CWakes wakes;
    IMediaSample* pSample = NULL;
    LONG cbRead = 0;
    HRESULT hr = VFW_E_TIMEOUT;
    {
        CCritSecLock lock(m_cs);
        for (;;) {
            CRequest* p = m_completed.PopFront();
            if (p) {
                pSample = p->pSample;
                if (pdwUser)
                    *pdwUser = p->dwUser;
                cbRead = p->cbRead;
                hr = p->hr;
                Recycle(p);
                // More for the other sleepers: the signal goes on.
                if (!m_completed.IsEmpty() || m_bFlushing || m_bShutdown)
                    Wake(m_done, wakes);
                break;
            }
            // Flushed and nothing left to hand back (the request being
            // served, if any, comes back once its wait has ended).
            if ((m_bFlushing || m_bShutdown) && !m_pServing && m_queued.IsEmpty()) {
                hr = VFW_E_WRONG_STATE;
                Wake(m_done, wakes);
                break;
            }
            // Nothing asked for: nothing can come (a caller that waited
            // for ever here would hang).
            if (!m_pServing && m_queued.IsEmpty())
                break;
            DWORD dwLeft = INFINITE;
            if (dwTimeout != INFINITE) {
                const DWORD dwGone = GetTickCount() - dwStart;
                if (dwGone >= dwTimeout)
                    break;
                dwLeft = dwTimeout - dwGone;
            }
            SleepOn(m_done, dwLeft);
        }
    }
    wakes.SetAll();
    if (pSample) {
        // The caller's own reference keeps the sample it gets back.
        pSample->SetActualDataLength(cbRead);
        *ppSample = pSample;
        pSample->Release();
    }
    return hr;
}

// ---------------------------------------------------------------- flushing

void CAsyncRequests::BeginFlush() {
    CWakes wakes;
    {
        CCritSecLock lock(m_cs);
        m_bFlushing = true;
        for (CRequest* p = m_completed.pHead; p; p = p->pNext)
            p->hr = VFW_E_WRONG_STATE;
        // Behind a request being served they wait for it to end (Complete),
        // so that they come back in order.
        if (!m_pServing)
            FlushQueued();
        Wake(m_done, wakes);
    }
    wakes.SetAll();
}

void CAsyncRequests::WaitUntilIdle() {
    CCritSecLock lock(m_cs);
    while (m_pServing)
        SleepOn(m_idle, INFINITE);
}

void CAsyncRequests::EndFlush() {
    CCritSecLock lock(m_cs);
    m_bFlushing = false;
}

bool CAsyncRequests::HasPending() {
    CCritSecLock lock(m_cs);
    return m_pServing || !m_queued.IsEmpty() || !m_completed.IsEmpty();
}

CAsyncRequests::CRequest* CAsyncRequests::TakePending() {
    CRequestList all;
    while (CRequest* p = m_completed.PopFront())
        all.PushBack(p);
    while (CRequest* p = m_queued.PopFront())
        all.PushBack(p);
    return all.pHead;
}

void CAsyncRequests::DropPending() {
    CRequest* pPending = NULL;
    {
        CCritSecLock lock(m_cs);
        ASSERT(!m_pServing);
        pPending = TakePending();
    }
    // Released with no lock held: a sample's release goes to its allocator,
    // which may call anyone back.
    for (CRequest* p = pPending; p; p = p->pNext)
        p->pSample->Release();
    CCritSecLock lock(m_cs);
    while (pPending) {
        CRequest* p = pPending;
        pPending = p->pNext;
        Recycle(p);
    }
}

// ---------------------------------------------------------------- the worker

DWORD WINAPI CAsyncRequests::WorkerThread(LPVOID pQueue) {
    static_cast<CAsyncRequests*>(pQueue)->WorkerLoop();
    return 0;
}

void CAsyncRequests::WorkerLoop() {
    CCritSecLock lock(m_cs);
    for (;;) {
        if (m_bShutdown)
            return;
        if (m_pServing || m_queued.IsEmpty() || m_bFlushing) {
            SleepOn(m_work, INFINITE);
            continue;
        }
        CRequest* p = m_queued.PopFront();
        m_pServing = p;
        lock.Unlock();
        LONG cbRead = 0;
        const HRESULT hr = m_pReader->ServeRequest(p->llPosition, p->lLength, p->pb, &cbRead);
        lock.Lock();
        CWakes wakes;
        Complete(p, hr, cbRead, wakes);
        // Set with the lock let go for the moment: the next request needs it
        // only to be taken from the list.
        lock.Unlock();
        wakes.SetAll();
        lock.Lock();
    }
}
