// The library's memory allocator: a fixed pool of equally sized, aligned
// buffers in one block of virtual memory, handed out as media samples, with
// the allocator state machine and waiting for free buffers.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "DShowX/DSAllocatorBuffers.h"
#include "DShowX/DSComBase.h"

class CMediaSample;

// The most buffers Commit lays out. Streams use a handful; a larger count is
// a caller's mistake that would otherwise take one heap record per buffer.
#define MAX_ALLOCATOR_BUFFERS 65536

// States of the allocator.
enum AllocatorState {
    AS_Create = 0,     // constructed, no semaphore yet (also after the final release)
    AS_Init = 1,       // semaphore created, no properties set
    AS_Prop = 2,       // properties set, not committed
    AS_Commit = 3,     // committed, every buffer free
    AS_InUse = 4,      // committed, some buffers handed out
    AS_Exhausted = 5,  // committed, a request found no free buffer
    AS_Decommit = 6    // decommitted while buffers are still out
};

// The interface operations and the state machine. The allocator holds a
// reference on itself (the commit reference) from the commit until every
// buffer is back after a decommit, so it is never finally released while
// samples are out.
//
// Lock: m_cs (the object root's, recursive) guards m_props, m_eState,
// m_buffers, m_samples, m_nWaiters and m_spNotify. Samples take it too when
// they give their buffer back (first) and their block (second, separately).
// Nothing else is locked while it is held; the notify callback is called and
// GetBuffer sleeps with no lock held.
//
// Waking: a GetBuffer caller that finds no free buffer counts itself in
// m_nWaiters and sleeps on m_hSem. Whoever returns a sample block, and
// Decommit, releases m_hSem by m_nWaiters (all sleepers at once) and clears
// the count; each woken caller looks at the state again.
class CMemoryAllocator : public IMemAllocatorCallbackTemp, public CComObjectRootMT {
public:
    CMemoryAllocator();
    ~CMemoryAllocator();

    BEGIN_INTERFACE_TABLE(CMemoryAllocator)
    INTERFACE_ENTRY(IMemAllocator)
    INTERFACE_ENTRY(IMemAllocatorCallbackTemp)
    END_INTERFACE_TABLE()

    HRESULT FinalConstruct();
    void FinalRelease();

    // IMemAllocator
    STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
    STDMETHOD(GetProperties)(ALLOCATOR_PROPERTIES* pProps) override;
    STDMETHOD(Commit)() override;
    STDMETHOD(Decommit)() override;
    STDMETHOD(GetBuffer)
    (IMediaSample** ppSample, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime, DWORD dwFlags) override;
    STDMETHOD(ReleaseBuffer)(IMediaSample* pSample) override;
    // IMemAllocatorCallbackTemp
    STDMETHOD(SetNotify)(IMemAllocatorNotifyCallbackTemp* pNotify) override;
    STDMETHOD(GetFreeCount)(LONG* plBuffersFree) override;

    virtual LPCSTR GetDebugPrefix() const;

    // For the samples' final release: puts the buffer back and moves the
    // state as ReleaseBuffer does, in one hold of the lock. *ppNotify
    // receives a counted copy of the release callback (or null), which the
    // caller calls once it holds no lock.
    HRESULT PutBackBuffer(BYTE* pBuffer, IMemAllocatorNotifyCallbackTemp** ppNotify);
    // Takes back a sample's block and wakes every GetBuffer caller that waits.
    void ReturnSample(void* pSample);

    // For tests: the state, under the lock.
    AllocatorState GetState();

private:
    // The refusal of the states without properties and, when bNeedCommit,
    // of the uncommitted ones; S_OK otherwise.
    HRESULT CheckState(bool bNeedCommit) const REQUIRES(m_cs);
    HRESULT CreateSample(IMediaSample** ppSample) REQUIRES(m_cs);
    // The state change of a buffer coming back. Sets *pbDropCommit when the
    // commit reference is to be given back.
    HRESULT OnBufferBack(IMemAllocatorNotifyCallbackTemp** ppNotify, bool* pbDropCommit) REQUIRES(m_cs);
    void WakeWaiters() REQUIRES(m_cs);

    ALLOCATOR_PROPERTIES m_props GUARDED_BY(m_cs);
    AllocatorState m_eState GUARDED_BY(m_cs);
    HANDLE m_hSem;  // created by FinalConstruct, closed by FinalRelease
    CComPtr<IMemAllocatorNotifyCallbackTemp> m_spNotify GUARDED_BY(m_cs);
    CAllocatorBuffers m_buffers GUARDED_BY(m_cs);
    CSampleArray m_samples GUARDED_BY(m_cs);
    LONG m_nWaiters GUARDED_BY(m_cs);
};

// Creates a memory allocator; *ppAllocator holds the only reference.
HRESULT CreateMemoryAllocator(IMemAllocator** ppAllocator);
