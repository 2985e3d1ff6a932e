// CAsyncRequests: the queued reads of a pull pin (IAsyncReader's Request and
// WaitForNext), served in the order they came, for a file that may still
// grow. One per pin; the pin checks each request's range and serves it
// through IRequestReader, the queue keeps the order, the samples and the
// results, and sleeps and wakes the threads involved.
//
// ---- How a request is served
// A request whose bytes are in the pin's cache is served at once on the
// caller's thread (TryServeAtOnce), but only while nothing is queued or
// being served before it, so that the order holds. Any other request waits
// in the queue for the worker thread, which serves one at a time
// (ServeRequest: it may wait for the file to grow). The worker is started
// with the first request that needs it and ends with Shutdown.
//
// ---- Samples
// Request adds a reference to the sample and WaitForNext gives it back:
// the caller's own reference keeps the sample it gets handed back, as with
// the platform's reader. A sample never handed back (the pin disconnected,
// the filter released) loses the queue's reference in DropPending or
// Shutdown, so every sample gets back to its allocator once its caller lets
// go of it too.
//
// ---- Flushing
// BeginFlush completes every queued request with VFW_E_WRONG_STATE (those
// behind a request being served as soon as it ends, so that they come back
// in order); the one being served ends when the pin ends its wait, and
// WaitUntilIdle waits for that. Until EndFlush, Request answers VFW_E_WRONG_STATE and WaitForNext
// hands back every pending sample with VFW_E_WRONG_STATE, then answers
// VFW_E_WRONG_STATE without one. The pin's BeginFlush is: the queue's
// BeginFlush, ending the read path's waits, the queue's WaitUntilIdle.
//
// ---- Lock
// m_cs guards every field below but the reader and the worker's handle. It
// is a leaf: held only to look at and change the lists, never across a
// call to the reader, to a sample or to a kernel object (events are set
// once it is let go), so it costs no kernel call while uncontended.
//
// ---- Threads and who wakes them
// Each sleeping place is an auto-reset event with a count of its sleepers
// (CSleepers); a thread that changes what the sleepers wait for sets the
// event only when one sleeps and no signal is pending, and a woken sleeper
// passes the signal on while there is more for the others. So a request
// served while nobody sleeps costs no kernel call.
//   WaitForNext sleeps on m_done, woken by a completion (the worker, or a
//     caller that served at once), by BeginFlush and by Shutdown.
//   The worker sleeps on m_work when nothing is queued (or a caller serves
//     at once), woken by a request queued for it and by Shutdown.
//   WaitUntilIdle sleeps on m_idle, woken when the request being served
//     completes.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "WinAPI/CriticalSection.h"
#include "WinAPI/Wrappers.h"

// What the queue asks of its pin.
class IRequestReader {
public:
    // Serves a request on the caller's thread when that needs neither a wait
    // nor a file read (its bytes are in the cache): true, with the bytes
    // delivered at *pcbRead and the result at *phr. False leaves it to the
    // worker, untouched.
    virtual bool TryServeAtOnce(LONGLONG llPosition, LONG lLength, BYTE* pb, LONG* pcbRead, HRESULT* phr) = 0;
    // Serves a request as SyncRead serves a read: waits near the end of a
    // growing file for the margin, the writer's close, a flush or a stop.
    // *pcbRead gets the bytes delivered. S_OK; S_FALSE for a short read at
    // the end of a finished file; VFW_E_WRONG_STATE when a flush or a stop
    // ended its wait; or a failure.
    virtual HRESULT ServeRequest(LONGLONG llPosition, LONG lLength, BYTE* pb, LONG* pcbRead) = 0;

protected:
    ~IRequestReader() = default;
};

class CAsyncRequests {
public:
    explicit CAsyncRequests(IRequestReader* pReader);
    // Shutdown, and the request records freed.
    ~CAsyncRequests();
    CAsyncRequests(const CAsyncRequests&) = delete;
    CAsyncRequests& operator=(const CAsyncRequests&) = delete;

    // Creates the three events; the system error as an HRESULT when they
    // cannot be had.
    HRESULT Init();

    // Queues a read of lLength bytes at llPosition into pb, the buffer of
    // pSample, whose range the pin has checked, and returns at once. S_OK
    // with the sample held; VFW_E_WRONG_STATE during a flush or after
    // Shutdown, E_OUTOFMEMORY, or the failure to start the worker, each
    // leaving nothing queued.
    HRESULT Request(IMediaSample* pSample, DWORD_PTR dwUser, LONGLONG llPosition, LONG lLength, BYTE* pb)
        EXCLUDES(m_cs);
    // Hands back the oldest completed request, each once: its sample (its
    // actual data length the bytes delivered), its user value and its result
    // (S_OK, S_FALSE for a short read at the end of a finished file, or the
    // failure). Waits up to dwTimeout ms for one: VFW_E_TIMEOUT when none
    // completes in time, at once for 0 and when nothing is asked for at all.
    // During a flush see above. The out
    // values are cleared first; E_POINTER for a null ppSample.
    HRESULT WaitForNext(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) EXCLUDES(m_cs);

    void BeginFlush() EXCLUDES(m_cs);
    // Waits until no request is being served (the pin has ended its wait).
    void WaitUntilIdle() EXCLUDES(m_cs);
    void EndFlush() EXCLUDES(m_cs);
    // True while a request is queued, being served or completed and not
    // handed back yet.
    bool HasPending() EXCLUDES(m_cs);
    // Lets go of every request not handed back yet, queued or completed
    // (the pin disconnects): their samples lose the queue's reference. For a
    // queue with nothing being served (after a flush).
    void DropPending() EXCLUDES(m_cs);
    // Ends the worker (the pin has ended every wait first) and drops every
    // pending request; Request then answers VFW_E_WRONG_STATE.
    void Shutdown() EXCLUDES(m_cs);

private:
    struct CRequest {
        CRequest* pNext;
        IMediaSample* pSample;  // the queue's reference
        DWORD_PTR dwUser;
        LONGLONG llPosition;
        LONG lLength;
        BYTE* pb;
        LONG cbRead;
        HRESULT hr;
    };
    // A first-in, first-out list of requests, linked through pNext.
    struct CRequestList {
        CRequest* pHead = NULL;
        CRequest* pTail = NULL;
        bool IsEmpty() const { return pHead == NULL; }
        void PushBack(CRequest* p);
        void PushFront(CRequest* p);
        CRequest* PopFront();
    };
    // Threads asleep on one event, counted under m_cs.
    struct CSleepers {
        CSmartHandle shEvent;     // auto-reset
        LONG nSleeping = 0;       // threads asleep on it or about to be
        bool bSignalled = false;  // set and not taken by a sleeper yet
    };
    // The events to set once m_cs is let go.
    class CWakes {
    public:
        // At most one per sleeping place (CSleepers::bSignalled).
        void Add(HANDLE h) {
            if (m_n < 3)
                m_arr[m_n++] = h;
        }
        void SetAll() {
            for (int i = 0; i < m_n; ++i)
                SetEvent(m_arr[i]);
        }

    private:
        HANDLE m_arr[3];
        int m_n = 0;
    };

    static DWORD WINAPI WorkerThread(LPVOID pQueue);
    void WorkerLoop() EXCLUDES(m_cs);
    // Wakes one sleeper of s, unless none sleeps or a signal is pending.
    void Wake(CSleepers& s, CWakes& wakes) REQUIRES(m_cs);
    // Sleeps on s with m_cs let go meanwhile; true when it was signalled.
    bool SleepOn(CSleepers& s, DWORD dwMilliseconds) REQUIRES(m_cs);
    // The request being served is done: into the completed list.
    void Complete(CRequest* p, HRESULT hr, LONG cbRead, CWakes& wakes) REQUIRES(m_cs);
    // Completes every queued request as flushed.
    void FlushQueued() REQUIRES(m_cs);
    // A request for the worker, which is started when it does not run yet.
    HRESULT QueueForWorker(CRequest* p, bool bFront, CWakes& wakes) REQUIRES(m_cs);
    // Takes every pending request out of the lists (their samples are then
    // the caller's to release).
    CRequest* TakePending() REQUIRES(m_cs);
    void Recycle(CRequest* p) REQUIRES(m_cs);
    // A record for a request, reused or new; null without memory.
    CRequest* NewRequest(IMediaSample* pSample, DWORD_PTR dwUser, LONGLONG llPosition, LONG lLength, BYTE* pb)
        REQUIRES(m_cs);
    // After a request served at once was tried (p is m_pServing): completes
    // it, or hands it to the worker first in line.
    HRESULT AfterAtOnce(CRequest* p, bool bServed, HRESULT hrRead, LONG cbRead) EXCLUDES(m_cs);

    IRequestReader* const m_pReader;
    CCriticalSection m_cs;
    CRequestList m_queued GUARDED_BY(m_cs);     // waiting for the worker, in order
    CRequestList m_completed GUARDED_BY(m_cs);  // done, not handed back yet, in order
    CRequest* m_pServing GUARDED_BY(m_cs);      // being served (by the worker or a caller), or null
    CRequest* m_pFree GUARDED_BY(m_cs);         // records for reuse
    bool m_bFlushing GUARDED_BY(m_cs);
    bool m_bShutdown GUARDED_BY(m_cs);
    CSleepers m_done GUARDED_BY(m_cs);
    CSleepers m_work GUARDED_BY(m_cs);
    CSleepers m_idle GUARDED_BY(m_cs);
    CSmartHandle m_shWorker;  // created under m_cs, joined and closed by Shutdown
};
